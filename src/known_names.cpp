#include "known_names.h"

#include <utility>

bool KnownNames::FirstSight(const std::string& fileName) {
  auto [entry, fresh] = names_.try_emplace(fileName, Mark::kListed);
  if (fresh)
    return true;
  if (entry->second != Mark::kReported)
    return false;
  entry->second = Mark::kListed;
  return true;
}

void KnownNames::Moved(const std::string& from, std::string to) {
  Freed(from);
  names_[std::move(to)] = Mark::kCreated;
}

void KnownNames::ReportedTaken(std::string name) {
  auto [entry, fresh] = names_.try_emplace(std::move(name), Mark::kReported);
  if (fresh)
    reportedByFold_.emplace(Folded(entry->first), entry->first);
}

void KnownNames::Vanished(const std::string& name) { Freed(name); }

void KnownNames::Freed(const std::string& name) {
  names_.erase(name);
  if (reportedByFold_.empty())
    return;
  const auto [first, last] = reportedByFold_.equal_range(Folded(name));
  for (auto it = first; it != last; ++it) {
    const auto entry = names_.find(it->second);
    if (entry != names_.end() && entry->second == Mark::kReported)
      names_.erase(entry);
  }
  reportedByFold_.erase(first, last);
}

std::string KnownNames::Folded(const std::string& name) {
  std::string folded = name;
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return folded;
}
