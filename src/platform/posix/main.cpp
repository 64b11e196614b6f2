#include <time.h>

#include "platform/posix/stop_signals.h"
#include "platform/system_platform.h"
#include "renaming_pass.h"

// Arguments are ignored and nothing is printed, whatever happens: the exit
// status is the program's only answer.
int main() {
  tzset();
  CatchStopSignals();
  int status = kSomeKept;
  try {
    SystemPlatform platform;
    status = Main(platform);
  } catch (...) {
    // Out of memory, most likely; the files left unhandled keep their names.
  }
  // The platform is gone by now: leftovers removed, the folder flushed.
  EndByCaughtSignal();
  return status;
}
