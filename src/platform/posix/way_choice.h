#ifndef STAMPNAME_PLATFORM_POSIX_WAY_CHOICE_H_
#define STAMPNAME_PLATFORM_POSIX_WAY_CHOICE_H_

#include "platform/posix/link_probe.h"
#include "platform/posix/link_way.h"
#include "platform/posix/no_replace_way.h"
#include "platform/posix/open_folder.h"
#include "platform/posix/proof.h"
#include "platform/posix/rename_way.h"
#include "platform/posix/reserve_way.h"
#include "platform/posix/safe_steps.h"

/// Which way renames in this folder, chosen in one place: by the file
/// system's refusals, the link probe, and the kinds of mount where an
/// exclusive create may stand for a name.
class WayChoice {
 public:
  WayChoice(OpenFolder& folder, LinkProbe& probe, Proof& proof,
            SafeSteps& steps)
      : folder_(folder),
        probe_(probe),
        noReplace_(folder),
        link_(folder, proof, steps),
        reserve_(folder, steps) {}

  /// Renames by the way chosen so far, moving on to the next where the
  /// file system refuses it.
  Outcome Rename(const char* from, const char* to, const DateTime& stampedFrom);

  /// Whether any way may rename here, as far as is known before the first
  /// rename: where none may, the run makes nothing of its own here either.
  bool AnyWay();

  /// Whether some run may reserve names here: only where this run would
  /// itself take the reserve way. Elsewhere an empty file is a user's like
  /// any other.
  bool MayReserve();

  NoReplaceWay& kernelWay() { return noReplace_; }

  Way way = Way::kNoReplace;  // the way tried first, then the one settled on
  enum class Reserving { kUnknown, kMay, kNever };
  Reserving reserving = Reserving::kUnknown;

 private:
  bool started_ = false;  // the mount's first way taken
  /// Takes the mount's first way, once.
  void Start();
  /// Moves `way` past the link way where the probe finds links refused:
  /// to the reserve way on the kinds of mount where it is safe, else to
  /// none. Fails where the probe cannot be made.
  Outcome Settle();

  OpenFolder& folder_;
  LinkProbe& probe_;
  NoReplaceWay noReplace_;
  LinkWay link_;
  ReserveWay reserve_;
};

#endif  // STAMPNAME_PLATFORM_POSIX_WAY_CHOICE_H_
