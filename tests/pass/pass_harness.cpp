#include "pass_harness.h"

#include <map>
#include <string_view>
#include <set>
#include <sstream>
#include <vector>

#include "fake_folder.h"
#include "name_table.h"
#include "new_name.h"
#include "renaming_pass.h"

namespace {

struct Original {
  std::string name;
  DateTime modified;
  bool ordinary = true;
};

std::string_view ShotOf(std::string_view name) {
  return name.substr(0, name.find('.'));
}

/// The fake folder, watching every rename the pass makes.
class WatchedFolder : public FakeFolder {
 public:
  std::map<int, Original> originals;  // by id
  std::map<int, int> renamedTimes;
  std::ostringstream problems;

  Outcome Rename(const std::string& from, const std::string& to,
                 const DateTime& stampedFrom) override {
    const auto source = entries.find(from);
    const int id = source != entries.end() ? source->second.id : 0;
    const Outcome renamed = FakeFolder::Rename(from, to, stampedFrom);
    if (!renamed.ok())
      return renamed;
    ++renamedTimes[id];
    const Original& file = originals[id];
    const int attempt = AttemptOf(file, to);
    if (attempt == 0)
      problems << "'" << from << "' renamed to '" << to
               << "', not a name of its time; ";
    // Every lower number must have been taken (but for case), for this file
    // or for another file of its shot, which shares its number.
    for (int lower = 1; lower < attempt; ++lower)
      if (!TakenForShot(file, id, lower))
        problems << "'" << to << "' used while number " << lower
                 << " was free; ";
    return {};
  }

  /// Which attempt's name `name` is for the file, 0 when none.
  static int AttemptOf(const Original& file, const std::string& name) {
    if (!Stampable(file.modified))
      return 0;
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt)
      if (name == NewName(file.modified, attempt, ExtensionOf(file.name)))
        return attempt;
    return 0;
  }

  bool TakenForShot(const Original& file, int id, int number) {
    for (const auto& [otherId, other] : originals) {
      const bool sameShot = otherId == id ||
                            (other.ordinary && other.modified == file.modified &&
                             ShotOf(other.name) == ShotOf(file.name));
      if (sameShot &&
          TakenButForCase(
              NewName(file.modified, number, ExtensionOf(other.name))))
        return true;
    }
    return false;
  }
};

DateTime RandomTime(Choices& choices) {
  // A handful of seconds, so that bursts are common; now and then a year
  // that cannot be stamped.
  DateTime time{2020, 2, 29, 23, 59, static_cast<int>(choices.Below(4))};
  if (choices.OneIn(40))
    time.year = choices.OneIn(2) ? 10000 : 0;
  return time;
}

std::string RandomName(Choices& choices, int serial) {
  // Shots of several files each, extensions that differ only in case.
  static const char* const kExtensions[] = {".jpg", ".JPG",  ".tar.gz", "",
                                            ".",    ".jpeg.bak", ".Jpg", ".CR2"};
  switch (choices.Below(7)) {
    case 0: {  // a name some stamp already has, maybe numbered
      DateTime time = RandomTime(choices);
      time.year = 2020;
      if (choices.OneIn(3)) {  // or one that only looks like it
        static const char* const kNearMisses[] = {
            " (00)", " (01)", " (1)", " (100)", " (0a)", "abc", " (02)x"};
        return Stamp(time) + kNearMisses[choices.Below(7)] +
               kExtensions[choices.Below(2)];
      }
      return NewName(time, 1 + static_cast<int>(choices.Below(4)),
                     kExtensions[choices.Below(2)]);
    }
    case 1:
      return ".hidden" + std::to_string(serial);
    case 2:
      return (choices.OneIn(2) ? "F" : "f") + std::to_string(serial % 5) +
             kExtensions[choices.Below(8)];
    default:
      return "f" + std::to_string(serial) + kExtensions[choices.Below(8)];
  }
}

/// Failures the real systems report: refused access, I/O errors, names too
/// long. Never "taken" or "gone", which only the folder itself may say.
/// Drawn once per name, so that a run over the same folder listed in
/// another order meets the same failures.
struct FailurePlan {
  std::set<std::pair<FakeFolder::Op, std::string>> byCall;
  int failingNext = -1;  // which listing call fails, -1: none
  int failingSetTimes = -1;  // which call putting times back fails
  bool failingFirst = false;

  void Draw(Choices& choices, const std::vector<std::string>& names) {
    const std::uint32_t odds = 2 + choices.Below(30);
    using Op = FakeFolder::Op;
    for (const std::string& name : names)
      for (const Op op : {Op::kTime, Op::kRename, Op::kReadTimes})
        if (choices.OneIn(odds))
          byCall.emplace(op, name);
    failingFirst = choices.OneIn(odds * 4);
    if (choices.OneIn(odds))
      failingNext = static_cast<int>(choices.Below(40));
    if (choices.OneIn(4))
      failingSetTimes = static_cast<int>(choices.Below(10));
  }
};

/// A random folder: names with and without dots, hidden names and folders,
/// names already taken by stamps, files bunched into a few seconds.
void Fill(WatchedFolder& folder, Choices& choices) {
  folder.caseInsensitive = choices.OneIn(3);
  if (choices.OneIn(4)) {
    // A rename gives the file the time it happens at.
    folder.renameResetsTimeTo = DateTime{2026, 12, 7, 20, 6, 28};
    folder.now = static_cast<std::int64_t>(Packed(*folder.renameResetsTimeTo));
  }
  const int count = static_cast<int>(choices.Below(40));
  for (int serial = 0; serial < count; ++serial) {
    const std::string name = RandomName(choices, serial);
    if (folder.Taken(name))
      continue;
    const DateTime modified = RandomTime(choices);
    const bool ordinary = name[0] != '.' && !choices.OneIn(8);
    const int id = folder.Add(name, modified, ordinary);
    folder.originals[id] = {name, modified, ordinary};
  }
}

/// What became of each file, checked against what it was. Sets whether
/// every ordinary file bears a name of its time, and whether any could not.
void CheckFiles(WatchedFolder& folder, bool listingFailed,
                const std::string& lostTime, bool* allStamped,
                bool* unstampable) {
  std::ostringstream& problems = folder.problems;
  for (const auto& [id, file] : folder.originals) {
    *unstampable |= file.ordinary && !Stampable(file.modified);
    const std::string now = folder.NameOf(id);
    if (!file.ordinary) {
      if (now != file.name)
        problems << "'" << file.name << "' is not ordinary but was renamed; ";
      continue;
    }
    if (folder.renamedTimes[id] > 1)
      problems << "'" << file.name << "' was renamed more than once; ";
    if (WatchedFolder::AttemptOf(file, file.name) != 0 && now != file.name)
      problems << "'" << file.name << "' bore its own name but moved; ";
    if (now.empty()) {
      problems << "'" << file.name << "' vanished; ";
      continue;
    }
    if (folder.entries.at(now).modified != file.modified && now != lostTime)
      problems << "'" << file.name << "' lost its time; ";
    if (WatchedFolder::AttemptOf(file, now) == 0) {
      *allStamped = false;
      if (now != file.name)
        problems << "'" << file.name << "' has a foreign name '" << now
                 << "'; ";
    }
    // A name the run gave differs from every other name in more than case,
    // as far as the run could list them.
    if (now != file.name && !listingFailed)
      for (const auto& [other, entry] : folder.entries)
        if (other != now && SameButForCase(other, now))
          problems << "'" << now << "' differs from '" << other
                   << "' only in case; ";
  }
  for (const auto& [name, reads] : folder.timeReads)
    if (reads > 1)
      problems << "'" << name << "' was handled " << reads << " times; ";
  if (folder.listedAfterRename != 0)
    problems << "the listing was read after a rename; ";
}

}  // namespace

std::string CheckRandomRun(Choices& choices) {
  WatchedFolder folder;
  Fill(folder, choices);
  const std::uint64_t shuffleSeed = choices.Below(1000);

  FailurePlan plan;
  const bool failAny = !choices.OneIn(3);
  if (failAny)
    plan.Draw(choices, folder.order);
  int nexts = 0, setTimes = 0;
  std::string lostTime;  // the one file whose time may not come back
  const auto inject = [&](FakeFolder::Op op, const std::string& name) {
    using Op = FakeFolder::Op;
    bool fails = plan.byCall.count({op, name}) != 0;
    if (op == Op::kList)
      fails = plan.failingFirst;
    else if (op == Op::kNext)
      fails = nexts++ == plan.failingNext;
    else if (op == Op::kSetTimes && setTimes++ == plan.failingSetTimes) {
      lostTime = name;
      fails = true;
    }
    return fails ? Failure::kOther : Failure::kNone;
  };
  folder.inject = inject;
  const bool listingFailed = plan.failingFirst || plan.failingNext >= 0;

  FakeFolder shuffled = folder;  // the same folder listed in another order
  shuffled.Shuffle(shuffleSeed);
  const std::map<std::string, FakeFolder::Entry> before = folder.entries;
  const ExitStatus status = Main(folder);
  std::ostringstream& problems = folder.problems;

  // The same names and status whatever order the folder was listed in.
  if (!listingFailed) {
    const std::string lost = lostTime;
    nexts = setTimes = 0;
    const ExitStatus shuffledStatus = Main(shuffled);
    const auto ids = [](const FakeFolder& run) {
      std::map<std::string, int> byName;
      for (const auto& [name, entry] : run.entries) byName[name] = entry.id;
      return byName;
    };
    if (ids(folder) != ids(shuffled) || status != shuffledStatus)
      problems << "another listing order gave other names; ";
    lostTime = lost;
  }

  std::multiset<int> idsBefore, idsAfter;
  for (const auto& [name, entry] : before) idsBefore.insert(entry.id);
  for (const auto& [name, entry] : folder.entries) idsAfter.insert(entry.id);
  if (idsBefore != idsAfter)
    problems << "files were lost or duplicated; ";

  bool allStamped = true;
  bool unstampable = false;
  CheckFiles(folder, listingFailed, lostTime, &allStamped, &unstampable);

  // The status tells what became of the files.
  if (status == kNoFolder && !listingFailed)
    problems << "no folder reported, yet it was there; ";
  if (status == kAllNamed && !allStamped)
    problems << "success reported, yet a file kept a foreign name; ";
  if (!lostTime.empty() && status != kSomeKept)
    problems << "times could not be put back, yet success reported; ";
  if (status == kSomeKept && !failAny && !unstampable) {
    // Without injected failures or unstampable years only a full set of 99
    // names keeps a name, and these folders are far too small for that.
    problems << "failure reported, yet nothing failed; ";
  }
  return problems.str();
}
