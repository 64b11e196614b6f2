#ifndef STAMPNAME_TESTS_FAKE_FOLDER_H_
#define STAMPNAME_TESTS_FAKE_FOLDER_H_

#include <algorithm>
#include <cctype>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

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
  bool relistRenamed = false;      // the listing yields renamed files again
  bool caseInsensitive = false;    // names equal but for case are one name

  std::map<std::string, Entry> entries;
  std::vector<std::string> order;  // listing order of the initial names
  std::vector<std::pair<std::string, std::string>> renames;  // every call
  int timeReads = 0;

  ErrorState ListFirst(std::string* fileName) override {
    fileName->clear();
    if (missing)
      return kNoEntry;
    if (ErrorState e = Inject("list", ""))
      return e;
    pending.assign(order.begin(), order.end());
    return ListNext(fileName);
  }

  ErrorState ListNext(std::string* fileName) override {
    fileName->clear();
    if (ErrorState e = Inject("next", ""))
      return e;
    while (!pending.empty()) {
      std::string name = std::move(pending.front());
      pending.pop_front();
      auto it = entries.find(name);
      if (it != entries.end() && it->second.ordinary) {
        *fileName = it->first;
        return 0;
      }
    }
    return 0;
  }

  ErrorState ModifiedTime(const std::string& fileName,
                          DateTime* modified) override {
    ++timeReads;
    if (ErrorState e = Inject("time", fileName))
      return e;
    auto it = entries.find(fileName);
    if (it == entries.end())
      return kNoEntry;
    *modified = it->second.modified;
    return 0;
  }

  ErrorState Rename(const std::string& from, const std::string& to) override {
    renames.emplace_back(from, to);
    if (ErrorState e = Inject("rename", from))
      return e;
    auto source = entries.find(from);
    if (source == entries.end())
      return kNoEntry;
    if (Find(to) != entries.end())
      return kExists;
    Entry entry = source->second;
    entries.erase(source);
    entries[to] = entry;
    if (relistRenamed)
      pending.push_back(to);
    return 0;
  }

  Failure Classify(ErrorState error) const override {
    if (error == kExists)
      return Failure::kTaken;
    if (error == kNoEntry)
      return Failure::kGone;
    if (error == kChanged)
      return Failure::kChanged;
    return Failure::kOther;
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

  std::map<std::string, Entry>::iterator Find(const std::string& name) {
    if (!caseInsensitive)
      return entries.find(name);
    return std::find_if(entries.begin(), entries.end(), [&](const auto& e) {
      return std::equal(e.first.begin(), e.first.end(), name.begin(),
                        name.end(), [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                        });
    });
  }

  std::deque<std::string> pending;
  int nextId = 1;
};

#endif  // STAMPNAME_TESTS_FAKE_FOLDER_H_
