// Which kind of mount the folder is on: a kernel file system, or which
// FUSE one, read from the mount table.
#include "platform/posix/mount_kind.h"

#include <stdio.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#elif defined(__APPLE__) || defined(__FreeBSD__)
#include <sys/mount.h>
#include <sys/param.h>
#endif

#include <cstdlib>
#include <cstring>

namespace {

#if defined(__linux__)
/// Whether the folder lies on a FUSE file system, whose inode numbers may
/// number names rather than files, and whose answers may come from a cache.
bool OnFuse(int dirFd) {
  struct statfs fs;
  return fstatfs(dirFd, &fs) == 0 && fs.f_type == 0x65735546;
}

/// The FUSE file system type of the folder's mount ("fuse.sshfs", say),
/// from the mount table; empty where none is found.
std::string FuseType(int dirFd) {
  struct stat folder;
  FILE* table = fopen("/proc/self/mountinfo", "re");
  if (table == nullptr || fstat(dirFd, &folder) != 0) {
    if (table != nullptr)
      fclose(table);
    return {};
  }
  const std::string device = std::to_string(major(folder.st_dev)) + ":" +
                             std::to_string(minor(folder.st_dev));
  std::string type;
  char* line = nullptr;
  size_t size = 0;
  while (getline(&line, &size, table) > 0) {
    // id parent major:minor root mount options... - type source options
    char id[32], parent[32], numbers[64];
    if (sscanf(line, "%31s %31s %63s", id, parent, numbers) != 3 ||
        device != numbers)
      continue;
    const char* dash = strstr(line, " - ");
    char found[128];
    if (dash != nullptr && sscanf(dash + 3, "%127s", found) == 1)
      type = found;  // the last mount of the device is the one seen
  }
  free(line);
  fclose(table);
  return type;
}
#elif defined(__APPLE__) || defined(__FreeBSD__)
bool OnFuse(int dirFd) {
  struct statfs fs;
  return fstatfs(dirFd, &fs) == 0 && strstr(fs.f_fstypename, "fuse") != nullptr;
}

// Which FUSE file system it is does not show: none gets the reserve way.
std::string FuseType(int) {
  return {};
}
#else
bool OnFuse(int) {
  return false;
}
std::string FuseType(int) {
  return {};
}
#endif

}  // namespace

Mount MountOf(int dirFd) {
  Mount mount;
  mount.fuse = OnFuse(dirFd);
  if (mount.fuse)
    mount.type = FuseType(dirFd);
  return mount;
}

/// Whether an exclusive create makes the file at once where every other
/// client sees it. Cloud-drive mounts (rclone, say) make it on the server
/// only later, after a rename onto it has already landed; the reserve way
/// would then empty the photo. So only the FUSE kinds where it was tried.
bool ReservesAtOnce(const Mount& mount) {
  if (!mount.fuse)
    return true;
  // fuseblk: a local disk (exFAT, NTFS); the others are FAT and shares.
  return mount.type == "fuseblk" || mount.type == "fuse.fusefat" ||
         mount.type == "fuse.sshfs" || mount.type == "fuse.smbnetfs";
}
