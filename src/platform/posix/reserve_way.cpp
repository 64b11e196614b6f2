// The reserve way, where the file system has neither a rename that refuses
// a taken name nor hard links (exFAT, FAT through fusefat, sshfs whose
// server refuses links, SMB through smbnetfs).
#include "platform/posix/folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>

#include "platform/posix/stop_signals.h"

namespace {

/// Waits until `ms` milliseconds have passed since `since` (the monotonic
/// clock), or `done` holds, looking again every tenth of a second. False
/// where a stop signal came first.
bool WaitFor(const struct timespec& since, long long ms,
             const std::function<bool()>& done = nullptr) {
  for (;;) {
    if (CaughtStopSignal() != 0)
      return false;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long rest = ms - (now.tv_sec - since.tv_sec) * 1000 -
                           (now.tv_nsec - since.tv_nsec) / 1000000;
    if (rest <= 0 || (done && done()))
      return true;
    const struct timespec pause = {
        0, static_cast<long>(std::min(rest, 100LL) * 1000000)};
    nanosleep(&pause, nullptr);
  }
}

}  // namespace

Outcome SystemPlatform::Folder::ReserveThenRename(const char* from,
                                                  const char* to,
                                                  const DateTime& stampedFrom) {
  const int fd = this->fd();
  // 1. The new name reserved: an empty file, made exclusively. That create
  //    is what refuses a taken name here; the rename that follows replaces
  //    nothing but the empty reservation. It keeps the time of its making:
  //    an empty file left by a killed run shows no photo's date.
  //    Stopped here: an empty file under the new name, the photo under its
  //    old one. The next run takes it for some run's reservation (the
  //    pass's ReadTime, Sighted): made moments ago, it is left alone and
  //    removed at that run's end if it stayed as it was
  //    (RemoveStaleSightings); older, it is removed at once. The photo is
  //    named as any other.
  struct stat reserved;
  if (Outcome made = Reserve(to, &reserved); !made.ok()) {
    // A refusal read by what bears the name: a share may refuse a name
    // held (locked, say) by another client as a denial of access.
    struct stat there;
    if (made.failure == Failure::kOther &&
        fstatat(fd, to, &there, AT_SYMLINK_NOFOLLOW) == 0)
      made.failure = Failure::kTaken;
    // Taken by another run that renamed this very file there: done.
    if (made.failure == Failure::kTaken && GoneNow(fd, from))
      return {Failure::kGone, ENOENT};
    return made;
  }
  // 2. The photo still the one whose time was read.
  struct stat source;
  Outcome outcome;
  if (fstatat(fd, from, &source, AT_SYMLINK_NOFOLLOW) != 0)
    outcome = OutcomeOf(errno);
  else if (!StillStamped(source, stampedFrom))
    outcome = {Failure::kChanged, 0};  // another file, or a changed one
  between(RenameStep::kReserved);
  // 3. The photo renamed onto the reservation, which it replaces: read
  //    past the cache just before, it must still be this run's own empty
  //    one (OntoReservation). Not taken: the reservation goes again, only
  //    while it is empty (RemoveEmpty, by a "void" hidden name: stopped
  //    there, the next run's listing drops it where it is empty).
  if (outcome.ok())
    return OntoReservation(from, to, reserved);
  if (RemoveEmpty(to) == Emptied::kStays)
    leftovers.emplace_back(to, true);
  return outcome;
}

/// Makes an empty file under `name`, refused if the name is taken. No
/// descriptor is held: a network share refuses to rename onto, or remove,
/// a file still open, and a FUSE client closes it on the server only some
/// time after close() returns.
Outcome SystemPlatform::Folder::Reserve(const char* name,
                                        struct stat* reserved) {
  if (!reserveByOpen) {
    if (mknodat(fd(), name, S_IFREG | 0600, 0) == 0)
      return Recorded(name, reserved);
    if (errno != EPERM && errno != EINVAL && errno != ENOSYS &&
        errno != EOPNOTSUPP && errno != ENOTSUP)
      return OutcomeOf(errno);
    reserveByOpen = true;  // no plain files from mknod here
  }
  const int file = openat(
      fd(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file < 0)
    return OutcomeOf(errno);
  close(file);
  return Recorded(name, reserved);
}

/// Reads back a reservation just made; one that cannot be read back is
/// taken away again.
Outcome SystemPlatform::Folder::Recorded(const char* name,
                                         struct stat* reserved) {
  if (fstatat(fd(), name, reserved, AT_SYMLINK_NOFOLLOW) == 0)
    return {};
  const Outcome failure{Failure::kOther, errno};
  if (RemoveEmpty(name) == Emptied::kStays)
    leftovers.emplace_back(name, true);
  return failure;
}

/// Whether `st` is still the reservation made as `reserved`: the same
/// empty file, unchanged since.
bool SystemPlatform::Folder::SameReservation(
    const struct stat& st, const struct stat& reserved) const {
  return EmptyFile(st) &&
         (identity == Identity::kMark || SameInode(st, reserved)) &&
         SameAttributes(st, reserved);
}

/// Renames `from` onto `to`, the run's own reservation made as `reserved`.
/// No way makes this rename refuse a file put there meanwhile; the
/// reservation is at least read past the cache just before. Gone or
/// someone else's, it is no failure of the file, which keeps its name;
/// someone else's file is left alone. A reservation the file did not take
/// is removed again, judged by what the share keeps (empty), not by its
/// number, which sshfs hands out anew after a failed rename.
Outcome SystemPlatform::Folder::OntoReservation(const char* from,
                                                const char* to,
                                                const struct stat& reserved) {
  struct stat now;
  Outcome outcome;
  if (const int error = StatNow(fd(), to, &now); error != 0)
    outcome = {Failure::kOther, error};
  else if (!SameReservation(now, reserved))
    outcome = {Failure::kOther, 0};
  else if (renameat(fd(), from, fd(), to) != 0)
    outcome = OutcomeOf(errno);
  else
    changed = true;
  if (outcome.ok())
    return outcome;
  // Not ours any more (another run took it away, and maybe the file
  // too), it is left alone; ours is removed again.
  if (outcome.error != 0 && RemoveEmpty(to) == Emptied::kStays)
    leftovers.emplace_back(to, true);
  // The file taken from its name meanwhile, by another run: no failure.
  if (GoneNow(fd(), from))
    return {Failure::kGone, ENOENT};
  return outcome;
}

/// Removes an empty file under `name` (a reservation), and nothing
/// else: one rename takes whatever bears the name at that instant to a
/// private name, where it is judged. A file that is not empty goes back.
Emptied SystemPlatform::Folder::RemoveEmpty(const char* name) {
  const int fd = this->fd();
  const std::string aside = Aside(HiddenRole::kVoid, name);
  if (renameat(fd, name, fd, aside.c_str()) != 0)
    return errno == ENOENT ? Emptied::kGone : Emptied::kStays;
  return DropEmptyAside(aside, name);
}

/// Removes the hidden name `aside` of a reservation of `name` where it
/// holds an empty file; a file with content goes back to `name`.
Emptied SystemPlatform::Folder::DropEmptyAside(const std::string& aside,
                                               const char* name) {
  struct stat st;
  if (StatNow(fd(), aside.c_str(), &st) == 0 && EmptyFile(st))
    return unlinkat(fd(), aside.c_str(), 0) == 0 || errno == ENOENT
               ? Emptied::kGone
               : Emptied::kStays;
  PutBack(aside, name, {});
  return Emptied::kNotEmpty;  // someone else's: nothing of ours
}

/// Removes `name`, a reservation a run was removing under a "void" name,
/// where it is empty: only runs know the name, and none writes to it. It
/// is judged again under a name of this run's own. False where it holds a
/// file, to be named.
bool SystemPlatform::Folder::VoidGone(const char* name) {
  struct stat st;
  return StatNow(fd(), name, &st) != 0 ||
         (EmptyFile(st) && RemoveEmpty(name) != Emptied::kNotEmpty);
}

/// What `name`, a file under a name the run gives of another time, is:
/// where runs reserve names, an empty one is some run's reservation. One
/// made moments ago is waited for until another run has renamed onto it,
/// taken it away, or left it (stopped): the name then serves as it would
/// have without the stop.
Reservation SystemPlatform::Folder::Sighted(const char* name) {
  struct stat st;
  if (!MayReserve() || StatNow(fd(), name, &st) != 0 || !EmptyFile(st))
    return Reservation::kNone;
  if (Fresh(st)) {
    struct stat now;
    if (!WaitedOut(st)) {
      InFlight(name, st);  // stopped meanwhile: removed at the end, if stale
      return Reservation::kInFlight;
    }
    if (const int error = StatNow(fd(), name, &now); error != 0)
      return error == ENOENT ? Reservation::kRemoved : Reservation::kInFlight;
    if (!EmptyFile(now))
      return Reservation::kSettled;
    if (!SameReservation(now, st))
      return InFlight(name, now) ? Reservation::kInFlight : Sighted(name);
  }
  switch (RemoveEmpty(name)) {
    case Emptied::kGone:
      return Reservation::kRemoved;
    case Emptied::kNotEmpty:
      return Reservation::kSettled;
    case Emptied::kStays:
      break;
  }
  return Reservation::kInFlight;  // its name stays taken, by it
}

/// Whether `st`, an empty file of some run's, was made too lately to tell
/// whether that run is still about to use it.
bool SystemPlatform::Folder::Fresh(const struct stat& st) const {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec - st.st_mtime <= inFlightSeconds &&
         st.st_mtime <= now.tv_sec + inFlightSeconds;
}

/// Waits until the empty file read as `st` is no longer fresh, for no
/// longer than a run takes to use its own (another clock than ours may
/// date it ahead). False where a stop signal cut the wait short.
bool SystemPlatform::Folder::WaitedOut(const struct stat& st) const {
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  return WaitFor(start, (inFlightSeconds + 1) * 1000LL,
                 [&] { return !Fresh(st); });
}

/// Whether `name`, an empty file of some run's read as `st`, is fresh: then
/// it is left alone, and removed at the end where it stayed as it was.
bool SystemPlatform::Folder::InFlight(const char* name, const struct stat& st) {
  if (!Fresh(st))
    return false;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  sightings.push_back({name, st, now});
  return true;
}

/// A probe of some run, empty: a stopped run's goes.
void SystemPlatform::Folder::SightProbe(const char* name) {
  struct stat st;
  if (StatNow(fd(), name, &st) == 0 && EmptyFile(st) && !InFlight(name, st))
    RemoveEmpty(name);
}

/// Removes the reservations sighted in flight that stayed as they were
/// for longer than any run takes to rename onto its own.
void SystemPlatform::Folder::RemoveStaleSightings() {
  for (const Sighting& sighting : sightings) {
    // Waited for until it is stale, the wait cut short by a stop signal
    // alone: a stopped run leaves the rest to the next, since a reservation
    // waited for less long may still be another run's in flight.
    if (!WaitFor(sighting.when, inFlightSeconds * 1000LL + 500))
      return;
    struct stat st;
    if (StatNow(fd(), sighting.name.c_str(), &st) == 0 &&
        SameReservation(st, sighting.seen))
      RemoveEmpty(sighting.name.c_str());
  }
}
