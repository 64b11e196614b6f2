#include "platform/posix/rename_ways.h"
#include "platform/posix/identity.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>
#include <utility>

#include "platform_contract.h"
#include "scratch_folder.h"
#include "test_environment.h"

// Found by GoogleTest for the names of the parameterized tests.
void PrintTo(RenameTier tier, std::ostream* out) {
  *out << "tier " << static_cast<int>(tier);
}

namespace {

using Tier = RenameTier;

class TwoStepTest : public testing::TestWithParam<Tier> {};

TEST_P(TwoStepTest, RefusesAFileChangedSinceItsTimeWasRead) {
  InScratchFolder here;
  WriteFile(here.rename() / "a.jpg", "a", kEarly);
  TieredPlatform platform(GetParam());
  ListAll(platform);
  DateTime modified;
  ASSERT_TRUE(platform.ModifiedTime("a.jpg", &modified).ok());
  WriteFile(here.rename() / "a.jpg", "rewritten", kLater);
  SettleWrites();

  EXPECT_EQ(platform.Rename("a.jpg", "new.jpg", modified).failure,
            Failure::kChanged);
  EXPECT_EQ(Snapshot(here.rename()),
            (std::map<std::string, std::string>{{"a.jpg", "rewritten"}}));
  // Read again, the time is the new one, and the rename goes ahead.
  ASSERT_TRUE(platform.ModifiedTime("a.jpg", &modified).ok());
  EXPECT_EQ(modified.second, 26);
  EXPECT_TRUE(platform.Rename("a.jpg", "new.jpg", modified).ok());
  if (!Environment().renameResetsTimes) {
    EXPECT_EQ(ModifiedOf(here.rename() / "new.jpg"), kLater);
  }
  // A file system may move the run on to a later tier, never back.
  EXPECT_GE(platform.tier(), GetParam());
}

/// Another program that acts between two steps of a rename, once, at
/// `step`, or else at the last step before the new name is final.
class Interrupted : public TieredPlatform {
 public:
  Interrupted(Tier tier, std::function<void()> act,
              std::optional<RenameStep> step = std::nullopt,
              const WayOptions& options = {})
      : TieredPlatform(tier, options), step_(step), act_(std::move(act)) {}

 protected:
  void Between(RenameStep step) override {
    if (act_ && (step_ ? step == *step_
                       : step == RenameStep::kLinked ||
                             step == RenameStep::kReserved))
      std::exchange(act_, nullptr)();
  }

 private:
  std::optional<RenameStep> step_;
  std::function<void()> act_;
};

TEST_P(TwoStepTest, AnotherProgramActingBetweenTheStepsLosesNoFile) {
  InScratchFolder here;
  const fs::path in = here.rename();
  // All of one second: only the files' identities tell them apart (and,
  // where inode numbers do not, their sizes).
  WriteFile(in / "f.jpg", "f", kEarly);
  WriteFile(in / "g.jpg", "g", kEarly);
  // Between the steps, the other program moves whatever bears the new name
  // (the link or the reservation) and the old name (where the run left it)
  // aside, then gives both names to files of its own.
  Interrupted platform(GetParam(), [&] {
    fs::rename(in / "new.jpg", in / "moved new.jpg");
    if (fs::exists(in / "f.jpg"))
      fs::rename(in / "f.jpg", in / "moved f.jpg");
    fs::rename(in / "g.jpg", in / "new.jpg");
    // Changed since its time was read: a reservation goes again.
    WriteFile(in / "f.jpg", "hh", kLater);
  });
  ListAll(platform);
  DateTime modified;
  ASSERT_TRUE(platform.ModifiedTime("f.jpg", &modified).ok());

  platform.Rename("f.jpg", "new.jpg", modified);
  // Nothing lost, nothing emptied: f under the name it was moved to (the
  // link, or the old name it was moved away by), g and h as they were put.
  std::map<std::string, std::string> now = Snapshot(in);
  std::erase_if(now, [](const auto& entry) { return entry.second.empty(); });
  std::set<std::string> contents;
  for (const auto& [name, content] : now)
    contents.insert(content);
  EXPECT_EQ(contents, (std::set<std::string>{"f", "g", "hh"}));
  EXPECT_EQ(ReadFile(in / "new.jpg"), "g");
  EXPECT_EQ(ReadFile(in / "f.jpg"), "hh");
}

TEST(LinkThenUnlinkTest, ASaveOverTheOldNameMeanwhileKeepsIt) {
  // An editor saves a new version the moment the run has taken the file
  // from its old name: the save keeps that name, the photo takes its own.
  // Where the photo was also changed since its time was read, it cannot go
  // back: it stays aside, headed for its old name, for the next run to
  // judge against that name and name.
  if (Environment().tier != 0 && Environment().tier != 2)
    GTEST_SKIP() << "no links on this file system";
  for (const auto& [changed, byBytes] :
       {std::pair{true, false}, {false, false}, {false, true}}) {
    InScratchFolder here;
    const fs::path in = here.rename();
    WriteFile(in / "a.jpg", "version 1", kEarly);
    Interrupted platform(
        Tier::kLinkThenUnlink,
        [&] {
          WriteFile(in / ".a.jpg.tmp", "version 2", kLater);
          fs::rename(in / ".a.jpg.tmp", in / "a.jpg");
        },
        RenameStep::kAside, {.byBytes = byBytes});
    ListAll(platform);
    DateTime modified;
    ASSERT_TRUE(platform.ModifiedTime("a.jpg", &modified).ok());
    if (changed)
      WriteFile(in / "a.jpg", "version 1, edited", kLater);

    const Outcome renamed = platform.Rename("a.jpg", "new.jpg", modified);
    std::map<std::string, std::string> now = Snapshot(in);
    EXPECT_EQ(now["a.jpg"], "version 2");
    if (changed) {
      EXPECT_FALSE(renamed.ok());
      ASSERT_EQ(now.size(), 2u);
      EXPECT_EQ(now.begin()->second, "version 1, edited");
      EXPECT_EQ(std::string(RecordedIn(now.begin()->first)), "a.jpg");
      continue;
    }
    EXPECT_TRUE(renamed.ok());
    EXPECT_EQ(now, (std::map<std::string, std::string>{
                       {"a.jpg", "version 2"}, {"new.jpg", "version 1"}}));

    // The file already bears the new name too (another run linked it): no
    // further name is made, and the old one goes where one file is proven.
    // Where nothing proves it, the new name counts as taken by another
    // file that looks the same: the old name stays, to go on to the next.
    fs::create_hard_link(in / "new.jpg", in / "b.jpg");
    const bool proven = Environment().inodesTell && !byBytes;
    EXPECT_EQ(RenameNow(platform, "b.jpg", "new.jpg").failure,
              proven ? Failure::kNone : Failure::kTaken);
    std::map<std::string, std::string> expected{{"a.jpg", "version 2"},
                                                {"new.jpg", "version 1"}};
    if (!proven)
      expected["b.jpg"] = "version 1";
    EXPECT_EQ(Snapshot(in), expected);
  }
}

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
    Interrupted platform(Tier::kReserveThenRename, [&] {
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

INSTANTIATE_TEST_SUITE_P(TwoStepTiers, TwoStepTest,
                         testing::Values(Tier::kLinkThenUnlink,
                                         Tier::kReserveThenRename));

RenameWay WayOf(Tier tier, const char* how = "", WayOptions options = {}) {
  return {"Tier" + std::to_string(static_cast<int>(tier)) + how,
          [tier, options] {
            return std::make_unique<TieredPlatform>(tier, options);
          }};
}

// Each way, and the link and reserve ways judging names by their bytes
// as on sshfs.
INSTANTIATE_TEST_SUITE_P(AllTiers, PlatformContractTest,
                         testing::Values(WayOf(Tier::kNoReplaceRename),
                                         WayOf(Tier::kLinkThenUnlink),
                                         WayOf(Tier::kLinkThenUnlink, "ByBytes",
                                               {.byBytes = true}),
                                         WayOf(Tier::kReserveThenRename),
                                         WayOf(Tier::kReserveThenRename,
                                               "ByBytes",
                                               {.byBytes = true,
                                                .mayReserve = true})),
                         [](const testing::TestParamInfo<RenameWay>& info) {
                           return info.param.name;
                         });

TEST(HiddenNameTest, OnlyTheProgramsExactShapesAreItsOwn) {
  const std::string run = ".stampname-00000000000000ff-12";
  struct Row {
    std::string name;
    HiddenRole role;
    std::string recorded;
  };
  for (const Row& row : std::initializer_list<Row>{
           {run + " to 2009-03-05 07-08-09 (02).CR2", HiddenRole::kTo,
            "2009-03-05 07-08-09 (02).CR2"},
           {run + " of 2009-03-05 07-08-09.jpg", HiddenRole::kOf,
            "2009-03-05 07-08-09.jpg"},
           {run + " void 2009-03-05 07-08-09", HiddenRole::kVoid,
            "2009-03-05 07-08-09"},
           {run + " probe", HiddenRole::kProbe, ""},
           {run + " void", HiddenRole::kVoid, ""},
           {run + ".jpg", HiddenRole::kEarlier, ""},
           {run, HiddenRole::kEarlier, ""},
           // A user's own names that share the prefix.
           {".stampname-notes", HiddenRole::kNone, ""},
           {".stampname-backup.JPG", HiddenRole::kNone, ""},
           {".stampname-00ff-1.jpg", HiddenRole::kNone, ""},
           {".stampname-00000000000000FF-1.jpg", HiddenRole::kNone, ""},
           {".stampname-00000000000000ff-.jpg", HiddenRole::kNone, ""},
           {run + " to ", HiddenRole::kNone, ""},
           {run + " probes", HiddenRole::kNone, ""},
           {run + "x.jpg", HiddenRole::kNone, ""},
       }) {
    EXPECT_EQ(ParseHidden(row.name).role, row.role) << row.name;
    EXPECT_EQ(RecordedIn(row.name), row.recorded) << row.name;
  }
  EXPECT_EQ(MakeHidden(0xff, 12, HiddenRole::kTo, "a.jpg"), run + " to a.jpg");

  // Where only bytes can tell, a hidden name is one file with the name it
  // records, and with no other that looks the same.
  InScratchFolder here;
  const std::string hidden = run + " to b.jpg";
  for (const std::string name : {"a.jpg", "b.jpg", hidden.c_str()})
    WriteFile(here.rename() / name, "same", kEarly);
  TieredPlatform platform(Tier::kLinkThenUnlink, {.byBytes = true});
  ListAll(platform);
  EXPECT_EQ(platform.SameFile(hidden, "b.jpg"), Sameness::kSame);
  EXPECT_NE(platform.SameFile(hidden, "a.jpg"), Sameness::kSame);
  EXPECT_NE(platform.SameFile("a.jpg", "b.jpg"), Sameness::kSame);
  EXPECT_EQ(MakeHidden(0xff, 12, HiddenRole::kProbe), run + " probe");
  // A reservation's name too long to record beside.
  EXPECT_EQ(MakeHidden(0xff, 12, HiddenRole::kVoid, std::string(240, 'x')),
            run + " void");
}

// Run by the mounted file system tests, which know what each file system
// allows.
TEST(SystemPlatformTest, SettlesOnTheTierTheFileSystemAllows) {
  const int expected = Environment().tier;
  if (expected == 0)
    GTEST_SKIP() << "only on a mounted file system of a known kind";
  InScratchFolder here;
  WriteFile(here.rename() / "a.jpg", "a", kEarly);
  WriteFile(here.rename() / "b.jpg", "b", kLater);
  TieredPlatform platform(Tier::kNoReplaceRename);  // as a run starts
  ListAll(platform);

  // What the renames leave, the contract checks on every tier.
  EXPECT_TRUE(RenameNow(platform, "a.jpg", "c.jpg").ok());
  EXPECT_EQ(RenameNow(platform, "b.jpg", "c.jpg").failure, Failure::kTaken);
  EXPECT_EQ(static_cast<int>(platform.tier()), expected);
}

}  // namespace
