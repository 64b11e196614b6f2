// The steps every way shares that make, move or take away a name where
// other programs may act, each safe by itself, not only after a check.
#include "platform/posix/safe_steps.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

#include "new_name.h"
#include "platform/posix/file_status.h"

Outcome SafeSteps::Reserve(const char* name, struct stat* reserved) {
  bool made;
  const int error = folder_.MakeEmpty(name, reserved, &made);
  if (error == 0)
    return {};
  // Made, but not to be read back: taken away again.
  if (made && RemoveEmpty(name) == Emptied::kStays)
    folder_.leftovers.emplace_back(name, true);
  return made ? Outcome{Failure::kOther, error} : OutcomeOf(error);
}

/// No way makes this rename refuse a file put there meanwhile; the
/// reservation is at least read past the cache just before. Gone or
/// someone else's, it is no failure of the file, which keeps its name;
/// someone else's file is left alone. A reservation the file did not take
/// is removed again, judged by what the share keeps (empty), not by its
/// number, which sshfs hands out anew after a failed rename.
Outcome SafeSteps::OntoReservation(const char* from, const char* to,
                                   const struct stat& reserved) {
  const int fd = folder_.fd();
  struct stat now;
  const int error = StatNow(fd, to, &now);
  if (error == 0 && !proof_.SameReservation(now, reserved)) {
    // Not ours any more: another run took it away, and maybe the file too.
    // Whatever bears the name now is left alone.
    if (GoneNow(fd, from))
      return {Failure::kGone, ENOENT};
    return {Failure::kOther, 0};
  }
  Outcome outcome{Failure::kOther, error};
  if (error == 0) {
    if (renameat(fd, from, fd, to) == 0) {
      folder_.changed = true;
      return {};
    }
    outcome = OutcomeOf(errno);
  }
  // Ours still, or gone: removed again.
  if (RemoveEmpty(to) == Emptied::kStays)
    folder_.leftovers.emplace_back(to, true);
  // The file taken from its name meanwhile, by another run: no failure.
  if (GoneNow(fd, from))
    return {Failure::kGone, ENOENT};
  return outcome;
}

/// One rename takes whatever bears the name at that instant to a private
/// "void" name, where it is judged. A file that is not empty goes back.
Emptied SafeSteps::RemoveEmpty(const char* name) {
  const int fd = folder_.fd();
  const std::string aside = folder_.Aside(HiddenRole::kVoid, name);
  if (renameat(fd, name, fd, aside.c_str()) != 0)
    return errno == ENOENT ? Emptied::kGone : Emptied::kStays;
  folder_.between(RenameStep::kVoid);
  return DropEmptyAside(aside, name);
}

/// Removes the hidden name `aside` of a reservation of `name` where it
/// holds an empty file; a file with content goes back to `name`.
Emptied SafeSteps::DropEmptyAside(const std::string& aside, const char* name) {
  const int fd = folder_.fd();
  struct stat st;
  if (StatNow(fd, aside.c_str(), &st) == 0 && EmptyFile(st))
    return unlinkat(fd, aside.c_str(), 0) == 0 || errno == ENOENT
               ? Emptied::kGone
               : Emptied::kStays;
  PutBack(aside, name, {});
  return Emptied::kNotEmpty;  // someone else's: nothing of ours
}

/// The file stays where it is where `name` was taken meanwhile, and a
/// later run names it. Its own steps: to ".stampname-… to <name>" (stopped
/// there: named by the next run), a link to `name` (stopped there: the
/// hidden name is judged against `name`, and dropped), the hidden name
/// dropped.
Outcome SafeSteps::PutBack(const std::string& hidden, const char* name,
                           Outcome outcome) {
  const int fd = folder_.fd();
  // First a hidden name that records `name` as where it is headed (by its
  // digest where it is long): a run killed after the link below then
  // leaves a second name the next one knows to drop, not a file to name
  // twice. Only where even its extension would not fit is it put back
  // from where it is: a run that found it alone could not tell that.
  std::string aside = hidden;
  const std::string headed = folder_.Aside(HiddenRole::kTo, name);
  if (ExtensionOf(RecordedIn(headed)) == ExtensionOf(name)) {
    if (renameat(fd, hidden.c_str(), fd, headed.c_str()) == 0)
      aside = headed;
    else if (errno == ENOENT)
      return {Failure::kGone, ENOENT};
    // Refused: put back from where it is.
  }
  if (probe_.links != LinkProbe::Links::kRefused) {
    if (linkat(fd, aside.c_str(), fd, name, 0) == 0) {
      folder_.between(RenameStep::kPutBack);
      if (unlinkat(fd, aside.c_str(), 0) != 0 && errno != ENOENT)
        folder_.leftovers.emplace_back(aside, false);
      return outcome;
    }
    if (errno == ENOENT || errno == EEXIST)
      return {errno == ENOENT ? Failure::kGone : Failure::kOther, errno};
  }
  // No link (none here, or none of another user's file where the system
  // protects them): onto a reservation of the old name, which nothing
  // else can bear by then.
  struct stat reserved;
  if (const Outcome made = Reserve(name, &reserved); !made.ok())
    return {Failure::kOther, made.error};
  const Outcome moved = OntoReservation(aside.c_str(), name, reserved);
  if (moved.ok())
    return outcome;
  return moved.failure == Failure::kGone ? moved : Outcome{Failure::kOther, 0};
}

/// Whatever bears the name at the instant of one rename goes aside and is
/// judged there, where nothing else can replace it; what may not go comes
/// back.
Outcome SafeSteps::DropSecondName(const char* name, const char* other,
                                  bool ours) {
  const int fd = folder_.fd();
  const std::string aside =
      folder_.Aside(ours ? HiddenRole::kTo : HiddenRole::kOf, other);
  if (renameat(fd, name, fd, aside.c_str()) != 0)
    return errno == ENOENT ? Outcome{} : OutcomeOf(errno);
  struct stat moved, kept;
  if (StatNow(fd, aside.c_str(), &moved) == 0 &&
      StatNow(fd, other, &kept) == 0 &&
      proof_.Judge(aside.c_str(), moved, other, kept) == Sameness::kSame) {
    folder_.DropAside(aside);
    return {};
  }
  return PutBack(aside, name, {Failure::kOther, 0});
}

/// Only runs know such a name, and none writes to it. It is judged again
/// under a name of this run's own.
bool SafeSteps::VoidGone(const char* name) {
  struct stat st;
  return StatNow(folder_.fd(), name, &st) != 0 ||
         (EmptyFile(st) && RemoveEmpty(name) != Emptied::kNotEmpty);
}

void SafeSteps::RemoveLeftovers() {
  // Removals may add to the list: they work on a copy.
  const auto pending = std::move(folder_.leftovers);
  for (const auto& [name, empty] : pending)
    if (empty)
      RemoveEmpty(name.c_str());
    else
      unlinkat(folder_.fd(), name.c_str(), 0);
}
