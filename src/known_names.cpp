#include "known_names.h"

bool KnownNames::Handled(const std::string& fileName) const {
  const std::uint8_t* mark = names_.Find(fileName);
  return mark != nullptr && Mark{*mark} != Mark::kReported;
}

void KnownNames::Stayed(const std::string& fileName) {
  Set(fileName, Mark::kListed);
}

void KnownNames::Moved(const std::string& from, std::string_view to) {
  Freed(from);
  Set(to, Mark::kCreated);
}

void KnownNames::ReportedTaken(std::string_view name) {
  if (Taken(name))
    return;
  Set(name, Mark::kReported);
  reportedByFold_.emplace(Folded(name), std::string(name));
}

void KnownNames::Vanished(const std::string& name) { Freed(name); }

void KnownNames::Set(std::string_view name, Mark mark) {
  names_.Set(name, static_cast<std::uint8_t>(mark));
}

void KnownNames::Freed(std::string_view name) {
  names_.Erase(name);
  if (reportedByFold_.empty())
    return;
  const auto [first, last] = reportedByFold_.equal_range(Folded(name));
  for (auto it = first; it != last; ++it) {
    const std::uint8_t* mark = names_.Find(it->second);
    if (mark != nullptr && Mark{*mark} == Mark::kReported)
      names_.Erase(it->second);
  }
  reportedByFold_.erase(first, last);
}

std::string KnownNames::Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return folded;
}
