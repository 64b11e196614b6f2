#include "new_name.h"

#include "zero_pad.h"

std::string Extension(std::string_view fileName) {
  const std::string_view::size_type position = fileName.find('.');
  if (position == std::string_view::npos)
    return {};
  return std::string(fileName.substr(position));
}

bool Stampable(const DateTime& modified) {
  return modified.year >= 1 && modified.year <= 9999;
}

std::string Stamp(const DateTime& modified) {
  std::string stamp;
  stamp.reserve(19);
  stamp += ZeroPad(modified.year, 4);
  stamp += '-';
  stamp += ZeroPad(modified.month, 2);
  stamp += '-';
  stamp += ZeroPad(modified.day, 2);
  stamp += ' ';
  stamp += ZeroPad(modified.hour, 2);
  stamp += '-';
  stamp += ZeroPad(modified.minute, 2);
  stamp += '-';
  stamp += ZeroPad(modified.second, 2);
  return stamp;
}

std::string Suffix(int attempt) {
  if (attempt <= 1)
    return {};
  return " (" + ZeroPad(attempt, 2) + ")";
}

std::string NewName(const std::string& stamp, int attempt,
                    const std::string& extension) {
  return stamp + Suffix(attempt) + extension;
}
