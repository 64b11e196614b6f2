#ifndef STAMPNAME_PLATFORM_WIN32_FOLDER_H_
#define STAMPNAME_PLATFORM_WIN32_FOLDER_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/system_platform.h"
#include "platform/win32/listing.h"

// What the Windows platform's sources share: the state of one run in its
// folder, one concern a source:
//
//   listing.cpp          the listing, and the lock that makes runs take turns
//   system_platform.cpp  times, and the one way to rename: a move that
//                        refuses a taken name

std::wstring Wide(std::string_view name);
std::string Narrow(const wchar_t* name);
std::int64_t Ticks(const FILETIME& time);
FILETIME FromTicks(std::int64_t ticks);
/// What a Win32 error code means to the pass.
Outcome OutcomeOf(DWORD error);
/// The failure of the call that just failed.
Outcome LastFailure();

struct SystemPlatform::Folder {
  Listing listing;
  DYNAMIC_TIME_ZONE_INFORMATION zone{};
  bool haveZone = false;  // read once, at the first time it converts

  bool renamed = false;
  bool flushed = false;

  ~Folder() {
    if (renamed && !flushed)
      Flush();
  }

  /// The renames on the medium before the run ends, where the system
  /// flushes a folder for its user; removable drives are written through
  /// by default (quick removal) anyway. Only the medium's own failures
  /// count: a folder the system will not flush for this user is no
  /// failure.
  Outcome Flush() {
    flushed = true;
    if (!renamed)
      return {};
    const std::wstring& prefix = listing.prefix();
    const std::wstring path = prefix.substr(0, prefix.size() - 1);
    const HANDLE folder = CreateFileW(
        path.c_str(), GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
      return {};
    Outcome outcome;
    if (!FlushFileBuffers(folder)) {
      const DWORD error = GetLastError();
      if (error == ERROR_WRITE_FAULT || error == ERROR_DISK_FULL ||
          error == ERROR_HANDLE_DISK_FULL || error == ERROR_CRC ||
          error == ERROR_GEN_FAILURE || error == ERROR_IO_DEVICE)
        outcome = {Failure::kOther, static_cast<ErrorState>(error)};
    }
    CloseHandle(folder);
    return outcome;
  }

  std::wstring PathOf(const std::string& name) const {
    return listing.prefix() + Wide(name);
  }

  /// The file's attributes and times, read afresh rather than from the
  /// listing, whose copy may lag behind a file still being written.
  Outcome Read(const std::string& name, WIN32_FILE_ATTRIBUTE_DATA* data) const {
    return GetFileAttributesExW(PathOf(name).c_str(), GetFileExInfoStandard,
                                data)
               ? Outcome{}
               : LastFailure();
  }
};

#endif  // STAMPNAME_PLATFORM_WIN32_FOLDER_H_
