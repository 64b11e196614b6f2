#ifndef STAMPNAME_TESTS_PLATFORM_CONTRACT_H_
#define STAMPNAME_TESTS_PLATFORM_CONTRACT_H_

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "platform/platform.h"

/// One way a system's platform renames by, from the start of a run.
struct RenameWay {
  std::string name;
  std::function<std::unique_ptr<Platform>()> make;
};

inline void PrintTo(const RenameWay& way, std::ostream* out) { *out << way.name; }

/// What every system's platform promises the pass, each way it renames by;
/// each system's test instantiates it with its ways.
class PlatformContractTest : public testing::TestWithParam<RenameWay> {};

// Times every file system keeps, FAT's two-second steps from 1980 on too.
extern const time_t kEarly;
extern const time_t kLater;

#endif  // STAMPNAME_TESTS_PLATFORM_CONTRACT_H_
