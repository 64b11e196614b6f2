#include "pass_harness.h"

#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "fake_folder.h"
#include "new_name.h"
#include "renaming_pass.h"

namespace {

struct Original {
  std::string name;
  DateTime modified;
  bool ordinary = true;
};

/// The fake folder, watching every rename the pass makes.
class WatchedFolder : public FakeFolder {
 public:
  std::map<int, Original> originals;  // by id
  std::map<int, int> renamedTimes;
  std::ostringstream problems;

  ErrorState Rename(const std::string& from, const std::string& to) override {
    const auto source = entries.find(from);
    const int id = source != entries.end() ? source->second.id : 0;
    const ErrorState error = FakeFolder::Rename(from, to);
    if (error != 0)
      return error;
    ++renamedTimes[id];
    const Original& file = originals[id];
    const int attempt = AttemptOf(file, to);
    if (attempt == 0)
      problems << "'" << from << "' renamed to '" << to
               << "', not a name of its time; ";
    // Every lower-numbered name must have been taken when this one was used.
    for (int lower = 1; lower < attempt; ++lower) {
      const std::string name =
          NewName(Stamp(file.modified), lower, Extension(file.name));
      if (!Taken(name))
        problems << "'" << to << "' used while '" << name << "' was free; ";
    }
    return 0;
  }

  /// Which attempt's name `name` is for the file, 0 when none.
  static int AttemptOf(const Original& file, const std::string& name) {
    if (!Stampable(file.modified))
      return 0;
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt)
      if (name == NewName(Stamp(file.modified), attempt, Extension(file.name)))
        return attempt;
    return 0;
  }

  bool Taken(const std::string& name) {
    if (entries.count(name) != 0)
      return true;
    if (!caseInsensitive)
      return false;
    for (const auto& [existing, entry] : entries)
      if (existing.size() == name.size() &&
          std::equal(existing.begin(), existing.end(), name.begin(),
                     [](char a, char b) {
                       return std::tolower(static_cast<unsigned char>(a)) ==
                              std::tolower(static_cast<unsigned char>(b));
                     }))
        return true;
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
  static const char* const kExtensions[] = {".jpg", ".JPG", ".tar.gz",
                                            "",     ".",    ".jpeg.bak"};
  switch (choices.Below(6)) {
    case 0: {  // a name some stamp already has, maybe numbered
      DateTime time = RandomTime(choices);
      time.year = 2020;
      return NewName(Stamp(time), 1 + static_cast<int>(choices.Below(4)),
                     kExtensions[choices.Below(2)]);
    }
    case 1:
      return ".hidden" + std::to_string(serial);
    default:
      return "f" + std::to_string(serial) + kExtensions[choices.Below(6)];
  }
}

}  // namespace

std::string CheckRandomRun(Choices& choices) {
  WatchedFolder folder;
  folder.relistRenamed = choices.OneIn(2);
  folder.caseInsensitive = choices.OneIn(3);
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

  // Failures the real systems report: refused access, I/O errors, names too
  // long. Never "taken" or "gone", which only the folder itself may say.
  const std::uint32_t failureOdds = 2 + choices.Below(30);
  const bool failAny = !choices.OneIn(3);
  bool listingFailed = false;
  std::map<std::string, int> timeReads;
  folder.inject = [&](const std::string& op, const std::string& name) {
    if (op == "time")
      ++timeReads[name];
    if (!failAny || !choices.OneIn(failureOdds))
      return ErrorState{0};
    if (op == "list" || op == "next")
      listingFailed = true;
    static const ErrorState kFailures[] = {FakeFolder::kAccess, FakeFolder::kIo,
                                           FakeFolder::kTooLong};
    return kFailures[choices.Below(3)];
  };

  const std::map<std::string, FakeFolder::Entry> before = folder.entries;
  const ExitStatus status = Main(folder);
  std::ostringstream& problems = folder.problems;

  std::multiset<int> idsBefore, idsAfter;
  for (const auto& [name, entry] : before) idsBefore.insert(entry.id);
  for (const auto& [name, entry] : folder.entries) idsAfter.insert(entry.id);
  if (idsBefore != idsAfter)
    problems << "files were lost or duplicated; ";

  bool allStamped = true;
  bool unstampable = false;
  for (const auto& [id, file] : folder.originals) {
    unstampable |= file.ordinary && !Stampable(file.modified);
    const std::string now = folder.NameOf(id);
    if (!file.ordinary) {
      if (now != file.name)
        problems << "'" << file.name << "' is not ordinary but was renamed; ";
      continue;
    }
    if (folder.renamedTimes[id] > 1)
      problems << "'" << file.name << "' was renamed more than once; ";
    if (WatchedFolder::AttemptOf(file, now) == 0) {
      allStamped = false;
      if (now != file.name)
        problems << "'" << file.name << "' has a foreign name '" << now
                 << "'; ";
    }
  }
  for (const auto& [name, reads] : timeReads)
    if (reads > 1)
      problems << "'" << name << "' was handled " << reads << " times; ";

  if (status == kNoFolder && !listingFailed)
    problems << "no folder reported, yet it was there; ";
  if (status == kAllNamed && !allStamped)
    problems << "success reported, yet a file kept a foreign name; ";
  if (status == kSomeKept && !failAny && !listingFailed && !unstampable) {
    // Without injected failures or unstampable years only a full set of 99
    // names keeps a name, and these folders are far too small for that.
    problems << "failure reported, yet nothing failed; ";
  }
  return problems.str();
}
