// What each POSIX way promises: the contract every platform meets, and what
// holds for both two-step ways when another program acts between steps.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "interrupted.h"
#include "platform_contract.h"
#include "renaming_pass.h"
#include "scratch_folder.h"
#include "test_environment.h"
#include "way_platform.h"

// Found by GoogleTest for the names of the parameterized tests.
void PrintTo(Way way, std::ostream* out) {
  *out << "way " << static_cast<int>(way);
}

namespace {

class TwoStepTest : public testing::TestWithParam<Way> {};

TEST_P(TwoStepTest, RefusesAFileChangedSinceItsTimeWasRead) {
  // A new name too long to record beside a hidden name takes other steps
  // on the link way: the same check.
  for (const std::string& newName :
       {std::string("new.jpg"), std::string(235, 'n') + ".jpg"}) {
    InScratchFolder here;
    WriteFile(here.rename() / "a.jpg", "a", kEarly);
    WayPlatform platform(GetParam());
    ListAll(platform);
    DateTime modified;
    ASSERT_TRUE(platform.ModifiedTime("a.jpg", &modified).ok());
    WriteFile(here.rename() / "a.jpg", "rewritten", kLater);
    SettleWrites();

    EXPECT_EQ(platform.Rename("a.jpg", newName, modified).failure,
              Failure::kChanged);
    EXPECT_EQ(Snapshot(here.rename()),
              (std::map<std::string, std::string>{{"a.jpg", "rewritten"}}));
    // Read again, the time is the new one, and the rename goes ahead.
    ASSERT_TRUE(platform.ModifiedTime("a.jpg", &modified).ok());
    EXPECT_EQ(modified.second, 26);
    EXPECT_TRUE(platform.Rename("a.jpg", newName, modified).ok());
    if (!Environment().renameResetsTimes) {
      EXPECT_EQ(ModifiedOf(here.rename() / newName), kLater);
    }
    // A file system may move the run on to a later way, never back.
    EXPECT_GE(platform.way(), GetParam());
  }
}

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
  for (const auto& [name, content] : now) contents.insert(content);
  EXPECT_EQ(contents, (std::set<std::string>{"f", "g", "hh"}));
  EXPECT_EQ(ReadFile(in / "new.jpg"), "g");
  EXPECT_EQ(ReadFile(in / "f.jpg"), "hh");
}

INSTANTIATE_TEST_SUITE_P(TwoStepWays, TwoStepTest,
                         testing::Values(Way::kLink, Way::kReserve));

PlatformUnderTest WayOf(const char* name, Way way, WayOptions options = {}) {
  return {name, [way, options] {
            return std::make_unique<WayPlatform>(way, options);
          }};
}

// Each way, and the link and reserve ways proving one file by a mark, as
// on sshfs.
INSTANTIATE_TEST_SUITE_P(
    AllWays, PlatformContractTest,
    testing::Values(WayOf("NoReplace", Way::kNoReplace),
                    WayOf("Link", Way::kLink),
                    WayOf("LinkByMark", Way::kLink, {.byMark = true}),
                    WayOf("Reserve", Way::kReserve),
                    WayOf("ReserveByOpen", Way::kReserve,
                          {.makeByOpen = true}),
                    WayOf("ReserveByMark", Way::kReserve,
                          {.byMark = true, .mayReserve = true})),
    [](const testing::TestParamInfo<PlatformUnderTest>& info) {
      return info.param.name;
    });

TEST(SystemPlatformTest, TheMountKindAndTheFlushDecideWhatTheRunTrusts) {
  // Only FUSE kinds may reset times through a rename. Where links work,
  // every kind takes the link way, and none takes a user's old empty file
  // under a stamp name for a stopped run's reservation: it is named after
  // its own time. Where the probe finds links refused, the kinds that
  // reserve at once take the reserve way, and there such a file is a
  // stopped run's reservation, removed (on a kernel file system, which
  // reserves nothing of its own, it stays a user's); the others take none,
  // and every file keeps its name. A probe refused for a full disk tells
  // nothing of links: it is made again at the next question.
  // The kernel's SMB client skips the kernel's rename, whose refusal is
  // only its cache's, and reserves, links or none; the desktops' share
  // mounts get no way. On the kernel's FAT names follow the card's
  // own time, whatever zone the kernel read it in: the mount's, else its
  // own (here an hour east).
  const time_t anHourAgo = time(nullptr) - 3600;
  const auto stamp = [](time_t when, const char* extension, bool card = false,
                        long shift = 0) {
    char name[40];
    when -= shift;
    strftime(name, sizeof name, "%Y-%m-%d %H-%M-%S.",
             card ? gmtime(&when) : localtime(&when));
    return name + std::string(extension);
  };
  const std::string own = stamp(anHourAgo, "txt"),
                    photo = stamp(kLater, "jpg");
  const std::string empty = "2001-01-01 00-00-00.txt";
  const auto card = [&](long shift) {
    return std::map<std::string, std::string>{
        {stamp(anHourAgo, "txt", true, shift), ""},
        {stamp(kLater, "jpg", true, shift), "a"}};
  };
  struct Row {
    const char* type;
    std::vector<int> probeLinks;
    Way way;
    std::map<std::string, std::string> left;
    const char* options = "";
    Way first = Way::kLink;
    std::vector<int> noReplace = {};  // the kernel's rename refused so first
  };
  for (const Row& row : std::vector<Row>{
           {"", {}, Way::kLink, {{own, ""}, {photo, "a"}}},
           {"fuse.sshfs", {}, Way::kLink, {{own, ""}, {photo, "a"}}},
           {"fuseblk", {}, Way::kLink, {{own, ""}, {photo, "a"}}},
           {"fuse.fusefat", {}, Way::kLink, {{own, ""}, {photo, "a"}}},
           {"fuse.rclone", {}, Way::kLink, {{own, ""}, {photo, "a"}}},
           {"", {ENOSYS}, Way::kReserve, {{own, ""}, {photo, "a"}}},
           {"fuse.sshfs", {ENOSYS}, Way::kReserve, {{photo, "a"}}},
           {"fuseblk", {ENOSYS}, Way::kReserve, {{photo, "a"}}},
           {"fuse.smbnetfs", {ENOSYS}, Way::kReserve, {{photo, "a"}}},
           {"fuse.rclone", {ENOSYS}, Way::kNone, {{empty, ""}, {"a.jpg", "a"}}},
           {"fuse.sshfs", {ENOSPC}, Way::kLink, {{own, ""}, {photo, "a"}}},
           {"", {}, Way::kLink, {{own, ""}, {photo, "a"}}, "", Way::kNoReplace,
            {EINVAL}},
           // Refused for this file, not for want of the way: it keeps its
           // name, the next number is no answer.
           {"", {}, Way::kNoReplace, {{empty, ""}, {photo, "a"}}, "",
            Way::kNoReplace, {EPERM}},
           {"fuse.sshfs", {}, Way::kLink, {{own, ""}, {photo, "a"}}, "",
            Way::kNoReplace, {ENOSYS}},
           {"fuse.sshfs", {ENOSYS}, Way::kReserve, {{photo, "a"}}, "",
            Way::kNoReplace, {EOPNOTSUPP}},
           {"cifs", {}, Way::kReserve, {{photo, "a"}}, "", Way::kNoReplace},
           {"smb3", {ENOSYS}, Way::kReserve, {{photo, "a"}}, "", Way::kNoReplace},
           {"fuse.gvfsd-fuse", {}, Way::kNone, {{empty, ""}, {"a.jpg", "a"}}, "",
            Way::kNoReplace},
           {"fuse.kio-fuse", {}, Way::kNone, {{empty, ""}, {"a.jpg", "a"}}, "",
            Way::kNoReplace},
           {"vfat", {}, Way::kNoReplace, card(-3600), "rw,shortname=mixed",
            Way::kNoReplace},
           {"vfat", {}, Way::kNoReplace, card(0), "rw,tz=UTC", Way::kNoReplace},
           {"msdos", {}, Way::kNoReplace, card(18000), "rw,time_offset=-300",
            Way::kNoReplace},
       }) {
    const std::string at =
        std::string(row.type) +
        (row.probeLinks.empty()
             ? ""
             : ", probe's link errno " + std::to_string(row.probeLinks[0])) +
        (row.noReplace.empty()
             ? ""
             : ", kernel's rename errno " + std::to_string(row.noReplace[0]));
    InScratchFolder here;
    WriteFile(here.rename() / empty, "", anHourAgo);
    WriteFile(here.rename() / "a.jpg", "a", kLater);
    // Where no way is known before the first rename, nothing is made: no
    // hidden file, which a cloud drive would upload, and a kill leave.
    const bool noWay = row.way == Way::kNone && row.first == Way::kNoReplace;
    SetModified(here.rename(), kEarly);
    WayPlatform platform(row.first, {.mountType = row.type,
                                     .mountOptions = row.options,
                                     .kernelMinutesWest = -60,
                                     .probeLinks = row.probeLinks,
                                     .noReplace = row.noReplace});
    EXPECT_EQ(Main(platform), row.left.count(empty) ? kSomeKept : kAllNamed)
        << at;
    if (noWay) {
      EXPECT_EQ(ModifiedOf(here.rename()), kEarly) << at << ": a file made";
    }
    EXPECT_EQ(platform.way(), row.way) << at;
    EXPECT_EQ(platform.RenamesKeepTimes(),
              std::string(row.type).rfind("fuse", 0) != 0)
        << at;
    EXPECT_EQ(Snapshot(here.rename()), row.left) << at;
  }

  // Two links of one file are one file by their numbers where the probe
  // finds links numbered alike; where it finds each name numbered apart
  // (sshfs, mergerfs), only by a mark, which here none can be had of. A
  // kernel's file system numbers files, and is not probed. Where a FUSE
  // kind's probe finds links refused, its numbers prove nothing: no two
  // names there are one file.
  struct Proven {
    const char* type;
    bool numbersPerName;
    Sameness sameness;
    std::vector<int> probeLinks = {};
  };
  for (const Proven& row : std::initializer_list<Proven>{
           {"", true, Sameness::kSame},
           {"fuse.sshfs", false, Sameness::kSame},
           {"fuse.sshfs", true, Sameness::kUnproven},
           {"fuse.sshfs", false, Sameness::kOther, {ENOSYS}},
       }) {
    InScratchFolder here;
    WriteFile(here.rename() / "a.jpg", "a", kLater);
    fs::create_hard_link(here.rename() / "a.jpg", here.rename() / "b.jpg");
    WayPlatform platform(Way::kLink, {.marks = Marked::kNoMark,
                                      .mountType = row.type,
                                      .probeLinks = row.probeLinks,
                                      .numbersPerName = row.numbersPerName});
    ListAll(platform);
    EXPECT_EQ(platform.SameFile("a.jpg", "b.jpg"), row.sameness)
        << row.type << (row.numbersPerName ? ", numbered per name" : "")
        << (row.probeLinks.empty() ? "" : ", links refused");
  }

  // The folder is flushed once where a name changed; a medium that fails
  // to take the names fails the run, a file system that cannot flush a
  // folder does not. On the kernel's FAT each renamed file is flushed as
  // it is renamed, and a failure there fails the run though the folder's
  // flush holds.
  for (const char* type : {"", "vfat"}) {
    const bool card = *type != '\0';
    const std::string named = card ? stamp(kLater, "jpg", true) : photo;
    for (const int error : {0, EIO, ENOSPC, EDQUOT, EINVAL}) {
      for (const bool changed : {true, false}) {
        InScratchFolder here;
        WriteFile(here.rename() / (changed ? "a.jpg" : named), "a", kLater);
        int flushes = 0;
        const auto flush = [&](int fd) {
          struct stat st;
          ++flushes;
          return card && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) ? 0
                                                                     : error;
        };
        WayPlatform platform(Way::kNoReplace,
                             {.mountType = type, .flush = flush});
        const bool fails = changed && error != 0 && error != EINVAL;
        EXPECT_EQ(Main(platform), fails ? kSomeKept : kAllNamed)
            << type << error;
        EXPECT_EQ(flushes, changed ? 1 + card : 0) << type << error;
      }
    }
  }
}

// Run by the mounted file system tests, which know what each file system
// allows.
TEST(SystemPlatformTest, SettlesOnTheWayTheFileSystemAllows) {
  const int expected = Environment().way;
  if (expected == 0)
    GTEST_SKIP() << "only on a mounted file system of a known kind";
  InScratchFolder here;
  WriteFile(here.rename() / "a.jpg", "a", kEarly);
  WriteFile(here.rename() / "b.jpg", "b", kLater);
  WayPlatform platform(Way::kNoReplace);  // as a run starts
  ListAll(platform);

  // What the renames leave, the contract checks on every way.
  EXPECT_TRUE(RenameNow(platform, "a.jpg", "c.jpg").ok());
  EXPECT_EQ(RenameNow(platform, "b.jpg", "c.jpg").failure, Failure::kTaken);
  EXPECT_EQ(static_cast<int>(platform.way()), expected);
}

}  // namespace
