// renameat2, RENAME_NOREPLACE and statx; before any header reads it.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <vector>

#include "system_platform_posix.h"

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

/// What a failed call's errno means to the pass.
Outcome Failed(int error) {
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

/// Local wall-clock time of `when`; 0 or the failure.
int ToLocal(time_t when, DateTime* modified) {
  struct tm local;
  if (localtime_r(&when, &local) == nullptr)
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

/// Whether `st` is still an ordinary file of the time its new name was
/// made from.
bool StillStamped(const struct stat& st, const DateTime& stampedFrom) {
  DateTime now;
  return S_ISREG(st.st_mode) && ToLocal(st.st_mtime, &now) == 0 &&
         now == stampedFrom;
}

}  // namespace

struct SystemPlatform::Folder {
  DIR* listing = nullptr;
  // How two names are known to hold one file. Most file systems tell by
  // inode number; sshfs makes one up per name, even for two links of one
  // file, so there the size, time and mode must do.
  enum class Identity { kUnknown, kInode, kAttributes };
  Identity identity = Identity::kUnknown;
  // Reservations whose removal failed; tried again before the run ends.
  std::vector<std::pair<std::string, struct stat>> leftovers;
  bool reserveByOpen = false;  // mknod makes no plain files here
  RenameTier tier = RenameTier::kNoReplaceRename;
  Outcome stoppedBy;  // why the run makes no more names (kNone)
  std::function<void(RenameStep)> between = [](RenameStep) {};

  int fd() const { return dirfd(listing); }

  /// Learns how identity shows from two views of what is certainly one
  /// file: the first link this run made.
  void Learn(const struct stat& a, const struct stat& b) {
    if (identity == Identity::kUnknown)
      identity = SameInode(a, b) ? Identity::kInode : Identity::kAttributes;
  }

  bool Same(const struct stat& a, const struct stat& b) const {
    if (identity != Identity::kAttributes)
      return SameInode(a, b);
    return a.st_size == b.st_size && a.st_mode == b.st_mode &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
  }

  /// Makes an empty file under `name`, refused if the name is taken. No
  /// descriptor is held: a network share refuses to rename onto, or remove,
  /// a file still open, and a FUSE client closes it on the server only some
  /// time after close() returns.
  bool Reserve(const char* name, struct stat* reserved) {
    if (!reserveByOpen) {
      if (mknodat(fd(), name, S_IFREG | 0600, 0) == 0)
        return fstatat(fd(), name, reserved, AT_SYMLINK_NOFOLLOW) == 0;
      if (errno != EPERM && errno != EINVAL && errno != ENOSYS &&
          errno != EOPNOTSUPP && errno != ENOTSUP)
        return false;
      reserveByOpen = true;  // no plain files from mknod here
    }
    const int file = openat(fd(), name,
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            0600);
    if (file < 0)
      return false;
    const bool known = fstat(file, reserved) == 0;
    const int error = errno;
    close(file);
    errno = error;
    return known;
  }

  /// Whether `st` is still the reservation made as `reserved`: the same
  /// empty file, unchanged since. Inode numbers alone do not tell where a
  /// file system numbers names rather than files.
  static bool SameReservation(const struct stat& st,
                              const struct stat& reserved) {
    return SameInode(st, reserved) && S_ISREG(st.st_mode) &&
           st.st_size == 0 && st.st_mode == reserved.st_mode &&
           st.st_mtim.tv_sec == reserved.st_mtim.tv_sec &&
           st.st_mtim.tv_nsec == reserved.st_mtim.tv_nsec;
  }

  /// Removes an empty reservation of this run, if it still bears `name`.
  bool RemoveReservation(const char* name, const struct stat& reserved) {
    struct stat st;
    if (fstatat(fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      return errno == ENOENT;
    if (!SameReservation(st, reserved))
      return true;  // not ours any more: nothing of ours to take away
    return unlinkat(fd(), name, 0) == 0 || errno == ENOENT;
  }

  // The ways beyond the kernel's own, each with the checks that keep its
  // two steps from touching any file but this one.

  /// Nothing where the file system refuses links altogether.
  std::optional<Outcome> LinkThenUnlink(const char* from, const char* to,
                                        const DateTime& stampedFrom) {
    const int fd = this->fd();
    if (linkat(fd, from, fd, to, 0) != 0) {
      if (RefusesLinks(errno))
        return std::nullopt;
      return Failed(errno);
    }
    struct stat linked, old;
    if (identity == Identity::kUnknown &&
        fstatat(fd, to, &linked, AT_SYMLINK_NOFOLLOW) == 0 &&
        fstatat(fd, from, &old, AT_SYMLINK_NOFOLLOW) == 0)
      Learn(linked, old);
    between(RenameStep::kLinked);
    // The new name holds whatever bore the old one at the link. That must be
    // the file whose time gave the name, and the old name must still be that
    // file when it goes: a name is only ever dropped beside another of its
    // own file.
    if (fstatat(fd, to, &linked, AT_SYMLINK_NOFOLLOW) != 0)
      return Failed(errno);  // moved on by someone else: its old name stays
    const bool oldThere = fstatat(fd, from, &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!StillStamped(linked, stampedFrom)) {
      if (oldThere && Same(old, linked))
        unlinkat(fd, to, 0);
      return Outcome{Failure::kChanged, 0};
    }
    // Both names stay where the old one holds another file now.
    if (!oldThere || !Same(old, linked))
      return Outcome{Failure::kOther, 0};
    if (unlinkat(fd, from, 0) == 0)
      return Outcome{};
    const int error = errno;
    // Drop the new link again so the file keeps exactly its old name. Where
    // even that is refused (a folder that only grows, say), every further
    // link would leave one more name behind: the run makes no more names.
    struct stat st;
    if (fstatat(fd, from, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        Same(st, linked) && unlinkat(fd, to, 0) == 0) {
      tier = RenameTier::kReserveThenRename;
    } else {
      tier = RenameTier::kNone;
      stoppedBy = Failed(error);
    }
    return Failed(error);
  }

  Outcome ReserveThenRename(const char* from, const char* to,
                            const DateTime& stampedFrom) {
    const int fd = this->fd();
    // The exclusive create is what refuses a taken name here; the rename
    // that follows replaces nothing but the empty reservation. It keeps the
    // time of its making: an empty file left by a killed run then shows no
    // photo's date that would make it pass for the photo.
    struct stat reserved;
    if (!Reserve(to, &reserved))
      return Failed(errno);
    struct stat source;
    Outcome outcome;
    if (fstatat(fd, from, &source, AT_SYMLINK_NOFOLLOW) != 0)
      outcome = Failed(errno);
    else if (!StillStamped(source, stampedFrom))
      outcome = {Failure::kChanged, 0};  // another file, or a changed one
    between(RenameStep::kReserved);
    if (outcome.ok()) {
      // The rename replaces whatever bears the new name by then: it must
      // still be this run's own empty reservation. Gone or someone else's,
      // it is no failure of the file, which keeps its name; someone else's
      // file is left alone.
      struct stat now;
      if (fstatat(fd, to, &now, AT_SYMLINK_NOFOLLOW) != 0)
        outcome = {Failure::kOther, errno};
      else if (!SameReservation(now, reserved))
        return {Failure::kOther, 0};
      else if (renameat(fd, from, fd, to) != 0)
        outcome = Failed(errno);
    }
    if (!outcome.ok() && !RemoveReservation(to, reserved))
      leftovers.emplace_back(to, reserved);
    return outcome;
  }

  ~Folder() {
    if (listing == nullptr)
      return;
    for (const auto& [name, reserved] : leftovers)
      RemoveReservation(name.c_str(), reserved);
    closedir(listing);  // and with it the lock
  }
};

SystemPlatform::SystemPlatform() : folder_(std::make_unique<Folder>()) {}

TieredPlatform::TieredPlatform(RenameTier firstTier) {
  folder_->tier = firstTier;
  folder_->between = [this](RenameStep step) { Between(step); };
}

RenameTier TieredPlatform::tier() const { return folder_->tier; }

SystemPlatform::~SystemPlatform() = default;

Outcome SystemPlatform::ListFirst(ListedName* entry) {
  entry->fileName.clear();
  // Held open for the whole run, so that every later step acts on this one
  // folder even if `Rename` is moved or replaced meanwhile.
  const int fd = open(folderPrefix, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return Failed(errno);
  // One run at a time in a folder: a second one waits here, then finds the
  // first one's work done. File systems without locks go on without.
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) {
    const int error = errno;
    close(fd);
    return Failed(error);
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
      return Failed(errno);
    if (Dots(found->d_name))
      continue;
    entry->fileName.assign(found->d_name);
    entry->ordinary = false;
    if (Hidden(found->d_name))
      return {};
    if (found->d_type == DT_UNKNOWN) {
      // Symbolic links count by what they are, not by what they point to.
      struct stat st;
      entry->ordinary =
          fstatat(folder_->fd(), found->d_name, &st, AT_SYMLINK_NOFOLLOW) ==
              0 &&
          S_ISREG(st.st_mode);
    } else {
      entry->ordinary = found->d_type == DT_REG;
    }
    return {};
  }
}

Outcome SystemPlatform::ModifiedTime(const std::string& fileName,
                                     DateTime* modified) {
  struct stat st;
  if (fstatat(folder_->fd(), fileName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return Failed(errno);
  // Replaced by a folder or a link since it was listed: the ordinary file
  // that was listed is gone.
  if (!S_ISREG(st.st_mode))
    return {Failure::kGone, 0};
  return Failed(ToLocal(st.st_mtime, modified));
}

bool SystemPlatform::SameFile(const std::string& a, const std::string& b) {
  // Where inode numbers do not tell, two names are never known to be one
  // file: a copy could match in every attribute.
  if (folder_->identity == Folder::Identity::kAttributes)
    return false;
  struct stat first, second;
  return fstatat(folder_->fd(), a.c_str(), &first, AT_SYMLINK_NOFOLLOW) == 0 &&
         fstatat(folder_->fd(), b.c_str(), &second, AT_SYMLINK_NOFOLLOW) == 0 &&
         SameInode(first, second);
}

Outcome SystemPlatform::RemoveSecondName(const std::string& name,
                                         const std::string& other) {
  if (!SameFile(name, other))
    return {Failure::kOther, 0};
  return unlinkat(folder_->fd(), name.c_str(), 0) == 0 ? Outcome{}
                                                       : Failed(errno);
}

Outcome SystemPlatform::Rename(const std::string& from, const std::string& to,
                               const DateTime& stampedFrom) {
  const char* oldName = from.c_str();
  const char* newName = to.c_str();
  Folder& folder = *folder_;
  if (folder.tier == RenameTier::kNoReplaceRename) {
    const int error = RenameNoReplace(folder.fd(), oldName, newName);
    if (!RefusesNoReplace(error))
      return Failed(error);
    folder.tier = RenameTier::kLinkThenUnlink;
  }
  if (folder.tier == RenameTier::kLinkThenUnlink) {
    if (const auto linked = folder.LinkThenUnlink(oldName, newName, stampedFrom))
      return *linked;
    folder.tier = RenameTier::kReserveThenRename;
  }
  if (folder.tier == RenameTier::kReserveThenRename)
    return folder.ReserveThenRename(oldName, newName, stampedFrom);
  return folder.stoppedBy;
}

Outcome SystemPlatform::ReadTimes(const std::string& fileName,
                                  FileTimes* times) {
#if defined(STATX_MTIME) && defined(AT_STATX_FORCE_SYNC)
  // Past the kernel's cache of a network or FUSE file system, which may
  // still show the times from before a rename.
  struct statx stx;
  if (statx(folder_->fd(), fileName.c_str(),
            AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC,
            STATX_ATIME | STATX_MTIME, &stx) == 0) {
    *times = {stx.stx_atime.tv_sec, stx.stx_atime.tv_nsec,
              stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec};
    return {};
  }
  if (errno != ENOSYS)
    return Failed(errno);
#endif
  struct stat st;
  if (fstatat(folder_->fd(), fileName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return Failed(errno);
  *times = {st.st_atim.tv_sec, st.st_atim.tv_nsec, st.st_mtim.tv_sec,
            st.st_mtim.tv_nsec};
  return {};
}

Outcome SystemPlatform::SetTimes(const std::string& fileName,
                                 const FileTimes& times) {
  const struct timespec both[2] = {
      {static_cast<time_t>(times.accessSeconds),
       static_cast<long>(times.accessNanoseconds)},
      {static_cast<time_t>(times.modifiedSeconds),
       static_cast<long>(times.modifiedNanoseconds)}};
  return utimensat(folder_->fd(), fileName.c_str(), both,
                   AT_SYMLINK_NOFOLLOW) == 0
             ? Outcome{}
             : Failed(errno);
}
