#ifndef STAMPNAME_PLATFORM_PLATFORM_H_
#define STAMPNAME_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "date_time.h"

/// The system's own number for a failure, kept for diagnostics: errno or a
/// Win32 error code. 0 when there is none.
using ErrorState = std::int32_t;

/// What an operation's outcome means to the renaming pass.
enum class Failure {
  kNone,   // it succeeded
  kTaken,  // the new name exists already (a file or a folder)
  kGone,   // the file is no longer there under the name it was listed by
  kChanged,  // the name holds another file, or a changed one, since its
             // time was read: the new name may not fit it
  kOther,  // anything else: refused access, name too long, I/O error, ...
};

/// How a platform operation ended. The platform tells what a failure means
/// where it arises; `error` is the system's number behind it, 0 where the
/// platform's own check found it (a file changed between two steps, say).
struct Outcome {
  Failure failure = Failure::kNone;
  ErrorState error = 0;

  bool ok() const { return failure == Failure::kNone; }
};

/// One name of the folder's listing.
struct ListedName {
  std::string fileName;   // empty at the listing's end
  bool ordinary = false;  // false: a folder, link, hidden or system file...
  // Where a stopped run left the file under a hidden name of its own: that
  // name's own leading part, before which no extension begins.
  std::size_t privatePart = 0;
  // The name that hidden name records: the one its file was headed for, or
  // was a second name of. The file is judged against that name alone.
  std::string headedFor;
};

/// What an empty file under a name the run gives, of another time than its
/// name tells, is.
enum class Reservation {
  kNone,      // a file like any other: it is named
  kInFlight,  // another run's reservation, maybe about to be renamed onto:
              // its name is left alone and counts as taken
  kRemoved,   // a stopped run's reservation, removed: its name is free
  kSettled,   // waited for, it now holds a file: its time is read anew
};

/// What two names are known to hold. Only a proof the file system gives
/// makes them one file; two names that look alike in every byte are two.
enum class Sameness {
  kOther,  // two files, or nothing proves them one
  kSame,   // one file, proven: by the file system's numbers for files, or,
           // where it numbers names (sshfs, mergerfs), by a mark set
           // through one name and seen through the other
  kUnproven,  // alike, and no proof could be had either way: the mark could
              // not be set (another user's file) or read
};

/// A file's access and modification times at the file system's precision,
/// with what tells whether a later reading is of the same file.
struct FileTimes {
  std::int64_t accessSeconds = 0;
  std::int64_t accessNanoseconds = 0;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;
  std::int64_t size = 0;
  std::uint64_t id = 0;  // the file's number; 0 where there is none
};

/// The operations the renaming pass needs from the system, all on the one
/// folder `Rename` of the current directory. Names carry no folder part.
/// Tests replace it with an in-memory folder.
class Platform {
 public:
  virtual ~Platform() = default;

  /// Opens the folder's listing and yields its first name, or an empty name
  /// when it has none. Every name counts, not only ordinary files: a folder
  /// or a hidden file takes a name too. Fails when the folder is missing or
  /// cannot be opened as a folder.
  virtual Outcome ListFirst(ListedName* entry) = 0;

  /// Yields the listing's next name, or an empty name at its end.
  virtual Outcome ListNext(ListedName* entry) = 0;

  /// The file's last-modified time as local wall-clock time.
  virtual Outcome ModifiedTime(const std::string& fileName,
                               DateTime* modified) = 0;

  /// Whether the two names are links of one and the same file.
  virtual Sameness SameFile(const std::string& a, const std::string& b) = 0;

  /// Removes `name`, one of two names of the file that `other` names too.
  /// Refuses, and leaves `name` as it was, unless the removal itself is
  /// proven to take away no file's last name.
  virtual Outcome RemoveSecondName(const std::string& name,
                                   const std::string& other) = 0;

  /// Gives the file the new name, made from the time `stampedFrom`. Never
  /// replaces an existing file or folder: when `to` is taken it fails and
  /// both names stay as they were. A rename in two steps refuses with
  /// kChanged when the file under `from` no longer has that time.
  virtual Outcome Rename(const std::string& from, const std::string& to,
                         const DateTime& stampedFrom) = 0;

  /// The file's times as the file system holds them, past any cache.
  virtual Outcome ReadTimes(const std::string& fileName,
                            FileTimes* times) = 0;

  virtual Outcome SetTimes(const std::string& fileName,
                           const FileTimes& times) = 0;

  /// Leaves a record of `times`, the times of a file about to be renamed to
  /// `name` by a rename that may reset them, so that a run stopped before
  /// they are back leaves the next run what to put back.
  virtual Outcome RecordTimes(const std::string& /*name*/,
                              const FileTimes& /*times*/) {
    return {};
  }

  /// Removes the last record of RecordTimes: the times are back, or there
  /// was no rename to reset them.
  virtual void DropTimesRecord() {}

  /// Leaves the last record of RecordTimes for a later run, which puts its
  /// times back: they could not be put back, or read, here.
  virtual void LeaveTimesRecord() {}

  /// The clock now, in the seconds FileTimes counts.
  virtual std::int64_t Now() = 0;

  /// Whether renames are known to keep a file's times here, so that the
  /// pass need not find out.
  virtual bool RenamesKeepTimes() { return false; }

  /// What `name`, an ordinary file under a name the run gives but not of
  /// its own time, is: an empty one may be a reservation of some run. One
  /// made moments ago is waited for until it tells which.
  virtual Reservation ReservationAt(const std::string&) {
    return Reservation::kNone;
  }

  /// Puts what the run changed on the medium before it ends. Fails where
  /// the medium reports it could not (a failing card, a full disk): the
  /// names may then not be there after a power cut.
  virtual Outcome Flush() { return {}; }

  /// Whether the user asked the run to stop: the pass then finishes the
  /// file in hand and starts no other.
  virtual bool Stopped() { return false; }
};

#endif  // STAMPNAME_PLATFORM_PLATFORM_H_
