#ifndef STAMPNAME_PLATFORM_POSIX_MOUNT_KIND_H_
#define STAMPNAME_PLATFORM_POSIX_MOUNT_KIND_H_

#include <string>

/// Which kind of mount a folder is on.
struct Mount {
  bool fuse = false;  // answers may come from a cache; numbers may be names'
  std::string type;   // the FUSE kind ("fuse.sshfs", say); empty elsewhere
};

/// The mount of the open folder `dirFd`.
Mount MountOf(int dirFd);

/// Whether an exclusive create makes the file at once where every other
/// client sees it, so that a reservation holds its name.
bool ReservesAtOnce(const Mount& mount);

#endif  // STAMPNAME_PLATFORM_POSIX_MOUNT_KIND_H_
