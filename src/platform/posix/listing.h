#ifndef STAMPNAME_PLATFORM_POSIX_LISTING_H_
#define STAMPNAME_PLATFORM_POSIX_LISTING_H_

#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/platform.h"
#include "platform/posix/open_folder.h"
#include "platform/posix/safe_steps.h"
#include "platform/posix/sightings.h"
#include "platform/posix/times_record.h"

/// The folder's names as the pass sees them: a user's hidden files and
/// runs' probes left out, what a stopped run left under a hidden name of
/// its own resolved or handed on with the name it records.
class Listing {
 public:
  Listing(OpenFolder& folder, SafeSteps& steps, Sightings& sightings,
          TimesRecord& times)
      : folder_(folder), steps_(steps), sightings_(sightings), times_(times) {}

  /// Yields the open folder's next name, or an empty name at the end.
  Outcome Next(ListedName* entry);

 private:
  std::string NameByDigest(std::uint64_t digest);

  // The folder's names by their digests, read at the first digest asked
  // for: one listing more a run, however many names record one.
  std::unordered_map<std::uint64_t, std::string> digests_;
  bool digestsRead_ = false;
  OpenFolder& folder_;
  SafeSteps& steps_;
  Sightings& sightings_;
  TimesRecord& times_;
};

#endif  // STAMPNAME_PLATFORM_POSIX_LISTING_H_
