#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "list_all.h"
#include "platform/system_platform_win32.h"
#include "platform/wide_text.h"

namespace fs = std::filesystem;

namespace {

/// Runs a test inside a fresh folder holding an empty `Rename`.
class InScratchFolder {
 public:
  InScratchFolder() : previous_(fs::current_path()) {
    path_ = fs::temp_directory_path() /
            ("stampname-test-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(counter_++));
    // Process ids repeat under Wine; a crashed run may have left this one.
    fs::remove_all(path_);
    fs::create_directories(path_ / "Rename");
    fs::current_path(path_);
  }
  ~InScratchFolder() {
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  fs::path rename() const { return path_ / "Rename"; }

 private:
  static inline int counter_ = 0;
  fs::path path_;
  fs::path previous_;
};

std::wstring W(const std::string& narrow) {
  const std::u16string wide = WidenName(narrow);
  return std::wstring(wide.begin(), wide.end());
}

/// Creates a file with `content` and the given last-write time (UTC).
void Make(const fs::path& path, const std::string& content, WORD year,
          WORD month, WORD day, WORD hour, DWORD attributes = 0) {
  const std::wstring name = L"\\\\?\\" + fs::absolute(path).wstring();
  HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path << " error " << GetLastError();
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written,
            nullptr);
  SYSTEMTIME utc{};
  utc.wYear = year;
  utc.wMonth = month;
  utc.wDay = day;
  utc.wHour = hour;
  FILETIME when;
  SystemTimeToFileTime(&utc, &when);
  SetFileTime(file, nullptr, nullptr, &when);
  CloseHandle(file);
  if (attributes != 0)
    SetFileAttributesW(name.c_str(), attributes);
}

TEST(Win32PlatformTest, ListsOrdinaryFilesByTheirFullUnicodeNames) {
  InScratchFolder here;
  const std::string unicode =
      NarrowName(u"Caf\u00e9 \u5199\u771f \U0001F600.JPG");
  Make(here.rename() / "plain.jpg", "p", 2009, 3, 5, 7);
  Make(here.rename() / W(unicode), "u", 2009, 3, 5, 7);
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
  EXPECT_TRUE(fs::exists(here.rename() / W("x \xF0\x9F\x98\x80.JPG")));
}

TEST(Win32PlatformTest, NeverReplacesAFileOrAFolder) {
  InScratchFolder here;
  Make(here.rename() / "a.jpg", "a", 2009, 3, 5, 7);
  Make(here.rename() / "b.jpg", "b", 2009, 3, 5, 7);
  fs::create_directory(here.rename() / "dir.jpg");
  SystemPlatform platform;
  ListAll(platform);

  EXPECT_EQ(RenameNow(platform, "a.jpg", "b.jpg").failure,
            Failure::kTaken);
  EXPECT_EQ(RenameNow(platform, "a.jpg", "dir.jpg").failure,
            Failure::kTaken);
  EXPECT_EQ(RenameNow(platform, "gone.jpg", "c.jpg").failure,
            Failure::kGone);
  std::ifstream b(here.rename() / "b.jpg");
  std::string content;
  b >> content;
  EXPECT_EQ(content, "b");
  EXPECT_TRUE(fs::exists(here.rename() / "a.jpg"));
  EXPECT_TRUE(fs::is_directory(here.rename() / "dir.jpg"));
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

TEST(Win32PlatformTest, MissingFolderCannotBeListed) {
  InScratchFolder here;
  fs::remove(here.rename());
  ListedName name;
  SystemPlatform platform;
  EXPECT_FALSE(platform.ListFirst(&name).ok());
  EXPECT_EQ(name.fileName, "");
}

}  // namespace
