// The platform's operations, and which way a run takes.
#include "platform/posix/folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/stop_signals.h"

SystemPlatform::Folder::~Folder() {
  if (listing == nullptr)
    return;
  Finish();
  closedir(listing);  // and with it the lock
}

/// What a run does as it ends: removes other runs' reservations that
/// stayed as they were and what it left itself, then flushes the folder,
/// so that a card pulled out right after keeps the names. Fails where the
/// medium could not take them.
Outcome SystemPlatform::Folder::Finish() {
  if (finished || listing == nullptr)
    return {};
  finished = true;
  RemoveStaleSightings();
  // Removals may add to the list: they work on a copy.
  const auto pending = std::move(leftovers);
  for (const auto& [name, empty] : pending)
    if (empty)
      RemoveEmpty(name.c_str());
    else
      unlinkat(fd(), name.c_str(), 0);
  if (!changed)
    return {};
  // A file system that cannot flush a folder says so; that is no failure.
  const int error = flush(fd());
  if (error == 0 || error == EINVAL || error == EROFS || error == ENOSYS ||
      error == EOPNOTSUPP || error == ENOTSUP)
    return {};
  return {Failure::kOther, error};
}

SystemPlatform::SystemPlatform() : folder_(std::make_unique<Folder>()) {}

TieredPlatform::TieredPlatform(RenameTier firstTier,
                               const WayOptions& options) {
  folder_->tier = firstTier;
  folder_->lock = options.lock;
  folder_->inFlightSeconds = options.inFlightSeconds;
  folder_->timesUnknown = options.timesUnknown;
  if (options.mayReserve)
    folder_->reserving = Folder::Reserving::kMay;
  if (options.byMark)
    folder_->identity = Folder::Identity::kMark;
  if (options.mountType)
    folder_->mount = Mount{!options.mountType->empty(), *options.mountType};
  if (options.flush)
    folder_->flush = options.flush;
  folder_->between = [this](RenameStep step) { Between(step); };
}

RenameTier TieredPlatform::tier() const {
  return folder_->tier;
}

SystemPlatform::~SystemPlatform() = default;

Outcome SystemPlatform::ModifiedTime(const std::string& fileName,
                                     DateTime* modified) {
  struct stat st;
  if (fstatat(folder_->fd(), fileName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return OutcomeOf(errno);
  // Replaced by a folder or a link since it was listed: the ordinary file
  // that was listed is gone.
  if (!S_ISREG(st.st_mode))
    return {Failure::kGone, 0};
  return OutcomeOf(ToLocal(st.st_mtime, modified));
}

Outcome SystemPlatform::Rename(const std::string& from, const std::string& to,
                               const DateTime& stampedFrom) {
  const char* oldName = from.c_str();
  const char* newName = to.c_str();
  Folder& folder = *folder_;
  if (folder.tier == RenameTier::kNoReplaceRename) {
    const int error = RenameNoReplace(folder.fd(), oldName, newName);
    folder.changed |= error == 0;
    if (!RefusesNoReplace(error))
      return OutcomeOf(error);
    folder.tier = RenameTier::kLinkThenUnlink;
  }
  if (folder.tier == RenameTier::kLinkThenUnlink) {
    // Whether links work is known before a file is moved aside, which only
    // a link can undo safely.
    if (const Outcome learnt = folder.Learn(); !learnt.ok())
      return {Failure::kOther, learnt.error};
    if (folder.links == Folder::Links::kMade)
      return folder.LinkThenUnlink(oldName, newName, stampedFrom);
    folder.tier = ReservesAtOnce(folder.Kind()) ? RenameTier::kReserveThenRename
                                                : RenameTier::kNone;
  }
  if (folder.tier == RenameTier::kReserveThenRename)
    return folder.ReserveThenRename(oldName, newName, stampedFrom);
  return {Failure::kOther, ENOTSUP};
}

Outcome SystemPlatform::ReadTimes(const std::string& fileName,
                                  FileTimes* times) {
  return OutcomeOf(TimesNow(folder_->fd(), fileName.c_str(), times));
}

Outcome SystemPlatform::SetTimes(const std::string& fileName,
                                 const FileTimes& times) {
  folder_->between(RenameStep::kRenamed);
  return OutcomeOf(SetTimesAt(folder_->fd(), fileName.c_str(), times));
}

std::int64_t SystemPlatform::Now() {
  return time(nullptr);
}

// The kernel's own file systems keep a file's times through a rename; a
// FUSE one may not (FAT through fusefat gives the time of the rename).
bool SystemPlatform::RenamesKeepTimes() {
  return folder_->listing != nullptr && !folder_->timesUnknown &&
         !folder_->Kind().fuse;
}

Reservation SystemPlatform::ReservationAt(const std::string& name) {
  return folder_->Sighted(name.c_str());
}

bool SystemPlatform::Stopped() {
  return CaughtStopSignal() != 0;
}

Outcome SystemPlatform::Flush() {
  return folder_->Finish();
}
