#ifndef STAMPNAME_TESTS_LIST_ALL_H_
#define STAMPNAME_TESTS_LIST_ALL_H_

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/platform.h"
#include "scratch_folder.h"

/// Every ordinary file a fresh listing of the folder yields, once the files
/// written for the test have their times; the other names it yields go to
/// `others`.
inline std::set<std::string> ListAll(Platform& platform,
                                     std::set<std::string>* others = nullptr) {
  SettleWrites();
  std::set<std::string> names;
  ListedName entry;
  EXPECT_TRUE(platform.ListFirst(&entry).ok());
  while (!entry.fileName.empty()) {
    if (entry.ordinary)
      names.insert(entry.fileName);
    else if (others != nullptr)
      others->insert(entry.fileName);
    EXPECT_TRUE(platform.ListNext(&entry).ok());
  }
  return names;
}

/// Renames as the pass does: with the time the file has now.
inline Outcome RenameNow(Platform& platform, const std::string& from,
                            const std::string& to) {
  DateTime modified;
  platform.ModifiedTime(from, &modified);
  return platform.Rename(from, to, modified);
}

#endif  // STAMPNAME_TESTS_LIST_ALL_H_
