#include "zero_pad.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <stdexcept>

void ZeroPad(int value, int width, char* out) {
  if (width < 0)
    throw std::invalid_argument("ZeroPad: negative width");
  if (value >= 0) {
    // Digits from the right, zeros once the number runs out: a wider
    // number loses its leftmost digits, so the result never grows past the
    // field it fills.
    for (int i = width - 1; i >= 0; --i, value /= 10)
      out[i] = static_cast<char>('0' + value % 10);
    return;
  }
  // The same for a sign: zeros, then the rightmost characters that fit.
  char text[16];
  const char* end = std::to_chars(text, text + sizeof text, value).ptr;
  const auto size = static_cast<std::size_t>(width);
  const auto kept = std::min<std::size_t>(static_cast<std::size_t>(end - text), size);
  std::memset(out, '0', size - kept);
  std::memcpy(out + size - kept, end - kept, kept);
}

std::string ZeroPad(int value, int width) {
  if (width < 0)
    throw std::invalid_argument("ZeroPad: negative width");
  std::string padded(static_cast<std::string::size_type>(width), '\0');
  ZeroPad(value, width, padded.data());
  return padded;
}
