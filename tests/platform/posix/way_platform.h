#ifndef STAMPNAME_TESTS_PLATFORM_POSIX_WAY_PLATFORM_H_
#define STAMPNAME_TESTS_PLATFORM_POSIX_WAY_PLATFORM_H_

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/mark.h"
#include "platform/posix/open_folder.h"
#include "platform/posix/rename_way.h"
#include "platform/posix/sightings.h"
#include "platform/posix/turn.h"
#include "platform/system_platform.h"

/// How tests start the POSIX platform beside its first way.
struct WayOptions {
  // Two names never proven one file by their numbers, as on sshfs: a mark
  // through one name must show through the other.
  bool byMark = false;
  // What every mark shows, where set: kNoMark as through another user's
  // file; unset, the mark itself.
  std::optional<Marked> marks = std::nullopt;
  // false: no lock on the folder, as a run through another mount of it,
  // or on another machine, sees none.
  bool lock = true;
  // Whether the run takes its turn on a share (the mount kind says where):
  // the turn's own tests do; the ways' tests look at the folder while the
  // run holds it.
  bool turns = false;
  // Names reserved here by some run's reserve way, as on exFAT: an empty
  // file under a name the run gives may be a reservation.
  bool mayReserve = false;
  // How long an empty file of a run's own may be in use by that run.
  int inFlightSeconds = kInFlightSeconds;
  // Renames not known to keep times, as on FUSE: the pass finds out.
  bool timesUnknown = false;
  // The kind of mount the folder is taken to be on: "" a kernel file
  // system, "fuse.sshfs" say; unset, the one it is on.
  std::optional<std::string> mountType = std::nullopt;
  // Its options, as the mount table shows them ("tz=UTC", say).
  std::string mountOptions = "";
  // The kernel's own zone, minutes west of UTC, which its FAT applies.
  int kernelMinutesWest = 0;
  // What the link probe's first links get, one each, before they work:
  // ENOSYS as from a file system without links, ENOSPC from a full disk.
  std::vector<int> probeLinks = {};
  // What the reading of a stopped run's record of times, and the putting
  // back of its times, get, one each, before they work: EIO as from a card
  // that fails.
  std::vector<int> recordReads = {};
  std::vector<int> putBacks = {};
  // How the proof's marks reach the file system, made from the system's
  // own calls (SshfsCache, say).
  std::function<MarkCalls(MarkCalls)> markCalls = nullptr;
  // No links, as the link probe finds where the file system has none.
  bool noLinks = false;
  // Numbers made up for each name, as sshfs and mergerfs give them: the
  // link probe finds two links of one file numbered apart.
  bool numbersPerName = false;
  // What the kernel's rename that refuses a taken name gets, one each,
  // before it works: EINVAL as from NFS or sshfs, which lack it.
  std::vector<int> noReplace = {};
  // Empty files made by an exclusive open, as where mknod makes none.
  bool makeByOpen = false;
  // How the folder, at the end, and on the kernel's FAT each renamed file
  // are flushed: 0 or the failure.
  std::function<int(int fd)> flush = nullptr;
};

/// A mark's readings answered as sshfs answers them: from a cache of what
/// each name showed when the folder was first read, renewed only by an
/// opening of the name or a setting of its mode through it.
MarkCalls SshfsCache(MarkCalls calls);

/// The POSIX platform started at a later way, which tests use to drive
/// every way on any file system, and to act between the two steps of a
/// rename as another program might.
class WayPlatform : public SystemPlatform {
 public:
  explicit WayPlatform(Way first, const WayOptions& options = {});

  /// The way the run has settled on so far.
  Way way() const;

  /// The folder's turn, to set its clock and its waits.
  Turn& turn();

 protected:
  virtual void Between(RenameStep) {}
};

#endif  // STAMPNAME_TESTS_PLATFORM_POSIX_WAY_PLATFORM_H_
