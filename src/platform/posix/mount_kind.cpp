// Which kind of mount the folder is on, read from the mount table: its
// type, and on the kernel's FAT the zone its times are shown in.
#include "platform/posix/mount_kind.h"

#include <stdio.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <sys/vfs.h>
#include <unistd.h>
#elif defined(__APPLE__) || defined(__FreeBSD__)
#include <sys/mount.h>
#include <sys/param.h>
#endif

#include <cstdlib>
#include <cstring>

namespace {

#if defined(__linux__)
/// The folder's line of the mount table: its type, its source and the file
/// system's own options ("rw,tz=UTC", say). The last mount of the device is the one
/// seen. False where none is found.
bool MountLine(int dirFd, std::string* type, std::string* source,
               std::string* options) {
  struct stat folder;
  if (fstat(dirFd, &folder) != 0)
    return false;
  FILE* table = fopen("/proc/self/mountinfo", "re");
  if (table == nullptr)
    return false;
  const std::string device = std::to_string(major(folder.st_dev)) + ":" +
                             std::to_string(minor(folder.st_dev));
  bool found = false;
  char* line = nullptr;
  size_t size = 0;
  while (getline(&line, &size, table) > 0) {
    // id parent major:minor root mount options... - type source options
    char id[32], parent[32], numbers[64];
    if (sscanf(line, "%31s %31s %63s", id, parent, numbers) != 3 ||
        device != numbers)
      continue;
    const char* dash = strstr(line, " - ");
    char kind[128], from[4096], superOptions[4096];
    const int read = dash == nullptr ? 0
                                     : sscanf(dash + 3, "%127s %4095s %4095s",
                                              kind, from, superOptions);
    if (read >= 1) {
      *type = kind;
      *source = read >= 2 ? from : "";
      *options = read == 3 ? superOptions : "";
      found = true;
    }
  }
  free(line);
  fclose(table);
  return found;
}

/// The kernel's own zone, which its FAT applies where the mount names
/// none: set at boot from the hardware clock's zone, 0 on most systems.
/// Asked of the kernel itself; the C library may answer for it with 0.
int KernelMinutesWest() {
  struct timezone zone = {};
  struct timeval now;
  if (syscall(SYS_gettimeofday, &now, &zone) != 0)
    return 0;
  return zone.tz_minuteswest;
}

bool OnFuse(int dirFd) {
  struct statfs fs;
  return fstatfs(dirFd, &fs) == 0 && fs.f_type == 0x65735546;
}
#elif defined(__APPLE__) || defined(__FreeBSD__)
// Which FUSE file system it is does not show: none gets the reserve way.
bool MountLine(int dirFd, std::string* type, std::string*, std::string*) {
  struct statfs fs;
  if (fstatfs(dirFd, &fs) != 0 || strstr(fs.f_fstypename, "fuse") == nullptr)
    return false;
  *type = "fuse";
  return true;
}
int KernelMinutesWest() {
  return 0;
}
bool OnFuse(int dirFd) {
  struct statfs fs;
  return fstatfs(dirFd, &fs) == 0 && strstr(fs.f_fstypename, "fuse") != nullptr;
}
#else
bool MountLine(int, std::string*, std::string*, std::string*) {
  return false;
}
int KernelMinutesWest() {
  return 0;
}
bool OnFuse(int) {
  return false;
}
#endif

/// The value of option `name` in the comma-separated `options`.
std::optional<std::string_view> Option(std::string_view options,
                                       std::string_view name) {
  while (!options.empty()) {
    const std::size_t comma = options.find(',');
    const std::string_view option = options.substr(0, comma);
    if (option.size() > name.size() && option.substr(0, name.size()) == name &&
        option[name.size()] == '=')
      return option.substr(name.size() + 1);
    options = comma == std::string_view::npos ? std::string_view{}
                                              : options.substr(comma + 1);
  }
  return std::nullopt;
}

}  // namespace

Mount MountFrom(std::string_view type, std::string_view options,
                int kernelMinutesWest) {
  Mount mount;
  mount.type = type;
  mount.fuse = type == "fuse" || type == "fuseblk" ||
               type.substr(0, 5) == "fuse.";
  if (type == "vfat" || type == "msdos") {
    // The kernel reads an entry's wall-clock time as UTC and adds its
    // zone's offset: the mount's own (tz=UTC, or time_offset= minutes east
    // of UTC), else the kernel's.
    std::int64_t minutesWest = kernelMinutesWest;
    if (Option(options, "tz"))
      minutesWest = 0;
    if (const auto offset = Option(options, "time_offset"))
      minutesWest = -std::strtoll(std::string(*offset).c_str(), nullptr, 10);
    mount.cardShift = minutesWest * 60;
  }
  return mount;
}

Mount MountOf(int dirFd) {
  std::string type, source, options;
  if (MountLine(dirFd, &type, &source, &options)) {
    Mount mount = MountFrom(type, options, KernelMinutesWest());
    mount.source = source;
    return mount;
  }
  // No mount table: FUSE still shows itself, without its kind.
  Mount mount;
  mount.fuse = OnFuse(dirFd);
  return mount;
}

bool RefusesByCacheOnly(const Mount& mount) {
  return mount.type == "cifs" || mount.type == "smb3";
}

bool ServesNoWay(const Mount& mount) {
  return mount.type == "fuse.gvfsd-fuse" || mount.type == "fuse.kio-fuse";
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

bool TakesTurns(const Mount& mount) {
  constexpr std::string_view kKinds[] = {
      "nfs",        "nfs4",          "cifs",          "smb3",
      "9p",         "ceph",          "fuse.sshfs",    "fuse.smbnetfs",
      "fuse.mergerfs", "fuse.bindfs"};
  for (const std::string_view kind : kKinds)
    if (mount.type == kind)
      return true;
  // A FUSE file system that names no kind of its own, over a folder of
  // this machine (bindfs); not one over a server's address (davfs2).
  return mount.type == "fuse" && mount.source.starts_with('/');
}
