#ifndef STAMPNAME_RENAMING_PASS_H_
#define STAMPNAME_RENAMING_PASS_H_

#include "exit_status.h"

class Platform;

/// Goes once through the folder and renames every ordinary file after its
/// last-modified date and time.
ExitStatus Main(Platform& platform);

#endif  // STAMPNAME_RENAMING_PASS_H_
