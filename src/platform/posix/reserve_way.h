#ifndef STAMPNAME_PLATFORM_POSIX_RESERVE_WAY_H_
#define STAMPNAME_PLATFORM_POSIX_RESERVE_WAY_H_

#include "platform/posix/open_folder.h"
#include "platform/posix/rename_way.h"
#include "platform/posix/safe_steps.h"

/// The new name reserved by an exclusive create, then the file renamed
/// onto that reservation.
class ReserveWay : public RenameWay {
 public:
  ReserveWay(OpenFolder& folder, SafeSteps& steps)
      : folder_(folder), steps_(steps) {}

  std::optional<Outcome> Rename(const char* from, const char* to,
                                const DateTime& stampedFrom) override;

 private:
  OpenFolder& folder_;
  SafeSteps& steps_;
};

#endif  // STAMPNAME_PLATFORM_POSIX_RESERVE_WAY_H_
