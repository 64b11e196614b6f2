#ifndef STAMPNAME_PLATFORM_WIDE_TEXT_H_
#define STAMPNAME_PLATFORM_WIDE_TEXT_H_

#include <string>
#include <string_view>

/// Windows names are UTF-16 units that need not pair up; the pass works on
/// byte strings. These convert without loss either way: valid UTF-16 gives
/// UTF-8, and a lone surrogate gets the three-byte form of its own value.
std::string NarrowName(std::u16string_view wide);
std::u16string WidenName(std::string_view narrow);

#endif  // STAMPNAME_PLATFORM_WIDE_TEXT_H_
