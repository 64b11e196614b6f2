#ifndef STAMPNAME_PLATFORM_POSIX_OPEN_FOLDER_H_
#define STAMPNAME_PLATFORM_POSIX_OPEN_FOLDER_H_

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/hidden_name.h"
#include "platform/posix/mount_kind.h"

/// The moments between two steps of a rename, where another program may
/// act.
enum class RenameStep {
  kProbe,        // an empty file made to find out whether links work
  kAside,        // the old name moved to a private one; no new name yet
  kLinked,       // the new name linked; the private name not yet removed
  kLinkedFirst,  // a new name too long to record linked; the old name not
                 // yet moved aside
  kReserved,     // the new name reserved; the file not yet renamed onto it
  kRenamed,      // the file renamed, its times reset by the rename and about
                 // to be put back
  kPutBack,      // a file that could not be renamed linked back to its old
                 // name; its hidden name not yet removed
  kVoid,         // an empty file moved aside to be removed; not yet judged
                 // empty
};

/// The run's hold on the folder: open and locked for the whole run, so
/// that every step acts on this one folder even if `Rename` is moved or
/// replaced meanwhile; the hidden names the run makes in it, and what it
/// leaves to remove before it ends.
class OpenFolder {
 public:
  OpenFolder() = default;
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;
  ~OpenFolder();  // and with it the lock

  /// Opens and locks the folder `path`: 0 or the failure.
  int Open(const char* path);
  bool opened() const { return listing_ != nullptr; }
  DIR* listing() const { return listing_; }
  int fd() const { return dirfd(listing_); }

  /// Which mount the folder is on, read at the first question.
  const Mount& Kind();

  /// A hidden name of this run's own, new each time, recording what the
  /// file under it is to a run that finds it there.
  std::string Aside(HiddenRole role, std::string_view recorded = {});

  /// Whether a hidden name records `name` whole, not by its digest.
  bool RecordsWhole(std::string_view name) const;

  /// Removes the private name `aside` of a file that bears another name
  /// too, or of an empty file of the run's own; one that fails stays for
  /// a later try.
  void DropAside(const std::string& aside);

  /// Makes an empty file under `name`, refused if the name is taken, and
  /// reads it back into `made`: 0 or the failure, with `*madeIt` where the
  /// file was made. No descriptor is held: a network share refuses to
  /// rename onto, or remove, a file still open, and a FUSE client closes
  /// it on the server only some time after close() returns.
  int MakeEmpty(const char* name, struct stat* made, bool* madeIt);

  /// Where the medium takes a renamed entry whole only with its file
  /// (FlushesEachFile), puts the file `name` on it now, so that a card
  /// pulled out later in the run keeps it; a failure is kept for the end.
  void Settle(const char* name);

  /// Puts the open file or folder `fd` on the medium: 0 or the failure.
  std::function<int(int fd)> flush = [](int fd) {
    return fsync(fd) == 0 ? 0 : errno;
  };
  int settleError = 0;  // the first failure of Settle

  /// Names to remove before the run ends, their removal having failed:
  /// with `empty`, a reservation to remove only while it is empty; else an
  /// extra link of a file that bears its new name.
  std::vector<std::pair<std::string, bool>> leftovers;
  bool lock = true;      // false: as through a mount of its own
  bool turns = true;     // false: as a run that takes no turn on the share
  bool changed = false;  // a name was made or taken away
  bool makeByOpen = false;  // mknod makes no plain files here
  /// Names of files a stopped run's times could not be put back on: their
  /// names are the dates' other copy, kept till a later run puts them back.
  std::set<std::string> recordsLeft;
  std::optional<Mount> mount;
  std::function<void(RenameStep)> between = [](RenameStep) {};

 private:
  DIR* listing_ = nullptr;
  std::uint64_t nonce_ = 0;  // drawn at the first private name
  unsigned asides_ = 0;
};

#endif  // STAMPNAME_PLATFORM_POSIX_OPEN_FOLDER_H_
