// The proof that two names are one file where the file system's numbers
// name names, not files (sshfs, mergerfs): a mark set through one name and
// read through the other as the file system holds it. Likeness is never a
// proof: a copy holds the same bytes and times, and is another file.
//
// The mark is the file's sticky bit, which means nothing on an ordinary
// file. A time would do as well, but a save relies on the modified time,
// and a time cannot be set alone everywhere: sshfs sets both, the other to
// now unless given, and to the whole second only.
#include "platform/posix/mark.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/file_status.h"

namespace {

constexpr mode_t kMark = S_ISVTX;
constexpr mode_t kModeBits = 07777;

/// Reads `name`'s status from the file system itself. sshfs answers for a
/// name from a cache of its own for some seconds, past which the kernel's
/// forced reading does not reach; opening the name reads it anew from the
/// server, and the forced reading then renews the kernel's. 0 or the
/// failure.
int ReadAnew(const MarkCalls& calls, int fd, const char* name,
             struct stat* st) {
  calls.open(fd, name);
  return calls.status(fd, name, st);
}

}  // namespace

const MarkCalls& SystemMarkCalls() {
  static const MarkCalls calls{
      StatNow, SetModeAt, [](int fd, const char* name) {
        if (const int file = openat(
                fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            file >= 0)
          close(file);
      }};
  return calls;
}

/// The mark turns the file's sticky bit over through `name`; it must show
/// through `other`, read from the file system itself, then go from it once
/// turned back. Two turns seen through the other name, each in its
/// instant: another file would have to follow both. Runs take turns,
/// through one mount or two, so no other run marks meanwhile. A stop in
/// the middle leaves only the bit turned over. A name this run may not
/// change the mode of, a file system that keeps no such bit, or a failed
/// reading proves nothing either way.
Marked MarkShows(int fd, const char* name, const char* other,
                 const MarkCalls& calls) {
  // A name gone meanwhile (another run renamed it) is no longer the file:
  // two names. Any other failure proves nothing either way.
  const auto failed = [](int error) {
    return error == ENOENT ? Marked::kNotShown : Marked::kNoMark;
  };
  struct stat was;
  if (const int error = calls.status(fd, name, &was); error != 0)
    return failed(error);
  if (!S_ISREG(was.st_mode))
    return Marked::kNoMark;
  const mode_t unmarked = was.st_mode & kModeBits;
  const mode_t marked = unmarked ^ kMark;
  const auto showsMark = [marked](const struct stat& st) {
    return (st.st_mode & kMark) == (marked & kMark);
  };
  if (const int error = calls.set(fd, name, marked); error != 0)
    return failed(error);
  struct stat seen;
  Marked shows = Marked::kNoMark;
  if (const int error = calls.status(fd, name, &seen); error != 0)
    shows = failed(error);
  else if (showsMark(seen)) {
    const int unread = ReadAnew(calls, fd, other, &seen);
    shows = unread != 0       ? failed(unread)
            : showsMark(seen) ? Marked::kShows
                              : Marked::kNotShown;
  }
  // Turned back only where still as marked: a file saved anew under the
  // name meanwhile keeps the mode it was given, and so does any other
  // change of mode made meanwhile.
  struct stat now;
  const bool back =
      calls.status(fd, name, &now) == 0 && S_ISREG(now.st_mode) &&
      (!showsMark(now) ||
       calls.set(fd, name, (now.st_mode & kModeBits) ^ kMark) == 0);
  if (shows != Marked::kShows)
    return shows;
  // The other name must follow the mark back too; read anew, which also
  // keeps any cache from showing the mark through it later.
  return back && ReadAnew(calls, fd, other, &seen) == 0 && !showsMark(seen)
             ? Marked::kShows
             : Marked::kNoMark;
}
