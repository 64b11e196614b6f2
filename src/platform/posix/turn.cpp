// The folder's turn on the share itself, where the folder's lock reaches
// only this machine: an exclusive create is refused by the server, whoever
// asks, so at most one run holds it.
#include "platform/posix/turn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/posix/file_status.h"
#include "platform/posix/stop_signals.h"

const char kTurnName[] = ".stampname-0000000000000000-0 turn";

namespace {

/// What a turn file holds: who holds it, unique to the run.
std::string Holder() {
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  std::random_device random;
  char content[400];
  std::snprintf(content, sizeof content, "stampname turn %08x%08x %ld %s\n",
                static_cast<unsigned>(random()),
                static_cast<unsigned>(random()),
                static_cast<long>(getpid()), host);
  return content;
}

/// The turn file's content as the share holds it, read anew; empty where
/// it cannot be read.
std::string ReadTurn(int fd, const char* name) {
  const int file = openat(fd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (file < 0)
    return {};
  char buffer[512];
  const ssize_t got = read(file, buffer, sizeof buffer);
  close(file);
  return got > 0 ? std::string(buffer, static_cast<std::size_t>(got))
                 : std::string();
}

/// Whether `content` names a run of this machine that is no longer there.
bool HolderGone(const std::string& content) {
  char run[32], host[300] = "";
  long pid = 0;
  char mine[256] = "";
  gethostname(mine, sizeof mine - 1);
  if (std::sscanf(content.c_str(), "stampname turn %31s %ld %299s", run, &pid,
                  host) != 3 ||
      pid <= 0)
    return false;
  return std::string(host) == mine && kill(static_cast<pid_t>(pid), 0) != 0 &&
         errno == ESRCH;
}

std::int64_t MonotonicSeconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec;
}

}  // namespace

int Turn::Take() {
  if (!clock)
    clock = MonotonicSeconds;
  if (!pause)
    pause = [] { usleep(500000); };
  if (!folder_.turns || !TakesTurns(folder_.Kind()))
    return 0;
  // Watched: what the turn said, and since when by this run's clock.
  std::string seen;
  struct stat seenStat {};
  std::int64_t since = 0;
  for (;;) {
    // A share that cannot make it (read-only, say) renames nothing either:
    // the run goes on without.
    const int made = Make();
    if (made != EEXIST)
      return 0;
    if (CaughtStopSignal() != 0)
      return EINTR;
    const std::string content = ReadTurn(folder_.fd(), kTurnName);
    struct stat now {};
    if (content.empty() || StatNow(folder_.fd(), kTurnName, &now) != 0)
      continue;  // given up meanwhile, or half made: looked at again
    if (content != seen || !SameAttributes(now, seenStat)) {
      seen = content;
      seenStat = now;
      since = clock();
    }
    if (HolderGone(content) || clock() - since >= staleSeconds) {
      const Away away = TakeAway(content);
      if (away == Away::kTaken)
        continue;  // then made anew, if no other waiter is first
      // A turn left that cannot be taken away: the run goes on without,
      // as where the share makes none.
      if (away == Away::kCannot)
        return 0;
    }
    pause();
  }
}

int Turn::Make() {
  const int fd = folder_.fd();
  const int file = openat(
      fd, kTurnName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
      0600);
  if (file < 0)
    return errno;
  const std::string content = Holder();
  const bool written =
      write(file, content.data(), content.size()) ==
      static_cast<ssize_t>(content.size());
  const bool closed = close(file) == 0;
  folder_.changed = true;
  if (!written || !closed) {
    const int error = errno != 0 ? errno : EIO;
    unlinkat(fd, kTurnName, 0);  // no run's: nothing else can be under it
    return error;
  }
  mine_ = content;
  renewed_ = clock();
  return 0;
}

Turn::Away Turn::TakeAway(const std::string& content) {
  const int fd = folder_.fd();
  const std::string aside = folder_.Aside(HiddenRole::kTurn);
  if (renameat(fd, kTurnName, fd, aside.c_str()) != 0)
    return errno == ENOENT ? Away::kTaken  // another took it away first
                           : Away::kCannot;
  if (ReadTurn(fd, aside.c_str()) == content) {
    folder_.DropAside(aside);
    return Away::kTaken;
  }
  // Another run's, made since: back where it was. Where a third was made
  // meanwhile, the one moved goes, and its holder finds its turn lost.
  if (linkat(fd, aside.c_str(), fd, kTurnName, 0) == 0 || errno == EEXIST)
    unlinkat(fd, aside.c_str(), 0);
  else
    renameat(fd, aside.c_str(), fd, kTurnName);
  return Away::kOthers;
}

bool Turn::Renew() {
  if (mine_.empty() || lost_)
    return !lost_;
  const std::int64_t now = clock();
  if (now - renewed_ < renewSeconds)
    return true;
  const int fd = folder_.fd();
  if (ReadTurn(fd, kTurnName) != mine_) {
    lost_ = true;
    return false;
  }
  const struct timespec times[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
  utimensat(fd, kTurnName, times, AT_SYMLINK_NOFOLLOW);
  renewed_ = now;
  return true;
}

void Turn::Release() {
  if (mine_.empty())
    return;
  // Where the share moves nothing aside, no waiter can take the turn over
  // either: this run's own, it goes by its name.
  if (!lost_ && TakeAway(mine_) == Away::kCannot &&
      ReadTurn(folder_.fd(), kTurnName) == mine_)
    unlinkat(folder_.fd(), kTurnName, 0);
  mine_.clear();
}
