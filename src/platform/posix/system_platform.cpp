// The platform's operations, each handed to the part of the run it
// concerns, and the end of a run.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/file_status.h"
#include "platform/posix/folder.h"
#include "platform/posix/stop_signals.h"

const char folderPrefix[] = "Rename/";

SystemPlatform::Folder::Folder() = default;

SystemPlatform::Folder::~Folder() {
  Finish();
}

/// A card pulled out right after keeps the names. Fails where the medium
/// could not take them. The turn goes last.
Outcome SystemPlatform::Folder::Finish() {
  if (finished || !open.opened())
    return {};
  finished = true;
  const Outcome done = FinishWork();
  turn.Release();
  return turn.lost() ? Outcome{Failure::kOther, 0} : done;
}

Outcome SystemPlatform::Folder::FinishWork() {
  sightings.RemoveStale();
  steps.RemoveLeftovers();
  // A stopped run's times left to put back are a failure too, after the
  // flush.
  const Outcome left =
      open.recordsLeft.empty() ? Outcome{} : Outcome{Failure::kOther, 0};
  if (!open.changed)
    return left;
  // A file system that cannot flush a folder says so; that is no failure.
  const auto failed = [](int error) {
    return error != 0 && error != EINVAL && error != EROFS &&
           error != ENOSYS && error != EOPNOTSUPP && error != ENOTSUP;
  };
  const int error = open.flush(open.fd());
  if (failed(open.settleError))
    return {Failure::kOther, open.settleError};
  if (failed(error))
    return {Failure::kOther, error};
  return left;
}

SystemPlatform::SystemPlatform() : folder_(std::make_unique<Folder>()) {}

SystemPlatform::~SystemPlatform() = default;

Outcome SystemPlatform::ListFirst(ListedName* entry) {
  entry->fileName.clear();
  // Held open for the whole run, so that every later step acts on this one
  // folder even if `Rename` is moved or replaced meanwhile.
  if (const int error = folder_->open.Open(folderPrefix); error != 0)
    return OutcomeOf(error);
  if (const int error = folder_->turn.Take(); error != 0)
    return OutcomeOf(error);
  return folder_->listing.Next(entry);
}

Outcome SystemPlatform::ListNext(ListedName* entry) {
  return folder_->listing.Next(entry);
}

Outcome SystemPlatform::ModifiedTime(const std::string& fileName,
                                     DateTime* modified) {
  struct stat st;
  if (fstatat(folder_->open.fd(), fileName.c_str(), &st, AT_SYMLINK_NOFOLLOW) !=
      0)
    return OutcomeOf(errno);
  // Replaced by a folder or a link since it was listed: the ordinary file
  // that was listed is gone.
  if (!S_ISREG(st.st_mode))
    return {Failure::kGone, 0};
  return OutcomeOf(WallClock(folder_->open.Kind(), st.st_mtime, modified));
}

Sameness SystemPlatform::SameFile(const std::string& a, const std::string& b) {
  return folder_->proof.SameFile(a.c_str(), b.c_str());
}

Outcome SystemPlatform::RemoveSecondName(const std::string& name,
                                         const std::string& other) {
  return folder_->steps.DropSecondName(name.c_str(), other.c_str(),
                                       /*ours=*/false);
}

Outcome SystemPlatform::Rename(const std::string& from, const std::string& to,
                               const DateTime& stampedFrom) {
  // Named after a time it does not hold yet: renamed after the time it
  // holds, it would lose that name, and its record the file it dates.
  if (folder_->open.recordsLeft.count(from) != 0)
    return {Failure::kOther, 0};
  return folder_->ways.Rename(from.c_str(), to.c_str(), stampedFrom);
}

Outcome SystemPlatform::ReadTimes(const std::string& fileName,
                                  FileTimes* times) {
  return OutcomeOf(TimesNow(folder_->open.fd(), fileName.c_str(), times));
}

Outcome SystemPlatform::SetTimes(const std::string& fileName,
                                 const FileTimes& times) {
  folder_->open.between(RenameStep::kRenamed);
  return OutcomeOf(SetTimesAt(folder_->open.fd(), fileName.c_str(), times));
}

Outcome SystemPlatform::RecordTimes(const std::string& name,
                                    const FileTimes& times) {
  // Where nothing will be renamed, a record would only be a hidden file
  // made and removed for nothing (on a cloud drive, an upload and a delete).
  if (!folder_->ways.AnyWay())
    return {Failure::kOther, ENOTSUP};
  return folder_->times.Record(name, times);
}

void SystemPlatform::DropTimesRecord() {
  folder_->times.Drop();
}

void SystemPlatform::LeaveTimesRecord() {
  folder_->times.Leave();
}

std::int64_t SystemPlatform::Now() {
  return time(nullptr);
}

// The kernel's own file systems keep a file's times through a rename; a
// FUSE one may not (FAT through fusefat gives the time of the rename).
bool SystemPlatform::RenamesKeepTimes() {
  return folder_->open.opened() && !folder_->timesUnknown &&
         !folder_->open.Kind().fuse;
}

Reservation SystemPlatform::ReservationAt(const std::string& name) {
  return folder_->sightings.Sighted(name.c_str());
}

bool SystemPlatform::Stopped() {
  // A turn taken over (its holder thought gone) ends the run's renames too.
  return CaughtStopSignal() != 0 || !folder_->turn.Renew();
}

Outcome SystemPlatform::Flush() {
  return folder_->Finish();
}
