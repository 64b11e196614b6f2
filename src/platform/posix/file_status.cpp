// What a name holds, read past the caches of FUSE and network file systems
// where it matters, and compared: the reads every way judges by.
#include "platform/posix/file_status.h"

#include <fcntl.h>
#if defined(__linux__)
#include <sys/sysmacros.h>
#endif
#include <unistd.h>

#include <cerrno>

Outcome OutcomeOf(int error) {
  switch (error) {
    case 0:
      return {};
    case EEXIST:
    case ENOTEMPTY:
    case EISDIR:
      return {Failure::kTaken, error};
    case ENOENT:
      return {Failure::kGone, error};
    default:
      return {Failure::kOther, error};
  }
}

bool SameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool SameAttributes(const struct stat& a, const struct stat& b) {
  return a.st_size == b.st_size && a.st_mode == b.st_mode &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool EmptyFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_size == 0;
}

bool GoneNow(int dirFd, const char* name) {
  struct stat st;
  return fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

int WallClock(const Mount& mount, time_t when, DateTime* modified) {
  struct tm local;
  // The card's own time: what the camera wrote, as every other system
  // shows it, whatever zone the kernel read it in.
  const time_t held = mount.cardShift ? when - *mount.cardShift : when;
  if ((mount.cardShift ? gmtime_r(&held, &local) : localtime_r(&when, &local)) ==
      nullptr)
    return errno != 0 ? errno : EOVERFLOW;
  const long long year = 1900LL + local.tm_year;
  // Out of range years are caught by the pass; keep them out of range.
  modified->year = year > 99999 ? 99999 : static_cast<int>(year);
  modified->month = local.tm_mon + 1;
  modified->day = local.tm_mday;
  modified->hour = local.tm_hour;
  modified->minute = local.tm_min;
  modified->second = local.tm_sec;
  return 0;
}

bool StillStamped(const Mount& mount, const struct stat& st,
                  const DateTime& stampedFrom) {
  DateTime now;
  return S_ISREG(st.st_mode) && WallClock(mount, st.st_mtime, &now) == 0 &&
         now == stampedFrom;
}

/// What `name` holds now: past the kernel's cache of a FUSE or network file
/// system, which may still show a file that was replaced behind its back.
/// 0 or the failure.
int StatNow(int dirFd, const char* name, struct stat* st) {
#if defined(STATX_BASIC_STATS) && defined(AT_STATX_FORCE_SYNC)
  struct statx stx;
  if (statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC,
            STATX_BASIC_STATS, &stx) == 0) {
    *st = {};
    st->st_dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    st->st_ino = stx.stx_ino;
    st->st_mode = stx.stx_mode;
    st->st_nlink = stx.stx_nlink;
    st->st_size = static_cast<off_t>(stx.stx_size);
    st->st_mtim = {static_cast<time_t>(stx.stx_mtime.tv_sec),
                   static_cast<long>(stx.stx_mtime.tv_nsec)};
    return 0;
  }
  if (errno != ENOSYS)
    return errno;
#endif
  return fstatat(dirFd, name, st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

/// The times of `name` as the file system holds them, past the kernel's
/// cache of a network or FUSE file system, which may still show the times
/// from before a rename; with the file's number, so that a file saved anew
/// meanwhile shows another (where names are numbered apart, sshfs and
/// mergerfs, a link shows another too). 0 or the failure.
int TimesNow(int dirFd, const char* name, FileTimes* times) {
#if defined(STATX_MTIME) && defined(AT_STATX_FORCE_SYNC)
  struct statx stx;
  if (statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC,
            STATX_ATIME | STATX_MTIME | STATX_SIZE | STATX_INO, &stx) == 0) {
    *times = {stx.stx_atime.tv_sec,
              stx.stx_atime.tv_nsec,
              stx.stx_mtime.tv_sec,
              stx.stx_mtime.tv_nsec,
              static_cast<std::int64_t>(stx.stx_size),
              stx.stx_ino};
    return 0;
  }
  if (errno != ENOSYS)
    return errno;
#endif
  struct stat st;
  if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
    return errno;
  *times = {st.st_atim.tv_sec,
            st.st_atim.tv_nsec,
            st.st_mtim.tv_sec,
            st.st_mtim.tv_nsec,
            static_cast<std::int64_t>(st.st_size),
            static_cast<std::uint64_t>(st.st_ino)};
  return 0;
}

/// Gives `name` the access and modification times of `times`: 0 or the
/// failure.
int SetTimesAt(int dirFd, const char* name, const FileTimes& times) {
  const struct timespec both[2] = {
      {static_cast<time_t>(times.accessSeconds),
       static_cast<long>(times.accessNanoseconds)},
      {static_cast<time_t>(times.modifiedSeconds),
       static_cast<long>(times.modifiedNanoseconds)}};
  return utimensat(dirFd, name, both, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int SetModeAt(int dirFd, const char* name, mode_t mode) {
  return fchmodat(dirFd, name, mode, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}
