// Runs stopped at each step of each way, and second runs acting at each
// step, on a folder as users fill one: whatever the stop or the other run
// leaves, the next run ends with every photo under one name of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "new_name.h"
#include "platform/posix/hidden_name.h"
#include "way_platform.h"
#include "platform/posix/stop_signals.h"
#include "platform_contract.h"
#include "renaming_pass.h"
#include "scratch_folder.h"
#include "test_environment.h"

namespace {

using Names = std::map<std::string, std::string>;

/// One way a run renames by, as tests start it on any file system.
struct WayRow {
  const char* name;
  Way first;
  WayOptions options;
  std::vector<RenameStep> steps;  // where it stands between two steps
  bool resetsTimes = false;       // renames date files now, as FAT's do
  bool clockBehind = false;  // the clock, and so what renames reset files
                             // to, earlier than the photos' times
};

/// The clock of a computer set behind a camera's (or a camera set to a zone
/// east of it): its photos are dated ahead of it.
const time_t kBehind = Utc(1999, 12, 31, 23, 0, 0);

/// The ways, each as the file systems that take it judge names: by their
/// numbers (bindfs), by a mark (sshfs), or by reserving them (exFAT).
/// A mounted test runs them where its file system allows each.
std::vector<WayRow> Ways() {
  std::vector<WayRow> ways;
  const int settled = Environment().way;
  // In flight for a second: a stopped run's empty files go at the rerun.
  const std::vector<RenameStep> link = {
      RenameStep::kProbe, RenameStep::kLinkedFirst, RenameStep::kAside,
      RenameStep::kLinked};
  if (settled == 0 || settled == 2) {
    ways.push_back({"link", Way::kLink, {}, link});
    if (StickyBitKept())
      ways.push_back({"link by mark", Way::kLink, {.byMark = true}, link});
  }
  if (settled == 0 || settled == 3) {
    ways.push_back({"reserve",
                    Way::kReserve,
                    {.byMark = !Environment().inodesTell, .mayReserve = true},
                    {RenameStep::kReserved}});
    ways.push_back({"reserve, times reset",
                    Way::kReserve,
                    {.byMark = !Environment().inodesTell,
                     .mayReserve = true,
                     .timesUnknown = true},
                    // The last step is the one inside the rename.
                    {RenameStep::kRenamed, RenameStep::kReserved},
                    true});
    ways.push_back({"reserve, times reset, clock behind",
                    Way::kReserve,
                    {.byMark = !Environment().inodesTell,
                     .mayReserve = true,
                     .timesUnknown = true},
                    {RenameStep::kRenamed, RenameStep::kReserved},
                    true,
                    true});
  }
  for (WayRow& way : ways) way.options.inFlightSeconds = 0;
  return ways;
}

/// A folder as users fill one, all of one second but a first and the last
/// two: a photo with a long extension, a photo
/// and its copy (the same bytes and time: two files), a shot of RAW and
/// JPEG, a photo of another second with a second link outside the folder
/// (a backup), one named already in that second and its copy left hidden by
/// a stopped run of an earlier version, a photo renamed onto a reservation
/// a stopped run was removing, that reservation's empty twin, and a user's
/// own hidden files that share the program's prefix, one a copy of the
/// photo.
const time_t kShot = Utc(2001, 2, 3, 4, 5, 6);
const time_t kNext = Utc(2001, 2, 3, 4, 5, 8);
const std::map<std::string, std::pair<std::string, time_t>> kCard = {
    // Named first, under a new name too long to record whole beside the
    // head of a hidden name.
    {"IMG_4." + std::string(225, 'x'), {"four", kShot - 60}},
    {"IMG_1.JPG", {"one", kShot}},
    {"IMG_1 (1).JPG", {"one", kShot}},
    {"IMG_2.CR2", {"two raw", kShot}},
    {"IMG_2.JPG", {"two", kShot}},
    {"IMG_3.JPG", {"three", kNext}},
    {"2001-02-03 04-05-08.JPG", {"eight", kNext}},
    {".stampname-00000000000000aa-1.JPG", {"eight", kNext}},
    {".stampname-00000000000000aa-2 void 2001-02-03 04-05-06 (09).TIF",
     {"nine", kNext}},
    {".stampname-00000000000000aa-3 void 2001-02-03 04-05-06 (10).TIF",
     {"", kShot}},
    // A record of times whose name holds a photo named after its own,
    // earlier time: no time of its to put back.
    {".stampname-00000000000000aa-4 time 2001-02-03 04-05-08.JPG",
     {"", kNext + 10}},
    {".stampname-notes", {"notes", kNext}},
    {".stampname-backup.JPG", {"one", kShot}},
};

/// Whether the card's `name` is a photo's, to be named: not a user's own,
/// nor an empty reservation, which goes.
bool Photo(const std::string& name) {
  return name[0] != '.' || (name.starts_with(".stampname-0") &&
                            !kCard.at(name).first.empty());
}

void FillCard(const fs::path& in) {
  for (const auto& [name, file] : kCard) {
    // fusefat, once that record is removed, refuses the reservation of the
    // long name that follows (its own fault; the kernel's FAT takes it).
    if (Environment().renameResetsTimes &&
        ParseHidden(name).role == HiddenRole::kTime)
      continue;
    WriteFile(in / name, file.first, file.second);
  }
  std::error_code noLinks;  // FAT and shares without links: no backup
  fs::create_hard_link(in / "IMG_3.JPG", in.parent_path() / "backup.JPG",
                       noLinks);
  SettleWrites();
}

/// Every photo once, under a name of its time (a shot under one number),
/// with its bytes and time; the user's hidden files as they were; nothing
/// else: no empty file, no name of the program's own.
void ExpectCardNamed(const fs::path& in, const std::string& row,
                     std::multimap<std::string, time_t> photos = {}) {
  // By content and extension: a photo and its copy twice.
  for (const auto& [name, file] : kCard)
    if (Photo(name))
      photos.emplace(file.first + "/" + std::string(ExtensionOf(name, 1)),
                     file.second);
  std::map<std::string, std::string> shots;  // content to number
  for (const auto& [name, content] : Snapshot(in)) {
    if (name[0] == '.') {
      ASSERT_TRUE(kCard.count(name) && !name.starts_with(".stampname-0"))
          << row << ": left " << name;
      EXPECT_EQ(content, kCard.at(name).first) << row;
      EXPECT_EQ(ModifiedOf(in / name), kCard.at(name).second) << row;
      continue;
    }
    const std::string extension(ExtensionOf(name));
    const auto photo = photos.find(content + "/" + extension);
    ASSERT_NE(photo, photos.end()) << row << ": " << name << " (" << content
                                   << ") is not one photo's only name";
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H-%M-%S",
                  std::gmtime(&photo->second));
    EXPECT_EQ(StampOf(name), stamp) << row << ": " << name;
    EXPECT_EQ(ModifiedOf(in / name), photo->second) << row << ": " << name;
    shots[content] = std::to_string(NumberOf(name));
    photos.erase(photo);
  }
  EXPECT_TRUE(photos.empty()) << row << ": lost " << photos.begin()->first;
  EXPECT_EQ(shots["two raw"], shots["two"]) << row << ": the shot split";
}

/// A run of one way that, at the `occurrence`th time it stands at `step`,
/// does `act`.
class Held : public WayPlatform {
 public:
  Held(const WayRow& way, RenameStep step, int occurrence,
       std::function<void()> act)
      : WayPlatform(way.first, way.options),
        step_(step),
        left_(occurrence),
        act_(std::move(act)),
        resetsTimes_(way.resetsTimes),
        clockBehind_(way.clockBehind) {}

  Outcome Rename(const std::string& from, const std::string& to,
                 const DateTime& stampedFrom) override {
    const Outcome renamed = WayPlatform::Rename(from, to, stampedFrom);
    if (renamed.ok() && resetsTimes_) {
      const struct timespec now[2] = {
          clockBehind_ ? timespec{kBehind, 0} : timespec{0, UTIME_NOW},
          clockBehind_ ? timespec{kBehind, 0} : timespec{0, UTIME_NOW}};
      utimensat(AT_FDCWD, ("Rename/" + to).c_str(), now, AT_SYMLINK_NOFOLLOW);
    }
    return renamed;
  }

  std::int64_t Now() override {
    return clockBehind_ ? kBehind : WayPlatform::Now();
  }

 protected:
  void Between(RenameStep step) override {
    if (step == step_ && --left_ == 0)
      act_();
  }

 private:
  RenameStep step_;
  int left_;
  std::function<void()> act_;
  bool resetsTimes_;
  bool clockBehind_;
};

const char* NameOf(RenameStep step) {
  // In the order of RenameStep; the design page cites rows by these names.
  constexpr const char* kNames[] = {"probe",    "aside",   "linked",
                                    "linked first", "reserved", "renamed",
                                    "put back", "void"};
  return kNames[static_cast<int>(step)];
}

class StoppedRunTest : public testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

/// Whether `left`, what a kill at `step` left, is what a kill there leaves:
/// a probe; a photo under a hidden name alone, headed for a name not there;
/// a photo under a hidden name and the name it records; an empty file under
/// a stamp name; a record of times beside the photo renamed; a photo
/// under its old name and its new one.
bool LeftAt(RenameStep step, const Names& left) {
  // Named, not bound: clang before 16 cannot capture a structured binding.
  for (const auto& entry : left) {
    const std::string& name = entry.first;
    const std::string& content = entry.second;
    const std::string_view recorded = RecordedIn(name);
    std::uint64_t digest = 0;
    const bool byDigest = DigestIn(recorded, &digest);
    const auto there = std::find_if(left.begin(), left.end(), [&](auto& at) {
      return byDigest ? NameDigest(at.first) == digest : at.first == recorded;
    });
    switch (step) {
      case RenameStep::kProbe:
        if (ParseHidden(name).role == HiddenRole::kProbe)
          return true;
        break;
      case RenameStep::kAside:
        if (ParseHidden(name).role == HiddenRole::kTo && there == left.end())
          return true;
        break;
      case RenameStep::kLinked:
      case RenameStep::kPutBack:
        if (ParseHidden(name).role == HiddenRole::kTo && there != left.end() &&
            there->second == content && !content.empty())
          return true;
        break;
      case RenameStep::kReserved:
        if (content.empty() && !StampOf(name).empty())
          return true;
        break;
      case RenameStep::kVoid:
        if (ParseHidden(name).role == HiddenRole::kVoid && content.empty())
          return true;
        break;
      case RenameStep::kLinkedFirst:
        if (name[0] != '.' && StampOf(name).empty() &&
            std::any_of(left.begin(), left.end(), [&](auto& other) {
              return !StampOf(other.first).empty() && other.second == content;
            }))
          return true;
        break;
      case RenameStep::kRenamed:
        if (ParseHidden(name).role == HiddenRole::kTime && content.empty() &&
            there != left.end() && !there->second.empty())
          return true;
        break;
    }
  }
  return false;
}

TEST_F(StoppedRunTest, AKillAtAnyStepLeavesWhatTheRerunFinishes) {
  // Killed (as by SIGKILL or a power cut) at a step, the run leaves what a
  // kill there leaves; interrupted there (Ctrl-C), it finishes the file in
  // hand, leaves no hidden name, and ends by the signal. Either way the
  // rerun names every photo once, as a run that was never stopped names
  // them. The probe comes once a run.
  for (const WayRow& way : Ways()) {
    Names unstopped;
    {
      InScratchFolder here;
      FillCard(here.rename());
      {
        WayPlatform run(way.first, way.options);
        ASSERT_EQ(Main(run), kAllNamed) << way.name;
      }
      unstopped = Snapshot(here.rename());
    }
    for (const RenameStep step : way.steps) {
      const int occurrences =
          step == RenameStep::kProbe || step == RenameStep::kLinkedFirst ? 1
                                                                         : 3;
      for (int occurrence = 1; occurrence <= occurrences; ++occurrence) {
        for (const bool interrupted : {false, true}) {
          const std::string row = std::string(way.name) +
                                  (interrupted ? ", interrupted" : ", killed") +
                                  " at " + NameOf(step) + " " +
                                  std::to_string(occurrence);
          InScratchFolder here;
          FillCard(here.rename());
          const pid_t pid = fork();
          ASSERT_GE(pid, 0);
          if (pid == 0) {
            signal(SIGINT, SIG_DFL);  // as a shell leaves it, even if not ours
            CatchStopSignals();
            {
              Held run(way, step, occurrence,
                       [&] { raise(interrupted ? SIGINT : SIGKILL); });
              Main(run);
            }
            EndByCaughtSignal();
            _exit(0);
          }
          int status = 0;
          ASSERT_EQ(waitpid(pid, &status, 0), pid);
          ASSERT_TRUE(WIFSIGNALED(status)) << row << ": never reached its step";
          const Names left = Snapshot(here.rename());
          if (interrupted) {
            EXPECT_EQ(WTERMSIG(status), SIGINT) << row;
            for (const auto& [name, content] : left)
              EXPECT_TRUE(name[0] != '.' || kCard.count(name))
                  << row << ": " << name;
            EXPECT_TRUE(std::any_of(
                left.begin(), left.end(),
                [](auto& entry) { return entry.first.starts_with("IMG_"); }))
                << row << ": went on after the file in hand";
          } else {
            EXPECT_EQ(WTERMSIG(status), SIGKILL) << row;
            EXPECT_TRUE(LeftAt(step, left)) << row << ": left another state";
          }

          // A rerun that cannot read the record or put its times back
          // leaves them and the photo's name to the next.
          for (const bool reading :
               way.resetsTimes && !interrupted && step == RenameStep::kRenamed
                   ? std::vector<bool>{true, false}
                   : std::vector<bool>{}) {
            WayOptions refused = way.options;
            (reading ? refused.recordReads : refused.putBacks) = {EIO};
            const std::string failing =
                row + (reading ? ", record unread" : ", put back refused");
            {
              WayPlatform rerun(way.first, refused);
              EXPECT_EQ(Main(rerun), kSomeKept) << failing;
            }
            EXPECT_TRUE(LeftAt(step, Snapshot(here.rename())))
                << failing << ": left another state";
          }
          {
            WayPlatform rerun(way.first, way.options);
            EXPECT_EQ(Main(rerun), kAllNamed) << row;
          }  // and what the run does as it ends
          ExpectCardNamed(here.rename(), row);
          EXPECT_EQ(Snapshot(here.rename()), unstopped) << row;
        }
      }
    }
  }
}

TEST_F(StoppedRunTest, ASecondRunThroughAnotherMountAtAnyStepLosesNothing) {
  // The first run held at a step while a second one, which sees no lock of
  // the first's (another mount, another machine), goes through the whole
  // folder, a photo having arrived meanwhile. Where the mounted test gives
  // a second mount of the folder, the second run goes through it.
  for (WayRow way : Ways()) {
    way.options.lock = false;
    for (const RenameStep step : way.steps) {
      const std::string row =
          std::string(way.name) + ", second run at " + NameOf(step);
      InScratchFolder here;
      FillCard(here.rename());
      const fs::path at = fs::current_path();
      const fs::path through =
          Environment().twinRoot.empty()
              ? at
              : Environment().twinRoot /
                    at.lexically_relative(Environment().root);
      ExitStatus second = kNoFolder;
      {
        Held first(way, step, 1, [&] {
          WriteFile(here.rename() / "IMG_0.JPG", "late", kShot);
          SettleWrites();
          fs::current_path(through);
          WayPlatform other(way.first, way.options);
          second = Main(other);
          fs::current_path(at);
        });
        EXPECT_EQ(Main(first), kAllNamed) << row;
      }
      EXPECT_EQ(second, kAllNamed) << row;
      ExpectCardNamed(here.rename(), row, {{"late/.JPG", kShot}});
    }
  }
}

TEST_F(StoppedRunTest, AWriteInsideTheRenameWindowKeepsItsOwnTime) {
  // Where the pass finds out whether renames reset times, a photo written
  // to while it is renamed (in place, or saved anew under the same size)
  // changed its time itself: that is no reset, and it keeps the new time.
  for (WayRow way : Ways()) {
    if (way.clockBehind)
      continue;  // a write now is dated by another clock than the reset
    way.options.timesUnknown = true;
    for (const bool inPlace : {true, false}) {
      InScratchFolder here;
      const fs::path in = here.rename();
      WriteFile(in / "a.jpg", "version 1", kShot);
      const std::string named = "2001-02-03 04-05-06.jpg";
      const time_t written = time(nullptr);
      Held run(way, way.steps.back(), 1, [&] {
        // The photo's visible name by now: its new one, or still its old.
        const fs::path at =
            fs::exists(in / named) && fs::file_size(in / named) != 0
                ? in / named
                : in / "a.jpg";
        if (inPlace) {
          WriteFile(at, "version 2, longer", written);
        } else {
          WriteFile(in / "saved.tmp", "version 2", written);
          fs::rename(in / "saved.tmp", at);
        }
      });
      Main(run);
      const std::string row =
          std::string(way.name) + (inPlace ? ", in place" : ", saved");
      EXPECT_EQ(ReadFile(in / named).substr(0, 9), "version 2") << row;
      EXPECT_EQ(ModifiedOf(in / named), written) << row;
    }
  }
}

}  // namespace
