#ifndef STAMPNAME_PLATFORM_POSIX_NO_REPLACE_WAY_H_
#define STAMPNAME_PLATFORM_POSIX_NO_REPLACE_WAY_H_

#include "platform/posix/open_folder.h"
#include "platform/posix/rename_way.h"

/// The kernel's own rename that refuses a taken name, in one call.
class NoReplaceWay : public RenameWay {
 public:
  explicit NoReplaceWay(OpenFolder& folder) : folder_(folder) {}

  std::optional<Outcome> Rename(const char* from, const char* to,
                                const DateTime& stampedFrom) override;

 private:
  OpenFolder& folder_;
};

#endif  // STAMPNAME_PLATFORM_POSIX_NO_REPLACE_WAY_H_
