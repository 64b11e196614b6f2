#ifndef STAMPNAME_PLATFORM_POSIX_RENAME_WAYS_H_
#define STAMPNAME_PLATFORM_POSIX_RENAME_WAYS_H_

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
  kAside,     // the old name moved to a private one; no new name yet
  kLinked,    // the new name linked; the private name not yet removed
  kReserved,  // the new name reserved; the file not yet renamed onto it
};

/// Where the two-step ways hold a file for the instant between two steps:
/// a hidden name of the run's own, this prefix, a random number and a
/// count. A run killed in that instant leaves the file there; the listing
/// yields such names as ordinary files, so the next run names them.
extern const char kAsidePrefix[];

/// The POSIX platform started at a later way, which tests use to drive
/// every way on any file system, and to act between the two steps of a
/// rename as another program might.
class TieredPlatform : public SystemPlatform {
 public:
  explicit TieredPlatform(RenameTier firstTier);

  /// The tier the run has settled on so far.
  RenameTier tier() const;

 protected:
  virtual void Between(RenameStep) {}
};

#endif  // STAMPNAME_PLATFORM_POSIX_RENAME_WAYS_H_
