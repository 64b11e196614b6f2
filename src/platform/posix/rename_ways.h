#ifndef STAMPNAME_PLATFORM_POSIX_RENAME_WAYS_H_
#define STAMPNAME_PLATFORM_POSIX_RENAME_WAYS_H_

#include <functional>
#include <optional>
#include <string>

#include "platform/system_platform.h"

/// How a rename that never replaces is carried out on POSIX systems. A file
/// system that refuses one way moves the run on to the next for good, so
/// that a run pays for the discovery once, not once per file.
enum class RenameTier {
  kNoReplaceRename = 1,   // one atomic rename that refuses a taken name
  kLinkThenUnlink = 2,    // hard link to the new name, then drop the old
  kReserveThenRename = 3, // create the new name exclusively, rename onto it
  kNone = 4,              // no way is safe here: files keep their names
};

/// The moments between two steps of a rename, where another program may
/// act.
enum class RenameStep {
  kProbe,     // an empty file made to find out whether links work
  kAside,     // the old name moved to a private one; no new name yet
  kLinked,    // the new name linked; the private name not yet removed
  kLinkedFirst,  // a new name too long to record linked; the old name not
                 // yet moved aside
  kReserved,  // the new name reserved; the file not yet renamed onto it
  kRenamed,   // the file renamed, its times reset by the rename and about
              // to be put back
};

/// Seconds within which a run is done with an empty file of its own (a
/// reservation, a probe): one that stays as it was for longer is a stopped
/// run's.
constexpr int kInFlightSeconds = 5;

/// How tests start the POSIX platform beside its first way.
struct WayOptions {
  // Two names never proven one file by their numbers, as on sshfs: a mark
  // through one name must show through the other.
  bool byMark = false;
  // false: no lock on the folder, as a run through another mount of it,
  // or on another machine, sees none.
  bool lock = true;
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
  // How the folder is flushed at the end: 0 or the failure.
  std::function<int(int fd)> flush = nullptr;
};

/// The POSIX platform started at a later way, which tests use to drive
/// every way on any file system, and to act between the two steps of a
/// rename as another program might.
class TieredPlatform : public SystemPlatform {
 public:
  explicit TieredPlatform(RenameTier firstTier, const WayOptions& options = {});

  /// The tier the run has settled on so far.
  RenameTier tier() const;

 protected:
  virtual void Between(RenameStep) {}
};

#endif  // STAMPNAME_PLATFORM_POSIX_RENAME_WAYS_H_
