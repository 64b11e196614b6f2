#include "renaming_pass.h"

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "folder_names.h"
#include "kept_times.h"
#include "new_name.h"
#include "platform/platform.h"
#include "renaming_order.h"
#include "stopped_runs.h"

namespace {

using Index = FolderNames::Index;

/// How often a file's time is read while it keeps changing under its
/// rename; then it keeps its name.
constexpr int kMaxTimeReads = 3;

/// How one rename attempt ended.
enum class Attempt {
  kMoved,    // the file took the name
  kTaken,    // the name was taken: the next number may serve
  kChanged,  // the file changed since its time was read
  kOver,     // the file is done with: kept or gone
};

class Pass {
 public:
  explicit Pass(Platform& platform)
      : platform_(platform), times_(platform), stopped_(platform, folder_) {}

  ExitStatus Run();

 private:
  void ReadTime(Index index);
  void ResumeHeaded();
  void NameShot(Second& second, std::span<const Index> shot);
  /// Names the file on its own from `number` on, reading its time again
  /// first where it `changed`.
  void NameFile(Second& second, Index index, int number, bool changed);
  /// Moves the files of `named` that took number `from` on to `to`.
  bool MoveOn(Second& second, std::span<const Index> named, int from, int to);
  /// Renames the file, from its listed name or `from`, to `to`, the name
  /// of attempt `number`.
  Attempt Try(Second& second, Index index, int number, std::string to,
              std::string from = {});

  Platform& platform_;
  FolderNames folder_;
  KeptTimes times_;
  StoppedRuns stopped_;
  bool cutListing_ = false;
  // A shot's members, those that go alone, and the shared names: kept to
  // spare allocations per shot.
  struct {
    std::vector<Index> shared, alone;
    std::vector<std::string> names;
  } shot_;
};

ExitStatus Pass::Run() {
  // The whole listing first: every name in the folder is known to be taken
  // before the first rename, and no renamed file can come back from it.
  ListedName entry;
  if (!platform_.ListFirst(&entry).ok())
    // Stopped before the folder was its to list: nothing done, nothing
    // named.
    return platform_.Stopped() ? kSomeKept : kNoFolder;
  times_.Start();
  while (!entry.fileName.empty()) {
    const Index index =
        folder_.Add(entry.fileName, entry.ordinary, entry.privatePart);
    if (!entry.headedFor.empty())
      stopped_.Listed(index, entry.headedFor);
    if (!platform_.ListNext(&entry).ok()) {
      cutListing_ = true;  // the rest of the folder could not be read
      break;
    }
  }

  for (Index index = 0; index < folder_.size() && !platform_.Stopped();
       ++index)
    if (folder_[index].state == FileState::kPending) {
      ReadTime(index);
      stopped_.DropSecondName(index);
    }
  ResumeHeaded();

  // For each second, for each shot of it, name it.
  const Order order = RenamingOrder(folder_);
  for (auto first = order.begin(); first != order.end();) {
    const auto end = SecondEnd(folder_, first, order.end());
    // Files that free stamp names come before the others of their time.
    Second second{folder_[*first].stampShaped || end - first > 1, {}};
    for (auto shot = first; shot != end;) {
      const auto last = ShotEnd(folder_, shot, end);
      NameShot(second, {shot, last});
      shot = last;
    }
    first = end;
  }
  // Names that may not be on the medium are no success either.
  const bool flushed = platform_.Flush().ok();
  return cutListing_ || times_.lost() || folder_.AnyKept() || !flushed
             ? kSomeKept
             : kAllNamed;
}

void Pass::ReadTime(Index index) {
  const ListedFile& file = folder_[index];
  DateTime modified;
  if (const Outcome read = platform_.ModifiedTime(std::string(file.name),
                                                  &modified);
      !read.ok()) {
    // Gone: moved away by someone else (another run, say); it kept nothing,
    // so it is no failure, and its name is free again.
    if (read.failure == Failure::kGone)
      folder_.Vanished(index);
    else
      folder_.Kept(index);
    return;
  }
  if (!Stampable(modified)) {
    folder_.Kept(index);
    return;
  }
  const std::string_view stamp = StampOf(file.name);
  const bool ownName = !stamp.empty() && stamp == Stamp(modified);
  folder_.Timed(index, Packed(modified), ownName);
  // A name the run gives, of another time: it may be a run's reservation,
  // which no run renames or keeps.
  if (file.stampShaped && !ownName) {
    switch (platform_.ReservationAt(std::string(file.name))) {
      case Reservation::kInFlight:
        folder_.Reserved(index);
        break;
      case Reservation::kRemoved:
        folder_.Vanished(index);
        break;
      case Reservation::kSettled:
        ReadTime(index);  // no longer empty: not asked again
        break;
      case Reservation::kNone:
        break;
    }
  }
}

void Pass::ResumeHeaded() {
  // A file a stopped run left under a hidden name goes first to the name
  // it was headed for, where that is still its name to take: a shot's
  // files then share their number again.
  for (const auto& [index, name] : stopped_.headed()) {
    if (platform_.Stopped())
      return;
    if (folder_[index].state != FileState::kPending || folder_.Taken(name))
      continue;
    const int number = NumberOf(name);
    if (number == 0 || folder_.NewNameOf(index, number) != name)
      continue;  // another time now (the file was edited, or the zone)
    Second second;
    if (Try(second, index, number, name) == Attempt::kChanged)
      NameFile(second, index, 1, /*changed=*/true);
  }
}

void Pass::NameShot(Second& second, std::span<const Index> shot) {
  // One number for the whole shot, the lowest at which every member's name
  // is free. Members whose extensions differ only in case cannot share one:
  // the first in name order stays with the shot, the others go alone.
  std::vector<Index>& shared = shot_.shared;
  std::vector<Index>& alone = shot_.alone;
  std::vector<std::string>& names = shot_.names;
  shared.clear();
  alone.clear();
  int number = 1;
  for (const Index index : shot) {
    const std::string_view extension = folder_[index].extension();
    const bool clashes =
        std::any_of(shared.begin(), shared.end(), [&](Index other) {
          return SameButForCase(folder_[other].extension(), extension);
        });
    (clashes ? alone : shared).push_back(index);
    if (!clashes)
      number = std::max(number, second.LowestFree(extension));
  }
  number = ShotNumber(folder_, shared, number, &names);
  if (number == 0) {
    alone.insert(alone.begin(), shared.begin(), shared.end());
    shared.clear();
  }

  for (std::size_t i = 0; i < shared.size(); ++i) {
    const Index index = shared[i];
    switch (Try(second, index, number, std::move(names[i]))) {
      case Attempt::kTaken:
        // Taken after all, by something made meanwhile (another run): the
        // whole shot moves on to the next number free for all its names,
        // the members named already with it. Where that fails, this
        // member alone goes on to its next free number.
        if (const int next = ShotNumber(folder_, shared, number + 1, &names);
            next != 0 && MoveOn(second, {shared.data(), i}, number, next)) {
          number = next;
          --i;  // this member again, at the shot's new number
          break;
        }
        NameFile(second, index, number + 1, /*changed=*/false);
        break;
      case Attempt::kChanged:
        NameFile(second, index, 1, /*changed=*/true);
        break;
      case Attempt::kMoved:
      case Attempt::kOver:
        break;
    }
  }
  for (const Index index : alone)
    NameFile(second, index, 1, /*changed=*/false);
}

bool Pass::MoveOn(Second& second, std::span<const Index> named, int from,
                  int to) {
  for (const Index index : named) {
    if (folder_[index].state != FileState::kMoved ||
        folder_[index].number != from)
      continue;  // gone or kept meanwhile
    if (Try(second, index, to, folder_.NewNameOf(index, to),
            folder_.NewNameOf(index, from)) != Attempt::kMoved)
      return false;
  }
  return true;
}

void Pass::NameFile(Second& second, Index index, int number, bool changed) {
  // Its time has been read once; it is read again each time the file
  // changed under its rename, at most the set number of times in all.
  Second retimed;  // where a new reading moves it to another second
  Second* at = &second;
  for (int reads = 1;;) {
    if (changed) {
      if (reads >= kMaxTimeReads) {
        folder_.Kept(index);  // it would not hold still long enough
        return;
      }
      const std::uint64_t before = folder_[index].time;
      ReadTime(index);
      stopped_.DropSecondName(index);
      ++reads;
      if (folder_[index].state != FileState::kPending)
        return;
      if (folder_[index].time != before)
        at = &retimed;
      number = 1;
    }
    int& lowest = at->LowestFree(folder_[index].extension());
    Attempt attempt = Attempt::kTaken;
    for (number = std::max(number, lowest);
         number <= kMaxAttempts && attempt == Attempt::kTaken; ++number) {
      std::string name = folder_.NewNameOf(index, number);
      if (!folder_.Taken(name))
        attempt = Try(*at, index, number, std::move(name));
      if (attempt == Attempt::kTaken && number == lowest)
        ++lowest;
    }
    if (attempt == Attempt::kTaken)
      folder_.Kept(index);  // all 99 names taken
    if (attempt != Attempt::kChanged)
      return;
    changed = true;
  }
}

Attempt Pass::Try(Second& second, Index index, int number, std::string to,
                  std::string from) {
  // Stopped: the file in hand was finished; this one keeps its name.
  if (platform_.Stopped())
    return Attempt::kOver;
  // A file moving on with its shot stays where it is on any failure.
  const bool movingOn = !from.empty();
  const ListedFile& file = folder_[index];
  if (!movingOn)
    from = file.name;
  if (const Outcome ready = times_.Before(from, to); !ready.ok()) {
    if (movingOn)
      return Attempt::kOver;
    if (ready.failure == Failure::kGone)
      folder_.Vanished(index);
    else
      folder_.Kept(index);
    return Attempt::kOver;
  }
  const Outcome renamed = platform_.Rename(from, to, Unpacked(file.time));
  if (renamed.ok()) {
    folder_.Moved(index, number, to, second.remember);
    if (int& lowest = second.LowestFree(folder_[index].extension());
        lowest == number)
      ++lowest;
  }
  times_.After(to, renamed.ok());
  if (renamed.ok())
    return Attempt::kMoved;
  switch (renamed.failure) {
    case Failure::kTaken:
      folder_.ReportedTaken(to);
      return Attempt::kTaken;
    case Failure::kGone:
      if (!movingOn)
        folder_.Vanished(index);
      return Attempt::kOver;
    case Failure::kChanged:
      return Attempt::kChanged;
    case Failure::kNone:  // handled above
    case Failure::kOther:
      // A refusal that is not about the new name would only repeat for
      // every further name; the file keeps its own.
      if (!movingOn)
        folder_.Kept(index);
      return Attempt::kOver;
  }
  return Attempt::kOver;
}

}  // namespace

ExitStatus Main(Platform& platform) {
  Pass pass(platform);
  return pass.Run();
}
