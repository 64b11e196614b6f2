#include <gtest/gtest.h>

#include <memory>

#include "platform_contract.h"
#include "platform/system_platform.h"

namespace {

INSTANTIATE_TEST_SUITE_P(
    Win32, PlatformContractTest,
    testing::Values(PlatformUnderTest{"MoveFileEx",
                              [] { return std::make_unique<SystemPlatform>(); }}),
    [](const testing::TestParamInfo<PlatformUnderTest>& info) {
      return info.param.name;
    });

}  // namespace
