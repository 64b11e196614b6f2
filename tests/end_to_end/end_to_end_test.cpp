// Runs the built program in scratch folders, as a user would, on every
// system: each case holds wherever the program runs.
#include "end_to_end.h"

#include "test_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

/// Checks that `folder` holds exactly the files `expected` gives (content
/// to last-modified time), each under its UTC stamp, numbered as needed.
/// Unless `strict`, it allows what a killed or a concurrent run may leave:
/// empty reservations, and a second stamp name of one file.
void ExpectAllStamped(const fs::path& folder,
                      const std::map<std::string, time_t>& expected,
                      bool strict = false) {
  const bool reserves = !strict && Environment().way == 3;
  const bool identityTells = Environment().inodesTell;
  Names now = Snapshot(folder);
  std::erase_if(
      now, [&](const auto& entry) { return reserves && entry.second.empty(); });
  std::map<std::string, fs::path> files;  // by content: its first name
  for (const auto& [name, content] : now) {
    auto it = expected.find(content);
    ASSERT_NE(it, expected.end()) << name << " holds unknown content";
    const auto [seen, first] = files.try_emplace(content, folder / name);
    EXPECT_TRUE(first || (!strict && (!identityTells ||
                                      fs::equivalent(seen->second, folder / name))))
        << name << ": a second name of " << content;
    EXPECT_EQ(ModifiedOf(folder / name), it->second) << name;
    // A mark, where one proved two names one file, was turned back.
    EXPECT_EQ(fs::status(folder / name).permissions() & fs::perms::sticky_bit,
              fs::perms::none)
        << name;
    const std::string stamp = UtcStamp(it->second);
    const bool plain = name == stamp + ".jpg";
    const bool numbered = name.size() == stamp.size() + 9 &&
                          name.rfind(stamp + " (", 0) == 0 &&
                          name.ends_with(").jpg");
    EXPECT_TRUE(plain || numbered) << name << " for " << stamp;
  }
  EXPECT_EQ(files.size(), expected.size()) << "files were lost";
}

TEST(EndToEndTest, RenamesOrdinaryFilesAndLeavesFoldersAlone) {
  ScratchFolder scratch;
  const fs::path in = scratch.rename();
  fs::create_directories(in / "sub");
  const time_t march = Utc(2009, 3, 5, 7, 8, 9);
  WriteFile(in / "photo.jpg", "photo", march);
  WriteFile(in / "same second.jpg", "twin", march);
  WriteFile(in / "midnight.png", "midnight", Utc(2010, 1, 2, 0, 5, 6));
  WriteFile(in / "archive.tar.gz", "archive", Utc(2011, 11, 12, 13, 14, 15));
  WriteFile(in / "README", "readme", Utc(2012, 2, 29, 23, 59, 59));
  WriteFile(in / "IMG_0001.JPG", "upper", Utc(2013, 4, 5, 6, 7, 8));
  WriteFile(in / "2001-02-03 04-05-06.txt", "named", Utc(2001, 2, 3, 4, 5, 6));
  WriteFile(in / "sub" / "inner.jpg", "inner", march);

  ASSERT_EQ(RunProgram(scratch.path(), "UTC", {"--ignored", "argument"}), 0);
  EXPECT_EQ(Output(scratch.path()), "");

  // Files of one second are numbered in the order of their names.
  EXPECT_EQ(Snapshot(in), (Names{{"2009-03-05 07-08-09.jpg", "photo"},
                                 {"2009-03-05 07-08-09 (02).jpg", "twin"},
                                 {"2010-01-02 00-05-06.png", "midnight"},
                                 {"2011-11-12 13-14-15.tar.gz", "archive"},
                                 {"2012-02-29 23-59-59", "readme"},
                                 {"2013-04-05 06-07-08.JPG", "upper"},
                                 {"2001-02-03 04-05-06.txt", "named"},
                                 {"sub", "<dir>"}}));
  EXPECT_EQ(ModifiedOf(in / "2010-01-02 00-05-06.png"),
            Utc(2010, 1, 2, 0, 5, 6));
  EXPECT_EQ(ModifiedOf(in / "2009-03-05 07-08-09 (02).jpg"), march);
  EXPECT_EQ(Snapshot(in / "sub"), (Names{{"inner.jpg", "inner"}}));
}

TEST(EndToEndTest, LocalTimeIsTheWallClockOfEachFilesOwnDate) {
  if (!StartSetsTimeZone())
    GTEST_SKIP() << "a run's time zone is set where it is started: under "
                    "Wine by windows_executable_test.sh";
  // West and east of Greenwich, each with its own summer time.
  for (const auto& [zone, winter, summer] :
       {std::tuple{"EST5EDT,M3.2.0,M11.1.0", "2009-01-15 07-00-00.jpg",
                   "2009-07-15 08-30-05.jpg"},
        std::tuple{"CET-1CEST,M3.5.0,M10.5.0/3", "2009-01-15 13-00-00.jpg",
                   "2009-07-15 14-30-05.jpg"}}) {
    ScratchFolder scratch;
    fs::create_directory(scratch.rename());
    WriteFile(scratch.rename() / "winter.jpg", "w", Utc(2009, 1, 15, 12, 0, 0));
    WriteFile(scratch.rename() / "summer.jpg", "s",
              Utc(2009, 7, 15, 12, 30, 5));

    ASSERT_EQ(RunProgram(scratch.path(), zone), 0) << zone;
    EXPECT_EQ(Snapshot(scratch.rename()), (Names{{winter, "w"}, {summer, "s"}}))
        << zone;
  }
}

TEST(EndToEndTest, ExitStatusTellsWhatHappened) {
  ScratchFolder scratch;
  // No folder at all, and then a file where the folder should be.
  EXPECT_EQ(RunProgram(scratch.path()), 2);
  EXPECT_FALSE(fs::exists(scratch.rename()));
  WriteFile(scratch.rename(), "not a folder", 1000);
  EXPECT_EQ(RunProgram(scratch.path()), 2);
  fs::remove(scratch.rename());

  fs::create_directory(scratch.rename());
  EXPECT_EQ(RunProgram(scratch.path()), 0) << "an empty folder is no failure";

  // Its new name would be longer than any name may be.
  const std::string longName = "x." + std::string(250, 'e');
  WriteFile(scratch.rename() / longName, "long", 1000);
  WriteFile(scratch.rename() / "fine.jpg", "fine", 1000);
  EXPECT_EQ(RunProgram(scratch.path()), 1);
  EXPECT_EQ(Snapshot(scratch.rename()),
            (Names{{longName, "long"}, {"1970-01-01 00-16-40.jpg", "fine"}}));
  EXPECT_EQ(Output(scratch.path()), "");
}

TEST(EndToEndTest, BurstsKeepShotOrderCaseCountsAndARerunChangesNothing) {
  ScratchFolder scratch;
  const fs::path in = scratch.rename();
  fs::create_directory(in);
  Names expected;
  std::map<std::string, time_t> times;  // by new name
  const auto add = [&](const std::string& name, const std::string& content,
                       time_t when, const std::string& renamed) {
    WriteFile(in / name, content, when);
    expected[UtcStamp(when) + renamed] = content;
    times[UtcStamp(when) + renamed] = when;
  };
  for (int shot = 8; shot >= 1; --shot)
    for (const std::string extension : {".CR2", ".JPG", ".CR2.xmp"})
      if (shot != 3 || extension == ".JPG")  // shot 3: no RAW
        add("IMG_000" + std::to_string(shot) + extension,
            std::to_string(shot) + extension, Utc(2023, 6, 1, 10, 0, 0),
            (shot == 1 ? "" : " (0" + std::to_string(shot) + ")") + extension);
  // Names equal but for case are one name somewhere, so everywhere.
  const time_t other = Utc(2013, 3, 13, 13, 13, 14);
  add("a.jpg", "lower", other, ".jpg");
  add("b.JPG", "upper", other, " (02).JPG");
  add("c.Jpg", "mixed", other, " (03).Jpg");
  // A copy dated now under a stamp name of another time: where renames
  // reset times (FAT), it cannot tell whether they do, and the others
  // must get their times back all the same. Even: FAT keeps no odd second.
  add("2001-01-01 00-00-00.JPG", "copy", time(nullptr) / 2 * 2, ".JPG");

  ASSERT_EQ(RunProgram(scratch.path()), 0);
  EXPECT_EQ(Snapshot(in), expected);
  ASSERT_EQ(RunProgram(scratch.path()), 0);
  if (Environment().renameResetsTimes)  // past the kernel's cache of times
    std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(Snapshot(in), expected) << "the rerun moved files";
  for (const auto& [name, when] : times)
    EXPECT_EQ(ModifiedOf(in / name), when) << name;
  EXPECT_EQ(Output(scratch.path()), "");
}

/// Fills the folder with `count` files in same-second bursts of `burst`.
std::map<std::string, time_t> Fill(const fs::path& in, int count, int burst) {
  fs::create_directory(in);
  std::map<std::string, time_t> files;
  const time_t base = Utc(2018, 8, 1, 10, 0, 0);
  for (int i = 0; i < count; ++i) {
    const std::string content = "content " + std::to_string(i);
    files[content] = base + i / burst;
    WriteFile(in / ("IMG_" + std::to_string(i) + ".jpg"), content,
              files[content]);
  }
  return files;
}

TEST(EndToEndTest, KilledRunLosesNothingAndARerunFinishes) {
  ScratchFolder scratch;
  // Fewer on network file systems, where each file costs round trips.
  const auto files = Fill(scratch.rename(), Environment().killedRunFiles, 7);

  // The run lists the whole folder and reads every time before its first
  // rename, which takes long on a slow file system: kill it once the first
  // file's new name (or its reservation) is there.
  const fs::path firstName =
      scratch.rename() / (UtcStamp(Utc(2018, 8, 1, 10, 0, 0)) + ".jpg");
  const ProgramRun run = StartRun(scratch.path(), "UTC");
  for (int waitedMs = 0; waitedMs < 120000 && !fs::exists(firstName);
       ++waitedMs)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  Kill(run);
  const Names left = Snapshot(scratch.rename());
  const auto stamped = std::count_if(left.begin(), left.end(), [](auto& entry) {
    return entry.first.starts_with("20");  // a year of this century
  });
  ASSERT_GT(stamped, 0);
  ASSERT_LT(static_cast<size_t>(stamped), files.size())
      << "the run ended before it was killed";

  // A file the killed run lost would be missing after the rerun.
  ASSERT_EQ(RunProgram(scratch.path()), 0);
  ExpectAllStamped(scratch.rename(), files);
  EXPECT_EQ(Output(scratch.path()), "");
}

TEST(EndToEndTest, ConcurrentRunsLeaveWhatOneRunLeaves) {
  // Where the mounted test gives a second mount of the same folder, as a
  // second machine on one share sees it, the runs go through both, where
  // no lock reaches the other's runs and only the turn on the share makes
  // them take turns: bursts of three, tried again and again.
  const bool twin = !Environment().twinRoot.empty();
  for (int round = Environment().twinTries; round > 0; --round) {
    ScratchFolder scratch, alone;
    const auto files = Fill(scratch.rename(), twin ? 400 : 2000, twin ? 3 : 30);
    Fill(alone.rename(), twin ? 400 : 2000, twin ? 3 : 30);
    const fs::path other =
        twin ? Environment().twinRoot /
                   scratch.path().lexically_relative(Environment().root)
             : scratch.path();

    std::vector<ProgramRun> runs;
    for (int i = 0; i < 3; ++i)
      runs.push_back(StartRun(i % 2 == 0 ? scratch.path() : other, "UTC"));
    for (const ProgramRun run : runs) EXPECT_EQ(Wait(run), 0);
    ExpectAllStamped(scratch.rename(), files, twin);
    EXPECT_EQ(Output(scratch.path()), "");
    // Runs take turns, through one mount or two: the later ones find
    // nothing left to do, and shots stay whole.
    ASSERT_EQ(RunProgram(alone.path()), 0);
    const Names together = Snapshot(scratch.rename());
    const Names apart = Snapshot(alone.rename());
    for (const auto& [name, content] : apart) {
      const auto it = together.find(name);
      EXPECT_TRUE(it != together.end() && it->second == content)
          << name << " holds " << content << " alone, "
          << (it == together.end() ? "nothing" : it->second) << " together";
    }
    EXPECT_EQ(together.size(), apart.size());
  }
}

}  // namespace
