// The reserve way's own cases.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "interrupted.h"
#include "platform_contract.h"
#include "scratch_folder.h"
#include "test_environment.h"

namespace {

// A share refuses to rename onto a reservation it still holds open; here
// the old name turns into a folder, which no rename onto a file accepts,
// or the file is moved away (sshfs then numbers the reservation anew).
// Or the photo changed since its time was read, and another program
// renamed a file of its own onto the reservation meanwhile: only an empty
// reservation goes.
TEST(ReserveThenRenameTest, RefusedRenameLeavesNoReservation) {
  enum Row { kFolder, kMoved, kChangedAndRenamedOnto };
  for (const Row row : {kFolder, kMoved, kChangedAndRenamedOnto}) {
    // fusefat hangs on a file rewritten in place and renamed.
    if (row == kChangedAndRenamedOnto && Environment().renameResetsTimes)
      continue;
    InScratchFolder here;
    const fs::path in = here.rename();
    WriteFile(in / "a.jpg", "a", kEarly);
    WriteFile(in / "theirs.jpg", "theirs", kEarly);
    Interrupted platform(Way::kReserve, [&] {
      if (row == kChangedAndRenamedOnto) {
        fs::rename(in / "theirs.jpg", in / "new.jpg");
        return;
      }
      fs::rename(in / "a.jpg", in / "moved.jpg");
      if (row == kFolder)
        fs::create_directory(in / "a.jpg");
    });
    ListAll(platform);
    DateTime modified;
    ASSERT_TRUE(platform.ModifiedTime("a.jpg", &modified).ok());
    if (row == kChangedAndRenamedOnto)
      WriteFile(in / "a.jpg", "a, edited", kLater);

    EXPECT_FALSE(platform.Rename("a.jpg", "new.jpg", modified).ok());
    std::map<std::string, std::string> expected{{"moved.jpg", "a"},
                                                {"theirs.jpg", "theirs"}};
    if (row == kFolder)
      expected["a.jpg"] = "<dir>";
    if (row == kChangedAndRenamedOnto)
      expected = {{"a.jpg", "a, edited"}, {"new.jpg", "theirs"}};
    EXPECT_EQ(Snapshot(in), expected) << row;
  }
}

}  // namespace
