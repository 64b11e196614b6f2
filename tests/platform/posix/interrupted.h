#ifndef STAMPNAME_TESTS_PLATFORM_POSIX_INTERRUPTED_H_
#define STAMPNAME_TESTS_PLATFORM_POSIX_INTERRUPTED_H_

#include <functional>
#include <optional>
#include <utility>

#include "way_platform.h"


/// Another program that acts between two steps of a rename, once, at
/// `step`, or else at the last step before the new name is final.
class Interrupted : public WayPlatform {
 public:
  Interrupted(Way way, std::function<void()> act,
              std::optional<RenameStep> step = std::nullopt,
              const WayOptions& options = {})
      : WayPlatform(way, options), step_(step), act_(std::move(act)) {}

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
