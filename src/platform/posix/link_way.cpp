// The link way, where the file system has hard links but no rename that
// refuses a taken name (bindfs, NTFS through ntfs-3g, sshfs, mergerfs).
// Each step acts on a hidden name only this run knows, so nothing another
// program does between two steps can put a file of its own under it.
#include "platform/posix/link_way.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/file_status.h"

/// Moves the old name aside (the file that bears it at that instant goes
/// with it), links it to the new name, checks that file's time, then
/// drops the hidden name. A file saved over the old name meanwhile keeps
/// it.
std::optional<Outcome> LinkWay::Rename(const char* from, const char* to,
                                       const DateTime& stampedFrom) {
  const int fd = folder_.fd();
  // 0. A new name too long to record whole beside a hidden name's head is
  //    linked first, so that no stop leaves the file under a name that does
  //    not tell its extension.
  if (!folder_.RecordsWhole(to))
    return LinkFirst(from, to, stampedFrom);
  // 1. The old name to ".stampname-… to <new name>".
  //    Stopped here: the file under that hidden name alone. The next run
  //    lists it (Listing::Next), finds the new name free and gives it that
  //    name first (the pass's ResumeHeaded), so its shot keeps one number.
  const std::string aside = folder_.Aside(HiddenRole::kTo, to);
  if (renameat(fd, from, fd, aside.c_str()) != 0)
    return OutcomeOf(errno);  // gone: another run took it, or it vanished
  folder_.between(RenameStep::kAside);
  // 2. The new name linked. Refused: judged by what bears it (Unlinked).
  //    Stopped here: the file under both names. The next run judges the
  //    hidden name against the one it records (StoppedRuns::DropSecondName,
  //    Proof::Judge) and drops it.
  if (linkat(fd, aside.c_str(), fd, to, 0) != 0)
    return Unlinked(aside, from, to, stampedFrom, errno);
  // 3. The time as the link's answer brought it, past any cache: the file
  //    moved may be another than the one listed. Changed: the new name
  //    goes as a second name goes, and the file goes back (PutBack).
  struct stat linked;
  if (fstatat(fd, to, &linked, AT_SYMLINK_NOFOLLOW) != 0 ||
      !StillStamped(folder_.Kind(), linked, stampedFrom)) {
    steps_.DropSecondName(to, aside.c_str(), /*ours=*/true);
    return steps_.PutBack(aside, from, {Failure::kChanged, 0});
  }
  folder_.between(RenameStep::kLinked);
  // 4. The hidden name dropped; one that fails is tried again at the end.
  folder_.DropAside(aside);
  return Outcome{};
}

/// The link way for a new name too long to record beside a hidden name's
/// head: the new name is linked to what bears the old one, its time
/// checked, and the old name then goes as any second name goes, aside
/// under a hidden name that records the new one by its digest.
Outcome LinkWay::LinkFirst(const char* from, const char* to,
                           const DateTime& stampedFrom) {
  const int fd = folder_.fd();
  // 1. The new name linked. Refused: judged by what bears it.
  //    Stopped here: the file under both names. The next run drops the old
  //    one as a second name (StoppedRuns::DropSecondName).
  if (linkat(fd, from, fd, to, 0) != 0) {
    const int error = errno;
    if (error == ENOENT)
      return {Failure::kGone, error};
    struct stat listed, there;
    if (StatNow(fd, to, &there) != 0)
      return OutcomeOf(error == EEXIST ? EIO : error);
    if (StatNow(fd, from, &listed) == 0 &&
        proof_.Judge(from, listed, to, there) == Sameness::kSame)
      return steps_.DropSecondName(from, to, /*ours=*/false);
    return {Failure::kTaken, error};
  }
  folder_.changed = true;
  folder_.between(RenameStep::kLinkedFirst);
  // 2. The time of what was linked: another file, or a changed one, and
  //    the new name goes again.
  struct stat linked;
  if (fstatat(fd, to, &linked, AT_SYMLINK_NOFOLLOW) != 0 ||
      !StillStamped(folder_.Kind(), linked, stampedFrom)) {
    steps_.DropSecondName(to, from, /*ours=*/true);
    return {Failure::kChanged, 0};
  }
  // 3. The old name dropped. A file saved over it meanwhile keeps it.
  //    Where that cannot be proven safe, the file keeps both names, and
  //    the run says so; a later run gives it no further name
  //    (StoppedRuns::DropSecondName).
  if (const Outcome dropped = steps_.DropSecondName(from, to, /*ours=*/false);
      !dropped.ok())
    return {Failure::kOther, dropped.error};
  return {};
}

/// After the link of the file held under `aside` to `to` failed with
/// `error`: reads the refusal by what bears the name, not by the number
/// alone (sshfs says EPERM for a taken name), and puts the file back.
Outcome LinkWay::Unlinked(const std::string& aside, const char* from,
                          const char* to, const DateTime& stampedFrom,
                          int error) {
  const int fd = folder_.fd();
  if (error == ENOENT)
    return {Failure::kGone, error};  // another run took it from aside
  struct stat moved, there;
  if (StatNow(fd, aside.c_str(), &moved) != 0)
    return steps_.PutBack(aside, from, {Failure::kOther, errno});
  if (!StillStamped(folder_.Kind(), moved, stampedFrom))
    return steps_.PutBack(aside, from, {Failure::kChanged, 0});
  if (StatNow(fd, to, &there) != 0)
    return steps_.PutBack(aside, from,
                          OutcomeOf(error == EEXIST ? EIO : error));
  // The same file there already, proven: another run's link. Anything
  // else, a copy that looks the same too, takes the name.
  if (proof_.Judge(aside.c_str(), moved, to, there) == Sameness::kSame) {
    folder_.DropAside(aside);
    return {};
  }
  return steps_.PutBack(aside, from, {Failure::kTaken, error});
}
