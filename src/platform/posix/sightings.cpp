// Other runs' empty files: a reservation or probe made moments ago is
// some run's in flight, waited for or left alone; an older one is a
// stopped run's, and goes.
#include "platform/posix/sightings.h"

#include <algorithm>
#include <cerrno>
#include <functional>

#include "platform/posix/file_status.h"
#include "platform/posix/stop_signals.h"

namespace {

/// Waits until `ms` milliseconds have passed since `since` (the monotonic
/// clock), or `done` holds, looking again every tenth of a second. False
/// where a stop signal came first.
bool WaitFor(const struct timespec& since, long long ms,
             const std::function<bool()>& done = nullptr) {
  for (;;) {
    if (CaughtStopSignal() != 0)
      return false;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long rest = ms - (now.tv_sec - since.tv_sec) * 1000 -
                           (now.tv_nsec - since.tv_nsec) / 1000000;
    if (rest <= 0 || (done && done()))
      return true;
    const struct timespec pause = {
        0, static_cast<long>(std::min(rest, 100LL) * 1000000)};
    nanosleep(&pause, nullptr);
  }
}

}  // namespace

/// What `name`, a file under a name the run gives of another time, is:
/// where runs reserve names, an empty one is some run's reservation. One
/// made moments ago is waited for until another run has renamed onto it,
/// taken it away, or left it (stopped): the name then serves as it would
/// have without the stop.
Reservation Sightings::Sighted(const char* name) {
  struct stat st;
  if (!ways_.MayReserve() || StatNow(folder_.fd(), name, &st) != 0 ||
      !EmptyFile(st))
    return Reservation::kNone;
  if (Fresh(st)) {
    struct stat now;
    if (!WaitedOut(st)) {
      InFlight(name, st);  // stopped meanwhile: removed at the end, if stale
      return Reservation::kInFlight;
    }
    if (const int error = StatNow(folder_.fd(), name, &now); error != 0)
      return error == ENOENT ? Reservation::kRemoved : Reservation::kInFlight;
    if (!EmptyFile(now))
      return Reservation::kSettled;
    if (!proof_.SameReservation(now, st))
      return InFlight(name, now) ? Reservation::kInFlight : Sighted(name);
  }
  switch (steps_.RemoveEmpty(name)) {
    case Emptied::kGone:
      return Reservation::kRemoved;
    case Emptied::kNotEmpty:
      return Reservation::kSettled;
    case Emptied::kStays:
      break;
  }
  return Reservation::kInFlight;  // its name stays taken, by it
}

/// Whether `st`, an empty file of some run's, was made too lately to tell
/// whether that run is still about to use it.
bool Sightings::Fresh(const struct stat& st) const {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec - st.st_mtime <= inFlightSeconds &&
         st.st_mtime <= now.tv_sec + inFlightSeconds;
}

/// Waits until the empty file read as `st` is no longer fresh, for no
/// longer than a run takes to use its own (another clock than ours may
/// date it ahead). False where a stop signal cut the wait short.
bool Sightings::WaitedOut(const struct stat& st) const {
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  return WaitFor(start, (inFlightSeconds + 1) * 1000LL,
                 [&] { return !Fresh(st); });
}

/// Whether `name`, an empty file of some run's read as `st`, is fresh: then
/// it is left alone, and removed at the end where it stayed as it was.
bool Sightings::InFlight(const char* name, const struct stat& st) {
  if (!Fresh(st))
    return false;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  sightings_.push_back({name, st, now});
  return true;
}

void Sightings::SightProbe(const char* name) {
  struct stat st;
  if (StatNow(folder_.fd(), name, &st) == 0 && EmptyFile(st) &&
      !InFlight(name, st))
    steps_.RemoveEmpty(name);
}

void Sightings::RemoveStale() {
  for (const Sighting& sighting : sightings_) {
    // Waited for until it is stale, the wait cut short by a stop signal
    // alone: a stopped run leaves the rest to the next, since a reservation
    // waited for less long may still be another run's in flight.
    if (!WaitFor(sighting.when, inFlightSeconds * 1000LL + 500))
      return;
    struct stat st;
    if (StatNow(folder_.fd(), sighting.name.c_str(), &st) == 0 &&
        proof_.SameReservation(st, sighting.seen))
      steps_.RemoveEmpty(sighting.name.c_str());
  }
}
