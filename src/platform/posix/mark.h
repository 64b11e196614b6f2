#ifndef STAMPNAME_PLATFORM_POSIX_MARK_H_
#define STAMPNAME_PLATFORM_POSIX_MARK_H_

/// What a mark set through one name showed through the other.
enum class Marked {
  kShows,     // one file
  kNotShown,  // two files
  kNoMark,    // no proof: the mark could not be set or read
};

/// Whether `name` and `other`, in the open folder `fd`, are one file: a
/// mark set through one shows through the other. The times are as they
/// were afterwards, or as a save meanwhile made them.
Marked MarkShows(int fd, const char* name, const char* other);

#endif  // STAMPNAME_PLATFORM_POSIX_MARK_H_
