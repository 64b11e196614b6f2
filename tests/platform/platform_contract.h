#ifndef STAMPNAME_TESTS_PLATFORM_CONTRACT_H_
#define STAMPNAME_TESTS_PLATFORM_CONTRACT_H_

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "platform/platform.h"
#include "scratch_folder.h"

/// One way a system's platform renames by, from the start of a run.
struct PlatformUnderTest {
  std::string name;
  std::function<std::unique_ptr<Platform>()> make;
};

inline void PrintTo(const PlatformUnderTest& way, std::ostream* out) { *out << way.name; }

/// What every system's platform promises the pass, each way it renames by;
/// each system's test instantiates it with its ways.
class PlatformContractTest : public testing::TestWithParam<PlatformUnderTest> {};

// Times every file system keeps, FAT's two-second steps from 1980 on too.
extern const time_t kEarly;
extern const time_t kLater;

/// Lists the whole folder, as a run starts, once the files written for the
/// test have their times.
inline void ListAll(Platform& platform) {
  SettleWrites();
  ListedName entry;
  EXPECT_TRUE(platform.ListFirst(&entry).ok());
  while (!entry.fileName.empty())
    EXPECT_TRUE(platform.ListNext(&entry).ok());
}

/// Renames as the pass does: with the time the file has now.
inline Outcome RenameNow(Platform& platform, const std::string& from,
                         const std::string& to) {
  DateTime modified;
  platform.ModifiedTime(from, &modified);
  return platform.Rename(from, to, modified);
}

#endif  // STAMPNAME_TESTS_PLATFORM_CONTRACT_H_
