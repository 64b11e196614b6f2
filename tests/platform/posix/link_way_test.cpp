// The link way's own cases.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "interrupted.h"
#include "platform/posix/mark.h"
#include "platform/posix/hidden_name.h"
#include "platform_contract.h"
#include "renaming_pass.h"
#include "scratch_folder.h"
#include "test_environment.h"

namespace {

TEST(LinkThenUnlinkTest, ASaveOverTheOldNameMeanwhileKeepsIt) {
  // An editor saves a new version the moment the run has taken the file
  // from its old name: the save keeps that name, the photo takes its own.
  // Where the photo was also changed since its time was read, it cannot go
  // back: it stays aside, headed for its old name, for the next run to
  // judge against that name and name.
  if (Environment().way != 0 && Environment().way != 2)
    GTEST_SKIP() << "no links on this file system";
  // A new name near the limit too: its hidden names fit all the same.
  struct Row {
    bool changed, byMark;
    std::string newName;
  };
  const std::string near = "new" + std::string(200, 'x') + ".jpg";
  for (const auto& [changed, byMark, newName] :
       std::initializer_list<Row>{{true, false, "new.jpg"},
                                  {true, false, near},
                                  {false, false, "new.jpg"},
                                  {false, true, "new.jpg"},
                                  {false, false, near}}) {
    if (byMark && !StickyBitKept())
      continue;  // no mark to prove by: the old name stays
    InScratchFolder here;
    const fs::path in = here.rename();
    WriteFile(in / "a.jpg", "version 1", kEarly);
    Interrupted platform(Way::kLink,
                         [&] {
                           WriteFile(in / ".a.jpg.tmp", "version 2", kLater);
                           fs::rename(in / ".a.jpg.tmp", in / "a.jpg");
                         },
                         RenameStep::kAside, {.byMark = byMark});
    ListAll(platform);
    DateTime modified;
    ASSERT_TRUE(platform.ModifiedTime("a.jpg", &modified).ok());
    if (changed)
      WriteFile(in / "a.jpg", "version 1, edited", kLater);

    const Outcome renamed = platform.Rename("a.jpg", newName, modified);
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
                       {"a.jpg", "version 2"}, {newName, "version 1"}}));

    // The file already bears the new name too (another run linked it): no
    // further name is made, and the old one goes, proven one file by the
    // numbers or by a mark.
    fs::create_hard_link(in / newName, in / "b.jpg");
    EXPECT_TRUE(RenameNow(platform, "b.jpg", newName).ok());
    const std::map<std::string, std::string> expected{{"a.jpg", "version 2"},
                                                      {newName, "version 1"}};
    EXPECT_EQ(Snapshot(in), expected);
  }
}

TEST(LinkThenUnlinkTest, AnOldNameDroppedOnlyByProofAfterALongNewName) {
  // A new name too long to record beside a hidden name is linked first;
  // the old name then goes only where a mark proves the two one file.
  // Where the mark shows another file, or none can be had (another user's
  // file), the file keeps both names and the rename fails: never a
  // success with a name too many.
  if (Environment().way != 0 && Environment().way != 2)
    GTEST_SKIP() << "no links on this file system";
  const std::string longName = std::string(235, 'n') + ".jpg";
  for (const Marked marked :
       {Marked::kShows, Marked::kNotShown, Marked::kNoMark}) {
    InScratchFolder here;
    const fs::path in = here.rename();
    WriteFile(in / "a.jpg", "photo", kEarly);
    WayPlatform platform(Way::kLink, {.byMark = true, .marks = marked});
    ListAll(platform);
    const Outcome renamed = RenameNow(platform, "a.jpg", longName);
    const bool proven = marked == Marked::kShows;
    EXPECT_EQ(renamed.ok(), proven) << static_cast<int>(marked);
    std::map<std::string, std::string> expected{{longName, "photo"}};
    if (!proven)
      expected["a.jpg"] = "photo";
    EXPECT_EQ(Snapshot(in), expected) << static_cast<int>(marked);
  }
}

TEST(LinkThenUnlinkTest, AFilePutBackAndKilledThereGetsOneName) {
  // The new name taken between the steps, the file goes back to its old
  // name from a hidden name that records that one, by its digest and
  // extension where it is long. Killed with both names, the rerun drops
  // the hidden one: it records no other photo's name.
  if (Environment().way != 0 && Environment().way != 2)
    GTEST_SKIP() << "no links on this file system";
  struct Taken : WayPlatform {
    Taken() : WayPlatform(Way::kLink) {}
    void Between(RenameStep step) override {
      if (step == RenameStep::kAside)
        WriteFile(fs::path("Rename") / "new.jpg", "other", kLater);
      if (step == RenameStep::kPutBack)
        raise(SIGKILL);
    }
  };
  for (const std::string& old :
       {std::string("a.jpg"), std::string(240, 'o') + ".jpg"}) {
    const std::string row = std::to_string(old.size()) + " bytes";
    InScratchFolder here;
    WriteFile(here.rename() / old, "photo", kEarly);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      Taken killed;
      ListAll(killed);
      DateTime modified;
      if (killed.ModifiedTime(old, &modified).ok())
        killed.Rename(old, "new.jpg", modified);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << row << ": never put back";
    {
      WayPlatform rerun(Way::kLink);
      EXPECT_EQ(Main(rerun), kAllNamed) << row;
    }
    std::multiset<std::string> contents;
    for (const auto& [name, content] : Snapshot(here.rename())) {
      EXPECT_NE(name[0], '.') << row << ": " << name;
      contents.insert(content);
    }
    EXPECT_EQ(contents, (std::multiset<std::string>{"other", "photo"})) << row;
  }
}

}  // namespace
