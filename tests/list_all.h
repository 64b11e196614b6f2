#ifndef STAMPNAME_TESTS_LIST_ALL_H_
#define STAMPNAME_TESTS_LIST_ALL_H_

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/platform.h"

/// Every name a fresh listing of the folder yields.
inline std::set<std::string> ListAll(Platform& platform) {
  std::set<std::string> names;
  std::string name;
  EXPECT_EQ(platform.ListFirst(&name), 0);
  while (!name.empty()) {
    names.insert(name);
    EXPECT_EQ(platform.ListNext(&name), 0);
  }
  return names;
}

#endif  // STAMPNAME_TESTS_LIST_ALL_H_
