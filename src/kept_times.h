#ifndef STAMPNAME_KEPT_TIMES_H_
#define STAMPNAME_KEPT_TIMES_H_

#include <string>

#include "platform/platform.h"

/// A file's times through its rename: whether the file system keeps them,
/// found out at a rename of a file not dated about now; where it resets
/// them, each renamed file gets them back, and a record of them stands
/// while they are not.
class KeptTimes {
 public:
  explicit KeptTimes(Platform& platform) : platform_(platform) {}

  /// Once the folder is open: whether the platform knows renames keep them.
  void Start();

  /// Before the file under `from` is renamed to `to`: its times read and
  /// recorded where the rename may reset them. Fails where the file must
  /// keep its name (kGone: it is gone).
  Outcome Before(const std::string& from, const std::string& to);

  /// After the rename: the times back on `to` where it `renamed` and the
  /// rename reset them; the record dropped.
  void After(const std::string& to, bool renamed);

  /// Whether a file's times could not be put back, or not be known to be
  /// back: its record is left for a later run. Where they could not be put
  /// back, no more renames, to erase no more dates.
  bool lost() const { return times_ == Times::kLost || left_; }

 private:
  /// Whether the file renamed to `newName` holds its times: put back where
  /// the rename reset them.
  bool PutBack(const std::string& newName);

  enum class Times {
    kUnknown,  // read before and after each rename until a file tells
    kKept,     // renames keep them
    kReset,    // renames reset them: each renamed file gets its times back
    kLost,     // one could not be put back
  };
  Platform& platform_;
  Times times_ = Times::kUnknown;
  FileTimes before_;
  bool haveBefore_ = false;  // `before_` holds the file in hand's times
  bool left_ = false;        // a record was left for a later run
};

#endif  // STAMPNAME_KEPT_TIMES_H_
