#include "renaming_pass.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_folder.h"
#include "new_name.h"

namespace {

const DateTime kMarch{2009, 3, 5, 7, 8, 9};
const std::string kStamp = "2009-03-05 07-08-09";

DateTime At(int second) { return {2020, 6, 1, 12, 0, second}; }

TEST(RenamingPassTest, RenamesEachFileAfterItsTimeKeepingTheExtension) {
  FakeFolder folder;
  const int photo = folder.Add("photo.jpg", kMarch);
  const int tarball = folder.Add("archive.tar.gz", {2021, 1, 2, 0, 4, 5});
  const int bare = folder.Add("README", {1999, 12, 31, 23, 59, 58});
  const int upper = folder.Add("IMG_0001.JPG", {2022, 10, 11, 9, 8, 7});

  EXPECT_EQ(Main(folder), kAllNamed);
  EXPECT_EQ(folder.NameOf(photo), kStamp + ".jpg");
  EXPECT_EQ(folder.NameOf(tarball), "2021-01-02 00-04-05.tar.gz");
  EXPECT_EQ(folder.NameOf(bare), "1999-12-31 23-59-58");
  EXPECT_EQ(folder.NameOf(upper), "2022-10-11 09-08-07.JPG");
  EXPECT_EQ(folder.renames.size(), 4u);
}

TEST(RenamingPassTest, MissingFolderEndsAtOnce) {
  FakeFolder folder;
  folder.missing = true;
  EXPECT_EQ(Main(folder), kNoFolder);

  FakeFolder empty;
  EXPECT_EQ(Main(empty), kAllNamed);
  EXPECT_TRUE(empty.renames.empty());
}

TEST(RenamingPassTest, SameSecondFilesGetNumberedNamesInListingOrder) {
  FakeFolder folder;
  const int first = folder.Add("a.jpg", kMarch);
  const int second = folder.Add("b.jpg", kMarch);
  const int third = folder.Add("c.jpg", kMarch);
  const int other = folder.Add("d.png", kMarch);

  EXPECT_EQ(Main(folder), kAllNamed);
  EXPECT_EQ(folder.NameOf(first), kStamp + ".jpg");
  EXPECT_EQ(folder.NameOf(second), kStamp + " (02).jpg");
  EXPECT_EQ(folder.NameOf(third), kStamp + " (03).jpg");
  EXPECT_EQ(folder.NameOf(other), kStamp + ".png");
}

TEST(RenamingPassTest, BurstCostsOneRenamePerFile) {
  FakeFolder folder;
  for (int i = 0; i < kMaxAttempts; ++i)
    folder.Add("burst" + std::to_string(i) + ".jpg", kMarch);

  EXPECT_EQ(Main(folder), kAllNamed);
  // Names the pass created itself are known to be taken and never retried.
  EXPECT_EQ(folder.renames.size(), static_cast<size_t>(kMaxAttempts));
  EXPECT_EQ(folder.entries.count(kStamp + " (99).jpg"), 1u);
}

TEST(RenamingPassTest, NameTakenByAFolderOrHiddenFileCountsAsTaken) {
  FakeFolder folder;
  folder.Add(kStamp + ".jpg", kMarch, /*ordinary=*/false);
  const int photo = folder.Add("photo.jpg", kMarch);

  EXPECT_EQ(Main(folder), kAllNamed);
  EXPECT_EQ(folder.NameOf(photo), kStamp + " (02).jpg");
}

TEST(RenamingPassTest, LastFreeNumberIs99AndBeyondItTheFileKeepsItsName) {
  FakeFolder folder;
  for (int attempt = 1; attempt < kMaxAttempts; ++attempt)
    folder.Add(NewName(kStamp, attempt, ".jpg"), kMarch, false);
  const int lucky = folder.Add("lucky.jpg", kMarch);
  const int unlucky = folder.Add("unlucky.jpg", kMarch);
  const int next = folder.Add("next.png", kMarch);

  EXPECT_EQ(Main(folder), kSomeKept);
  EXPECT_EQ(folder.NameOf(lucky), kStamp + " (99).jpg");
  EXPECT_EQ(folder.NameOf(unlucky), "unlucky.jpg");
  EXPECT_EQ(folder.NameOf(next), kStamp + ".png");
}

TEST(RenamingPassTest, RefusedRenameEndsTheAttemptsForThatFileOnly) {
  for (ErrorState refusal : {FakeFolder::kAccess, FakeFolder::kTooLong,
                             FakeFolder::kIo}) {
    FakeFolder folder;
    const int locked = folder.Add("locked.jpg", kMarch);
    const int free = folder.Add("free.jpg", At(1));
    folder.inject = [&](const std::string& op, const std::string& name) {
      return op == "rename" && name == "locked.jpg" ? refusal : 0;
    };

    EXPECT_EQ(Main(folder), kSomeKept);
    EXPECT_EQ(folder.NameOf(locked), "locked.jpg");
    EXPECT_EQ(folder.NameOf(free), "2020-06-01 12-00-01.jpg");
    // No numbered names are tried after a refusal that is not about the name.
    EXPECT_EQ(folder.renames.size(), 2u);
  }
}

TEST(RenamingPassTest, UnreadableTimeKeepsTheNameAndLeaksIntoNothing) {
  FakeFolder folder;
  const int first = folder.Add("first.jpg", At(1));
  const int unreadable = folder.Add("unreadable.jpg", At(2));
  const int after = folder.Add("after.jpg", At(3));
  folder.inject = [](const std::string& op, const std::string& name) {
    return op == "time" && name == "unreadable.jpg" ? FakeFolder::kAccess : 0;
  };

  EXPECT_EQ(Main(folder), kSomeKept);
  EXPECT_EQ(folder.NameOf(first), "2020-06-01 12-00-01.jpg");
  EXPECT_EQ(folder.NameOf(unreadable), "unreadable.jpg");
  EXPECT_EQ(folder.NameOf(after), "2020-06-01 12-00-03.jpg");
  EXPECT_EQ(folder.renames.size(), 2u);
}

TEST(RenamingPassTest, FileThatVanishedIsNoFailure) {
  FakeFolder folder;
  folder.Add("gone-before-time.jpg", At(1));
  folder.Add("gone-before-rename.jpg", At(2));
  const int stays = folder.Add("stays.jpg", At(3));
  folder.inject = [](const std::string& op, const std::string& name) {
    const bool gone = (op == "time" && name == "gone-before-time.jpg") ||
                      (op == "rename" && name == "gone-before-rename.jpg");
    return gone ? FakeFolder::kNoEntry : 0;
  };

  EXPECT_EQ(Main(folder), kAllNamed);
  EXPECT_EQ(folder.NameOf(stays), "2020-06-01 12-00-03.jpg");
}

TEST(RenamingPassTest, FileThatChangedWhileBeingNamedIsTimedAgain) {
  FakeFolder folder;
  const int settles = folder.Add("settles.jpg", At(1));
  const int restless = folder.Add("restless.jpg", At(2));
  int settlesRenames = 0;
  folder.inject = [&](const std::string& op, const std::string& name) {
    if (op != "rename")
      return ErrorState{0};
    if (name == "settles.jpg" && ++settlesRenames == 1) {
      folder.entries[name].modified = At(5);  // written to meanwhile
      return FakeFolder::kChanged;
    }
    return name == "restless.jpg" ? FakeFolder::kChanged : ErrorState{0};
  };

  EXPECT_EQ(Main(folder), kSomeKept);
  EXPECT_EQ(folder.NameOf(settles), "2020-06-01 12-00-05.jpg");
  EXPECT_EQ(folder.NameOf(restless), "restless.jpg");
  // Three readings of its time, one rename each, and no more.
  EXPECT_EQ(folder.timeReads, 2 + 3);
  EXPECT_EQ(folder.renames.size(), 2u + 3u);
}

TEST(RenamingPassTest, YearsBeyondFourDigitsKeepTheName) {
  FakeFolder folder;
  const int future = folder.Add("future.jpg", {10000, 1, 1, 0, 0, 0});
  const int ancient = folder.Add("ancient.jpg", {0, 1, 1, 0, 0, 0});
  const int fine = folder.Add("fine.jpg", {9999, 12, 31, 23, 59, 59});

  EXPECT_EQ(Main(folder), kSomeKept);
  EXPECT_EQ(folder.NameOf(future), "future.jpg");
  EXPECT_EQ(folder.NameOf(ancient), "ancient.jpg");
  EXPECT_EQ(folder.NameOf(fine), "9999-12-31 23-59-59.jpg");
}

TEST(RenamingPassTest, ListingThatYieldsRenamedFilesAgainHandlesEachOnce) {
  FakeFolder folder;
  folder.relistRenamed = true;
  for (int i = 0; i < 50; ++i)
    folder.Add("f" + std::to_string(i) + ".jpg", At(i % 5));

  EXPECT_EQ(Main(folder), kAllNamed);
  EXPECT_EQ(folder.renames.size(), 50u);
  EXPECT_EQ(folder.timeReads, 50);
  EXPECT_EQ(folder.entries.count("2020-06-01 12-00-04 (10).jpg"), 1u);
}

TEST(RenamingPassTest, SecondRunOverARenamedFolderChangesNothing) {
  FakeFolder folder;
  for (int i = 0; i < 6; ++i)
    folder.Add("f" + std::to_string(i) + ".jpg", At(i % 2));
  ASSERT_EQ(Main(folder), kAllNamed);
  const auto named = folder.entries;

  // Name order lists numbered names before the plain names they are
  // numbered after: the plain name is not yet known to be taken.
  folder.order.clear();
  for (const auto& [name, entry] : named)
    folder.order.push_back(name);
  folder.renames.clear();

  EXPECT_EQ(Main(folder), kAllNamed);
  for (const auto& [name, entry] : named)
    EXPECT_EQ(folder.NameOf(entry.id), name);
}

TEST(RenamingPassTest, NumberedNameMovesDownWhenItsPlainStampIsFree) {
  FakeFolder folder;
  const int numbered = folder.Add(kStamp + " (05).jpg", kMarch);
  EXPECT_EQ(Main(folder), kAllNamed);
  EXPECT_EQ(folder.NameOf(numbered), kStamp + ".jpg");
}

TEST(RenamingPassTest, UnreadableListingIsAFailure) {
  FakeFolder folder;
  const int first = folder.Add("first.jpg", At(1));
  folder.Add("second.jpg", At(2));
  int nexts = 0;
  folder.inject = [&](const std::string& op, const std::string&) {
    return op == "next" && ++nexts > 1 ? FakeFolder::kIo : 0;
  };

  EXPECT_EQ(Main(folder), kSomeKept);
  EXPECT_EQ(folder.NameOf(first), "2020-06-01 12-00-01.jpg");
  EXPECT_EQ(folder.NameOf(2), "second.jpg");
}

TEST(RenamingPassTest, CaseFoldingFileSystemDecidesWhatIsTaken) {
  FakeFolder folder;
  folder.caseInsensitive = true;
  const int lower = folder.Add("a.jpg", kMarch);
  const int upper = folder.Add("b.JPG", kMarch);

  EXPECT_EQ(Main(folder), kAllNamed);
  EXPECT_EQ(folder.NameOf(lower), kStamp + ".jpg");
  EXPECT_EQ(folder.NameOf(upper), kStamp + " (02).JPG");
}

}  // namespace
