// The listing of the folder: the pass's names, and what stopped runs left
// under hidden names of their own.
#include "platform/posix/listing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/file_status.h"

namespace {

/// Hidden files (a leading dot) are left alone; so are "." and "..".
bool Hidden(const char* name) {
  return name[0] == '.';
}

bool Dots(const char* name) {
  return name[0] == '.' &&
         (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

/// The folder's name whose digest is `digest`, from a listing of its own
/// made once; empty where none has it. Only a stopped run's hidden name of
/// a name too long to record whole asks (or a user's name of that shape).
std::string Listing::NameByDigest(std::uint64_t digest) {
  if (!digestsRead_) {
    digestsRead_ = true;
    const int again =
        openat(folder_.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* names = again >= 0 ? fdopendir(again) : nullptr;
    if (names == nullptr) {
      if (again >= 0)
        close(again);
      return {};
    }
    while (const dirent* found = readdir(names))
      digests_.try_emplace(NameDigest(found->d_name), found->d_name);
    closedir(names);
  }
  const auto found = digests_.find(digest);
  return found == digests_.end() ? std::string() : found->second;
}

Outcome Listing::Next(ListedName* entry) {
  entry->fileName.clear();
  if (!folder_.opened())
    return {};
  for (;;) {
    errno = 0;
    const dirent* found = readdir(folder_.listing());
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
    if (std::uint64_t digest; hidden.byDigest && DigestIn(recorded, &digest))
      recorded = NameByDigest(digest);
    switch (hidden.role) {
      case HiddenRole::kNone:
        if (Hidden(found->d_name))
          return {};
        break;
      case HiddenRole::kProbe:
        sightings_.SightProbe(found->d_name);
        return {};
      case HiddenRole::kTurn:
        return {};  // a run's turn: its own to give up
      case HiddenRole::kVoid:
      case HiddenRole::kTime:
        // A reservation a run was removing, or a record of a file's times
        // while a rename reset them: empty, it is done with. Anything else
        // is a file renamed onto it, to be named.
        if (hidden.role == HiddenRole::kVoid
                ? steps_.VoidGone(found->d_name)
                : times_.Back(found->d_name, recorded.c_str()))
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
      entry->ordinary =
          fstatat(folder_.fd(), found->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(st.st_mode);
    } else {
      entry->ordinary = found->d_type == DT_REG;
    }
    return {};
  }
}
