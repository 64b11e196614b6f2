// renameat2 and RENAME_NOREPLACE; before any header reads it.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "system_platform.h"

const char folderPrefix[] = "Rename/";

namespace {

/// Hidden files (a leading dot) are left alone; so are "." and "..".
bool Hidden(const char* name) {
  return name[0] == '.';
}

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

bool RefusesLinks(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOTSUP ||
         error == EMLINK || error == ENOSYS;
}

}  // namespace

struct SystemPlatform::Folder {
  DIR* listing = nullptr;
  int fd = -1;  // the listing's own descriptor; every name is resolved in it
  // The metadata last read, and of which name: the listing reads it where
  // the folder does not tell file types, and the time read and a rename
  // that reserves its name first use it again.
  std::string statName;
  struct stat statOfName {};

  void Remember(const char* name, const struct stat& st) {
    statName.assign(name);
    statOfName = st;
  }
  const struct stat* Recall(const std::string& name) const {
    return !statName.empty() && statName == name ? &statOfName : nullptr;
  }

  ~Folder() {
    if (listing != nullptr)
      closedir(listing);
  }
};

SystemPlatform::SystemPlatform(RenameTier firstTier)
    : folder_(std::make_unique<Folder>()), tier_(firstTier) {}

SystemPlatform::~SystemPlatform() = default;

ErrorState SystemPlatform::ListFirst(std::string* fileName) {
  fileName->clear();
  // Held open for the whole run, so that every later step acts on this one
  // folder even if `Rename` is moved or replaced meanwhile.
  const int fd = open(folderPrefix, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return errno;
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) {
    const int error = errno;
    close(fd);
    return error;
  }
  folder_->listing = listing;
  folder_->fd = fd;
  return ListNext(fileName);
}

ErrorState SystemPlatform::ListNext(std::string* fileName) {
  fileName->clear();
  folder_->statName.clear();  // may name a file that has gone since
  if (folder_->listing == nullptr)
    return 0;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(folder_->listing);
    if (entry == nullptr)
      return errno;
    if (Hidden(entry->d_name))
      continue;
    if (entry->d_type == DT_REG) {
      fileName->assign(entry->d_name);
      return 0;
    }
    if (entry->d_type != DT_UNKNOWN)
      continue;
    // Symbolic links count by what they are, not by what they point to.
    struct stat st;
    if (fstatat(folder_->fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
      continue;
    folder_->Remember(entry->d_name, st);
    fileName->assign(entry->d_name);
    return 0;
  }
}

ErrorState SystemPlatform::ModifiedTime(const std::string& fileName,
                                        DateTime* modified) {
  struct stat st;
  if (const struct stat* listed = folder_->Recall(fileName)) {
    st = *listed;
  } else {
    if (fstatat(folder_->fd, fileName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return errno;
    folder_->Remember(fileName.c_str(), st);
  }
  // Replaced by a folder or a link since it was listed: the ordinary file
  // that was listed is gone.
  if (!S_ISREG(st.st_mode))
    return ENOENT;

  struct tm local;
  if (localtime_r(&st.st_mtime, &local) == nullptr)
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

ErrorState SystemPlatform::Rename(const std::string& from,
                                  const std::string& to) {
  const int fd = folder_->fd;
  const char* oldName = from.c_str();
  const char* newName = to.c_str();

  if (tier_ == RenameTier::kNoReplaceRename) {
    const int error = RenameNoReplace(fd, oldName, newName);
    if (!RefusesNoReplace(error))
      return error;
    tier_ = RenameTier::kLinkThenUnlink;
  }

  if (tier_ == RenameTier::kLinkThenUnlink) {
    if (linkat(fd, oldName, fd, newName, 0) == 0) {
      if (unlinkat(fd, oldName, 0) == 0)
        return 0;
      const int error = errno;
      // Drop the new link again so the file keeps exactly its old name; but
      // only while the file has another name, so that no data can go.
      struct stat st;
      if (fstatat(fd, newName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          st.st_nlink > 1)
        unlinkat(fd, newName, 0);
      return error;
    }
    const int error = errno;
    if (!RefusesLinks(error))
      return error;
    tier_ = RenameTier::kReserveThenRename;
  }

  // The exclusive create is what refuses a taken name here; the rename
  // that follows replaces nothing but the empty reservation.
  const int reservation = openat(
      fd, newName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (reservation < 0)
    return errno;
  // The reservation takes the file's own time: another run that lists it
  // meanwhile then finds it already bearing its name, and leaves it be.
  struct stat fresh;
  const struct stat* timed = folder_->Recall(from);
  if (timed == nullptr &&
      fstatat(fd, oldName, &fresh, AT_SYMLINK_NOFOLLOW) == 0)
    timed = &fresh;
  if (timed != nullptr) {
    const struct timespec times[2] = {{timed->st_atime, 0},
                                      {timed->st_mtime, 0}};
    futimens(reservation, times);
  }
  struct stat reserved;
  const bool knowReserved = fstat(reservation, &reserved) == 0;
  // The rename replaces whatever bears the old name by then, and that may
  // no longer be the file whose time gave the new one: another run's
  // reservation, listed before it got its time, may have been filled
  // meanwhile. So look once more, as late as can be.
  int error = 0;
  struct stat now;
  if (fstatat(fd, oldName, &now, AT_SYMLINK_NOFOLLOW) != 0)
    error = errno;
  else if (timed != nullptr &&
           (now.st_dev != timed->st_dev || now.st_ino != timed->st_ino ||
            now.st_mtime != timed->st_mtime)) {
    folder_->Remember(oldName, now);  // for the time read that follows
    error = ESTALE;
  }
  else if (renameat(fd, oldName, fd, newName) != 0)
    error = errno;
  if (error != 0) {
    struct stat st;
    if (knowReserved && fstatat(fd, newName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        st.st_dev == reserved.st_dev && st.st_ino == reserved.st_ino &&
        st.st_size == 0)
      unlinkat(fd, newName, 0);
  }
  close(reservation);
  return error;
}

Failure SystemPlatform::Classify(ErrorState error) const {
  switch (error) {
    case EEXIST:
    case ENOTEMPTY:
    case EISDIR:
      return Failure::kTaken;
    case ENOENT:
      return Failure::kGone;
    case ESTALE:
      return Failure::kChanged;
    default:
      return Failure::kOther;
  }
}
