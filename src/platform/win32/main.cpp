#include <windows.h>

#include "renaming_pass.h"
#include "platform/system_platform.h"

// A GUI-subsystem program that opens no window: started from Explorer, it
// flashes nothing on screen. The command line is ignored; the exit status
// is the only answer.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // No system dialog either, for a drive that is not ready, say.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX |
               SEM_NOGPFAULTERRORBOX);
  try {
    SystemPlatform platform;
    return Main(platform);
  } catch (...) {
    return kSomeKept;
  }
}
