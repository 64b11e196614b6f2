#ifndef STAMPNAME_PLATFORM_POSIX_SAFE_STEPS_H_
#define STAMPNAME_PLATFORM_POSIX_SAFE_STEPS_H_

#include <sys/stat.h>

#include <string>

#include "platform/platform.h"
#include "platform/posix/link_probe.h"
#include "platform/posix/open_folder.h"
#include "platform/posix/proof.h"

/// What became of a removal of a run's empty reservation.
enum class Emptied {
  kGone,      // nothing is left under the name
  kNotEmpty,  // it held a file (someone else's): that file is back
  kStays,     // it could not be taken away, and is left for later
};

/// The steps every way shares that make, move or take away a name where
/// others may act: each acts on what bears a name at the instant of one
/// call, under a hidden name only this run knows, so that nothing another
/// program does meanwhile can make it take away a file's last name.
class SafeSteps {
 public:
  SafeSteps(OpenFolder& folder, LinkProbe& probe, Proof& proof)
      : folder_(folder), probe_(probe), proof_(proof) {}

  /// Makes an empty file under `name`, refused if the name is taken, read
  /// back as `reserved`.
  Outcome Reserve(const char* name, struct stat* reserved);

  /// Renames `from` onto `to`, the run's own reservation made as
  /// `reserved`, while it still is.
  Outcome OntoReservation(const char* from, const char* to,
                          const struct stat& reserved);

  /// Removes an empty file under `name` (a reservation), and nothing else.
  Emptied RemoveEmpty(const char* name);

  /// Gives the file under the hidden name `hidden` its name `name` back,
  /// refused if `name` was taken meanwhile. Reports `outcome` once back.
  Outcome PutBack(const std::string& hidden, const char* name, Outcome outcome);

  /// Removes `name`, a second name of the file that `other` names, where
  /// that is proven to take away no file's last name; `ours` where the run
  /// made `name` itself.
  Outcome DropSecondName(const char* name, const char* other, bool ours);

  /// Removes `name`, a reservation a run was removing under a "void" name,
  /// where it is empty. False where it holds a file, to be named.
  bool VoidGone(const char* name);

  /// Tries again the removals that failed during the run.
  void RemoveLeftovers();

 private:
  Emptied DropEmptyAside(const std::string& aside, const char* name);

  OpenFolder& folder_;
  LinkProbe& probe_;
  Proof& proof_;
};

#endif  // STAMPNAME_PLATFORM_POSIX_SAFE_STEPS_H_
