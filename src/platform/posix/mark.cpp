// The proof that two names are one file where the file system's numbers
// name names, not files (sshfs, mergerfs): a mark set through one name and
// read through the other as the file system holds it. Likeness is never a
// proof: a copy holds the same bytes and times, and is another file.
#include "platform/posix/mark.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/posix/file_status.h"

namespace {

// Marks are access times in 1971 to 1999, drawn at random for each proof:
// a time no one else gives a file in that instant, and one that tells
// users nothing (the program never reads it otherwise).
constexpr time_t kMarkFrom = 31536000;
constexpr time_t kMarkSpan = 915148800 - kMarkFrom;

/// Reads `name`'s times from the file system itself. sshfs answers for a
/// name from a cache of its own for some seconds, past which the kernel's
/// forced reading does not reach; opening the name reads it anew from the
/// server, and the forced reading then renews the kernel's. 0 or the
/// failure.
int ReadAnew(const MarkCalls& calls, int fd, const char* name,
             FileTimes* times) {
  calls.open(fd, name);
  return calls.times(fd, name, times);
}

}  // namespace

const MarkCalls& SystemMarkCalls() {
  static const MarkCalls calls{
      TimesNow, SetTimesAt, [](int fd, const char* name) {
        if (const int file = openat(
                fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            file >= 0)
          close(file);
      }};
  return calls;
}

/// Whether `name` and `other` are one file: an access time drawn at
/// random is set through `name` and must show through `other`, read from
/// the file system itself. The modified time is set with it as it was
/// read, since some servers (sshfs) put a time not given to now. Then the
/// access time goes back, with the modified time the file shows then: a
/// save during the mark keeps its own. A stop before that leaves only an
/// odd access time. A name this run may not set times of, or not read,
/// proves nothing either way. Two runs do not mark at once: runs take
/// turns, through one mount or two.
Marked MarkShows(int fd, const char* name, const char* other,
                 const MarkCalls& calls) {
  // A name gone meanwhile (another run renamed it) is no longer the file:
  // two names. Any other failure proves nothing either way.
  const auto failed = [](int error) {
    return error == ENOENT ? Marked::kNotShown : Marked::kNoMark;
  };
  FileTimes was;
  if (const int error = calls.times(fd, name, &was); error != 0)
    return failed(error);
  std::random_device random;
  time_t mark = kMarkFrom + static_cast<time_t>(random() % kMarkSpan);
  if (mark == was.accessSeconds)
    ++mark;
  FileTimes marked = was;
  marked.accessSeconds = mark;
  marked.accessNanoseconds = 0;
  if (const int error = calls.set(fd, name, marked); error != 0)
    return failed(error);
  FileTimes seen;
  const int unread = ReadAnew(calls, fd, other, &seen);
  const Marked shows = unread != 0                  ? failed(unread)
                       : seen.accessSeconds == mark ? Marked::kShows
                                                    : Marked::kNotShown;
  FileTimes back = was;
  if (FileTimes now; calls.times(fd, name, &now) == 0 &&
                     (now.modifiedSeconds != was.modifiedSeconds ||
                      now.modifiedNanoseconds != was.modifiedNanoseconds)) {
    back.modifiedSeconds = now.modifiedSeconds;  // saved meanwhile
    back.modifiedNanoseconds = now.modifiedNanoseconds;
  }
  calls.set(fd, name, back);
  // Read anew once the mark is gone, so that no cache goes on showing it
  // through the other name.
  if (shows == Marked::kShows)
    ReadAnew(calls, fd, other, &seen);
  return shows;
}
