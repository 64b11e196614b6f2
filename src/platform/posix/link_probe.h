#ifndef STAMPNAME_PLATFORM_POSIX_LINK_PROBE_H_
#define STAMPNAME_PLATFORM_POSIX_LINK_PROBE_H_

#include <unistd.h>

#include <cerrno>
#include <functional>

#include "platform/platform.h"
#include "platform/posix/file_status.h"
#include "platform/posix/open_folder.h"

/// What two links of an empty file of the run's own tell of the folder:
/// whether it takes links, and how it shows that two names are one file.
class LinkProbe {
 public:
  explicit LinkProbe(OpenFolder& folder) : folder_(folder) {}

  /// Finds out, once, what is not known yet. Fails where not even the
  /// probe's own file can be made; asked again then.
  Outcome Learn();

  enum class Links { kUnknown, kMade, kRefused };
  Links links = Links::kUnknown;
  // How two names are proven to hold one file. Most file systems number
  // files; sshfs and mergerfs make up a number per name, even for two
  // links of one file, so there a mark set through one name must show
  // through the other.
  enum class Identity { kUnknown, kInode, kMark };
  Identity identity = Identity::kUnknown;
  // Links `from` to `to` in the open folder `fd`: 0 or the failure.
  std::function<int(int fd, const char* from, const char* to)> link =
      [](int fd, const char* from, const char* to) {
        return linkat(fd, from, fd, to, 0) == 0 ? 0 : errno;
      };
  // Reads what the file system holds of `name` in the open folder `fd`,
  // its number with it: 0 or the failure.
  std::function<int(int fd, const char* name, struct stat* st)> statNow =
      StatNow;

 private:
  Outcome LearnOnce();

  OpenFolder& folder_;
};

#endif  // STAMPNAME_PLATFORM_POSIX_LINK_PROBE_H_
