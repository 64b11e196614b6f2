// Runs the built program as a user would, on what POSIX systems have of
// their own.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "end_to_end.h"
#include "test_environment.h"

namespace {

TEST(EndToEndPosixTest, OnlyOrdinaryVisibleFilesMoveAndTheRestTakeTheirNames) {
  ScratchFolder scratch;
  const fs::path in = scratch.rename();
  fs::create_directory(in);
  const std::string stamp = "2009-03-05 07-08-09";
  WriteFile(in / "photo.jpg", "photo", Utc(2009, 3, 5, 7, 8, 9));
  WriteFile(in / ".profile", "hidden", Utc(2009, 3, 5, 7, 8, 9));
  fs::create_symlink("photo.jpg", in / (stamp + ".jpg"));
  fs::create_directory_symlink(".", in / "dirlink");
  ASSERT_EQ(mkfifo((in / (stamp + " (02).jpg")).c_str(), 0600), 0);
  // Where a stopped run left a file between two steps, the next one names
  // it (under a hidden name of this version's, or of an earlier one's),
  // and drops its probe, long stale; a user's own files of a like name stay
  // as they are.
  const time_t left = Utc(2011, 1, 2, 3, 4, 5);
  WriteFile(in / ".stampname-00000000000000ff-1.jpg", "earlier", left);
  WriteFile(in / ".stampname-00000000000000ff-2 to 2011-01-02 03-04-05 (07).cr2",
            "headed", left);
  WriteFile(in / ".stampname-notes", "notes", left);
  WriteFile(in / ".stampname-backup.jpg", "photo", Utc(2009, 3, 5, 7, 8, 9));
  WriteFile(in / ".stampname-00000000000000ff-3 probe", "", left);

  ASSERT_EQ(RunProgram(scratch.path()), 0);
  EXPECT_EQ(Snapshot(in), (Names{{stamp + " (03).jpg", "photo"},
                                 {".profile", "hidden"},
                                 {stamp + ".jpg", "<link>"},
                                 {"dirlink", "<link>"},
                                 {stamp + " (02).jpg", "<other>"},
                                 {"2011-01-02 03-04-05.jpg", "earlier"},
                                 {"2011-01-02 03-04-05 (07).cr2", "headed"},
                                 {".stampname-notes", "notes"},
                                 {".stampname-backup.jpg", "photo"}}));
  EXPECT_EQ(Output(scratch.path()), "");
}

TEST(EndToEndPosixTest, StopSignalsFinishTheFileInHandAndEndTheRunByThem) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    ScratchFolder scratch;
    const fs::path in = scratch.rename();
    fs::create_directory(in);
    const time_t base = Utc(2018, 8, 1, 10, 0, 0);
    // Fewer on network file systems, where each file costs round trips.
    const int count = Environment().killedRunFiles;
    for (int i = 0; i < count; ++i)
      WriteFile(in / ("IMG_" + std::to_string(i) + ".jpg"),
                std::to_string(i), base + i / 7);
    const ProgramRun run = StartRun(scratch.path(), "UTC");
    const fs::path first = in / (UtcStamp(base) + ".jpg");
    for (int waited = 0; waited < 120000 && !fs::exists(first); ++waited)
      usleep(1000);
    kill(static_cast<pid_t>(run.id), signal);
    int status = 0;
    ASSERT_EQ(waitpid(static_cast<pid_t>(run.id), &status, 0), run.id);

    // Ended by the signal, as shells and scripts expect, with every file
    // under its old name or its new one: none between two steps.
    ASSERT_TRUE(WIFSIGNALED(status)) << signal << ": ended on its own";
    EXPECT_EQ(WTERMSIG(status), signal);
    const Names left = Snapshot(in);
    EXPECT_EQ(left.size(), static_cast<size_t>(count)) << signal;
    std::set<std::string> contents;
    for (const auto& [name, content] : left) {
      EXPECT_NE(name[0], '.') << name;
      contents.insert(content);
    }
    EXPECT_EQ(contents.size(), static_cast<size_t>(count)) << signal;
    EXPECT_LT(std::count_if(left.begin(), left.end(),
                            [](const auto& entry) {
                              return entry.first.starts_with("IMG_");
                            }),
              count);
    EXPECT_EQ(Output(scratch.path()), "");

    // Stopped while it waits for another run's turn: it ends there, and
    // lists nothing, so it acts on nothing (here, a reservation another
    // run was removing) beside the run that holds the folder.
    ScratchFolder waiting;
    fs::create_directory(waiting.rename());
    WriteFile(waiting.rename() / "photo.jpg", "photo", base);
    const std::string voided = ".stampname-00000000000000ff-1 void a.jpg";
    WriteFile(waiting.rename() / voided, "", base);
    SettleWrites();
    const int held = open(waiting.rename().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(held, 0);
    if (flock(held, LOCK_EX | LOCK_NB) == 0) {
      const ProgramRun blocked = StartRun(waiting.path(), "UTC");
      usleep(300000);
      if (waitpid(static_cast<pid_t>(blocked.id), &status, WNOHANG) == 0) {
        kill(static_cast<pid_t>(blocked.id), signal);
        ASSERT_EQ(waitpid(static_cast<pid_t>(blocked.id), &status, 0),
                  blocked.id);
        EXPECT_TRUE(WIFSIGNALED(status)) << signal << ": ended on its own";
        EXPECT_EQ(Snapshot(waiting.rename()),
                  (Names{{"photo.jpg", "photo"}, {voided, ""}}))
            << signal;
      }  // else locks do not hold here: it had its turn at once
    }
    close(held);
  }
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
  // The other user may not reach the build (a clone in a private folder):
  // a copy of the program beside the folder, where it can.
  const fs::path program = scratch.path() / "stampname";
  fs::copy_file(STAMPNAME_BINARY, program);
  fs::permissions(program, fs::perms(0755));
  const bool root = geteuid() == 0;
  ASSERT_TRUE(!root || setresuid(65534, 65534, 0) == 0);
  SettleWrites();
  const int status = Wait(Start(scratch.path(), "UTC", {}, program));
  ASSERT_TRUE(!root || setresuid(0, 0, 0) == 0);
  fs::permissions(scratch.rename(), fs::perms(0755));

  EXPECT_EQ(status, 2);
  EXPECT_EQ(Snapshot(scratch.rename()), (Names{{"photo.jpg", "photo"}}));
}

}  // namespace
