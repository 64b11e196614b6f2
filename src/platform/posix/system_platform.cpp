// renameat2, RENAME_NOREPLACE and statx; before any header reads it.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#elif defined(__APPLE__) || defined(__FreeBSD__)
#include <sys/mount.h>
#include <sys/param.h>
#endif
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <functional>
#include <vector>

#include "platform/posix/hidden_names.h"
#include "platform/posix/rename_ways.h"
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

/// What a call's errno means to the pass; 0, none, is success.
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

/// Whether two files hold the same bytes.
bool SameBytes(int dirFd, const char* a, const char* b) {
  const int first = openat(dirFd, a, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  const int second = openat(dirFd, b, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  bool same = first >= 0 && second >= 0;
  std::vector<char> x(1 << 16), y(1 << 16);
  while (same) {
    const ssize_t got = read(first, x.data(), x.size());
    if (got <= 0) {
      same = got == 0 && read(second, y.data(), 1) == 0;
      break;
    }
    ssize_t have = 0;
    while (have < got) {
      const ssize_t more = read(second, y.data() + have, got - have);
      if (more <= 0)
        break;
      have += more;
    }
    same = have == got && memcmp(x.data(), y.data(), got) == 0;
  }
  if (first >= 0)
    close(first);
  if (second >= 0)
    close(second);
  return same;
}

/// Seconds within which a run is done with an empty file of its own (a
/// reservation, a probe): one that stays as it was for longer is a stopped
/// run's.
constexpr int kInFlightSeconds = 5;

/// What became of a removal of a run's empty reservation.
enum class Emptied {
  kGone,      // nothing is left under the name
  kNotEmpty,  // it held a file (someone else's): that file is back
  kStays,     // it could not be taken away, and is left for later
};

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
std::string FuseType(int) { return {}; }
#else
bool OnFuse(int) { return false; }
std::string FuseType(int) { return {}; }
#endif

/// Whether an exclusive create makes the file at once where every other
/// client sees it. Cloud-drive mounts (rclone, say) make it on the server
/// only later, after a rename onto it has already landed; the reserve way
/// would then empty the photo. So only the FUSE kinds where it was tried.
bool ReservesAtOnce(int dirFd) {
  if (!OnFuse(dirFd))
    return true;
  const std::string type = FuseType(dirFd);
  // fuseblk: a local disk (exFAT, NTFS); the others are FAT and shares.
  return type == "fuseblk" || type == "fuse.fusefat" || type == "fuse.sshfs" ||
         type == "fuse.smbnetfs";
}

}  // namespace

struct SystemPlatform::Folder {
  DIR* listing = nullptr;
  // How two names are known to hold one file, learnt before the first
  // judgement that needs it. Most file systems number files; sshfs makes
  // up a number per name, even for two links of one file, so there two
  // names are never proven to be one file.
  enum class Identity { kUnknown, kInode, kAttributes };
  Identity identity = Identity::kUnknown;
  enum class Links { kUnknown, kMade, kRefused };
  Links links = Links::kUnknown;
  // Private names whose removal failed; tried again before the run ends.
  // With `empty`, a reservation to remove only while it is empty; else an
  // extra link of a file that bears its new name.
  std::vector<std::pair<std::string, bool>> leftovers;
  // Reservations of other runs, maybe in flight, as first seen and when:
  // removed at the end where they stayed as they were.
  struct Sighting {
    std::string name;
    struct stat seen;
    struct timespec when;
  };
  std::vector<Sighting> sightings;
  int inFlightSeconds = kInFlightSeconds;
  enum class Reserving { kUnknown, kMay, kNever };
  Reserving reserving = Reserving::kUnknown;
  bool reserveByOpen = false;  // mknod makes no plain files here
  bool lock = true;            // false: as through a mount of its own
  bool timesUnknown = false;   // true: not even on a kernel file system
  bool byBytes = false;        // true: identity never told by numbers
  bool changed = false;        // a name was made or taken away
  RenameTier tier = RenameTier::kNoReplaceRename;
  std::uint64_t nonce = 0;  // drawn at the first private name
  unsigned asides = 0;
  std::function<void(RenameStep)> between = [](RenameStep) {};

  int fd() const { return dirfd(listing); }

  /// A hidden name of this run's own, new each time, recording what the
  /// file under it is to a run that finds it there.
  std::string Aside(HiddenRole role, std::string_view recorded = {}) {
    if (asides == 0) {
      std::random_device random;
      nonce = (std::uint64_t{random()} << 32 | random()) ^
              static_cast<std::uint64_t>(getpid());
    }
    changed = true;
    return MakeHidden(nonce, ++asides, role, recorded);
  }

  /// Whether some run may reserve names here: only the FUSE kinds that
  /// get the reserve way. Elsewhere no empty file is ever taken for a
  /// reservation.
  bool MayReserve() {
    if (reserving == Reserving::kUnknown)
      reserving = OnFuse(fd()) && ReservesAtOnce(fd()) ? Reserving::kMay
                                                       : Reserving::kNever;
    return reserving == Reserving::kMay;
  }

  // ---- Private names, reservations, identity: what the ways build on ----

  /// Makes an empty file under `name`, refused if the name is taken. No
  /// descriptor is held: a network share refuses to rename onto, or remove,
  /// a file still open, and a FUSE client closes it on the server only some
  /// time after close() returns.
  Outcome Reserve(const char* name, struct stat* reserved) {
    if (!reserveByOpen) {
      if (mknodat(fd(), name, S_IFREG | 0600, 0) == 0)
        return Recorded(name, reserved);
      if (errno != EPERM && errno != EINVAL && errno != ENOSYS &&
          errno != EOPNOTSUPP && errno != ENOTSUP)
        return OutcomeOf(errno);
      reserveByOpen = true;  // no plain files from mknod here
    }
    const int file = openat(fd(), name,
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            0600);
    if (file < 0)
      return OutcomeOf(errno);
    close(file);
    return Recorded(name, reserved);
  }

  /// Reads back a reservation just made; one that cannot be read back is
  /// taken away again.
  Outcome Recorded(const char* name, struct stat* reserved) {
    if (fstatat(fd(), name, reserved, AT_SYMLINK_NOFOLLOW) == 0)
      return {};
    const Outcome failure{Failure::kOther, errno};
    if (RemoveEmpty(name) == Emptied::kStays)
      leftovers.emplace_back(name, true);
    return failure;
  }

  /// Whether `st` is still the reservation made as `reserved`: the same
  /// empty file, unchanged since.
  bool SameReservation(const struct stat& st,
                       const struct stat& reserved) const {
    return S_ISREG(st.st_mode) && st.st_size == 0 &&
           (identity == Identity::kAttributes || SameInode(st, reserved)) &&
           SameAttributes(st, reserved);
  }

  /// Gives the file held under the private name `aside` its name `name`
  /// back, refused if `name` was taken meanwhile: the file then stays where
  /// it is, and a later run names it. Reports `outcome` once it is back.
  Outcome PutBack(const std::string& hidden, const char* name,
                  Outcome outcome) {
    const int fd = this->fd();
    // First a hidden name that records `name` as where it is headed: a run
    // killed after the link below then leaves a second name the next one
    // knows to drop, not a file to name twice.
    std::string aside = Aside(HiddenRole::kTo, name);
    if (renameat(fd, hidden.c_str(), fd, aside.c_str()) != 0) {
      if (errno == ENOENT)
        return {Failure::kGone, ENOENT};
      aside = hidden;  // too long to record, say: put back from where it is
    }
    if (links != Links::kRefused) {
      if (linkat(fd, aside.c_str(), fd, name, 0) == 0) {
        if (unlinkat(fd, aside.c_str(), 0) != 0 && errno != ENOENT)
          leftovers.emplace_back(aside, false);
        return outcome;
      }
      if (errno == ENOENT || errno == EEXIST)
        return {errno == ENOENT ? Failure::kGone : Failure::kOther, errno};
    }
    // No link (none here, or none of another user's file where the system
    // protects them): onto a reservation of the old name, which nothing
    // else can bear by then.
    struct stat reserved;
    if (const Outcome made = Reserve(name, &reserved); !made.ok())
      return {Failure::kOther, made.error};
    const Outcome moved = OntoReservation(aside.c_str(), name, reserved);
    if (moved.ok())
      return outcome;
    return moved.failure == Failure::kGone ? moved
                                           : Outcome{Failure::kOther, 0};
  }

  /// Renames `from` onto `to`, the run's own reservation made as `reserved`.
  /// No way makes this rename refuse a file put there meanwhile; the
  /// reservation is at least read past the cache just before. Gone or
  /// someone else's, it is no failure of the file, which keeps its name;
  /// someone else's file is left alone. A reservation the file did not take
  /// is removed again, judged by what the share keeps (empty), not by its
  /// number, which sshfs hands out anew after a failed rename.
  Outcome OntoReservation(const char* from, const char* to,
                          const struct stat& reserved) {
    struct stat now;
    Outcome outcome;
    if (const int error = StatNow(fd(), to, &now); error != 0)
      outcome = {Failure::kOther, error};
    else if (!SameReservation(now, reserved))
      outcome = {Failure::kOther, 0};
    else if (renameat(fd(), from, fd(), to) != 0)
      outcome = OutcomeOf(errno);
    else
      changed = true;
    if (outcome.ok())
      return outcome;
    // Not ours any more (another run took it away, and maybe the file
    // too), it is left alone; ours is removed again.
    if (outcome.error != 0 && RemoveEmpty(to) == Emptied::kStays)
      leftovers.emplace_back(to, true);
    // The file taken from its name meanwhile, by another run: no failure.
    struct stat source;
    if (fstatat(fd(), from, &source, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == ENOENT)
      return {Failure::kGone, ENOENT};
    return outcome;
  }

  /// Removes an empty file under `name` (a reservation), and nothing
  /// else: one rename takes whatever bears the name at that instant to a
  /// private name, where it is judged. A file that is not empty goes back.
  Emptied RemoveEmpty(const char* name) {
    const int fd = this->fd();
    const std::string aside = Aside(HiddenRole::kVoid, name);
    if (renameat(fd, name, fd, aside.c_str()) != 0)
      return errno == ENOENT ? Emptied::kGone : Emptied::kStays;
    return DropEmptyAside(aside, name);
  }

  /// Removes the hidden name `aside` of a reservation of `name` where it
  /// holds an empty file; a file with content goes back to `name`.
  Emptied DropEmptyAside(const std::string& aside, const char* name) {
    struct stat st;
    if (StatNow(fd(), aside.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_size == 0)
      return unlinkat(fd(), aside.c_str(), 0) == 0 || errno == ENOENT
                 ? Emptied::kGone
                 : Emptied::kStays;
    PutBack(aside, name, {});
    return Emptied::kNotEmpty;  // someone else's: nothing of ours
  }

  /// What `name`, a file under a name the run gives of another time, is:
  /// where runs reserve names, an empty one is some run's reservation.
  Reservation Sighted(const char* name) {
    struct stat st;
    if (!MayReserve() || StatNow(fd(), name, &st) != 0 ||
        !S_ISREG(st.st_mode) || st.st_size != 0)
      return Reservation::kNone;
    if (InFlight(name, st))
      return Reservation::kInFlight;
    switch (RemoveEmpty(name)) {
      case Emptied::kGone:
        return Reservation::kRemoved;
      case Emptied::kNotEmpty:
        return Reservation::kNone;
      case Emptied::kStays:
        break;
    }
    return Reservation::kInFlight;  // its name stays taken, by it
  }

  /// Whether `name`, an empty file of some run's read as `st`, was made
  /// too lately to tell whether that run is still about to use it: then it
  /// is left alone, and removed at the end where it stayed as it was.
  bool InFlight(const char* name, const struct stat& st) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec - st.st_mtime > inFlightSeconds ||
        st.st_mtime > now.tv_sec + inFlightSeconds)
      return false;
    clock_gettime(CLOCK_MONOTONIC, &now);
    sightings.push_back({name, st, now});
    return true;
  }

  /// A probe of some run, empty: a stopped run's goes.
  void SightProbe(const char* name) {
    struct stat st;
    if (StatNow(fd(), name, &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_size == 0 && !InFlight(name, st))
      RemoveEmpty(name);
  }

  /// Removes the reservations sighted in flight that stayed as they were
  /// for longer than any run takes to rename onto its own.
  void RemoveStaleSightings() {
    for (const Sighting& sighting : sightings) {
      struct timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      const long long waited =
          (now.tv_sec - sighting.when.tv_sec) * 1000 +
          (now.tv_nsec - sighting.when.tv_nsec) / 1000000;
      if (waited < inFlightSeconds * 1000LL + 500) {
        const long long rest = inFlightSeconds * 1000LL + 500 - waited;
        const struct timespec pause = {static_cast<time_t>(rest / 1000),
                                       static_cast<long>(rest % 1000) * 1000000};
        nanosleep(&pause, nullptr);
      }
      struct stat st;
      if (StatNow(fd(), sighting.name.c_str(), &st) == 0 &&
          SameReservation(st, sighting.seen))
        RemoveEmpty(sighting.name.c_str());
    }
  }

  /// Finds out, once, whether the folder takes links, and how identity
  /// shows, with two links of an empty file of the run's own. Fails where
  /// not even that file can be made.
  Outcome Learn() {
    // A probe taken away meanwhile (by a run of an earlier version, which
    // knew no probes, or one that found it stale) says nothing of links:
    // another is made.
    Outcome learnt;
    for (int tries = 0; tries < 3; ++tries)
      if (learnt = LearnOnce(); learnt.error != ENOENT)
        break;
    return learnt;
  }

  Outcome LearnOnce() {
    if (links != Links::kUnknown && identity != Identity::kUnknown)
      return {};
    const int fd = this->fd();
    const std::string first = Aside(HiddenRole::kProbe),
                      second = Aside(HiddenRole::kProbe);
    struct stat made, a, b, folder;
    if (const Outcome reserved = Reserve(first.c_str(), &made); !reserved.ok())
      return reserved;
    between(RenameStep::kProbe);
    // Between two fresh names of the run's own, any refusal means no links
    // here, whatever it says (EPERM, ENOSYS, EIO on cloud drives...), but
    // for a full disk or quota, which says nothing of links: asked again at
    // the next file.
    const int linked =
        linkat(fd, first.c_str(), fd, second.c_str(), 0) == 0 ? 0 : errno;
    if (linked == ENOSPC || linked == EDQUOT || linked == ENOENT) {
      DropAside(first);
      return {Failure::kOther, linked};
    }
    if (linked != 0) {
      links = Links::kRefused;
      if (identity == Identity::kUnknown)
        identity = OnFuse(fd) ? Identity::kAttributes : Identity::kInode;
    } else {
      links = Links::kMade;
      // Two links of one file must show one number, and another file
      // another.
      const bool tells = StatNow(fd, first.c_str(), &a) == 0 &&
                         StatNow(fd, second.c_str(), &b) == 0 &&
                         fstat(fd, &folder) == 0 && SameInode(a, b) &&
                         !SameInode(a, folder);
      if (!byBytes)
        identity = tells ? Identity::kInode : Identity::kAttributes;
      DropAside(second);
    }
    DropAside(first);  // names only this run knows
    return {};
  }

  /// Whether `a` and `b`, read past the cache, are proven one file with
  /// another name besides: removing one of the two names then takes away
  /// no file's last name.
  bool Proven(const struct stat& a, const struct stat& b) const {
    return identity == Identity::kInode && SameInode(a, b) && a.st_nlink > 1;
  }

  /// What the names `name` (listed as `listed`), read past the cache as
  /// `a`, and `other`, read as `b`, hold. kSame only where dropping `name`
  /// takes away no file's last name: proven one file, or, where identity
  /// cannot tell, a hidden name of a run's own that records `other` as the
  /// name its file was headed for, holding the same bytes in every respect
  /// the file system keeps. Any other name is never dropped on likeness:
  /// the same bytes leave it alike.
  Sameness Judge(const char* listed, const char* name, const struct stat& a,
                 const char* other, const struct stat& b) const {
    if (identity == Identity::kInode)
      return Proven(a, b) ? Sameness::kSame : Sameness::kOther;
    if (!S_ISREG(a.st_mode) || !SameAttributes(a, b) ||
        !SameBytes(fd(), name, other))
      return Sameness::kOther;
    const bool headedThere = ParseHidden(listed).role == HiddenRole::kTo &&
                             RecordedIn(listed) == other;
    return headedThere ? Sameness::kSame : Sameness::kAlike;
  }

  /// Removes `name`, a second name of the file that `other` names, where
  /// Judge finds that takes away no file's last name; `ours` where the run
  /// made `name` itself. Whatever bears the name at the instant of one
  /// rename goes aside and is judged there, where nothing else can replace
  /// it; what may not go comes back.
  Outcome DropSecondName(const char* name, const char* other, bool ours) {
    const std::string aside =
        Aside(ours ? HiddenRole::kTo : HiddenRole::kOf, other);
    if (renameat(fd(), name, fd(), aside.c_str()) != 0)
      return errno == ENOENT ? Outcome{} : OutcomeOf(errno);
    struct stat moved, kept;
    if (StatNow(fd(), aside.c_str(), &moved) == 0 &&
        StatNow(fd(), other, &kept) == 0 &&
        Judge(ours ? aside.c_str() : name, aside.c_str(), moved, other,
              kept) == Sameness::kSame) {
      DropAside(aside);
      return {};
    }
    return PutBack(aside, name, {Failure::kOther, 0});
  }

  /// Removes the private name `aside` of a file that bears another name
  /// too; one that fails stays for a later try.
  void DropAside(const std::string& aside) {
    if (unlinkat(fd(), aside.c_str(), 0) != 0 && errno != ENOENT)
      leftovers.emplace_back(aside, false);
  }

  // ---- The ways beyond the kernel's own (its own is RenameNoReplace) ----
  // Each step that takes a name away, or renames onto one, acts on a
  // private name that only this run knows, so nothing another program does
  // between two steps can put a file of its own under it. Which way a run
  // takes changes in one place: SystemPlatform::Rename.

  // -- The link way --

  /// Moves the old name aside (the file that bears it at that instant goes
  /// with it), links it to the new name, checks that file's time, then
  /// drops the private name. A file saved over the old name meanwhile keeps
  /// it.
  Outcome LinkThenUnlink(const char* from, const char* to,
                         const DateTime& stampedFrom) {
    const int fd = this->fd();
    const std::string aside = Aside(HiddenRole::kTo, to);
    if (renameat(fd, from, fd, aside.c_str()) != 0)
      return OutcomeOf(errno);  // gone: another run took it, or it vanished
    between(RenameStep::kAside);
    if (linkat(fd, aside.c_str(), fd, to, 0) != 0)
      return Unlinked(aside, from, to, stampedFrom, errno);
    // The time as the link's answer brought it, past any cache: the file
    // moved may be another than the one listed.
    struct stat linked;
    if (fstatat(fd, to, &linked, AT_SYMLINK_NOFOLLOW) != 0 ||
        !StillStamped(linked, stampedFrom)) {
      // The new name goes the way a second name goes: aside, judged.
      DropSecondName(to, aside.c_str(), /*ours=*/true);
      return PutBack(aside, from, {Failure::kChanged, 0});
    }
    between(RenameStep::kLinked);
    DropAside(aside);
    return {};
  }

  /// After the link of the file held under `aside` to `to` failed with
  /// `error`: reads the refusal by what bears the name, not by the number
  /// alone (sshfs says EPERM for a taken name), and puts the file back.
  Outcome Unlinked(const std::string& aside, const char* from, const char* to,
                   const DateTime& stampedFrom, int error) {
    if (error == ENOENT)
      return {Failure::kGone, error};  // another run took it from aside
    struct stat moved, there;
    if (StatNow(fd(), aside.c_str(), &moved) != 0)
      return PutBack(aside, from, {Failure::kOther, errno});
    if (!StillStamped(moved, stampedFrom))
      return PutBack(aside, from, {Failure::kChanged, 0});
    if (StatNow(fd(), to, &there) != 0)
      return PutBack(aside, from, OutcomeOf(error == EEXIST ? EIO : error));
    // Judged as the name it was listed by: this run's own link failed, so
    // only a stopped run's link to the name its hidden one records can
    // make `to` this file where nothing proves it.
    switch (Judge(from, aside.c_str(), moved, to, there)) {
      case Sameness::kSame:
        DropAside(aside);  // it bears that name already: another run's work
        return {};
      case Sameness::kAlike:
        // Maybe this very file, where identity cannot tell: two files,
        // as a copy would be, and the name taken.
        break;
      case Sameness::kOther:
        break;
    }
    return PutBack(aside, from, {Failure::kTaken, error});
  }

  // -- The reserve way --

  Outcome ReserveThenRename(const char* from, const char* to,
                            const DateTime& stampedFrom) {
    const int fd = this->fd();
    // The exclusive create is what refuses a taken name here; the rename
    // that follows replaces nothing but the empty reservation. It keeps the
    // time of its making: an empty file left by a killed run then shows no
    // photo's date that would make it pass for the photo.
    struct stat reserved;
    if (Outcome made = Reserve(to, &reserved); !made.ok()) {
      // A refusal read by what bears the name: a share may refuse a name
      // held (locked, say) by another client as a denial of access.
      struct stat there;
      if (made.failure == Failure::kOther &&
          fstatat(fd, to, &there, AT_SYMLINK_NOFOLLOW) == 0)
        made.failure = Failure::kTaken;
      // Taken by another run that renamed this very file there: done.
      struct stat source;
      if (made.failure == Failure::kTaken &&
          fstatat(fd, from, &source, AT_SYMLINK_NOFOLLOW) != 0 &&
          errno == ENOENT)
        return {Failure::kGone, ENOENT};
      return made;
    }
    struct stat source;
    Outcome outcome;
    if (fstatat(fd, from, &source, AT_SYMLINK_NOFOLLOW) != 0)
      outcome = OutcomeOf(errno);
    else if (!StillStamped(source, stampedFrom))
      outcome = {Failure::kChanged, 0};  // another file, or a changed one
    between(RenameStep::kReserved);
    // The rename replaces whatever bears the new name by then: it must
    // still be this run's own empty reservation.
    if (outcome.ok())
      return OntoReservation(from, to, reserved);
    if (RemoveEmpty(to) == Emptied::kStays)
      leftovers.emplace_back(to, true);
    return outcome;
  }

  ~Folder() {
    if (listing == nullptr)
      return;
    RemoveStaleSightings();
    // Removals may add to the list: they work on a copy.
    const auto pending = std::move(leftovers);
    for (const auto& [name, empty] : pending)
      if (empty)
        RemoveEmpty(name.c_str());
      else
        unlinkat(fd(), name.c_str(), 0);
    // The names on the medium before the run ends: a card pulled out right
    // after keeps them.
    if (changed)
      fsync(fd());
    closedir(listing);  // and with it the lock
  }
};

SystemPlatform::SystemPlatform() : folder_(std::make_unique<Folder>()) {}

TieredPlatform::TieredPlatform(RenameTier firstTier, const WayOptions& options) {
  folder_->tier = firstTier;
  folder_->lock = options.lock;
  folder_->inFlightSeconds = options.inFlightSeconds;
  folder_->timesUnknown = options.timesUnknown;
  if (options.mayReserve)
    folder_->reserving = Folder::Reserving::kMay;
  folder_->byBytes = options.byBytes;
  if (options.byBytes)
    folder_->identity = Folder::Identity::kAttributes;
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
    switch (hidden.role) {
      case HiddenRole::kNone:
        if (Hidden(found->d_name))
          return {};
        break;
      case HiddenRole::kProbe:
        folder_->SightProbe(found->d_name);
        return {};
      case HiddenRole::kVoid: {
        // A reservation a run was removing: only runs know the name, and
        // none writes to it, so an empty one goes. Anything else is a file
        // renamed onto the reservation, to be named.
        struct stat st;
        const int error =
            StatNow(folder_->fd(), found->d_name, &st);
        if (error != 0 || (S_ISREG(st.st_mode) && st.st_size == 0)) {
          if (error == 0 && unlinkat(folder_->fd(), found->d_name, 0) == 0)
            folder_->changed = true;
          continue;
        }
        [[fallthrough]];
      }
      case HiddenRole::kTo:
      case HiddenRole::kOf:
        entry->headedFor.assign(found->d_name + hidden.recorded);
        entry->privatePart = hidden.recorded;
        break;
      case HiddenRole::kEarlier:
        entry->privatePart = hidden.recorded;
        break;
    }
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
    return OutcomeOf(errno);
  // Replaced by a folder or a link since it was listed: the ordinary file
  // that was listed is gone.
  if (!S_ISREG(st.st_mode))
    return {Failure::kGone, 0};
  return OutcomeOf(ToLocal(st.st_mtime, modified));
}

Sameness SystemPlatform::SameFile(const std::string& a, const std::string& b) {
  Folder& folder = *folder_;
  struct stat first, second;
  if (StatNow(folder.fd(), a.c_str(), &first) != 0 ||
      StatNow(folder.fd(), b.c_str(), &second) != 0)
    return Sameness::kOther;
  // The kernel's own file systems number files; FUSE ones are asked.
  if (folder.identity == Folder::Identity::kUnknown) {
    if (OnFuse(folder.fd()))
      folder.Learn();
    else
      folder.identity = Folder::Identity::kInode;
  }
  return folder.Judge(a.c_str(), a.c_str(), first, b.c_str(), second);
}

Outcome SystemPlatform::RemoveSecondName(const std::string& name,
                                         const std::string& other) {
  return folder_->DropSecondName(name.c_str(), other.c_str(), /*ours=*/false);
}

Outcome SystemPlatform::Rename(const std::string& from, const std::string& to,
                               const DateTime& stampedFrom) {
  const char* oldName = from.c_str();
  const char* newName = to.c_str();
  Folder& folder = *folder_;
  if (folder.tier == RenameTier::kNoReplaceRename) {
    const int error = RenameNoReplace(folder.fd(), oldName, newName);
    folder.changed |= error == 0;
    if (!RefusesNoReplace(error))
      return OutcomeOf(error);
    folder.tier = RenameTier::kLinkThenUnlink;
  }
  if (folder.tier == RenameTier::kLinkThenUnlink) {
    // Whether links work is known before a file is moved aside, which only
    // a link can undo safely.
    if (const Outcome learnt = folder.Learn(); !learnt.ok())
      return {Failure::kOther, learnt.error};
    if (folder.links == Folder::Links::kMade)
      return folder.LinkThenUnlink(oldName, newName, stampedFrom);
    folder.tier = ReservesAtOnce(folder.fd()) ? RenameTier::kReserveThenRename
                                              : RenameTier::kNone;
  }
  if (folder.tier == RenameTier::kReserveThenRename)
    return folder.ReserveThenRename(oldName, newName, stampedFrom);
  return {Failure::kOther, ENOTSUP};
}

Outcome SystemPlatform::ReadTimes(const std::string& fileName,
                                  FileTimes* times) {
#if defined(STATX_MTIME) && defined(AT_STATX_FORCE_SYNC)
  // Past the kernel's cache of a network or FUSE file system, which may
  // still show the times from before a rename.
  // With its number: a file saved anew meanwhile shows another. Where
  // names are numbered apart (sshfs, mergerfs), a link shows another too,
  // and no reset is seen; renames there keep times.
  struct statx stx;
  if (statx(folder_->fd(), fileName.c_str(),
            AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC,
            STATX_ATIME | STATX_MTIME | STATX_SIZE | STATX_INO, &stx) == 0) {
    *times = {stx.stx_atime.tv_sec, stx.stx_atime.tv_nsec,
              stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec,
              static_cast<std::int64_t>(stx.stx_size),
              stx.stx_ino};
    return {};
  }
  if (errno != ENOSYS)
    return OutcomeOf(errno);
#endif
  struct stat st;
  if (fstatat(folder_->fd(), fileName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return OutcomeOf(errno);
  *times = {st.st_atim.tv_sec, st.st_atim.tv_nsec, st.st_mtim.tv_sec,
            st.st_mtim.tv_nsec, static_cast<std::int64_t>(st.st_size),
            static_cast<std::uint64_t>(st.st_ino)};
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
             : OutcomeOf(errno);
}

std::int64_t SystemPlatform::Now() { return time(nullptr); }

// The kernel's own file systems keep a file's times through a rename; a
// FUSE one may not (FAT through fusefat gives the time of the rename).
bool SystemPlatform::RenamesKeepTimes() {
  return folder_->listing != nullptr && !folder_->timesUnknown &&
         !OnFuse(folder_->fd());
}

Reservation SystemPlatform::ReservationAt(const std::string& name) {
  return folder_->Sighted(name.c_str());
}

bool SystemPlatform::Stopped() { return CaughtStopSignal() != 0; }
