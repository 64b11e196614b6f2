// The reserve way, where the file system has neither a rename that refuses
// a taken name nor hard links (exFAT, FAT through fusefat, sshfs whose
// server refuses links, SMB through smbnetfs).
#include "platform/posix/reserve_way.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/file_status.h"

std::optional<Outcome> ReserveWay::Rename(const char* from, const char* to,
                                          const DateTime& stampedFrom) {
  const int fd = folder_.fd();
  // 1. The new name reserved: an empty file, made exclusively. That create
  //    is what refuses a taken name here; the rename that follows replaces
  //    nothing but the empty reservation. It keeps the time of its making:
  //    an empty file left by a killed run shows no photo's date.
  //    Stopped here: an empty file under the new name, the photo under its
  //    old one. The next run takes it for some run's reservation (the
  //    pass's ReadTime, Sightings::Sighted): made moments ago, it is left
  //    alone and removed at that run's end if it stayed as it was
  //    (Sightings::RemoveStale); older, it is removed at once. The photo
  //    is named as any other.
  struct stat reserved;
  if (Outcome made = steps_.Reserve(to, &reserved); !made.ok()) {
    // A refusal read by what bears the name: a share may refuse a name
    // held (locked, say) by another client as a denial of access.
    struct stat there;
    if (made.failure == Failure::kOther &&
        fstatat(fd, to, &there, AT_SYMLINK_NOFOLLOW) == 0)
      made.failure = Failure::kTaken;
    // Taken by another run that renamed this very file there: done.
    if (made.failure == Failure::kTaken && GoneNow(fd, from))
      return Outcome{Failure::kGone, ENOENT};
    return made;
  }
  // 2. The photo still the one whose time was read.
  struct stat source;
  Outcome outcome;
  if (fstatat(fd, from, &source, AT_SYMLINK_NOFOLLOW) != 0)
    outcome = OutcomeOf(errno);
  else if (!StillStamped(folder_.Kind(), source, stampedFrom))
    outcome = {Failure::kChanged, 0};  // another file, or a changed one
  folder_.between(RenameStep::kReserved);
  // 3. The photo renamed onto the reservation, which it replaces: read
  //    past the cache just before, it must still be this run's own empty
  //    one (OntoReservation). Not taken: the reservation goes again, only
  //    while it is empty (RemoveEmpty, by a "void" hidden name: stopped
  //    there, the next run's listing drops it where it is empty).
  if (outcome.ok())
    return steps_.OntoReservation(from, to, reserved);
  if (steps_.RemoveEmpty(to) == Emptied::kStays)
    folder_.leftovers.emplace_back(to, true);
  return outcome;
}
