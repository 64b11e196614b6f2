#ifndef STAMPNAME_PLATFORM_POSIX_LINK_WAY_H_
#define STAMPNAME_PLATFORM_POSIX_LINK_WAY_H_

#include <string>

#include "platform/posix/open_folder.h"
#include "platform/posix/proof.h"
#include "platform/posix/rename_way.h"
#include "platform/posix/safe_steps.h"

/// The old name moved aside to a hidden name that records the new one,
/// linked to the new name, then dropped.
class LinkWay : public RenameWay {
 public:
  LinkWay(OpenFolder& folder, Proof& proof, SafeSteps& steps)
      : folder_(folder), proof_(proof), steps_(steps) {}

  std::optional<Outcome> Rename(const char* from, const char* to,
                                const DateTime& stampedFrom) override;

 private:
  Outcome LinkFirst(const char* from, const char* to,
                    const DateTime& stampedFrom);
  Outcome Unlinked(const std::string& aside, const char* from, const char* to,
                   const DateTime& stampedFrom, int error);

  OpenFolder& folder_;
  Proof& proof_;
  SafeSteps& steps_;
};

#endif  // STAMPNAME_PLATFORM_POSIX_LINK_WAY_H_
