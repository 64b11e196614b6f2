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

/// How one rename attempt ended.
enum class Attempt {
  kMoved,    // the file took the name
  kTaken,    // the name was taken: the next number may serve
  kChanged,  // the file changed since its time was read
  kOver,     // the file is done with: kept or gone
};

class Pass {
 public:
  explicit Pass(Platform& platform) : platform_(platform) {}

  ExitStatus Run();

 private:
  void ReadTime(Index index);
  std::vector<Index> RenamingOrder();
  void NameGroup(std::span<const Index> group);
  /// Names the file on its own, from `firstNumber` on; its time has been
  /// read `timeReads` times.
  void NameAlone(Index index, int firstNumber, int timeReads);
  /// Reads the time of a file that changed once more, unless it has been
  /// read often enough; whether it is still to be named.
  bool Retimed(Index index, int timeReads);
  Attempt Try(Index index, int number, std::string to);
  /// The lowest number that may still be free for the file's time and
  /// extension (but for case).
  int& LowestFree(const ListedFile& file);
  void KeepTimes(const std::string& newName, bool haveBefore,
                 const FileTimes& before);
  void Keep(Index index) {
    folder_[index].state = FileState::kKept;
    keptAny_ = true;
  }

  Platform& platform_;
  FolderNames folder_;
  bool keptAny_ = false;
  // Whether the file system keeps a file's times through a rename: found
  // out at the run's first rename. Where it does not, every renamed file
  // gets its times back, and a failure to do so stops the renaming.
  bool timesChecked_ = false;
  bool resetsTimes_ = false;
  bool stopped_ = false;
  bool rememberNames_ = true;  // whether names given now count as taken
  std::uint64_t lowestTime_ = 0;
  bool lowestStamped_ = false;
  // By extension, a view of a listed name.
  std::vector<std::pair<std::string_view, int>> lowest_;
  // A group's members and names, kept to spare an allocation per group.
  std::vector<Index> shared_, alone_;
  std::vector<std::string> names_;
};

ExitStatus Pass::Run() {
  // The whole listing first: every name in the folder is known to be taken
  // before the first rename, and no renamed file can come back from it.
  ListedName entry;
  if (!platform_.ListFirst(&entry).ok())
    return kNoFolder;
  while (!entry.fileName.empty()) {
    folder_.Add(entry.fileName, entry.ordinary, entry.privatePart);
    if (!platform_.ListNext(&entry).ok()) {
      keptAny_ = true;  // the rest of the folder could not be read
      break;
    }
  }

  for (Index index = 0; index < folder_.size(); ++index)
    if (folder_[index].state == FileState::kPending)
      ReadTime(index);

  const std::vector<Index> order = RenamingOrder();
  const auto sameTime = [&](Index a, Index b) {
    return folder_[a].time == folder_[b].time &&
           folder_[a].stamped == folder_[b].stamped;
  };
  for (auto first = order.begin(); first != order.end();) {
    const ListedFile& head = folder_[*first];
    const auto last = std::find_if(first, order.end(), [&](Index index) {
      const ListedFile& file = folder_[index];
      return file.time != head.time || file.shot() != head.shot();
    });
    // Names given are only ever wanted by files of the same time, named
    // right after; a file alone in its second need not enter its new name
    // (the rename would still refuse it, were it wanted after all). Files
    // that free stamp names come before the others of their time.
    rememberNames_ = head.stamped || last - first > 1 ||
                     (first != order.begin() && sameTime(first[-1], *first)) ||
                     (last != order.end() && sameTime(*last, *first));
    NameGroup({first, last});
    first = last;
  }
  return keptAny_ ? kSomeKept : kAllNamed;
}

void Pass::ReadTime(Index index) {
  ListedFile& file = folder_[index];
  DateTime modified;
  const std::string name(file.name);
  if (const Outcome read = platform_.ModifiedTime(name, &modified);
      !read.ok()) {
    // Gone: moved away by someone else (another run, say); it kept nothing,
    // so it is no failure, and its name is free again.
    if (read.failure == Failure::kGone)
      folder_.Vanished(index);
    else
      Keep(index);
    return;
  }
  if (!Stampable(modified)) {
    Keep(index);
    return;
  }
  file.time = Packed(modified);
  const std::string_view stamp = StampOf(file.name);
  file.state = !stamp.empty() && stamp == Stamp(modified) ? FileState::kOwnName
                                                          : FileState::kPending;
  // A file that already bears a name of its own under another link (left by
  // a run stopped between linking the new name and dropping the old) makes
  // no further name, which would only pile up beside it: the run drops the
  // old name, as the stopped run would have. Where that is refused, or the
  // file system cannot prove the two names one file, the file keeps both,
  // and the run says so. The link count cannot tell: FUSE file systems may
  // show a stale one. Only listed names are taken yet, and a first run over
  // a camera's names lists none of its own; the check costs a stat pair
  // where one is.
  if (file.state == FileState::kPending && folder_.AnyStampedListed())
    for (int number = 1; number <= kMaxAttempts; ++number) {
      const std::string own = folder_.NewNameOf(index, number);
      if (!folder_.Taken(own))
        continue;
      const Sameness same = platform_.SameFile(name, own);
      if (same == Sameness::kOther)
        continue;
      if (same == Sameness::kSame &&
          platform_.RemoveSecondName(name, own).ok())
        folder_.Vanished(index);
      else
        Keep(index);
      break;
    }
}

std::vector<Index> Pass::RenamingOrder() {
  // Files bearing a stamp name of another time go first: the names they
  // free may be the very ones the others want, so one run gives what a
  // second would. Then by time, shot and name, whatever order the folder
  // listed them in. The first two in one number, so that most comparisons
  // end there.
  std::vector<std::pair<std::uint64_t, Index>> keyed;
  for (Index index = 0; index < folder_.size(); ++index) {
    const ListedFile& file = folder_[index];
    if (file.state == FileState::kPending)
      keyed.emplace_back(file.time | std::uint64_t{!file.stamped} << 63, index);
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

int& Pass::LowestFree(const ListedFile& file) {
  // While the files of one time are named, names of that time are only
  // ever taken, never freed: the numbers below are known taken.
  if (file.time != lowestTime_ || file.stamped != lowestStamped_) {
    lowestTime_ = file.time;
    lowestStamped_ = file.stamped;
    lowest_.clear();
  }
  const std::string_view extension = file.extension();
  for (auto& [known, number] : lowest_)
    if (SameButForCase(known, extension))
      return number;
  return lowest_.emplace_back(extension, 1).second;
}

void Pass::NameGroup(std::span<const Index> group) {
  // One number for the whole shot, the lowest at which every member's name
  // is free. Members whose extensions differ only in case cannot share one:
  // the first in name order stays with the shot, the others go alone.
  std::vector<Index>& shared = shared_;
  std::vector<Index>& alone = alone_;
  std::vector<std::string>& names = names_;
  shared.clear();
  alone.clear();
  int number = 1;
  for (const Index index : group) {
    const std::string_view extension = folder_[index].extension();
    const bool clashes =
        std::any_of(shared.begin(), shared.end(), [&](Index other) {
          return SameButForCase(folder_[other].extension(), extension);
        });
    (clashes ? alone : shared).push_back(index);
    if (!clashes && rememberNames_)
      number = std::max(number, LowestFree(folder_[index]));
  }
  names.resize(shared.size());
  for (; number <= kMaxAttempts; ++number) {
    bool free = true;
    for (std::size_t i = 0; i < shared.size() && free; ++i) {
      names[i] = folder_.NewNameOf(shared[i], number);
      free = !folder_.Taken(names[i]);
    }
    if (free)
      break;
  }
  if (number > kMaxAttempts) {
    alone.insert(alone.begin(), shared.begin(), shared.end());
    shared.clear();
  }

  for (std::size_t i = 0; i < shared.size(); ++i) {
    const Index index = shared[i];
    switch (Try(index, number, std::move(names[i]))) {
      case Attempt::kTaken:
        // Taken after all, by something made meanwhile: this member alone
        // goes on to its next free number.
        NameAlone(index, number + 1, 1);
        break;
      case Attempt::kChanged:
        if (Retimed(index, 1))
          NameAlone(index, 1, 2);
        break;
      case Attempt::kMoved:
      case Attempt::kOver:
        break;
    }
  }
  for (const Index index : alone)
    NameAlone(index, 1, 1);
}

void Pass::NameAlone(Index index, int firstNumber, int timeReads) {
  for (;; ++timeReads) {
    int unused = 1;
    int& lowest = rememberNames_ ? LowestFree(folder_[index]) : unused;
    Attempt attempt = Attempt::kTaken;
    for (int number = std::max(firstNumber, lowest);
         number <= kMaxAttempts && attempt == Attempt::kTaken; ++number) {
      std::string name = folder_.NewNameOf(index, number);
      if (!folder_.Taken(name))
        attempt = Try(index, number, std::move(name));
      if (attempt == Attempt::kTaken && number == lowest)
        ++lowest;
    }
    if (attempt == Attempt::kTaken)
      Keep(index);  // all 99 names taken
    if (attempt != Attempt::kChanged || !Retimed(index, timeReads))
      return;
    firstNumber = 1;
  }
}

bool Pass::Retimed(Index index, int timeReads) {
  if (timeReads >= kMaxTimeReads) {
    Keep(index);  // it would not hold still long enough
    return false;
  }
  ReadTime(index);
  return folder_[index].state == FileState::kPending;
}

Attempt Pass::Try(Index index, int number, std::string to) {
  if (stopped_) {
    Keep(index);
    return Attempt::kOver;
  }
  const ListedFile& file = folder_[index];
  const std::string from(file.name);
  FileTimes before;
  bool haveBefore = false;
  if (!timesChecked_ || resetsTimes_) {
    const Outcome read = platform_.ReadTimes(from, &before);
    haveBefore = read.ok();
    // Its times could not be put back, were the rename to reset them.
    if (!haveBefore) {
      if (read.failure == Failure::kGone)
        folder_.Vanished(index);
      else
        Keep(index);
      return Attempt::kOver;
    }
  }

  const Outcome renamed = platform_.Rename(from, to, Unpacked(file.time));
  if (renamed.ok()) {
    folder_.Moved(index, number, to, rememberNames_);
    if (rememberNames_) {
      int& lowest = LowestFree(file);
      if (lowest == number)
        ++lowest;
    }
    KeepTimes(to, haveBefore, before);
    return Attempt::kMoved;
  }
  switch (renamed.failure) {
    case Failure::kTaken:
      folder_.ReportedTaken(to);
      return Attempt::kTaken;
    case Failure::kGone:
      folder_.Vanished(index);
      return Attempt::kOver;
    case Failure::kChanged:
      return Attempt::kChanged;
    case Failure::kNone:  // handled above
    case Failure::kOther:
      // A refusal that is not about the new name would only repeat for
      // every further name; the file keeps its own.
      Keep(index);
      return Attempt::kOver;
  }
  return Attempt::kOver;
}

void Pass::KeepTimes(const std::string& newName, bool haveBefore,
                     const FileTimes& before) {
  if (!haveBefore)
    return;
  if (!timesChecked_) {
    FileTimes after;
    if (!platform_.ReadTimes(newName, &after).ok())
      return;  // ask again at the next rename
    const bool reset =
        after.modifiedSeconds != before.modifiedSeconds ||
        after.modifiedNanoseconds != before.modifiedNanoseconds;
    // A file dated about now cannot tell: a rename that gave it the time
    // of the rename (FAT keeps two-second steps) would leave it as it was.
    // It keeps its time either way; a later file decides.
    if (!reset && std::abs(before.modifiedSeconds - platform_.Now()) <=
                      kClockSlack)
      return;
    timesChecked_ = true;
    resetsTimes_ = reset;
  }
  // Better to stop renaming than to erase more dates.
  if (resetsTimes_ && !platform_.SetTimes(newName, before).ok()) {
    stopped_ = true;
    keptAny_ = true;
  }
}

}  // namespace

ExitStatus Main(Platform& platform) {
  Pass pass(platform);
  return pass.Run();
}
