// The listing of the folder, and the lock that makes runs on it take turns.
#include "platform/win32/listing.h"

#include <cwchar>

#include "platform/win32/folder.h"

const char folderPrefix[] = "Rename\\";

namespace {

/// The folder as an extended-length path, so that long names deep below the
/// current folder are not cut at 260 characters, and names are taken as
/// they are, trailing dots and spaces included.
std::wstring ExtendedPath(const wchar_t* relative) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = GetFullPathNameW(
        relative, static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (size == 0)
      return relative;
    if (size < full.size()) {
      full.resize(size);
      break;
    }
    full.resize(size);
  }
  if (full.starts_with(L"\\\\?\\"))
    return full;
  if (full.starts_with(L"\\\\"))
    return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

/// Folders, hidden and system files are not listed. Links are left alone as
/// on other systems; other reparse points (cloud placeholders, say) are
/// ordinary files.
bool Ordinary(DWORD attributes, DWORD reparseTag) {
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN |
                     FILE_ATTRIBUTE_SYSTEM)) != 0)
    return false;
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ||
         (reparseTag != IO_REPARSE_TAG_SYMLINK &&
          reparseTag != IO_REPARSE_TAG_MOUNT_POINT);
}

/// A lock that one run in a folder holds at a time, named after the folder's
/// volume and file id so that every path to it meets the same lock, and
/// made of nothing that stays behind. Null where it cannot be had.
HANDLE LockFolder(const std::wstring& folder) {
  const HANDLE handle =
      CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL known = GetFileInformationByHandle(handle, &info);
  CloseHandle(handle);
  if (!known)
    return nullptr;
  wchar_t id[64];
  swprintf(id, 64, L"stampname-%08lx-%08lx%08lx", info.dwVolumeSerialNumber,
           info.nFileIndexHigh, info.nFileIndexLow);
  // Across sessions where allowed, else within this one.
  HANDLE lock =
      CreateMutexW(nullptr, FALSE, (L"Global\\" + std::wstring(id)).c_str());
  if (lock == nullptr)
    lock =
        CreateMutexW(nullptr, FALSE, (L"Local\\" + std::wstring(id)).c_str());
  if (lock == nullptr)
    return nullptr;
  const DWORD waited = WaitForSingleObject(lock, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(lock);
    return nullptr;
  }
  return lock;
}

}  // namespace

Listing::~Listing() {
  if (handle_ != INVALID_HANDLE_VALUE)
    FindClose(handle_);
  if (lock_ != nullptr) {
    ReleaseMutex(lock_);
    CloseHandle(lock_);
  }
}

Outcome Listing::First(ListedName* entry) {
  entry->fileName.clear();
  const std::wstring relative = Wide(folderPrefix);
  prefix_ = ExtendedPath(relative.substr(0, relative.size() - 1).c_str());
  // One run at a time in a folder: a second one waits here, then finds the
  // first one's work done.
  lock_ = LockFolder(prefix_);
  prefix_ += L'\\';
  handle_ = FindFirstFileExW((prefix_ + L"*").c_str(), FindExInfoBasic, &found_,
                             FindExSearchNameMatch, nullptr,
                             FIND_FIRST_EX_LARGE_FETCH);
  if (handle_ == INVALID_HANDLE_VALUE) {
    // Some file systems list no "." and ".." entries: an empty folder.
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? Outcome{} : OutcomeOf(error);
  }
  pending_ = true;
  return Next(entry);
}

Outcome Listing::Next(ListedName* entry) {
  entry->fileName.clear();
  if (handle_ == INVALID_HANDLE_VALUE)
    return {};
  for (;;) {
    if (!pending_ && !FindNextFileW(handle_, &found_)) {
      const DWORD error = GetLastError();
      return error == ERROR_NO_MORE_FILES ? Outcome{} : OutcomeOf(error);
    }
    pending_ = false;
    const wchar_t* name = found_.cFileName;
    if (name[0] == L'.' &&
        (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0')))
      continue;
    entry->fileName = Narrow(name);
    entry->ordinary = Ordinary(found_.dwFileAttributes, found_.dwReserved0);
    return {};
  }
}
