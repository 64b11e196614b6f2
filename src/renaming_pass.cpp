#include "renaming_pass.h"

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "folder_names.h"
#include "new_name.h"
#include "platform/platform.h"

namespace {

using Index = FolderNames::Index;

/// How often a file's time is read while it keeps changing under its
/// rename; then it keeps its name.
constexpr int kMaxTimeReads = 3;

/// Seconds within which a file's time could be the time of its rename:
/// FAT's two-second steps, the time between the two, and a share's clock.
constexpr std::int64_t kClockSlack = 10;

bool SameModified(const FileTimes& a, const FileTimes& b) {
  return a.modifiedSeconds == b.modifiedSeconds &&
         a.modifiedNanoseconds == b.modifiedNanoseconds;
}

/// Whether the time a file shows after its rename tells that the rename
/// reset it: it changed, to about now, and it is still the file that was
/// read (a write meanwhile, in place or as a new version, changes its size
/// or its number, and keeps its new time).
bool ResetByRename(const FileTimes& before, const FileTimes& after,
                   std::int64_t now) {
  return !SameModified(before, after) && std::abs(after.modifiedSeconds - now) <= kClockSlack &&
         after.size == before.size &&
         (before.id == 0 || after.id == 0 || after.id == before.id);
}

/// How one rename attempt ended.
enum class Attempt {
  kMoved,    // the file took the name
  kTaken,    // the name was taken: the next number may serve
  kChanged,  // the file changed since its time was read
  kOver,     // the file is done with: kept or gone
};

/// Whether the file system keeps a file's times through a rename: found
/// out at a rename of a file not dated about now.
enum class Times {
  kUnknown,  // read before and after each rename until a file tells
  kKept,     // renames keep them
  kReset,    // renames reset them: each renamed file gets its times back
  kLost,     // one could not be put back: no more renames, to erase no more
};

/// The files of one second (stamp names of other times apart): the lowest
/// number that may still be free for each extension (but for case), and
/// whether names given must count as taken. While a second is named, its
/// names are only ever taken, never freed: the numbers below are known
/// taken.
struct Second {
  /// Names given are only ever wanted by files of the same second; a file
  /// alone in it need not enter its new name (the rename would still
  /// refuse it, were it wanted after all). So only a second of one file
  /// forgets them, and its lowest numbers matter to no other file.
  bool remember = true;
  std::vector<std::pair<std::string_view, int>> lowest;

  int& LowestFree(std::string_view extension) {
    for (auto& [known, number] : lowest)
      if (SameButForCase(known, extension))
        return number;
    return lowest.emplace_back(extension, 1).second;
  }
};

class Pass {
 public:
  explicit Pass(Platform& platform) : platform_(platform) {}

  ExitStatus Run();

 private:
  void ReadTime(Index index);
  void DropLeftoverName(Index index);
  /// Where a stopped run left a file under a hidden name, the name it was
  /// headed for; empty for any other file.
  std::string_view HeadedFor(Index index) const;
  void ResumeHeaded();
  std::vector<Index> RenamingOrder() const;
  void NameShot(Second& second, std::span<const Index> shot);
  /// Names the file on its own from `number` on, reading its time again
  /// first where it `changed`.
  void NameFile(Second& second, Index index, int number, bool changed);
  /// The lowest number from `from` on at which every name of `shot` is
  /// free (shot_.names holds them), or 0.
  int ShotNumber(std::span<const Index> shot, int from);
  /// Moves the files of `named` that took number `from` on to `to`.
  bool MoveOn(Second& second, std::span<const Index> named, int from, int to);
  /// Renames the file, from its listed name or `from`, to `to`, the name
  /// of attempt `number`.
  Attempt Try(Second& second, Index index, int number, std::string to,
              std::string from = {});
  void KeepTimes(const std::string& newName, bool haveBefore,
                 const FileTimes& before);

  Platform& platform_;
  FolderNames folder_;
  Times times_ = Times::kUnknown;
  // Files under hidden names of a stopped run, by index, with the names
  // they were headed for. Rare: a vector searched in order.
  std::vector<std::pair<Index, std::string>> headed_;
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
    return kNoFolder;
  if (platform_.RenamesKeepTimes())
    times_ = Times::kKept;
  while (!entry.fileName.empty()) {
    const Index index =
        folder_.Add(entry.fileName, entry.ordinary, entry.privatePart);
    if (!entry.headedFor.empty())
      headed_.emplace_back(index, entry.headedFor);
    if (!platform_.ListNext(&entry).ok()) {
      cutListing_ = true;  // the rest of the folder could not be read
      break;
    }
  }

  for (Index index = 0; index < folder_.size() && !platform_.Stopped();
       ++index)
    if (folder_[index].state == FileState::kPending) {
      ReadTime(index);
      DropLeftoverName(index);
    }
  ResumeHeaded();

  // For each second, for each shot of it, name it.
  const std::vector<Index> order = RenamingOrder();
  for (auto first = order.begin(); first != order.end();) {
    const ListedFile& head = folder_[*first];
    const auto end = std::find_if(first, order.end(), [&](Index index) {
      return folder_[index].time != head.time ||
             folder_[index].stampShaped != head.stampShaped;
    });
    // Files that free stamp names come before the others of their time.
    Second second{head.stampShaped || end - first > 1, {}};
    for (auto shot = first; shot != end;) {
      const auto last = std::find_if(shot, end, [&](Index index) {
        return folder_[index].shot() != folder_[*shot].shot();
      });
      NameShot(second, {shot, last});
      shot = last;
    }
    first = end;
  }
  // Names that may not be on the medium are no success either.
  const bool flushed = platform_.Flush().ok();
  return cutListing_ || times_ == Times::kLost || folder_.AnyKept() || !flushed
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

std::string_view Pass::HeadedFor(Index index) const {
  for (const auto& [hidden, name] : headed_)
    if (hidden == index)
      return name;
  return {};
}

void Pass::ResumeHeaded() {
  // A file a stopped run left under a hidden name goes first to the name
  // it was headed for, where that is still its name to take: a shot's
  // files then share their number again.
  for (const auto& [index, name] : headed_) {
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

void Pass::DropLeftoverName(Index index) {
  // A file that already bears a name of its own under another link (left by
  // a run stopped between linking the new name and dropping the old) makes
  // no further name, which would only pile up beside it: the run drops the
  // old name, as the stopped run would have. Where that is refused, or the
  // file system cannot prove the two names one file, the file keeps both,
  // and the run says so. The link count cannot tell: FUSE file systems may
  // show a stale one. Only listed names are taken yet, and a first run over
  // a camera's names lists none of its own; the check costs a stat pair
  // where one is.
  //
  // A hidden name a stopped run left is judged against the one name it
  // records alone: the likeness of a duplicate under another number proves
  // nothing. Two names that may be one file but cannot be proven so are two
  // files: the second is named as a duplicate would be.
  if (folder_[index].state != FileState::kPending)
    return;
  const std::string name(folder_[index].name);
  const auto drop = [&](const std::string& other) {
    if (platform_.RemoveSecondName(name, other).ok())
      folder_.Vanished(index);
    else
      folder_.Kept(index);
  };
  // The name it records may be any (the old name it was being put back
  // to): asked of the folder, not of the names listed.
  if (const std::string headed(HeadedFor(index)); !headed.empty()) {
    if (platform_.SameFile(name, headed) == Sameness::kSame)
      drop(headed);
    return;
  }
  if (!folder_.AnyStampedListed())
    return;
  for (int number = 1; number <= kMaxAttempts; ++number) {
    const std::string own = folder_.NewNameOf(index, number);
    if (folder_.Taken(own) && platform_.SameFile(name, own) == Sameness::kSame) {
      drop(own);
      return;
    }
  }
}

std::vector<Index> Pass::RenamingOrder() const {
  // Files bearing a stamp name of another time go first: the names they
  // free may be the very ones the others want, so one run gives what a
  // second would. Then by time, shot and name, whatever order the folder
  // listed them in. The first two in one number, so that most comparisons
  // end there.
  std::vector<std::pair<std::uint64_t, Index>> keyed;
  for (Index index = 0; index < folder_.size(); ++index) {
    const ListedFile& file = folder_[index];
    if (file.state == FileState::kPending)
      keyed.emplace_back(file.time | std::uint64_t{!file.stampShaped} << 63, index);
  }
  std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
    if (a.first != b.first)
      return a.first < b.first;
    const ListedFile& x = folder_[a.second];
    const ListedFile& y = folder_[b.second];
    return x.shot() != y.shot() ? x.shot() < y.shot() : x.name < y.name;
  });
  std::vector<Index> order;
  order.reserve(keyed.size());
  for (const auto& [key, index] : keyed)
    order.push_back(index);
  return order;
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
  number = ShotNumber(shared, number);
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
        if (const int next = ShotNumber(shared, number + 1);
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

int Pass::ShotNumber(std::span<const Index> shot, int from) {
  std::vector<std::string>& names = shot_.names;
  names.resize(shot.size());
  for (int number = from; number <= kMaxAttempts; ++number) {
    bool free = true;
    for (std::size_t i = 0; i < shot.size() && free; ++i) {
      names[i] = folder_.NewNameOf(shot[i], number);
      free = !folder_.Taken(names[i]);
    }
    if (free)
      return number;
  }
  return 0;
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
      DropLeftoverName(index);
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
  if (times_ == Times::kLost) {
    if (!movingOn)
      folder_.Kept(index);
    return Attempt::kOver;
  }
  const ListedFile& file = folder_[index];
  if (!movingOn)
    from = file.name;
  FileTimes before;
  bool haveBefore = false;
  if (times_ == Times::kUnknown || times_ == Times::kReset) {
    const Outcome read = platform_.ReadTimes(from, &before);
    haveBefore = read.ok();
    // Its times could not be put back, were the rename to reset them.
    if (!haveBefore) {
      if (movingOn)
        return Attempt::kOver;
      if (read.failure == Failure::kGone)
        folder_.Vanished(index);
      else
        folder_.Kept(index);
      return Attempt::kOver;
    }
  }

  // Where the rename may reset the file's times, a record of them first,
  // so that a stop before they are back loses no date. Where they are
  // known to be reset, a file whose times cannot be recorded keeps its
  // name.
  if (haveBefore && !platform_.RecordTimes(to, before).ok() &&
      times_ == Times::kReset) {
    if (!movingOn)
      folder_.Kept(index);
    return Attempt::kOver;
  }
  const Outcome renamed = platform_.Rename(from, to, Unpacked(file.time));
  if (renamed.ok()) {
    folder_.Moved(index, number, to, second.remember);
    if (int& lowest = second.LowestFree(folder_[index].extension());
        lowest == number)
      ++lowest;
    KeepTimes(to, haveBefore, before);
  }
  if (haveBefore)
    platform_.DropTimesRecord();
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

void Pass::KeepTimes(const std::string& newName, bool haveBefore,
                     const FileTimes& before) {
  if (!haveBefore)
    return;
  FileTimes after;
  if (!platform_.ReadTimes(newName, &after).ok()) {
    // Unknown: asked again at the next rename. Known to be reset: put back,
    // or no more renames.
    if (times_ == Times::kReset && !platform_.SetTimes(newName, before).ok())
      times_ = Times::kLost;
    return;
  }
  const std::int64_t now = platform_.Now();
  const bool reset = ResetByRename(before, after, now);
  if (times_ == Times::kUnknown) {
    // A file dated about now cannot tell: a rename that gave it the time
    // of the rename (FAT keeps two-second steps) would leave it as it was.
    // Nor can one whose time changed otherwise (written meanwhile). It
    // keeps its time either way; a later file decides.
    if (!reset && (!SameModified(before, after) ||
                   std::abs(before.modifiedSeconds - now) <= kClockSlack))
      return;
    times_ = reset ? Times::kReset : Times::kKept;
  }
  // Each file judged on its own: one written during its rename keeps its
  // new time. Better to stop renaming than to erase more dates.
  if (times_ == Times::kReset && reset &&
      !platform_.SetTimes(newName, before).ok())
    times_ = Times::kLost;
}

}  // namespace

ExitStatus Main(Platform& platform) {
  Pass pass(platform);
  return pass.Run();
}
