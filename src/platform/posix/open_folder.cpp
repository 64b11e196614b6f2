// The run's hold on its folder: opened once and locked, so that runs on
// one folder take turns, with the hidden names the run makes there.
#include "platform/posix/open_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/posix/stop_signals.h"

OpenFolder::~OpenFolder() {
  if (listing_ != nullptr)
    closedir(listing_);
}

int OpenFolder::Open(const char* path) {
  const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return errno;
  // A folder that can be read but not searched lists names whose files
  // cannot be reached: it cannot be opened as a folder.
  if (faccessat(fd, ".", X_OK, AT_EACCESS) != 0) {
    const int error = errno;
    close(fd);
    return error;
  }
  // One run at a time in a folder: a second one waits here, then finds the
  // first one's work done. File systems without locks go on without. A
  // stop while waiting ends the run here: unlocked, it would act beside
  // the run it waits for.
  while (lock && flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    if (CaughtStopSignal() != 0) {
      close(fd);
      return EINTR;
    }
  }
  listing_ = fdopendir(fd);
  if (listing_ == nullptr) {
    const int error = errno;
    close(fd);
    return error;
  }
  return 0;
}

const Mount& OpenFolder::Kind() {
  if (!mount)
    mount = MountOf(fd());
  return *mount;
}

std::string OpenFolder::Aside(HiddenRole role, std::string_view recorded) {
  if (asides_ == 0) {
    std::random_device random;
    nonce_ = (std::uint64_t{random()} << 32 | random()) ^
             static_cast<std::uint64_t>(getpid());
  }
  changed = true;
  return MakeHidden(nonce_, ++asides_, role, recorded);
}

bool OpenFolder::RecordsWhole(std::string_view name) const {
  return RecordedIn(MakeHidden(nonce_, asides_ + 1, HiddenRole::kTo, name)) ==
         name;
}

void OpenFolder::DropAside(const std::string& aside) {
  if (unlinkat(fd(), aside.c_str(), 0) != 0 && errno != ENOENT)
    leftovers.emplace_back(aside, false);
}

void OpenFolder::Settle(const char* name) {
  if (!FlushesEachFile(Kind()))
    return;
  // Whatever the name holds now: flushing another program's file harms
  // nothing, and one moved away since is no longer this run's to keep.
  const int file =
      openat(fd(), name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (file < 0 && errno == ENOENT)
    return;
  const int error = file < 0 ? errno : flush(file);
  if (file >= 0)
    close(file);
  if (settleError == 0)
    settleError = error;
}

int OpenFolder::MakeEmpty(const char* name, struct stat* made, bool* madeIt) {
  *madeIt = false;
  if (!makeByOpen && mknodat(fd(), name, S_IFREG | 0600, 0) != 0) {
    if (errno != EPERM && errno != EINVAL && errno != ENOSYS &&
        errno != EOPNOTSUPP && errno != ENOTSUP)
      return errno;
    makeByOpen = true;  // no plain files from mknod here
  }
  if (makeByOpen) {
    const int file = openat(
        fd(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0)
      return errno;
    close(file);
  }
  *madeIt = true;
  return fstatat(fd(), name, made, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}
