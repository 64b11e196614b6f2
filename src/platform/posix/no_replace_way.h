#ifndef STAMPNAME_PLATFORM_POSIX_NO_REPLACE_WAY_H_
#define STAMPNAME_PLATFORM_POSIX_NO_REPLACE_WAY_H_

#include <functional>

#include "platform/posix/open_folder.h"
#include "platform/posix/rename_way.h"

/// The kernel's own rename that refuses a taken name, in one call.
class NoReplaceWay : public RenameWay {
 public:
  explicit NoReplaceWay(OpenFolder& folder);

  std::optional<Outcome> Rename(const char* from, const char* to,
                                const DateTime& stampedFrom) override;

  /// The kernel's call: 0 or the failure.
  std::function<int(int dirFd, const char* from, const char* to)> rename;

 private:
  OpenFolder& folder_;
};

#endif  // STAMPNAME_PLATFORM_POSIX_NO_REPLACE_WAY_H_
