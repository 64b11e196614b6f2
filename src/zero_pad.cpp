#include "zero_pad.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <stdexcept>

std::string ZeroPad(int value, int width) {
  if (width < 0)
    throw std::invalid_argument("ZeroPad: negative width");
  char text[16];
  const char* end = std::to_chars(text, text + sizeof text, value).ptr;
  // Zeros, then as many of the number's rightmost characters as fit: a
  // wider number loses its leftmost digits, so the result never grows past
  // the field it fills.
  std::string padded(static_cast<std::string::size_type>(width), '0');
  const auto kept = std::min<std::size_t>(static_cast<std::size_t>(end - text),
                                          padded.size());
  std::memcpy(padded.data() + padded.size() - kept, end - kept, kept);
  return padded;
}
