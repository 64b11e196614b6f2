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

// A turn's time is a token drawn at random, in 1971 to 1999, new at each
// renewal: who holds it and whether it is renewed show in one reading of
// its attributes. Its holder's own time, once the turn is its own, is a
// time no other run gives it.
constexpr time_t kTokenFrom = 31536000;
constexpr time_t kTokenSpan = 915148800 - kTokenFrom;

/// Whether `time` is a token, not a time a share gave the file itself (a
/// share that closes a written file late stamps it with that close).
bool IsToken(std::int64_t time) {
  return time >= kTokenFrom && time < kTokenFrom + kTokenSpan;
}

std::int64_t NewToken() {
  std::random_device random;
  return kTokenFrom + static_cast<time_t>(random() % kTokenSpan);
}

/// Dates the turn file `name` with `token`: 0 or the failure.
int Stamp(int fd, const char* name, std::int64_t token) {
  const FileTimes times{token, 0, token, 0, 0, 0};
  return SetTimesAt(fd, name, times);
}

/// The token the turn file `name` bears, read past the caches; -1 where it
/// cannot be read (gone).
std::int64_t TokenOf(int fd, const char* name) {
  struct stat st;
  return StatNow(fd, name, &st) == 0 ? st.st_mtim.tv_sec : -1;
}

/// Whether the turn file says it is held by a run of this machine that is
/// no longer there.
bool HolderGone(int fd) {
  const int file = openat(fd, kTurnName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (file < 0)
    return false;
  char content[512];
  const ssize_t got = read(file, content, sizeof content - 1);
  close(file);
  if (got <= 0)
    return false;
  content[got] = '\0';
  char host[300] = "", mine[256] = "";
  long pid = 0;
  gethostname(mine, sizeof mine - 1);
  if (std::sscanf(content, "stampname turn %ld %299s", &pid, host) != 2 ||
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
  if (!create)
    create = [](int dirFd, const char* name) {
      return openat(dirFd, name,
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0600);
    };
  if (!folder_.turns || !TakesTurns(folder_.Kind()))
    return 0;
  // Watched: the token the turn bore, since when by this run's clock, and
  // whether its holder is a run of this machine no longer there.
  std::int64_t seen = -1, since = 0;
  bool gone = false;
  for (;;) {
    // A share that cannot make it (read-only, say) renames nothing either:
    // the run goes on without.
    const int made = Make();
    if (made == 0)
      return 0;
    // sshfs answers a create of a name another client made meanwhile with
    // EPERM, not EEXIST: taken all the same while the turn is there.
    const std::int64_t token = TokenOf(folder_.fd(), kTurnName);
    if (made != EEXIST && token < 0)
      return 0;
    if (CaughtStopSignal() != 0)
      return EINTR;
    if (token < 0)
      continue;  // given up meanwhile: made again
    if (token != seen) {
      // Judged after a wait: its content was just read through this mount,
      // which may not have let go of it yet.
      seen = token;
      since = clock();
      gone = HolderGone(folder_.fd());
    } else if (gone || clock() - since >= staleSeconds) {
      const Away away = TakeAway(token);
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
  const int file = create(fd, kTurnName);
  if (file < 0)
    return errno;
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  char content[400];
  const int length =
      std::snprintf(content, sizeof content, "stampname turn %ld %s\n",
                    static_cast<long>(getpid()), host);
  const bool written = write(file, content, static_cast<std::size_t>(length)) ==
                       length;
  const bool closed = close(file) == 0;
  folder_.changed = true;
  const std::int64_t token = NewToken();
  if (!written || !closed || Stamp(fd, kTurnName, token) != 0) {
    const int error = errno != 0 ? errno : EIO;
    unlinkat(fd, kTurnName, 0);  // no run's: nothing else can be under it
    return error == EEXIST ? EIO : error;
  }
  token_ = token;
  renewed_ = clock();
  return 0;
}

bool Turn::Mine(std::int64_t seen) const {
  // Stamped by the share's late close of the write that made it: no other
  // run's, which would bear a token (another run makes one only once this
  // one's is taken away).
  return seen == token_ || (seen >= 0 && !IsToken(seen));
}

Turn::Away Turn::TakeAway(std::int64_t token) {
  const int fd = folder_.fd();
  const std::string aside = folder_.Aside(HiddenRole::kTurn);
  if (renameat(fd, kTurnName, fd, aside.c_str()) != 0)
    return errno == ENOENT ? Away::kTaken  // another took it away first
                           : Away::kCannot;
  const std::int64_t seen = TokenOf(fd, aside.c_str());
  if (seen == token || (token == token_ && Mine(seen))) {
    folder_.DropAside(aside);
    return Away::kTaken;
  }
  // Another run's, made or renewed since: back where it was. Where a third
  // was made meanwhile, the one moved goes, and its holder finds its turn
  // lost.
  if (linkat(fd, aside.c_str(), fd, kTurnName, 0) == 0 || errno == EEXIST)
    unlinkat(fd, aside.c_str(), 0);
  else
    renameat(fd, aside.c_str(), fd, kTurnName);
  return Away::kOthers;
}

bool Turn::Renew() {
  if (token_ < 0 || lost_)
    return !lost_;
  const std::int64_t now = clock();
  if (now - renewed_ < renewSeconds)
    return true;
  const int fd = folder_.fd();
  const std::int64_t token = NewToken();
  if (!Mine(TokenOf(fd, kTurnName)) || Stamp(fd, kTurnName, token) != 0) {
    lost_ = true;
    return false;
  }
  token_ = token;
  renewed_ = now;
  return true;
}

void Turn::Release() {
  if (token_ < 0)
    return;
  // Where the share moves nothing aside, no waiter can take the turn over
  // either: this run's own, it goes by its name.
  if (!lost_ && TakeAway(token_) == Away::kCannot &&
      Mine(TokenOf(folder_.fd(), kTurnName)))
    unlinkat(folder_.fd(), kTurnName, 0);
  token_ = -1;
}
