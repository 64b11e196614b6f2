// Runs through two mounts of one share, where the folder's lock reaches
// neither, take turns by a file on the share.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/posix/mount_kind.h"
#include "platform/posix/turn.h"
#include "platform_contract.h"
#include "renaming_pass.h"
#include "scratch_folder.h"
#include "way_platform.h"

namespace {

/// A run through its own mount of a share (as sshfs mounts one), with a
/// clock of its own that each wait moves on.
struct ShareRun {
  explicit ShareRun(std::int64_t* clock)
      : platform(Way::kNoReplace,
                 {.lock = false, .turns = true, .mountType = "fuse.sshfs"}) {
    platform.turn().clock = [clock] { return *clock; };
    platform.turn().pause = [this, clock] {
      ++pauses;
      *clock += 10;
    };
  }
  WayPlatform platform;
  int pauses = 0;
};

std::string HostName() {
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  return host;
}

TEST(TurnTest, RunsTakeTurnsAndATurnLeftIsTakenOverOnlyOnceItsHolderIsGone) {
  // A turn another run holds: waited for while it is renewed; taken over
  // after one look where its holder, a run of this machine, is no longer
  // there, and where it went unrenewed for long. Each row's holder is a turn file
  // saying who holds it.
  const pid_t gone = fork();
  if (gone == 0)
    _exit(0);
  waitpid(gone, nullptr, 0);
  struct Row {
    const char* what;
    std::string holder;
    int pauses;  // waits before the turn is this run's
    std::function<int(int, const char*)> create = {};  // the share's
  };
  const std::string here = HostName();
  // sshfs refuses a create of a taken name with EPERM, not EEXIST.
  const auto refusedAsSshfs = [](int dirFd, const char* name) {
    if (faccessat(dirFd, name, F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
      errno = EPERM;
      return -1;
    }
    return openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL, 0600);
  };
  const auto makesNone = [](int, const char*) {
    errno = EACCES;
    return -1;
  };
  for (const Row& row : std::initializer_list<Row>{
           {"none", "", 0},
           {"a run of this machine, gone",
            "stampname turn " + std::to_string(gone) + " " + here + "\n", 1},
           {"a run of this machine, there, unrenewed",
            "stampname turn " + std::to_string(getpid()) + " " + here + "\n",
            12},
           {"another machine's, unrenewed",
            "stampname turn " + std::to_string(gone) + " elsewhere\n", 12},
           {"a run of this machine, there, unrenewed, on sshfs",
            "stampname turn " + std::to_string(getpid()) + " " + here + "\n",
            12, refusedAsSshfs},
           {"none, on a share that makes none", "", 0, makesNone},
       }) {
    InScratchFolder in;
    WriteFile(in.rename() / "a.jpg", "a", kEarly);
    if (!row.holder.empty())
      WriteFile(in.rename() / kTurnName, row.holder, kEarly);
    std::int64_t clock = 0;
    ShareRun run(&clock);
    run.platform.turn().create = row.create;
    EXPECT_EQ(Main(run.platform), kAllNamed) << row.what;
    EXPECT_EQ(run.pauses, row.pauses) << row.what;
    // Given up as the run ends: nothing of the run's is left.
    const auto left = Snapshot(in.rename());
    ASSERT_EQ(left.size(), 1u) << row.what;
    EXPECT_EQ(left.begin()->second, "a") << row.what;
    EXPECT_NE(left.begin()->first, "a.jpg") << row.what;
  }
}

TEST(TurnTest, SharesAndFuseViewsOfServersOrFoldersTakeTurns) {
  // Where the folder's lock reaches this machine only and an exclusive
  // create is the server's; not on a machine's own disks, nor on a FUSE
  // kind not known to be such (a cloud drive, WebDAV), where a turn file
  // would only be one more upload.
  struct Row {
    const char* type;
    const char* source;
    bool turns;
  };
  for (const Row& row : std::initializer_list<Row>{
           {"ext4", "/dev/sda1", false},
           {"vfat", "/dev/sdb1", false},
           {"nfs4", "nas:/photos", true},
           {"cifs", "//nas/photos", true},
           {"fuse.sshfs", "me@nas:", true},
           {"fuse.mergerfs", "pool", true},
           {"fuse", "/srv/photos", true},  // bindfs
           {"fuse", "http://127.0.0.1/dav", false},
           {"fuse.rclone", "drive:", false},
           {"fuseblk", "/dev/sdb1", false},
       }) {
    Mount mount = MountFrom(row.type, "", 0);
    mount.source = row.source;
    EXPECT_EQ(TakesTurns(mount), row.turns) << row.type << " " << row.source;
  }
}

TEST(TurnTest, ARunWhoseTurnWasTakenOverRenamesNoMoreAndSaysSo) {
  InScratchFolder in;
  WriteFile(in.rename() / "a.jpg", "a", kEarly);
  WriteFile(in.rename() / "b.jpg", "b", kLater);
  std::int64_t clock = 0;
  ShareRun first(&clock);
  ListAll(first.platform);
  EXPECT_EQ(ReadFile(in.rename() / kTurnName).rfind(
                "stampname turn " + std::to_string(getpid()) + " ", 0),
            0u);

  // A share that closes the written turn file late stamps it with the
  // time of that close: still the first's.
  SetModified(in.rename() / kTurnName, time(nullptr));
  clock += 10;
  EXPECT_FALSE(first.platform.Stopped());

  // The second waits while the first renews its turn, then, with the first
  // stalled past the time a turn may go unrenewed, takes it over.
  ShareRun second(&clock);
  first.platform.turn().pause = [] {};
  second.platform.turn().pause = [&] {
    clock += 10;
    if (clock < 60) {
      EXPECT_FALSE(first.platform.Stopped());  // renewed
    }
  };
  ListAll(second.platform);
  // The first finds its turn lost: it renames nothing more, fails, and
  // leaves the second's turn alone.
  EXPECT_TRUE(first.platform.Stopped());
  EXPECT_FALSE(first.platform.Flush().ok());
  EXPECT_FALSE(second.platform.Stopped());
  EXPECT_TRUE(fs::exists(in.rename() / kTurnName));
  EXPECT_TRUE(second.platform.Flush().ok());
  EXPECT_FALSE(fs::exists(in.rename() / kTurnName));
}

}  // namespace
