// Runs the built program as a user would, on what POSIX systems have of
// their own.
#include <gtest/gtest.h>

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

}  // namespace
