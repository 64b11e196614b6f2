#ifndef STAMPNAME_RENAMING_ORDER_H_
#define STAMPNAME_RENAMING_ORDER_H_

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "folder_names.h"

/// The files of one second (stamp names of other times apart): the lowest
/// number that may still be free for each extension (but for case), and
/// whether names given must count as taken. While a second is named, its
/// names are only ever taken, never freed: the numbers below are known
/// taken.
struct Second {
  /// Names given are only ever wanted by files of the same second; a file
  /// alone in it need not enter its new name (the rename would still
  /// refuse it, were it wanted after all). So only a second of one file
  /// forgets them, and its lowest numbers matter to no other file.
  bool remember = true;
  std::vector<std::pair<std::string_view, int>> lowest;

  int& LowestFree(std::string_view extension);
};

using Order = std::vector<FolderNames::Index>;

/// The files still to be named, in the order they are named: by second,
/// those under a stamp name of another time first, then by shot and name,
/// whatever order the folder listed them in.
Order RenamingOrder(const FolderNames& folder);

/// Where the second that begins at `first` ends in `order`.
Order::const_iterator SecondEnd(const FolderNames& folder,
                                Order::const_iterator first,
                                Order::const_iterator end);

/// Where the shot that begins at `first` ends, within its second.
Order::const_iterator ShotEnd(const FolderNames& folder,
                              Order::const_iterator first,
                              Order::const_iterator end);

/// The lowest number from `from` on at which every name of `shot` is free,
/// with those names in `names`; 0 where there is none.
int ShotNumber(const FolderNames& folder,
               std::span<const FolderNames::Index> shot, int from,
               std::vector<std::string>* names);

#endif  // STAMPNAME_RENAMING_ORDER_H_
