// Times, and the one way to rename: a move that refuses a taken name.
#include "platform/win32/folder.h"

#include <cwchar>

#include "platform/wide_text.h"

std::wstring Wide(std::string_view name) {
  const std::u16string wide = WidenName(name);
  return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const wchar_t* name) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return NarrowName(reinterpret_cast<const char16_t*>(name));
}

std::int64_t Ticks(const FILETIME& time) {
  return static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
      time.dwLowDateTime);
}

FILETIME FromTicks(std::int64_t ticks) {
  const auto bits = static_cast<std::uint64_t>(ticks);
  return {static_cast<DWORD>(bits), static_cast<DWORD>(bits >> 32)};
}

/// What a Win32 error code means to the pass.
Outcome OutcomeOf(DWORD error) {
  const auto number = static_cast<ErrorState>(error);
  switch (error) {
    case ERROR_SUCCESS:
      return {};
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return {Failure::kTaken, number};
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return {Failure::kGone, number};
    default:
      return {Failure::kOther, number};
  }
}

/// The failure of the call that just failed.
Outcome LastFailure() {
  const DWORD error = GetLastError();
  return OutcomeOf(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
}

namespace {

/// Local time by the zone's rules for that date. The rules as they were in
/// that year where the system keeps them (Windows 7 on), else the zone's
/// present rules, which still tell summer from winter by the date.
BOOL ToLocalTime(const DYNAMIC_TIME_ZONE_INFORMATION& zone,
                 const SYSTEMTIME& utc, SYSTEMTIME* local) {
  using Converter = BOOL(WINAPI*)(const DYNAMIC_TIME_ZONE_INFORMATION*,
                                  const SYSTEMTIME*, SYSTEMTIME*);
  static const Converter byYear =
      reinterpret_cast<Converter>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                         "SystemTimeToTzSpecificLocalTimeEx")));
  if (byYear != nullptr)
    return byYear(&zone, &utc, local);
  return SystemTimeToTzSpecificLocalTime(nullptr, &utc, local);
}

}  // namespace

SystemPlatform::SystemPlatform() : folder_(std::make_unique<Folder>()) {}

SystemPlatform::~SystemPlatform() = default;

Outcome SystemPlatform::ListFirst(ListedName* entry) {
  return folder_->listing.First(entry);
}

Outcome SystemPlatform::ListNext(ListedName* entry) {
  return folder_->listing.Next(entry);
}

// This program never makes a second name of a file here.
Sameness SystemPlatform::SameFile(const std::string&, const std::string&) {
  return Sameness::kOther;
}

Outcome SystemPlatform::RemoveSecondName(const std::string&,
                                         const std::string&) {
  return OutcomeOf(ERROR_NOT_SUPPORTED);
}

Outcome SystemPlatform::ModifiedTime(const std::string& fileName,
                                     DateTime* modified) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (const Outcome read = folder_->Read(fileName, &data); !read.ok())
    return read;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return {Failure::kGone, 0};  // a folder took the file's place

  // One zone for the whole run; its rules give each date its own offset.
  if (!folder_->haveZone) {
    if (GetDynamicTimeZoneInformation(&folder_->zone) == TIME_ZONE_ID_INVALID)
      return LastFailure();
    folder_->haveZone = true;
  }
  SYSTEMTIME utc, local;
  if (!FileTimeToSystemTime(&data.ftLastWriteTime, &utc) ||
      !ToLocalTime(folder_->zone, utc, &local))
    return LastFailure();
  modified->year = local.wYear;
  modified->month = local.wMonth;
  modified->day = local.wDay;
  modified->hour = local.wHour;
  modified->minute = local.wMinute;
  modified->second = local.wSecond;
  return {};
}

Outcome SystemPlatform::Rename(const std::string& from, const std::string& to,
                               const DateTime&) {
  // Without MOVEFILE_REPLACE_EXISTING the move refuses a taken name, and
  // within one folder it is a rename, never a copy.
  const std::wstring newPath = folder_->PathOf(to);
  if (MoveFileExW(folder_->PathOf(from).c_str(), newPath.c_str(), 0)) {
    folder_->renamed = true;
    return {};
  }
  const Outcome failure = LastFailure();
  // Some file systems refuse a name held by a folder as a denial of access.
  if (failure.error == ERROR_ACCESS_DENIED &&
      GetFileAttributesW(newPath.c_str()) != INVALID_FILE_ATTRIBUTES)
    return {Failure::kTaken, failure.error};
  // A new name too long for the file system is reported by some as a path
  // not found: the file is still there, and it keeps its name for a reason.
  if (failure.failure == Failure::kGone &&
      GetFileAttributesW(folder_->PathOf(from).c_str()) !=
          INVALID_FILE_ATTRIBUTES)
    return {Failure::kOther, failure.error};
  return failure;
}

Outcome SystemPlatform::ReadTimes(const std::string& fileName,
                                  FileTimes* times) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (const Outcome read = folder_->Read(fileName, &data); !read.ok())
    return read;
  // 100-nanosecond ticks, kept whole in the seconds and nanoseconds.
  const std::int64_t access = Ticks(data.ftLastAccessTime);
  const std::int64_t write = Ticks(data.ftLastWriteTime);
  *times = {access / 10000000, access % 10000000 * 100, write / 10000000,
            write % 10000000 * 100,
            static_cast<std::int64_t>(std::uint64_t{data.nFileSizeHigh} << 32 |
                                      data.nFileSizeLow)};
  return {};
}

Outcome SystemPlatform::SetTimes(const std::string& fileName,
                                 const FileTimes& times) {
  const HANDLE file = CreateFileW(
      folder_->PathOf(fileName).c_str(), FILE_WRITE_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return LastFailure();
  const FILETIME access =
      FromTicks(times.accessSeconds * 10000000 + times.accessNanoseconds / 100);
  const FILETIME write = FromTicks(times.modifiedSeconds * 10000000 +
                                   times.modifiedNanoseconds / 100);
  const Outcome outcome =
      SetFileTime(file, nullptr, &access, &write) ? Outcome{} : LastFailure();
  CloseHandle(file);
  return outcome;
}

// Whether renames keep times is found out, as shares may not; a move
// without a replace leaves no reservation, and a program of the GUI
// subsystem gets no Ctrl-C.
bool SystemPlatform::RenamesKeepTimes() {
  return false;
}

Reservation SystemPlatform::ReservationAt(const std::string&) {
  return Reservation::kNone;
}

bool SystemPlatform::Stopped() {
  return false;
}

Outcome SystemPlatform::Flush() {
  return folder_->Flush();
}

// Windows' own file systems keep a file's times through a move: nothing to
// record for a stop.
Outcome SystemPlatform::RecordTimes(const std::string&, const FileTimes&) {
  return {};
}

void SystemPlatform::DropTimesRecord() {}

void SystemPlatform::LeaveTimesRecord() {}

std::int64_t SystemPlatform::Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return Ticks(now) / 10000000;
}
