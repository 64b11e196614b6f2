#include "zero_pad.h"

#include <stdexcept>

std::string ZeroPad(int value, int width) {
  if (width < 0)
    throw std::invalid_argument("ZeroPad: negative width");
  std::string padded(static_cast<std::string::size_type>(width), '0');
  padded += std::to_string(value);
  // Keeping the rightmost characters drops surplus leading digits, so the
  // result never grows past the field it fills.
  return padded.substr(padded.size() - static_cast<std::string::size_type>(width));
}
