#ifndef STAMPNAME_PLATFORM_POSIX_FILE_STATUS_H_
#define STAMPNAME_PLATFORM_POSIX_FILE_STATUS_H_

#include <sys/stat.h>
#include <time.h>

#include "platform/platform.h"
#include "platform/posix/mount_kind.h"

/// What a call's errno means to the pass; 0, none, is success.
Outcome OutcomeOf(int error);
bool SameInode(const struct stat& a, const struct stat& b);
bool SameAttributes(const struct stat& a, const struct stat& b);
/// An ordinary file with nothing in it: all a reservation or probe holds.
bool EmptyFile(const struct stat& st);
/// Whether `name` is gone: taken from it by another run, say.
bool GoneNow(int dirFd, const char* name);
/// The wall-clock time a file of time `when` on `mount` is named after:
/// local time, or on the kernel's FAT the time the entry holds. 0 or the
/// failure.
int WallClock(const Mount& mount, time_t when, DateTime* modified);
/// Whether `st` is still an ordinary file of the time its new name was
/// made from.
bool StillStamped(const Mount& mount, const struct stat& st,
                  const DateTime& stampedFrom);
int StatNow(int dirFd, const char* name, struct stat* st);
int TimesNow(int dirFd, const char* name, FileTimes* times);
int SetTimesAt(int dirFd, const char* name, const FileTimes& times);
/// Sets the mode of `name` itself, never of what a link there points to.
/// 0 or the failure.
int SetModeAt(int dirFd, const char* name, mode_t mode);

#endif  // STAMPNAME_PLATFORM_POSIX_FILE_STATUS_H_
