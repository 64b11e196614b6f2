#ifndef STAMPNAME_ZERO_PAD_H_
#define STAMPNAME_ZERO_PAD_H_

#include <string>

/// Returns exactly `width` characters: `value` in decimal, filled with
/// zeros on the left, or cut to its rightmost digits when it is wider.
/// Throws std::invalid_argument for a negative width.
std::string ZeroPad(int value, int width);

/// The same, written to `out`, which has room for `width` characters.
void ZeroPad(int value, int width, char* out);

#endif  // STAMPNAME_ZERO_PAD_H_
