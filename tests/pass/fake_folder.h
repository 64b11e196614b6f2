#ifndef STAMPNAME_TESTS_FAKE_FOLDER_H_
#define STAMPNAME_TESTS_FAKE_FOLDER_H_

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <map>
#include <set>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "name_table.h"
#include "platform/platform.h"

/// An in-memory folder behind the platform interface, with a rename that
/// never replaces, as the real ones promise, and a hook to inject failures.
/// It fails with the pass's own meanings; it has no system numbers.
class FakeFolder : public Platform {
 public:
  /// The operations a failure can be injected into.
  enum class Op {
    kList, kNext, kTime, kUnlink, kRename, kReadTimes, kSetTimes, kRecord,
    kFlush
  };

  struct Entry {
    DateTime modified;
    int id = 0;             // which file this is, to tell files apart
    bool ordinary = true;   // false: a folder, hidden or system file
  };

  /// Adds an ordinary file (or, with `ordinary` false, a folder or hidden
  /// file, which the listing yields as not ordinary). Returns its id.
  int Add(const std::string& name, DateTime modified, bool ordinary = true) {
    entries[name] = Entry{modified, nextId, ordinary};
    order.push_back(name);
    return nextId++;
  }

  /// The operation about to run and the name it works on (for kNext, the
  /// name it would yield); an answer other than Failure::kNone makes the
  /// operation fail so and change nothing.
  std::function<Failure(Op op, const std::string& name)> inject;

  bool caseInsensitive = false;    // names equal but for case are one name
  bool noProof = false;  // no two names proven one file (no marks either)
  // Names no proof can be had through (another user's file, which takes no
  // mark): alike or not, never proven one file or two.
  std::set<std::string> unprovable;
  std::int64_t now = 0;            // the clock, as a packed time
  // Set: a rename gives the file this time, as some file systems do.
  std::optional<DateTime> renameResetsTimeTo;

  // Hidden names a stopped run left, with the names they record.
  std::map<std::string, std::string> headedFor;
  std::map<std::string, Entry> entries;
  std::vector<std::string> order;  // listing order of the initial names
  std::vector<std::pair<std::string, std::string>> renames;  // every call
  std::map<std::string, int> timeReads;  // by name, failed reads too
  int listedAfterRename = 0;  // listing calls made once renaming began
  int flushes = 0;
  std::vector<std::pair<std::string, std::int64_t>> records;
  int recordsDropped = 0;
  int recordsLeft = 0;

  /// Lists the names in another order, the same for the same seed.
  void Shuffle(std::uint64_t seed) {
    std::mt19937_64 engine(seed);
    std::shuffle(order.begin(), order.end(), engine);
  }

  Outcome ListFirst(ListedName* entry) override {
    entry->fileName.clear();
    if (const Outcome injected = Injected(Op::kList, ""); !injected.ok())
      return injected;
    pending.assign(order.begin(), order.end());
    return ListNext(entry);
  }

  Outcome ListNext(ListedName* entry) override {
    entry->fileName.clear();
    listedAfterRename += !renames.empty();
    while (!pending.empty() && entries.count(pending.front()) == 0)
      pending.pop_front();  // renamed or removed since the listing began
    const std::string next = pending.empty() ? "" : pending.front();
    if (const Outcome injected = Injected(Op::kNext, next); !injected.ok())
      return injected;
    if (!pending.empty()) {
      entry->fileName = next;
      entry->ordinary = entries.at(next).ordinary;
      const auto headed = headedFor.find(next);
      entry->headedFor = headed != headedFor.end() ? headed->second : "";
      entry->privatePart =
          headed != headedFor.end() ? next.size() - headed->second.size() : 0;
      pending.pop_front();
    }
    return {};
  }

  Outcome ModifiedTime(const std::string& fileName,
                       DateTime* modified) override {
    ++timeReads[fileName];
    Entry* entry = nullptr;
    const Outcome reached = Reach(Op::kTime, fileName, &entry);
    if (reached.ok())
      *modified = entry->modified;
    return reached;
  }

  // Names that share an id are hard links of one file, proven so unless
  // the file system gives no proof.
  Sameness SameFile(const std::string& a, const std::string& b) override {
    const auto first = entries.find(a), second = entries.find(b);
    if (first != entries.end() && second != entries.end() &&
        (unprovable.contains(a) || unprovable.contains(b)))
      return Sameness::kUnproven;
    return noProof || first == entries.end() || second == entries.end() ||
                   first->second.id != second->second.id
               ? Sameness::kOther
               : Sameness::kSame;
  }

  Outcome RemoveSecondName(const std::string& name,
                           const std::string& other) override {
    if (const Outcome injected = Injected(Op::kUnlink, name); !injected.ok())
      return injected;
    if (SameFile(name, other) != Sameness::kSame)
      return {Failure::kOther, 0};
    entries.erase(name);
    return {};
  }

  Outcome Rename(const std::string& from, const std::string& to,
                 const DateTime&) override {
    renames.emplace_back(from, to);
    Entry* source = nullptr;
    const Outcome reached = Reach(Op::kRename, from, &source);
    if (!reached.ok())
      return reached;
    if (Taken(to))
      return {Failure::kTaken, 0};
    Entry entry = *source;
    entries.erase(from);
    if (renameResetsTimeTo)
      entry.modified = *renameResetsTimeTo;
    entries[to] = entry;
    return {};
  }

  // The fake's full-precision time is its packed date and time.
  Outcome ReadTimes(const std::string& fileName, FileTimes* times) override {
    Entry* entry = nullptr;
    const Outcome reached = Reach(Op::kReadTimes, fileName, &entry);
    if (reached.ok()) {
      times->modifiedSeconds =
          static_cast<std::int64_t>(Packed(entry->modified));
      times->id = static_cast<std::uint64_t>(entry->id);
    }
    return reached;
  }

  Outcome SetTimes(const std::string& fileName,
                   const FileTimes& times) override {
    Entry* entry = nullptr;
    const Outcome reached = Reach(Op::kSetTimes, fileName, &entry);
    if (reached.ok())
      entry->modified =
          Unpacked(static_cast<std::uint64_t>(times.modifiedSeconds));
    return reached;
  }

  std::int64_t Now() override { return now; }

  // The records of times a run keeps while a rename may reset them, by the
  // new name; every one made, dropped or not.
  Outcome RecordTimes(const std::string& name,
                      const FileTimes& times) override {
    if (const Outcome injected = Injected(Op::kRecord, name); !injected.ok())
      return injected;
    records.emplace_back(name, times.modifiedSeconds);
    return {};
  }

  void DropTimesRecord() override { ++recordsDropped; }
  void LeaveTimesRecord() override { ++recordsLeft; }

  Outcome Flush() override {
    ++flushes;
    return Injected(Op::kFlush, "");
  }

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

  /// Whether `name` is taken, as this folder compares names.
  bool Taken(const std::string& name) const {
    return caseInsensitive ? TakenButForCase(name) : entries.count(name) != 0;
  }

  /// The name the file with `id` bears now, or "" when it is gone.
  std::string NameOf(int id) const {
    for (const auto& [name, entry] : entries)
      if (entry.id == id)
        return name;
    return {};
  }

 private:
  Outcome Injected(Op op, const std::string& name) {
    return {inject ? inject(op, name) : Failure::kNone, 0};
  }

  /// The entry `name` bears, unless the operation fails first.
  Outcome Reach(Op op, const std::string& name, Entry** entry) {
    if (const Outcome injected = Injected(op, name); !injected.ok())
      return injected;
    const auto it = entries.find(name);
    if (it == entries.end())
      return {Failure::kGone, 0};
    *entry = &it->second;
    return {};
  }

  std::deque<std::string> pending;
  int nextId = 1;
};

#endif  // STAMPNAME_TESTS_FAKE_FOLDER_H_
