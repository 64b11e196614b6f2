// The reserve way's own cases.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "interrupted.h"
#include "platform/posix/hidden_name.h"
#include "platform/posix/stop_signals.h"
#include "platform_contract.h"
#include "renaming_pass.h"
#include "scratch_folder.h"
#include "test_environment.h"

namespace {

// A share refuses to rename onto a reservation it still holds open; here
// the old name turns into a folder, which no rename onto a file accepts,
// or the file is moved away (sshfs then numbers the reservation anew).
// Or the photo changed since its time was read, and another program
// renamed a file of its own onto the reservation meanwhile: only an empty
// reservation goes. Or it did so once the reservation was moved aside to
// go, and a third file took the name meanwhile: where no link serves, the
// file goes back only onto a reservation of the name, never over the
// third.
TEST(ReserveThenRenameTest, RefusedRenameLeavesNoReservation) {
  enum Row { kFolder, kMoved, kChangedAndRenamedOnto, kRenamedOntoAside };
  for (const Row row :
       {kFolder, kMoved, kChangedAndRenamedOnto, kRenamedOntoAside}) {
    // fusefat hangs on a file rewritten in place and renamed.
    if (row >= kChangedAndRenamedOnto && Environment().renameResetsTimes)
      continue;
    InScratchFolder here;
    const fs::path in = here.rename();
    WriteFile(in / "a.jpg", "a", kEarly);
    WriteFile(in / "theirs.jpg", "theirs", kEarly);
    const auto aside = [&] {
      for (const auto& [name, content] : Snapshot(in))
        if (name.find(" void ") != std::string::npos)
          return in / name;
      return in / "none";
    };
    Interrupted platform(
        Way::kReserve,
        [&] {
          if (row == kRenamedOntoAside) {
            fs::rename(in / "theirs.jpg", aside());
            WriteFile(in / "new.jpg", "third", kEarly);
            return;
          }
          if (row == kChangedAndRenamedOnto) {
            fs::rename(in / "theirs.jpg", in / "new.jpg");
            return;
          }
          fs::rename(in / "a.jpg", in / "moved.jpg");
          if (row == kFolder)
            fs::create_directory(in / "a.jpg");
        },
        row == kRenamedOntoAside ? RenameStep::kVoid : RenameStep::kReserved,
        {.noLinks = row == kRenamedOntoAside});
    ListAll(platform);
    DateTime modified;
    ASSERT_TRUE(platform.ModifiedTime("a.jpg", &modified).ok());
    if (row >= kChangedAndRenamedOnto)
      WriteFile(in / "a.jpg", "a, edited", kLater);

    EXPECT_FALSE(platform.Rename("a.jpg", "new.jpg", modified).ok());
    std::map<std::string, std::string> expected{{"moved.jpg", "a"},
                                                {"theirs.jpg", "theirs"}};
    if (row == kFolder)
      expected["a.jpg"] = "<dir>";
    if (row == kChangedAndRenamedOnto)
      expected = {{"a.jpg", "a, edited"}, {"new.jpg", "theirs"}};
    if (row == kRenamedOntoAside)
      expected = {{"a.jpg", "a, edited"}, {"new.jpg", "third"}};
    std::map<std::string, std::string> now = Snapshot(in);
    if (row == kRenamedOntoAside) {
      // Theirs stays under a hidden name, headed for its name, for the
      // next run to name.
      const auto hidden = now.begin();
      EXPECT_EQ(std::string(RecordedIn(hidden->first)), "new.jpg");
      EXPECT_EQ(hidden->second, "theirs");
      now.erase(hidden);
    }
    EXPECT_EQ(now, expected) << row;
  }
}

TEST(ReserveThenRenameTest, AnotherRunsReservationIsWaitedForAndGoesOnlyStale) {
  // An empty file under the photo's name, of another time: some run's
  // reservation. One made moments ago is waited for (another run may be
  // about to rename onto it), by the wall clock that dated it; one left
  // as it was, or long ago, goes; one that another run took away and made
  // anew meanwhile (judged by its number, or where names are numbered
  // apart by its attributes) stays that run's, at the end too.
  if (Environment().way != 0)
    GTEST_SKIP() << "waits timed for a local disk";
  // The photo's name: its time in the local zone.
  char local[32];
  std::strftime(local, sizeof local, "%Y-%m-%d %H-%M-%S",
                std::localtime(&kEarly));
  const std::string stamp = local;
  using Meanwhile = std::function<void(const fs::path& reservation)>;
  const auto renamedOnto = [](const fs::path& at) {
    WriteFile(at.parent_path() / "theirs.tmp", "theirs", kEarly);
    fs::rename(at.parent_path() / "theirs.tmp", at);
  };
  const auto madeAnew = [](const fs::path& at) {
    fs::remove(at);
    WriteFile(at, "", time(nullptr) + 1);
  };
  struct Row {
    const char* what;
    bool fresh;
    Meanwhile waited;  // 0.3 s in, while the run waits
    Meanwhile later;   // once the run has named the photo, before it ends
    bool byMark;
    std::map<std::string, std::string> left;  // by number: 1, 2
  };
  for (const Row& row : std::initializer_list<Row>{
           {"long ago", false, {}, {}, false, {{"1", "a"}}},
           {"moments ago, left", true, {}, {}, false, {{"1", "a"}}},
           {"moments ago, renamed onto", true, renamedOnto, {}, false,
            {{"1", "theirs"}, {"2", "a"}}},
           {"moments ago, made anew", true, madeAnew, madeAnew, false,
            {{"1", ""}, {"2", "a"}}},
           {"moments ago, made anew, by mark", true, madeAnew, madeAnew, true,
            {{"1", ""}, {"2", "a"}}},
       }) {
    InScratchFolder here;
    const fs::path in = here.rename();
    const std::map<std::string, std::string> names = {
        {"1", stamp + ".jpg"}, {"2", stamp + " (02).jpg"}};
    WriteFile(in / "a.jpg", "a", kEarly);
    WriteFile(in / names.at("1"), "", row.fresh ? time(nullptr) : kLater);
    Interrupted platform(
        Way::kReserve,
        [&] {
          if (row.later)
            row.later(in / names.at("1"));
        },
        RenameStep::kReserved,
        {.byMark = row.byMark, .mayReserve = true, .inFlightSeconds = 1});
    std::thread other([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (row.waited)
        row.waited(in / names.at("1"));
    });
    Main(platform);
    other.join();
    std::map<std::string, std::string> expected;
    for (const auto& [number, content] : row.left)
      expected[names.at(number)] = content;
    EXPECT_EQ(Snapshot(in), expected) << row.what;
  }

  // A stop (Ctrl-C) while waiting ends the wait there, however long the
  // wait would be: the photo keeps its name, the reservation its own.
  InScratchFolder here;
  const fs::path in = here.rename();
  WriteFile(in / "a.jpg", "a", kEarly);
  WriteFile(in / (stamp + ".jpg"), "", time(nullptr));
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGINT, SIG_DFL);
    CatchStopSignals();
    std::thread stop([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      raise(SIGINT);
    });
    {
      WayPlatform run(Way::kReserve,
                      {.mayReserve = true, .inFlightSeconds = 60});
      Main(run);
    }
    stop.join();
    _exit(CaughtStopSignal() == SIGINT ? 0 : 1);
  }
  int status = -1;
  for (int waited = 0; waited < 100 && waitpid(pid, &status, WNOHANG) == 0;
       ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (status == -1) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    ADD_FAILURE() << "the stop did not end the wait";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Snapshot(in), (std::map<std::string, std::string>{
                              {"a.jpg", "a"}, {stamp + ".jpg", ""}}));
}

}  // namespace
