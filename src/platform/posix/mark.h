#ifndef STAMPNAME_PLATFORM_POSIX_MARK_H_
#define STAMPNAME_PLATFORM_POSIX_MARK_H_

#include <sys/stat.h>

#include <functional>

/// What a mark set through one name showed through the other.
enum class Marked {
  kShows,     // one file
  kNotShown,  // two files
  kNoMark,    // no proof: the mark could not be set, kept or read
};

/// How a mark reaches the file system: a name's status as it answers for
/// it (sshfs from a cache of its own, for some seconds), the setting of a
/// name's mode, and an opening of the name, after which it answers anew.
struct MarkCalls {
  std::function<int(int fd, const char* name, struct stat* st)> status;
  std::function<int(int fd, const char* name, mode_t mode)> set;
  std::function<void(int fd, const char* name)> open;
};

/// The system's own.
const MarkCalls& SystemMarkCalls();

/// Whether `name` and `other`, in the open folder `fd`, are one file: a
/// mark set through one shows through the other, and goes from it when
/// taken away. Neither the file's times nor its contents are touched.
Marked MarkShows(int fd, const char* name, const char* other,
                 const MarkCalls& calls = SystemMarkCalls());

#endif  // STAMPNAME_PLATFORM_POSIX_MARK_H_
