// Runs the built program as a user would, on what POSIX systems have of
// their own.
#include <gtest/gtest.h>
#include <unistd.h>

#include "end_to_end.h"

namespace {

TEST(EndToEndPosixTest, HiddenFilesAndLinksKeepTheirNames) {
  ScratchFolder scratch;
  const fs::path in = scratch.rename();
  fs::create_directory(in);
  const time_t march = Utc(2009, 3, 5, 7, 8, 9);
  WriteFile(in / "photo.jpg", "photo", march);
  WriteFile(in / ".profile", "hidden", march);
  fs::create_symlink("photo.jpg", in / "link.jpg");

  ASSERT_EQ(RunProgram(scratch.path()), 0);
  EXPECT_EQ(Snapshot(in), (Names{{"2009-03-05 07-08-09.jpg", "photo"},
                                 {".profile", "hidden"},
                                 {"link.jpg", "<link>"}}));
  EXPECT_EQ(Output(scratch.path()), "");
}

TEST(EndToEndPosixTest, FolderThatCannotBeSearchedCannotBeOpened) {
  ScratchFolder scratch;
  fs::create_directory(scratch.rename());
  WriteFile(scratch.rename() / "photo.jpg", "photo", 1000);
  // Readable but not searchable, to the user who runs it (root can search
  // any folder: the run is then another user's, kept as the saved id so
  // that the test can come back).
  fs::permissions(scratch.rename(), fs::perms(0644));
  fs::permissions(scratch.path(), fs::perms(0777));
  const bool root = geteuid() == 0;
  ASSERT_TRUE(!root || setresuid(65534, 65534, 0) == 0);
  const int status = RunProgram(scratch.path());
  ASSERT_TRUE(!root || setresuid(0, 0, 0) == 0);
  fs::permissions(scratch.rename(), fs::perms(0755));

  EXPECT_EQ(status, 2);
  EXPECT_EQ(Snapshot(scratch.rename()), (Names{{"photo.jpg", "photo"}}));
}

}  // namespace
