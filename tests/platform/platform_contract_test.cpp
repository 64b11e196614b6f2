#include "platform_contract.h"

#include <map>
#include <string>

#include "scratch_folder.h"
#include "test_environment.h"

const time_t kEarly = Utc(2001, 2, 3, 4, 5, 6);
const time_t kLater = Utc(2001, 2, 3, 4, 5, 26);

namespace {

using Names = std::map<std::string, std::string>;

TEST_P(PlatformContractTest, MovesTheFileWithItsContentAndTime) {
  InScratchFolder here;
  const time_t when = Utc(2009, 3, 5, 7, 8, 10);
  WriteFile(here.rename() / "photo.jpg", "pixels", when);
  const auto platform = GetParam().make();
  ListAll(*platform);

  // A vanished file is gone, leaves no trace and says nothing of the next.
  DateTime unused;
  EXPECT_EQ(platform->ModifiedTime("missing.jpg", &unused).failure,
            Failure::kGone);
  EXPECT_EQ(RenameNow(*platform, "missing.jpg", "new.jpg").failure,
            Failure::kGone);
  EXPECT_EQ(Snapshot(here.rename()), (Names{{"photo.jpg", "pixels"}}));

  EXPECT_TRUE(RenameNow(*platform, "photo.jpg", "new.jpg").ok());
  EXPECT_EQ(Snapshot(here.rename()), (Names{{"new.jpg", "pixels"}}));
  if (!Environment().renameResetsTimes) {
    EXPECT_EQ(ModifiedOf(here.rename() / "new.jpg"), when);
  }
}

TEST_P(PlatformContractTest, NeverReplacesAFileOrAFolder) {
  InScratchFolder here;
  WriteFile(here.rename() / "a.jpg", "a", kEarly);
  WriteFile(here.rename() / "b.jpg", "b", kLater);
  // A copy: the same bytes and time, and yet another file.
  WriteFile(here.rename() / "copy.jpg", "a", kEarly);
  fs::create_directory(here.rename() / "dir.jpg");
  const auto platform = GetParam().make();
  ListAll(*platform);
  const Names before = Snapshot(here.rename());

  EXPECT_EQ(RenameNow(*platform, "a.jpg", "b.jpg").failure, Failure::kTaken);
  EXPECT_EQ(RenameNow(*platform, "a.jpg", "dir.jpg").failure, Failure::kTaken);
  // A copy under the new name is another file's name, not a link made of
  // this one already.
  EXPECT_EQ(RenameNow(*platform, "a.jpg", "copy.jpg").failure,
            Failure::kTaken);
  EXPECT_EQ(Snapshot(here.rename()), before);
  EXPECT_EQ(ModifiedOf(here.rename() / "b.jpg"), kLater);
  // Nor is a second name dropped from two files, even alike. (Judged
  // aside and put back, a file gets the time of that rename where renames
  // reset times.)
  EXPECT_NE(platform->SameFile("copy.jpg", "a.jpg"), Sameness::kSame);
  EXPECT_FALSE(platform->RemoveSecondName("copy.jpg", "a.jpg").ok());
  EXPECT_FALSE(platform->RemoveSecondName("b.jpg", "a.jpg").ok());
  EXPECT_EQ(Snapshot(here.rename()), before);
}

}  // namespace
