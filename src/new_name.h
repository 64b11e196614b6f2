#ifndef STAMPNAME_NEW_NAME_H_
#define STAMPNAME_NEW_NAME_H_

#include <string>
#include <string_view>

#include "date_time.h"

/// Attempts per file: the plain stamp, then the suffixes (02) to (99).
constexpr int kMaxAttempts = 99;

/// The text of `fileName` from its first dot to its end, dot included;
/// empty when the name holds no dot. "a.tar.gz" gives ".tar.gz".
std::string Extension(std::string_view fileName);

/// Whether `modified` can be written as a stamp without losing digits:
/// a year wider than four digits would wrap around.
bool Stampable(const DateTime& modified);

/// "YYYY-MM-DD hh-mm-ss".
std::string Stamp(const DateTime& modified);

/// The stamp part of a name the pass could have given: a stamp, then
/// nothing or " (02)" to " (99)", then the name's own extension. Empty for
/// any other name. "2009-03-05 07-08-09 (02).jpg" gives
/// "2009-03-05 07-08-09".
std::string_view StampOf(std::string_view fileName);

/// Empty for attempt 1, " (NN)" for attempts 2 to 99.
std::string Suffix(int attempt);

/// The name that attempt `attempt` tries: stamp, suffix, extension.
std::string NewName(const std::string& stamp, int attempt,
                    const std::string& extension);

/// The same from the time itself.
std::string NewName(const DateTime& modified, int attempt,
                    std::string_view extension);

#endif  // STAMPNAME_NEW_NAME_H_
