#ifndef STAMPNAME_PLATFORM_POSIX_MARK_H_
#define STAMPNAME_PLATFORM_POSIX_MARK_H_

#include <functional>

#include "platform/platform.h"

/// What a mark set through one name showed through the other.
enum class Marked {
  kShows,     // one file
  kNotShown,  // two files
  kNoMark,    // no proof: the mark could not be set or read
};

/// How a mark reaches the file system: its times as it answers for a name
/// (sshfs from a cache of its own, for some seconds), and an opening of
/// the name, after which it answers anew.
struct MarkCalls {
  std::function<int(int fd, const char* name, FileTimes* times)> times;
  std::function<int(int fd, const char* name, const FileTimes& times)> set;
  std::function<void(int fd, const char* name)> open;
};

/// The system's own.
const MarkCalls& SystemMarkCalls();

/// Whether `name` and `other`, in the open folder `fd`, are one file: a
/// mark set through one shows through the other. The times are as they
/// were afterwards, or as a save meanwhile made them.
Marked MarkShows(int fd, const char* name, const char* other,
                 const MarkCalls& calls = SystemMarkCalls());

#endif  // STAMPNAME_PLATFORM_POSIX_MARK_H_
