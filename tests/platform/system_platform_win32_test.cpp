#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "list_all.h"
#include "platform_contract.h"
#include "scratch_folder.h"
#include "platform/system_platform.h"
#include "platform/wide_text.h"

namespace {

INSTANTIATE_TEST_SUITE_P(
    Win32, PlatformContractTest,
    testing::Values(RenameWay{"MoveFileEx",
                              [] { return std::make_unique<SystemPlatform>(); }}),
    [](const testing::TestParamInfo<RenameWay>& info) {
      return info.param.name;
    });

fs::path Named(const std::string& narrow) { return fs::path(WidenName(narrow)); }

/// A file of the given last-write time (UTC) with Windows attributes.
void Make(const fs::path& path, const std::string& content, WORD year,
          WORD month, WORD day, WORD hour, DWORD attributes = 0) {
  WriteFile(path, content, Utc(year, month, day, hour, 0, 0));
  if (attributes != 0)
    SetFileAttributesW(path.c_str(), attributes);
}

TEST(Win32PlatformTest, ListsOrdinaryFilesByTheirFullUnicodeNames) {
  InScratchFolder here;
  const std::string unicode =
      NarrowName(u"Caf\u00e9 \u5199\u771f \U0001F600.JPG");
  Make(here.rename() / "plain.jpg", "p", 2009, 3, 5, 7);
  Make(here.rename() / Named(unicode), "u", 2009, 3, 5, 7);
  Make(here.rename() / "hidden.jpg", "h", 2009, 3, 5, 7, FILE_ATTRIBUTE_HIDDEN);
  Make(here.rename() / "system.jpg", "s", 2009, 3, 5, 7, FILE_ATTRIBUTE_SYSTEM);
  fs::create_directory(here.rename() / "sub.jpg");

  SystemPlatform platform;
  std::set<std::string> others;
  EXPECT_EQ(ListAll(platform, &others),
            (std::set<std::string>{"plain.jpg", unicode}));
  EXPECT_EQ(others,
            (std::set<std::string>{"hidden.jpg", "system.jpg", "sub.jpg"}));
  EXPECT_TRUE(RenameNow(platform, unicode, "x \xF0\x9F\x98\x80.JPG").ok());
  EXPECT_TRUE(fs::exists(here.rename() / Named("x \xF0\x9F\x98\x80.JPG")));
}

TEST(Win32PlatformTest, NamesBeyond260CharactersWork) {
  InScratchFolder here;
  const std::string longName = "a." + std::string(230, 'x');
  const std::string newName = "2009-03-05 07-00-00." + std::string(230, 'x');
  Make(here.rename() / longName, "long", 2009, 3, 5, 7);
  ASSERT_GT(fs::absolute(here.rename() / newName).wstring().size(), 260u);

  SystemPlatform platform;
  EXPECT_EQ(ListAll(platform), (std::set<std::string>{longName}));
  DateTime modified;
  EXPECT_TRUE(platform.ModifiedTime(longName, &modified).ok());
  EXPECT_TRUE(RenameNow(platform, longName, newName).ok());
  EXPECT_EQ(ListAll(platform), (std::set<std::string>{newName}));
}

}  // namespace
