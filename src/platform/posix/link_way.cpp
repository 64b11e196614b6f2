// The link way, where the file system has hard links but no rename that
// refuses a taken name (bindfs, NTFS through ntfs-3g, sshfs, mergerfs).
// Each step acts on a hidden name only this run knows, so nothing another
// program does between two steps can put a file of its own under it.
#include "platform/posix/folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

/// Moves the old name aside (the file that bears it at that instant goes
/// with it), links it to the new name, checks that file's time, then
/// drops the hidden name. A file saved over the old name meanwhile keeps
/// it.
Outcome SystemPlatform::Folder::LinkThenUnlink(const char* from, const char* to,
                                               const DateTime& stampedFrom) {
  const int fd = this->fd();
  // 0. A new name too long to record whole beside a hidden name's head is
  //    linked first, so that no stop leaves the file under a name that does
  //    not tell its extension.
  if (RecordedIn(MakeHidden(nonce, asides + 1, HiddenRole::kTo, to)) != to)
    return LinkFirst(from, to, stampedFrom);
  // 1. The old name to ".stampname-… to <new name>".
  //    Stopped here: the file under that hidden name alone. The next run
  //    lists it (ListNext), finds the new name free and gives it that name
  //    first (the pass's ResumeHeaded), so its shot keeps one number.
  const std::string aside = Aside(HiddenRole::kTo, to);
  if (renameat(fd, from, fd, aside.c_str()) != 0)
    return OutcomeOf(errno);  // gone: another run took it, or it vanished
  between(RenameStep::kAside);
  // 2. The new name linked. Refused: judged by what bears it (Unlinked).
  //    Stopped here: the file under both names. The next run judges the
  //    hidden name against the one it records (the pass's
  //    DropLeftoverName, Judge) and drops it.
  if (linkat(fd, aside.c_str(), fd, to, 0) != 0)
    return Unlinked(aside, from, to, stampedFrom, errno);
  // 3. The time as the link's answer brought it, past any cache: the file
  //    moved may be another than the one listed. Changed: the new name
  //    goes as a second name goes, and the file goes back (PutBack).
  struct stat linked;
  if (fstatat(fd, to, &linked, AT_SYMLINK_NOFOLLOW) != 0 ||
      !StillStamped(linked, stampedFrom)) {
    DropSecondName(to, aside.c_str(), /*ours=*/true);
    return PutBack(aside, from, {Failure::kChanged, 0});
  }
  between(RenameStep::kLinked);
  // 4. The hidden name dropped; one that fails is tried again at the end.
  DropAside(aside);
  return {};
}

/// The link way for a new name too long to record beside a hidden name's
/// head: the new name is linked to what bears the old one, its time
/// checked, and the old name then goes as any second name goes, aside
/// under a hidden name that records the new one by its digest.
Outcome SystemPlatform::Folder::LinkFirst(const char* from, const char* to,
                                          const DateTime& stampedFrom) {
  const int fd = this->fd();
  // 1. The new name linked. Refused: judged by what bears it.
  //    Stopped here: the file under both names. The next run drops the old
  //    one as a second name (the pass's DropLeftoverName).
  if (linkat(fd, from, fd, to, 0) != 0) {
    const int error = errno;
    if (error == ENOENT)
      return {Failure::kGone, error};
    struct stat listed, there;
    if (StatNow(fd, to, &there) != 0)
      return OutcomeOf(error == EEXIST ? EIO : error);
    if (StatNow(fd, from, &listed) == 0 &&
        Judge(from, listed, to, there) == Sameness::kSame)
      return DropSecondName(from, to, /*ours=*/false);
    return {Failure::kTaken, error};
  }
  changed = true;
  between(RenameStep::kLinkedFirst);
  // 2. The time of what was linked: another file, or a changed one, and
  //    the new name goes again.
  struct stat linked;
  if (fstatat(fd, to, &linked, AT_SYMLINK_NOFOLLOW) != 0 ||
      !StillStamped(linked, stampedFrom)) {
    DropSecondName(to, from, /*ours=*/true);
    return {Failure::kChanged, 0};
  }
  // 3. The old name dropped. A file saved over it meanwhile keeps it.
  DropSecondName(from, to, /*ours=*/false);
  return {};
}

/// After the link of the file held under `aside` to `to` failed with
/// `error`: reads the refusal by what bears the name, not by the number
/// alone (sshfs says EPERM for a taken name), and puts the file back.
Outcome SystemPlatform::Folder::Unlinked(const std::string& aside,
                                         const char* from, const char* to,
                                         const DateTime& stampedFrom,
                                         int error) {
  if (error == ENOENT)
    return {Failure::kGone, error};  // another run took it from aside
  struct stat moved, there;
  if (StatNow(fd(), aside.c_str(), &moved) != 0)
    return PutBack(aside, from, {Failure::kOther, errno});
  if (!StillStamped(moved, stampedFrom))
    return PutBack(aside, from, {Failure::kChanged, 0});
  if (StatNow(fd(), to, &there) != 0)
    return PutBack(aside, from, OutcomeOf(error == EEXIST ? EIO : error));
  // The same file there already, proven: another run's link. Anything
  // else, a copy that looks the same too, takes the name.
  if (Judge(aside.c_str(), moved, to, there) == Sameness::kSame) {
    DropAside(aside);
    return {};
  }
  return PutBack(aside, from, {Failure::kTaken, error});
}

/// Gives the file held under the hidden name `hidden` its name `name`
/// back, refused if `name` was taken meanwhile: the file then stays where
/// it is, and a later run names it. Reports `outcome` once it is back.
/// Its own steps: to ".stampname-… to <name>" (stopped there: named by
/// the next run), a link to `name` (stopped there: the hidden name is
/// judged against `name`, and dropped), the hidden name dropped.
Outcome SystemPlatform::Folder::PutBack(const std::string& hidden,
                                        const char* name, Outcome outcome) {
  const int fd = this->fd();
  // First a hidden name that records `name` as where it is headed: a run
  // killed after the link below then leaves a second name the next one
  // knows to drop, not a file to name twice.
  // An old name too long to record whole is put back from where the file
  // is: a name recorded by its digest only could not tell the file's
  // extension to a run that finds it alone.
  std::string aside = Aside(HiddenRole::kTo, name);
  if (RecordedIn(aside) != name) {
    aside = hidden;
  } else if (renameat(fd, hidden.c_str(), fd, aside.c_str()) != 0) {
    if (errno == ENOENT)
      return {Failure::kGone, ENOENT};
    aside = hidden;  // refused: put back from where it is
  }
  if (links != Links::kRefused) {
    if (linkat(fd, aside.c_str(), fd, name, 0) == 0) {
      if (unlinkat(fd, aside.c_str(), 0) != 0 && errno != ENOENT)
        leftovers.emplace_back(aside, false);
      return outcome;
    }
    if (errno == ENOENT || errno == EEXIST)
      return {errno == ENOENT ? Failure::kGone : Failure::kOther, errno};
  }
  // No link (none here, or none of another user's file where the system
  // protects them): onto a reservation of the old name, which nothing
  // else can bear by then.
  struct stat reserved;
  if (const Outcome made = Reserve(name, &reserved); !made.ok())
    return {Failure::kOther, made.error};
  const Outcome moved = OntoReservation(aside.c_str(), name, reserved);
  if (moved.ok())
    return outcome;
  return moved.failure == Failure::kGone ? moved : Outcome{Failure::kOther, 0};
}
