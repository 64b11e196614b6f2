#include "new_name.h"

#include "zero_pad.h"

std::string_view ExtensionOf(std::string_view fileName, std::size_t from) {
  const std::string_view::size_type position = fileName.find('.', from);
  if (position == std::string_view::npos)
    return {};
  return fileName.substr(position);
}

bool Stampable(const DateTime& modified) {
  return modified.year >= 1 && modified.year <= 9999;
}

namespace {

constexpr std::size_t kStampSize = 19;  // "YYYY-MM-DD hh-mm-ss"

void WriteStamp(const DateTime& modified, char* out) {
  ZeroPad(modified.year, 4, out);
  out[4] = '-';
  ZeroPad(modified.month, 2, out + 5);
  out[7] = '-';
  ZeroPad(modified.day, 2, out + 8);
  out[10] = ' ';
  ZeroPad(modified.hour, 2, out + 11);
  out[13] = '-';
  ZeroPad(modified.minute, 2, out + 14);
  out[16] = '-';
  ZeroPad(modified.second, 2, out + 17);
}

}  // namespace

std::string Stamp(const DateTime& modified) {
  std::string stamp(kStampSize, ' ');
  WriteStamp(modified, stamp.data());
  return stamp;
}

namespace {

bool Digits(std::string_view text) {
  for (const char c : text)
    if (c < '0' || c > '9')
      return false;
  return true;
}

}  // namespace

std::string_view StampOf(std::string_view fileName) {
  // "YYYY-MM-DD hh-mm-ss": digits wherever the pattern has no separator.
  constexpr std::string_view kPattern = "0000-00-00 00-00-00";
  if (fileName.size() < kPattern.size())
    return {};
  for (std::size_t i = 0; i < kPattern.size(); ++i)
    if (kPattern[i] == '0' ? !Digits(fileName.substr(i, 1))
                           : fileName[i] != kPattern[i])
      return {};
  std::string_view rest = fileName.substr(kPattern.size());
  if (rest.starts_with(" (") && rest.size() >= 5 && rest[4] == ')' &&
      Digits(rest.substr(2, 2)) && rest.substr(2, 2) >= "02")
    rest.remove_prefix(5);
  if (!rest.empty() && rest[0] != '.')
    return {};
  return fileName.substr(0, kPattern.size());
}

int NumberOf(std::string_view fileName) {
  const std::string_view stamp = StampOf(fileName);
  if (stamp.empty())
    return 0;
  const std::string_view rest = fileName.substr(stamp.size());
  if (!rest.starts_with(" ("))
    return 1;
  return (rest[2] - '0') * 10 + (rest[3] - '0');
}

std::string NewName(const DateTime& modified, int attempt,
                    std::string_view extension) {
  // One allocation: the stamp and suffix are written in place.
  const std::size_t suffix = attempt <= 1 ? 0 : 5;  // " (NN)"
  std::string name(kStampSize + suffix + extension.size(), ' ');
  WriteStamp(modified, name.data());
  if (suffix != 0) {
    name[kStampSize + 1] = '(';
    ZeroPad(attempt, 2, name.data() + kStampSize + 2);
    name[kStampSize + 4] = ')';
  }
  extension.copy(name.data() + kStampSize + suffix, extension.size());
  return name;
}
