#ifndef STAMPNAME_PLATFORM_POSIX_TURN_H_
#define STAMPNAME_PLATFORM_POSIX_TURN_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/posix/open_folder.h"

/// The folder's turn where its lock does not reach other clients (network
/// shares, FUSE mounts): one hidden file of a fixed name, made exclusively
/// by the run whose turn it is, which says which run of which machine
/// holds it and bears a time drawn for it. The holder renews it as it
/// works, with a new time each time; a waiter takes it over once its holder
/// is gone (a run of this machine no longer there) or it went unrenewed for
/// long. Runs
/// through two mounts, or on two machines, then take turns as runs on one
/// machine do.
class Turn {
 public:
  explicit Turn(OpenFolder& folder) : folder_(folder) {}
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;

  /// Waits for the folder's turn and takes it, where the folder's mount
  /// needs one and the share can make it: 0, or EINTR where a stop came
  /// while waiting.
  int Take();

  /// Renews the turn held, at most every few seconds: false once it is
  /// lost (taken over), after which the run renames nothing more.
  bool Renew();

  /// Gives the turn up, where it is still this run's.
  void Release();

  bool lost() const { return lost_; }

  // How long a turn may go unrenewed, as a waiter's own clock counts it,
  // before it is taken over; how often the holder renews it.
  int staleSeconds = 120;
  int renewSeconds = 5;
  /// The clock waits are counted by, in seconds.
  std::function<std::int64_t()> clock;
  /// Waits a moment between two looks at another run's turn.
  std::function<void()> pause;
  /// Makes the turn file `name` exclusively: its descriptor, or -1 and
  /// errno.
  std::function<int(int dirFd, const char* name)> create;

 private:
  int Make();
  enum class Away { kTaken, kOthers, kCannot };
  /// Takes the turn file away where it still bears `token`: kOthers where
  /// it bears another (put back), kCannot where the share does not let it
  /// be moved.
  Away TakeAway(std::int64_t token);
  /// Whether the turn file, bearing `seen`, is still this run's.
  bool Mine(std::int64_t seen) const;

  OpenFolder& folder_;
  std::int64_t token_ = -1;  // the time this run's turn bears; -1: none held
  std::int64_t renewed_ = 0;
  bool lost_ = false;
};

/// The name of the folder's turn.
extern const char kTurnName[];

#endif  // STAMPNAME_PLATFORM_POSIX_TURN_H_
