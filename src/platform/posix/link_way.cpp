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
  std::string aside = Aside(HiddenRole::kTo, name);
  if (renameat(fd, hidden.c_str(), fd, aside.c_str()) != 0) {
    if (errno == ENOENT)
      return {Failure::kGone, ENOENT};
    aside = hidden;  // too long to record, say: put back from where it is
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
