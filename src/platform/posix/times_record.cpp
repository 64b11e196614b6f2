// A record of a file's times for the instant a rename that resets them (FAT
// through fusefat) has done so and they are not yet back: a run stopped
// there leaves the next run what to put back, so no stop loses a date.
#include "platform/posix/times_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "new_name.h"
#include "platform/posix/file_status.h"

namespace {

/// Whether `name` is a name the run gives a file of time `when`.
bool NamedAfter(const Mount& mount, std::int64_t when, const char* name) {
  DateTime at;
  return WallClock(mount, static_cast<time_t>(when), &at) == 0 &&
         Stampable(at) && StampOf(name) == Stamp(at);
}

/// Whether `a` is a later modified time than the one `b` records.
bool Later(const struct timespec& a, const FileTimes& b) {
  return a.tv_sec != b.modifiedSeconds ? a.tv_sec > b.modifiedSeconds
                                       : a.tv_nsec > b.modifiedNanoseconds;
}

}  // namespace

TimesRecord::TimesRecord(OpenFolder& folder, SafeSteps& steps)
    : folder_(folder), steps_(steps) {}

/// An empty file of the run's own, "… time <name>", dated as the file about
/// to take `name` is.
Outcome TimesRecord::Record(const std::string& name, const FileTimes& times) {
  Drop();
  const std::string record = folder_.Aside(HiddenRole::kTime, name);
  struct stat made;
  if (const Outcome reserved = steps_.Reserve(record.c_str(), &made);
      !reserved.ok())
    return reserved;
  record_ = record;
  if (const int error = SetTimesAt(folder_.fd(), record.c_str(), times);
      error != 0) {
    Drop();
    return OutcomeOf(error);
  }
  return {};
}

/// A name only this run knows, and empty: it goes as it is.
void TimesRecord::Drop() {
  if (record_.empty())
    return;
  if (unlinkat(folder_.fd(), record_.c_str(), 0) != 0 && errno != ENOENT)
    folder_.leftovers.emplace_back(record_, true);
  record_.clear();
}

/// A stopped run's record `record` of the times of the file it renamed to
/// `name`, named after them. Where that file's time is not its name's any
/// more, the rename reset it and the run stopped before putting it back
/// (whether the reset dated it later or, for a photo dated ahead of the
/// clock, earlier), and so where it is later than the record (named in
/// another zone): the recorded times go back on it. An empty file under
/// `name` is a reservation, not the file. The record goes then; one that
/// could not be read or put back stays for a later run, the file keeps
/// its name, and the run says so. One that is not empty holds a file
/// (false), to be named.
bool TimesRecord::Back(const char* record, const char* name) {
  const int fd = folder_.fd();
  const auto left = [&] {
    folder_.recordsLeft.insert(name);
    return true;  // stays, listed no further
  };
  struct stat st, now;
  FileTimes recorded;
  if (const int error = StatNow(fd, record, &st); error != 0)
    return error == ENOENT || left();  // gone meanwhile
  if (!EmptyFile(st))
    return false;
  if (const int error = readTimes(fd, record, &recorded); error != 0)
    return error == ENOENT || left();
  const int unread = StatNow(fd, name, &now);
  if (unread != 0 && unread != ENOENT)
    return left();
  if (unread == 0 && S_ISREG(now.st_mode) && now.st_size != 0 &&
      ((NamedAfter(folder_.Kind(), recorded.modifiedSeconds, name) &&
        !NamedAfter(folder_.Kind(), now.st_mtim.tv_sec, name)) ||
       Later(now.st_mtim, recorded))) {
    if (putBack(fd, name, recorded) != 0)
      return left();
    folder_.changed = true;
  }
  return steps_.RemoveEmpty(record) != Emptied::kNotEmpty;
}
