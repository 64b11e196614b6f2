// Runs the built program as a user who double-clicks it would, on what
// Windows has of its own: file attributes, UTF-16 names, names beyond 260
// characters.
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
  // Beyond ASCII in the name and in its extension, which the new name keeps.
  const std::string extension =
      ".\xE5\x86\x99\xE7\x9C\x9F \xF0\x9F\x98\x80.JPG";
  const std::string unicode = "Caf\xC3\xA9 \xC3\xB1" "and\xC3\xBA" + extension;
  const std::string longName = "a." + std::string(230, 'x');
  ASSERT_GT(fs::absolute(in / longName).wstring().size(), 260u);
  WriteFile(in / ".profile", "profile", Utc(2010, 1, 2, 0, 5, 6));
  WriteFile(in / Named(unicode), "unicode", Utc(2012, 2, 29, 23, 59, 59));
  // Hidden and system files keep their names, and take them from others.
  const std::string stamp = "2013-01-01 00-00-00";
  WriteFile(in / (stamp + ".jpg"), "hidden", Utc(2013, 1, 1, 0, 0, 0));
  WriteFile(in / (stamp + " (02).jpg"), "system", Utc(2013, 1, 1, 0, 0, 0));
  WriteFile(in / "photo.jpg", "photo", Utc(2013, 1, 1, 0, 0, 0));
  WriteFile(in / longName, "long", Utc(2014, 4, 4, 4, 4, 4));
  SetFileAttributesW((in / (stamp + ".jpg")).c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesW((in / (stamp + " (02).jpg")).c_str(),
                     FILE_ATTRIBUTE_SYSTEM);

  ASSERT_EQ(RunProgram(scratch.path(), "UTC", {"ignored", "arguments"}), 0);
  EXPECT_EQ(Output(scratch.path()), "");
  EXPECT_EQ(ReadFile(in / "2010-01-02 00-05-06.profile"), "profile");
  EXPECT_EQ(ReadFile(in / Named("2012-02-29 23-59-59" + extension)), "unicode");
  EXPECT_EQ(ReadFile(in / ("2014-04-04 04-04-04." + std::string(230, 'x'))),
            "long");
  EXPECT_EQ(ReadFile(in / (stamp + ".jpg")), "hidden");
  EXPECT_EQ(ReadFile(in / (stamp + " (02).jpg")), "system");
  EXPECT_EQ(ReadFile(in / (stamp + " (03).jpg")), "photo");
  EXPECT_FALSE(fs::exists(in / Named(unicode)));
  EXPECT_FALSE(fs::exists(in / longName));
}

}  // namespace
