#ifndef STAMPNAME_PLATFORM_POSIX_TIMES_RECORD_H_
#define STAMPNAME_PLATFORM_POSIX_TIMES_RECORD_H_

#include <functional>
#include <string>

#include "platform/posix/file_status.h"
#include "platform/posix/open_folder.h"
#include "platform/posix/safe_steps.h"

/// A record of a file's times for the instant a rename that resets them
/// has done so and they are not yet back: an empty hidden file
/// "… time <name>" dated as the file renamed to <name> was.
class TimesRecord {
 public:
  TimesRecord(OpenFolder& folder, SafeSteps& steps);

  /// Records `times`, of the file about to take `name`.
  Outcome Record(const std::string& name, const FileTimes& times);

  /// Removes the last record: the times are back, or were not reset.
  void Drop();

  /// Leaves the last record where it is, for a later run to put back.
  void Leave() { record_.clear(); }

  /// Puts a stopped run's record `record` back on `name` where the rename
  /// reset it, and removes the record; false where the record holds a
  /// file, to be named.
  bool Back(const char* record, const char* name);

  /// How a stopped run's record is read, and its times put back on a
  /// file: 0 or the failure.
  std::function<int(int fd, const char* name, FileTimes* times)> readTimes =
      TimesNow;
  std::function<int(int fd, const char* name, const FileTimes& times)>
      putBack = SetTimesAt;

 private:
  OpenFolder& folder_;
  SafeSteps& steps_;
  std::string record_;  // of the file in hand, while it may be reset
};

#endif  // STAMPNAME_PLATFORM_POSIX_TIMES_RECORD_H_
