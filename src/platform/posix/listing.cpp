// The listing of the folder, the lock that makes runs on it take turns,
// and which kind of mount the folder is on.
#include "platform/posix/folder.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#if defined(__linux__)
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#elif defined(__APPLE__) || defined(__FreeBSD__)
#include <sys/mount.h>
#include <sys/param.h>
#endif
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/stop_signals.h"

const char folderPrefix[] = "Rename/";

namespace {

/// Hidden files (a leading dot) are left alone; so are "." and "..".
bool Hidden(const char* name) {
  return name[0] == '.';
}

bool Dots(const char* name) {
  return name[0] == '.' &&
         (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

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

const Mount& SystemPlatform::Folder::Kind() {
  if (!mount)
    mount = MountOf(fd());
  return *mount;
}

/// Whether some run may reserve names here: only where this run would
/// itself take the reserve way, on the FUSE kinds that get it and refuse
/// links. Elsewhere an empty file is a user's like any other.
bool SystemPlatform::Folder::MayReserve() {
  if (reserving == Reserving::kUnknown) {
    if (!Kind().fuse || !ReservesAtOnce(Kind()))
      reserving = Reserving::kNever;
    else if (Learn().ok())
      reserving = links == Links::kRefused ? Reserving::kMay : Reserving::kNever;
    else
      return false;  // asked again at the next such file
  }
  return reserving == Reserving::kMay;
}

/// The folder's name whose digest is `digest`, read from a listing of its
/// own; empty where none has it. Only a stopped run's hidden name of a
/// name too long to record whole asks.
std::string SystemPlatform::Folder::NameByDigest(std::uint64_t digest) {
  const int again = openat(fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* names = again >= 0 ? fdopendir(again) : nullptr;
  if (names == nullptr) {
    if (again >= 0)
      close(again);
    return {};
  }
  std::string name;
  while (const dirent* found = readdir(names))
    if (NameDigest(found->d_name) == digest) {
      name = found->d_name;
      break;
    }
  closedir(names);
  return name;
}

Outcome SystemPlatform::ListFirst(ListedName* entry) {
  entry->fileName.clear();
  // Held open for the whole run, so that every later step acts on this one
  // folder even if `Rename` is moved or replaced meanwhile.
  const int fd = open(folderPrefix, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return OutcomeOf(errno);
  // A folder that can be read but not searched lists names whose files
  // cannot be reached: it cannot be opened as a folder.
  if (faccessat(fd, ".", X_OK, AT_EACCESS) != 0) {
    const int error = errno;
    close(fd);
    return {Failure::kOther, error};
  }
  // One run at a time in a folder: a second one waits here, then finds the
  // first one's work done. File systems without locks go on without.
  while (folder_->lock && flock(fd, LOCK_EX) != 0 && errno == EINTR &&
         CaughtStopSignal() == 0) {
  }
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) {
    const int error = errno;
    close(fd);
    return OutcomeOf(error);
  }
  folder_->listing = listing;
  return ListNext(entry);
}

Outcome SystemPlatform::ListNext(ListedName* entry) {
  entry->fileName.clear();
  if (folder_->listing == nullptr)
    return {};
  for (;;) {
    errno = 0;
    const dirent* found = readdir(folder_->listing);
    if (found == nullptr)
      return OutcomeOf(errno);
    if (Dots(found->d_name))
      continue;
    entry->fileName.assign(found->d_name);
    entry->ordinary = false;
    entry->privatePart = 0;
    entry->headedFor.clear();
    // A run's hidden names hold files that a stopped run left there, or
    // that another run is moving right now; a user's hidden files and a
    // run's probes are left alone.
    const HiddenName hidden = ParseHidden(found->d_name);
    // The name it records, found among the folder's names where it was
    // too long to record whole; empty where none has that digest.
    std::string recorded = found->d_name + hidden.recorded;
    if (std::uint64_t digest; DigestIn(recorded, &digest))
      recorded = folder_->NameByDigest(digest);
    switch (hidden.role) {
      case HiddenRole::kNone:
        if (Hidden(found->d_name))
          return {};
        break;
      case HiddenRole::kProbe:
        folder_->SightProbe(found->d_name);
        return {};
      case HiddenRole::kVoid:
      case HiddenRole::kTime:
        // A reservation a run was removing, or a record of a file's times
        // while a rename reset them: empty, it is done with. Anything else
        // is a file renamed onto it, to be named.
        if (hidden.role == HiddenRole::kVoid
                ? folder_->VoidGone(found->d_name)
                : folder_->TimesBack(found->d_name, recorded.c_str()))
          continue;
        [[fallthrough]];
      case HiddenRole::kTo:
      case HiddenRole::kOf:
        entry->headedFor = recorded;
        entry->privatePart = hidden.recorded;
        break;
      case HiddenRole::kEarlier:
        entry->privatePart = hidden.recorded;
        break;
    }
    if (found->d_type == DT_UNKNOWN) {
      // Symbolic links count by what they are, not by what they point to.
      struct stat st;
      entry->ordinary = fstatat(folder_->fd(), found->d_name, &st,
                                AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISREG(st.st_mode);
    } else {
      entry->ordinary = found->d_type == DT_REG;
    }
    return {};
  }
}
