#ifndef STAMPNAME_PLATFORM_POSIX_RENAME_WAY_H_
#define STAMPNAME_PLATFORM_POSIX_RENAME_WAY_H_

#include <optional>

#include "platform/platform.h"

/// The ways a rename that never replaces is carried out on POSIX systems,
/// in the order a run tries them. A file system that refuses one moves the
/// run on to the next for good, so that a run pays for the discovery once,
/// not once per file.
enum class Way {
  kNoReplace = 1,  // one atomic rename that refuses a taken name
  kLink = 2,       // the old name aside, a hard link to the new name
  kReserve = 3,    // the new name created exclusively, renamed onto
  kNone = 4,       // no way is safe here: files keep their names
};

/// One way to give a file a new name that never replaces an existing file
/// or folder, as SystemPlatform::Rename promises.
class RenameWay {
 public:
  virtual ~RenameWay() = default;

  /// Gives `from` the name `to`, refusing a taken one and, where the way
  /// takes two steps, a file that no longer has the time `stampedFrom`.
  /// Nothing where the file system refuses the way itself: the file keeps
  /// its name, and the run takes the next way.
  virtual std::optional<Outcome> Rename(const char* from, const char* to,
                                        const DateTime& stampedFrom) = 0;
};

#endif  // STAMPNAME_PLATFORM_POSIX_RENAME_WAY_H_
