// Random folders, random failures: what must hold after every run.
// STAMPNAME_PROPERTY_CASES sets how many cases to run (default 5000) and
// STAMPNAME_PROPERTY_SEED the first seed (default 1).
#include <gtest/gtest.h>

#include <cstdlib>

#include "pass_harness.h"

namespace {

std::uint64_t FromEnvironment(const char* name, std::uint64_t fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::strtoull(value, nullptr, 10)
                                            : fallback;
}

TEST(PassPropertyTest, InvariantsHoldForRandomFoldersAndFailures) {
  const std::uint64_t first = FromEnvironment("STAMPNAME_PROPERTY_SEED", 1);
  const std::uint64_t cases = FromEnvironment("STAMPNAME_PROPERTY_CASES", 5000);
  for (std::uint64_t seed = first; seed < first + cases; ++seed) {
    SeededChoices choices(seed);
    const std::string problems = CheckRandomRun(choices);
    ASSERT_EQ(problems, "") << "seed " << seed;
  }
}

}  // namespace
