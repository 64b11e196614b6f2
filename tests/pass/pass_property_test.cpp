// Random folders, random failures: what must hold after every run.
// STAMPNAME_PROPERTY_CASES sets how many cases to run (default 5000) and
// STAMPNAME_PROPERTY_SEED the first seed (default 1).
#include <gtest/gtest.h>

#include "pass_harness.h"
#include "test_environment.h"

namespace {

TEST(PassPropertyTest, InvariantsHoldForRandomFoldersAndFailures) {
  const std::uint64_t first = Environment().propertySeed;
  const std::uint64_t cases = Environment().propertyCases;
  for (std::uint64_t seed = first; seed < first + cases; ++seed) {
    SeededChoices choices(seed);
    const std::string problems = CheckRandomRun(choices);
    ASSERT_EQ(problems, "") << "seed " << seed;
  }
}

}  // namespace
