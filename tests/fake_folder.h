#ifndef STAMPNAME_TESTS_FAKE_FOLDER_H_
#define STAMPNAME_TESTS_FAKE_FOLDER_H_

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "name_table.h"
#include "platform/platform.h"

/// An in-memory folder behind the platform interface, with a rename that
/// never replaces, as the real ones promise, and hooks to inject failures.
class FakeFolder : public Platform {
 public:
  static constexpr ErrorState kNoEntry = 2;
  static constexpr ErrorState kIo = 5;
  static constexpr ErrorState kAccess = 13;
  static constexpr ErrorState kExists = 17;
  static constexpr ErrorState kTooLong = 36;
  static constexpr ErrorState kChanged = 116;

  struct Entry {
    DateTime modified;
    int id = 0;             // which file this is, to tell files apart
    bool ordinary = true;   // false: a folder, hidden or system file
  };

  /// Adds an ordinary file (or, with `ordinary` false, a name the listing
  /// does not yield). Returns its id.
  int Add(const std::string& name, DateTime modified, bool ordinary = true) {
    entries[name] = Entry{modified, nextId, ordinary};
    order.push_back(name);
    return nextId++;
  }

  /// The operation about to run and the name it works on; a non-zero answer
  /// makes the operation fail with that number and change nothing.
  std::function<ErrorState(const std::string& op, const std::string& name)>
      inject;

  bool missing = false;            // the folder does not exist
  bool caseInsensitive = false;    // names equal but for case are one name
  bool alikeOnly = false;          // links never proven one file (sshfs)
  std::int64_t now = 0;            // the clock, as a packed time
  // Set: a rename gives the file this time, as some file systems do.
  std::optional<DateTime> renameResetsTimeTo;

  std::map<std::string, Entry> entries;
  std::vector<std::string> order;  // listing order of the initial names
  std::vector<std::pair<std::string, std::string>> renames;  // every call
  std::map<std::string, int> timeReads;  // by name, failed reads too
  int listedAfterRename = 0;  // listing calls made once renaming began

  /// Lists the names in another order, the same for the same seed.
  void Shuffle(std::uint64_t seed) {
    std::mt19937_64 engine(seed);
    std::shuffle(order.begin(), order.end(), engine);
  }

  Outcome ListFirst(ListedName* entry) override {
    entry->fileName.clear();
    if (missing)
      return Mean(kNoEntry);
    if (ErrorState e = Inject("list", ""))
      return Mean(e);
    pending.assign(order.begin(), order.end());
    return ListNext(entry);
  }

  Outcome ListNext(ListedName* entry) override {
    entry->fileName.clear();
    listedAfterRename += !renames.empty();
    if (ErrorState e = Inject("next", ""))
      return Mean(e);
    while (!pending.empty()) {
      std::string name = std::move(pending.front());
      pending.pop_front();
      auto it = entries.find(name);
      if (it != entries.end()) {
        entry->fileName = it->first;
        entry->ordinary = it->second.ordinary;
        return {};
      }
    }
    return {};
  }

  Outcome ModifiedTime(const std::string& fileName,
                       DateTime* modified) override {
    ++timeReads[fileName];
    if (ErrorState e = Inject("time", fileName))
      return Mean(e);
    auto it = entries.find(fileName);
    if (it == entries.end())
      return Mean(kNoEntry);
    *modified = it->second.modified;
    return {};
  }

  // Names that share an id are hard links of one file; where `alikeOnly`,
  // the file system cannot prove it.
  Sameness SameFile(const std::string& a, const std::string& b) override {
    const auto first = entries.find(a), second = entries.find(b);
    if (first == entries.end() || second == entries.end() ||
        first->second.id != second->second.id)
      return Sameness::kOther;
    return alikeOnly ? Sameness::kAlike : Sameness::kSame;
  }

  Outcome RemoveSecondName(const std::string& name,
                           const std::string& other) override {
    if (ErrorState e = Inject("unlink", name))
      return Mean(e);
    if (SameFile(name, other) != Sameness::kSame)
      return Mean(kIo);
    entries.erase(name);
    return {};
  }

  Outcome Rename(const std::string& from, const std::string& to,
                 const DateTime&) override {
    renames.emplace_back(from, to);
    if (ErrorState e = Inject("rename", from))
      return Mean(e);
    auto source = entries.find(from);
    if (source == entries.end())
      return Mean(kNoEntry);
    if (Find(to) != entries.end())
      return Mean(kExists);
    Entry entry = source->second;
    entries.erase(source);
    if (renameResetsTimeTo)
      entry.modified = *renameResetsTimeTo;
    entries[to] = entry;
    return {};
  }

  // The fake's full-precision time is its packed date and time.
  Outcome ReadTimes(const std::string& fileName, FileTimes* times) override {
    if (ErrorState e = Inject("readtimes", fileName))
      return Mean(e);
    auto it = entries.find(fileName);
    if (it == entries.end())
      return Mean(kNoEntry);
    times->modifiedSeconds = static_cast<std::int64_t>(Packed(it->second.modified));
    return {};
  }

  Outcome SetTimes(const std::string& fileName,
                   const FileTimes& times) override {
    if (ErrorState e = Inject("settimes", fileName))
      return Mean(e);
    auto it = entries.find(fileName);
    if (it == entries.end())
      return Mean(kNoEntry);
    it->second.modified =
        Unpacked(static_cast<std::uint64_t>(times.modifiedSeconds));
    return {};
  }

  std::int64_t Now() override { return now; }

  int TotalTimeReads() const {
    int total = 0;
    for (const auto& [name, reads] : timeReads) total += reads;
    return total;
  }

  /// Whether a name equal to `name` but for case is there.
  bool TakenButForCase(const std::string& name) const {
    return std::any_of(entries.begin(), entries.end(), [&](const auto& entry) {
      return SameButForCase(entry.first, name);
    });
  }

  /// The name the file with `id` bears now, or "" when it is gone.
  std::string NameOf(int id) const {
    for (const auto& [name, entry] : entries)
      if (entry.id == id)
        return name;
    return {};
  }

 private:
  ErrorState Inject(const std::string& op, const std::string& name) {
    return inject ? inject(op, name) : 0;
  }

  /// What the fake's own numbers mean to the pass.
  static Outcome Mean(ErrorState error) {
    static const std::map<ErrorState, Failure> kMeanings = {
        {0, Failure::kNone},
        {kExists, Failure::kTaken},
        {kNoEntry, Failure::kGone},
        {kChanged, Failure::kChanged}};
    const auto meaning = kMeanings.find(error);
    return {meaning != kMeanings.end() ? meaning->second : Failure::kOther,
            error};
  }

  std::map<std::string, Entry>::iterator Find(const std::string& name) {
    if (!caseInsensitive)
      return entries.find(name);
    return std::find_if(entries.begin(), entries.end(), [&](const auto& e) {
      return SameButForCase(e.first, name);
    });
  }

  std::deque<std::string> pending;
  int nextId = 1;
};

#endif  // STAMPNAME_TESTS_FAKE_FOLDER_H_
