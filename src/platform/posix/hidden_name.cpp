// The program's own hidden names, each of one exact shape, so that a later
// run knows them for what they are and a user's own for theirs.
#include "platform/posix/hidden_name.h"

#include <cstdio>

#include "new_name.h"

const char kHiddenPrefix[] = ".stampname-";

namespace {

constexpr std::size_t kDigits = 16;

struct Word {
  HiddenRole role;
  std::string_view text;  // with the space before the recorded name
};

constexpr Word kWords[] = {{HiddenRole::kTo, " to "},
                           {HiddenRole::kOf, " of "},
                           {HiddenRole::kVoid, " void "},
                           {HiddenRole::kTime, " time "}};

bool HexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

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
  while (at < name.size() && name[at] >= '0' && name[at] <= '9') ++at;
  if (at == count)
    return {};
  const std::string_view rest = name.substr(at);
  if (rest.empty() || rest[0] == '.')
    return {HiddenRole::kEarlier, at};
  if (rest == " probe")
    return {HiddenRole::kProbe, 0};
  if (rest == " turn")
    return {HiddenRole::kTurn, 0};
  if (rest == " void")  // a reservation whose name would not fit beside
    return {HiddenRole::kVoid, name.size()};
  for (const Word& word : kWords) {
    if (rest.starts_with(word.text) && rest.size() > word.text.size())
      return {word.role, at + word.text.size()};
    // " to#<digest>": the word without its last space.
    const std::string_view bare = word.text.substr(0, word.text.size() - 1);
    std::uint64_t digest;
    if (rest.starts_with(bare) && DigestIn(rest.substr(bare.size()), &digest))
      return {word.role, at + bare.size(), true};
  }
  return {};
}

std::uint64_t NameDigest(std::string_view name) {
  std::uint64_t digest = 14695981039346656037ull;  // FNV-1a
  for (const char c : name) {
    digest ^= static_cast<unsigned char>(c);
    digest *= 1099511628211ull;
  }
  return digest;
}

bool DigestIn(std::string_view recorded, std::uint64_t* digest) {
  // Then the name's extension, where it fits: a file found alone under
  // such a name still has it.
  if (recorded.size() < 1 + kDigits || recorded[0] != '#' ||
      (recorded.size() > 1 + kDigits && recorded[1 + kDigits] != '.'))
    return false;
  *digest = 0;
  for (const char c : recorded.substr(1, kDigits)) {
    if (!HexDigit(c))
      return false;
    *digest = *digest << 4 |
              static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
  }
  return true;
}

std::string_view RecordedIn(std::string_view name) {
  const HiddenName hidden = ParseHidden(name);
  switch (hidden.role) {
    case HiddenRole::kTo:
    case HiddenRole::kOf:
    case HiddenRole::kVoid:
    case HiddenRole::kTime:
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
  if (role == HiddenRole::kTurn)
    return name + " turn";
  for (const Word& word : kWords)
    if (word.role == role) {
      // Names run to 255 bytes: a longer one by its digest.
      if (name.size() + word.text.size() + recorded.size() > 255) {
        char digest[20];
        std::snprintf(digest, sizeof digest, "#%016llx",
                      static_cast<unsigned long long>(NameDigest(recorded)));
        name.append(word.text.substr(0, word.text.size() - 1)).append(digest);
        if (const std::string_view extension = ExtensionOf(recorded);
            name.size() + extension.size() <= 255)
          name.append(extension);
        return name;
      }
      return name.append(word.text).append(recorded);
    }
  return name;
}
