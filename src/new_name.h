#ifndef STAMPNAME_NEW_NAME_H_
#define STAMPNAME_NEW_NAME_H_

#include <string>
#include <string_view>

#include "date_time.h"

/// Attempts per file: the plain stamp, then the suffixes (02) to (99).
constexpr int kMaxAttempts = 99;

/// The text of `fileName` from its first dot to its end, dot included;
/// empty when the name holds no dot. "a.tar.gz" gives ".tar.gz". Dots
/// before `from` (a private name's own part) do not count.
std::string_view ExtensionOf(std::string_view fileName, std::size_t from = 0);

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

/// The attempt whose name `fileName`, a name StampOf knows, is: 1 for the
/// plain stamp, 2 to 99 for " (02)" to " (99)"; 0 for any other name.
int NumberOf(std::string_view fileName);

/// The name that attempt `attempt` tries: the stamp, then nothing for
/// attempt 1 or " (NN)" for attempts 2 to 99, then the extension.
std::string NewName(const DateTime& modified, int attempt,
                    std::string_view extension);

#endif  // STAMPNAME_NEW_NAME_H_
