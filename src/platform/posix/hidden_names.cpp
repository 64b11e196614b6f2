#include "platform/posix/hidden_names.h"

#include <cstdio>

const char kHiddenPrefix[] = ".stampname-";

namespace {

constexpr std::size_t kDigits = 16;

struct Word {
  HiddenRole role;
  std::string_view text;  // with the space before the recorded name
};

constexpr Word kWords[] = {{HiddenRole::kTo, " to "},
                           {HiddenRole::kOf, " of "},
                           {HiddenRole::kVoid, " void "}};

bool HexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

HiddenName ParseHidden(std::string_view name) {
  const std::string_view prefix = kHiddenPrefix;
  if (!name.starts_with(prefix))
    return {};
  std::size_t at = prefix.size();
  for (std::size_t i = 0; i < kDigits; ++i, ++at)
    if (at >= name.size() || !HexDigit(name[at]))
      return {};
  if (at >= name.size() || name[at] != '-')
    return {};
  const std::size_t count = ++at;
  while (at < name.size() && name[at] >= '0' && name[at] <= '9')
    ++at;
  if (at == count)
    return {};
  const std::string_view rest = name.substr(at);
  if (rest.empty() || rest[0] == '.')
    return {HiddenRole::kEarlier, at};
  if (rest == " probe")
    return {HiddenRole::kProbe, 0};
  if (rest == " void")  // a reservation whose name would not fit beside
    return {HiddenRole::kVoid, name.size()};
  for (const Word& word : kWords)
    if (rest.starts_with(word.text) && rest.size() > word.text.size())
      return {word.role, at + word.text.size()};
  return {};
}

std::string_view RecordedIn(std::string_view name) {
  const HiddenName hidden = ParseHidden(name);
  switch (hidden.role) {
    case HiddenRole::kTo:
    case HiddenRole::kOf:
    case HiddenRole::kVoid:
      return name.substr(hidden.recorded);
    default:
      return {};
  }
}

std::string MakeHidden(std::uint64_t run, unsigned count, HiddenRole role,
                       std::string_view recorded) {
  char head[64];
  std::snprintf(head, sizeof head, "%s%016llx-%u", kHiddenPrefix,
                static_cast<unsigned long long>(run), count);
  std::string name = head;
  if (role == HiddenRole::kProbe)
    return name + " probe";
  for (const Word& word : kWords)
    if (word.role == role) {
      // A reservation may go without its name recorded: an empty one is
      // all it should hold. Names run to 255 bytes.
      if (role == HiddenRole::kVoid &&
          name.size() + word.text.size() + recorded.size() > 255)
        return name + " void";
      return name.append(word.text).append(recorded);
    }
  return name;
}
