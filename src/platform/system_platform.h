#ifndef STAMPNAME_PLATFORM_SYSTEM_PLATFORM_H_
#define STAMPNAME_PLATFORM_SYSTEM_PLATFORM_H_

// Each system's `SystemPlatform` is declared beside its source, in
// system_platform_posix.h and system_platform_win32.h: they share the
// interface in platform.h and nothing else.

/// The folder the program works on, with the separator of the system.
extern const char folderPrefix[];

#endif  // STAMPNAME_PLATFORM_SYSTEM_PLATFORM_H_
