// The kernel's way (ext4, xfs, btrfs, tmpfs, gocryptfs): one atomic call
// that takes the new name or refuses it. A stop leaves each file under its
// old name or its new one; nothing to resolve.
#include "platform/posix/no_replace_way.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>

#include "platform/posix/file_status.h"

namespace {

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

}  // namespace

NoReplaceWay::NoReplaceWay(OpenFolder& folder)
    : rename(RenameNoReplace), folder_(folder) {}

std::optional<Outcome> NoReplaceWay::Rename(const char* from, const char* to,
                                            const DateTime&) {
  const int error = rename(folder_.fd(), from, to);
  folder_.changed |= error == 0;
  // Answers that mean the file system lacks the way, not that anything is
  // wrong with this file or name.
  if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
      error == ENOTSUP)
    return std::nullopt;
  return OutcomeOf(error);
}
