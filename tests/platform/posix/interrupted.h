#ifndef STAMPNAME_TESTS_PLATFORM_POSIX_INTERRUPTED_H_
#define STAMPNAME_TESTS_PLATFORM_POSIX_INTERRUPTED_H_

#include <functional>
#include <optional>
#include <utility>

#include "platform/posix/rename_ways.h"

using Tier = RenameTier;

/// Another program that acts between two steps of a rename, once, at
/// `step`, or else at the last step before the new name is final.
class Interrupted : public TieredPlatform {
 public:
  Interrupted(Tier tier, std::function<void()> act,
              std::optional<RenameStep> step = std::nullopt,
              const WayOptions& options = {})
      : TieredPlatform(tier, options), step_(step), act_(std::move(act)) {}

 protected:
  void Between(RenameStep step) override {
    if (act_ &&
        (step_ ? step == *step_
               : step == RenameStep::kLinked || step == RenameStep::kReserved))
      std::exchange(act_, nullptr)();
  }

 private:
  std::optional<RenameStep> step_;
  std::function<void()> act_;
};

#endif  // STAMPNAME_TESTS_PLATFORM_POSIX_INTERRUPTED_H_
