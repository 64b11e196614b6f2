// A file's dates through its rename, on file systems whose renames reset
// them (FAT through fusefat gives a file the time of its rename).
#include "kept_times.h"

#include <cstdint>
#include <cstdlib>

namespace {

/// Seconds within which a file's time could be the time of its rename:
/// FAT's two-second steps, the time between the two, and a share's clock.
constexpr std::int64_t kClockSlack = 10;

bool SameModified(const FileTimes& a, const FileTimes& b) {
  return a.modifiedSeconds == b.modifiedSeconds &&
         a.modifiedNanoseconds == b.modifiedNanoseconds;
}

/// Whether the time a file shows after its rename tells that the rename
/// reset it: it changed, to about now, and it is still the file that was
/// read (a write meanwhile, in place or as a new version, changes its size
/// or its number, and keeps its new time).
bool ResetByRename(const FileTimes& before, const FileTimes& after,
                   std::int64_t now) {
  return !SameModified(before, after) &&
         std::abs(after.modifiedSeconds - now) <= kClockSlack &&
         after.size == before.size &&
         (before.id == 0 || after.id == 0 || after.id == before.id);
}

}  // namespace

void KeptTimes::Start() {
  if (platform_.RenamesKeepTimes())
    times_ = Times::kKept;
}

Outcome KeptTimes::Before(const std::string& from, const std::string& to) {
  haveBefore_ = false;
  if (times_ == Times::kLost)
    return {Failure::kOther, 0};
  if (times_ == Times::kKept)
    return {};
  // Its times could not be put back, were the rename to reset them.
  if (const Outcome read = platform_.ReadTimes(from, &before_); !read.ok())
    return read;
  haveBefore_ = true;
  // A record of them first, so that a stop before they are back loses no
  // date. Where they are known to be reset, a file whose times cannot be
  // recorded keeps its name.
  if (!platform_.RecordTimes(to, before_).ok() && times_ == Times::kReset) {
    haveBefore_ = false;
    return {Failure::kOther, 0};
  }
  return {};
}

void KeptTimes::After(const std::string& to, bool renamed) {
  if (!haveBefore_)
    return;
  // The record is the date's only copy while the file may not hold it.
  if (renamed && !PutBack(to)) {
    platform_.LeaveTimesRecord();
    left_ = true;
  } else {
    platform_.DropTimesRecord();
  }
  haveBefore_ = false;
}

bool KeptTimes::PutBack(const std::string& newName) {
  FileTimes after;
  if (!platform_.ReadTimes(newName, &after).ok()) {
    // Unknown whether they were reset: asked again at the next rename, the
    // record left. Known to be reset: put back, or no more renames.
    if (times_ != Times::kReset)
      return false;
    if (!platform_.SetTimes(newName, before_).ok()) {
      times_ = Times::kLost;
      return false;
    }
    return true;
  }
  const std::int64_t now = platform_.Now();
  const bool reset = ResetByRename(before_, after, now);
  if (times_ == Times::kUnknown) {
    // A file dated about now cannot tell: a rename that gave it the time
    // of the rename (FAT keeps two-second steps) would leave it as it was.
    // Nor can one whose time changed otherwise (written meanwhile). It
    // keeps its time either way; a later file decides.
    if (!reset && (!SameModified(before_, after) ||
                   std::abs(before_.modifiedSeconds - now) <= kClockSlack))
      return true;
    times_ = reset ? Times::kReset : Times::kKept;
  }
  // Each file judged on its own: one written during its rename keeps its
  // new time. Better to stop renaming than to erase more dates.
  if (times_ == Times::kReset && reset &&
      !platform_.SetTimes(newName, before_).ok()) {
    times_ = Times::kLost;
    return false;
  }
  return true;
}
