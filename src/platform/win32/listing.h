#ifndef STAMPNAME_PLATFORM_WIN32_LISTING_H_
#define STAMPNAME_PLATFORM_WIN32_LISTING_H_

#include <windows.h>

#include <string>

#include "platform/platform.h"

/// The folder's listing, and the lock that makes runs on it take turns,
/// held for the whole run.
class Listing {
 public:
  Listing() = default;
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;
  ~Listing();

  /// Locks the folder and yields its first name.
  Outcome First(ListedName* entry);

  /// Yields the next name, or an empty name at the end.
  Outcome Next(ListedName* entry);

  /// The folder's extended-length path and a separator.
  const std::wstring& prefix() const { return prefix_; }

 private:
  std::wstring prefix_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  HANDLE lock_ = nullptr;
  WIN32_FIND_DATAW found_{};
  bool pending_ = false;  // `found_` holds an entry not yet looked at
};

#endif  // STAMPNAME_PLATFORM_WIN32_LISTING_H_
