// The kernel's way (ext4, xfs, btrfs, tmpfs, gocryptfs): one atomic call
// that takes the new name or refuses it. A stop leaves each file under its
// old name or its new one; nothing to resolve. File systems that refuse it
// move the run on to the link way for good (SystemPlatform::Rename).
#include "platform/posix/folder.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>

/// The kernel's atomic rename that refuses a taken name, where it has one.
int RenameNoReplace(int dirFd, const char* from, const char* to) {
#if defined(RENAME_NOREPLACE)
  return renameat2(dirFd, from, dirFd, to, RENAME_NOREPLACE) == 0 ? 0 : errno;
#elif defined(RENAME_EXCL)
  return renameatx_np(dirFd, from, dirFd, to, RENAME_EXCL) == 0 ? 0 : errno;
#else
  (void)dirFd, (void)from, (void)to;
  return ENOSYS;
#endif
}

/// Answers that mean the file system lacks the way asked for, not that
/// anything is wrong with this file or name.
bool RefusesNoReplace(int error) {
  return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
         error == ENOTSUP;
}
