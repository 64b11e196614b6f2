// Runs the built program as a user who double-clicks it would, on what
// Windows has of its own: file attributes, UTF-16 names, long paths.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "end_to_end.h"
#include "platform/wide_text.h"

namespace {

fs::path Named(const std::string& narrow) { return fs::path(WidenName(narrow)); }

TEST(EndToEndWin32Test, HiddenAndSystemFilesKeepTheirNamesDotFilesDoNot) {
  ScratchFolder scratch;
  const fs::path in = scratch.rename();
  fs::create_directory(in);
  const std::string unicode = "Caf\xC3\xA9 \xC3\xB1" "and\xC3\xBA \xE5\x86\x99"
                              "\xE7\x9C\x9F \xF0\x9F\x98\x80.JPG";
  const std::string longName = "a." + std::string(230, 'x');
  WriteFile(in / ".profile", "profile", Utc(2010, 1, 2, 0, 5, 6));
  WriteFile(in / Named(unicode), "unicode", Utc(2012, 2, 29, 23, 59, 59));
  WriteFile(in / "hidden.jpg", "hidden", Utc(2013, 1, 1, 0, 0, 0));
  WriteFile(in / "system.jpg", "system", Utc(2013, 1, 1, 0, 0, 0));
  WriteFile(in / longName, "long", Utc(2014, 4, 4, 4, 4, 4));
  SetFileAttributesW((in / "hidden.jpg").c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesW((in / "system.jpg").c_str(), FILE_ATTRIBUTE_SYSTEM);

  ASSERT_EQ(RunProgram(scratch.path(), "UTC", {"ignored", "arguments"}), 0);
  EXPECT_EQ(Output(scratch.path()), "");
  EXPECT_EQ(ReadFile(in / "2010-01-02 00-05-06.profile"), "profile");
  EXPECT_EQ(ReadFile(in / "2012-02-29 23-59-59.JPG"), "unicode");
  EXPECT_EQ(ReadFile(in / ("2014-04-04 04-04-04." + std::string(230, 'x'))),
            "long");
  EXPECT_EQ(ReadFile(in / "hidden.jpg"), "hidden");
  EXPECT_EQ(ReadFile(in / "system.jpg"), "system");
  EXPECT_FALSE(fs::exists(in / Named(unicode)));
  EXPECT_FALSE(fs::exists(in / longName));
}

}  // namespace
