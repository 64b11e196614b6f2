#ifndef STAMPNAME_PLATFORM_POSIX_SIGHTINGS_H_
#define STAMPNAME_PLATFORM_POSIX_SIGHTINGS_H_

#include <sys/stat.h>
#include <time.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/open_folder.h"
#include "platform/posix/proof.h"
#include "platform/posix/safe_steps.h"
#include "platform/posix/way_choice.h"

/// Seconds within which a run is done with an empty file of its own (a
/// reservation, a probe): one that stays as it was for longer is a stopped
/// run's.
constexpr int kInFlightSeconds = 5;

/// Other runs' empty files met in the folder (reservations, probes): each
/// is some run's in flight, waited for, or a stopped run's, removed.
class Sightings {
 public:
  Sightings(OpenFolder& folder, Proof& proof, SafeSteps& steps, WayChoice& ways)
      : folder_(folder), proof_(proof), steps_(steps), ways_(ways) {}

  /// What `name`, a file under a name the run gives of another time, is.
  Reservation Sighted(const char* name);

  /// A probe of some run, empty: a stopped run's goes.
  void SightProbe(const char* name);

  /// Removes the reservations sighted in flight that stayed as they were
  /// for longer than any run takes to rename onto its own.
  void RemoveStale();

  int inFlightSeconds = kInFlightSeconds;

 private:
  bool Fresh(const struct stat& st) const;
  bool WaitedOut(const struct stat& st) const;
  bool InFlight(const char* name, const struct stat& st);

  struct Sighting {
    std::string name;
    struct stat seen;
    struct timespec when;
  };
  std::vector<Sighting> sightings_;
  OpenFolder& folder_;
  Proof& proof_;
  SafeSteps& steps_;
  WayChoice& ways_;
};

#endif  // STAMPNAME_PLATFORM_POSIX_SIGHTINGS_H_
