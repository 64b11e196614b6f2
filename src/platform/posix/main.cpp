#include <time.h>

#include "renaming_pass.h"
#include "platform/system_platform.h"

// Arguments are ignored and nothing is printed, whatever happens: the exit
// status is the program's only answer.
int main() {
  tzset();
  try {
    SystemPlatform platform;
    return Main(platform);
  } catch (...) {
    // Out of memory, most likely; the files left unhandled keep their names.
    return kSomeKept;
  }
}
