#ifndef STAMPNAME_PLATFORM_POSIX_MARK_H_
#define STAMPNAME_PLATFORM_POSIX_MARK_H_

/// Whether `name` and `other`, in the open folder `fd`, are one file: a
/// mark set through one shows through the other. The times are as they
/// were afterwards.
bool MarkShows(int fd, const char* name, const char* other);

#endif  // STAMPNAME_PLATFORM_POSIX_MARK_H_
