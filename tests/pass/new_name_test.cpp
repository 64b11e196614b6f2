#include "new_name.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string_view>
#include <tuple>

#include "zero_pad.h"

TEST(ZeroPadTest, FillsOnTheLeftAndKeepsTheRightmostDigits) {
  for (const auto& [number, width, text] :
       {std::tuple{7, 2, "07"}, {0, 2, "00"}, {12, 2, "12"}, {45, 3, "045"},
        {9, 4, "0009"}, {123, 2, "23"}, {10000, 4, "0000"}, {5, 0, ""},
        {12345, 0, ""}})
    EXPECT_EQ(ZeroPad(number, width), text) << number << " in " << width;
  EXPECT_THROW(ZeroPad(5, -1), std::invalid_argument);
}

TEST(NewNameTest, ExtensionRunsFromTheFirstDot) {
  for (const auto& [name, extension] :
       std::map<std::string_view, std::string_view>{
           {"photo.jpg", ".jpg"}, {"archive.tar.gz", ".tar.gz"},
           {"a.b.c", ".b.c"}, {".profile", ".profile"},
           {"IMG_0001.JPG", ".JPG"}, {"README", ""}, {"trailing.", "."},
           {"", ""}})
    EXPECT_EQ(ExtensionOf(name), extension) << name;
  // A stopped run's hidden name keeps the extension of the name it records.
  EXPECT_EQ(ExtensionOf(".stampname-00ff-1 to 2009-03-05 07-08-09.jpg", 20),
            ".jpg");
}

TEST(NewNameTest, NamesAreStampNumberAndExtension) {
  struct Row {
    DateTime time;
    int attempt;
    std::string_view extension, name;
  };
  for (const Row& row : {
           Row{{2009, 3, 5, 7, 8, 9}, 1, ".jpg", "2009-03-05 07-08-09.jpg"},
           Row{{2023, 12, 31, 23, 59, 59}, 2, ".tar.gz",
               "2023-12-31 23-59-59 (02).tar.gz"},
           Row{{2000, 1, 1, 0, 0, 0}, 10, "", "2000-01-01 00-00-00 (10)"},
           Row{{2012, 2, 29, 23, 59, 59}, 1, "", "2012-02-29 23-59-59"},
           Row{{33, 1, 2, 3, 4, 5}, 99, ".JPG", "0033-01-02 03-04-05 (99).JPG"},
       }) {
    const std::string name = NewName(row.time, row.attempt, row.extension);
    EXPECT_EQ(name, row.name);
    // Every name given is known again as one, and by its stamp.
    EXPECT_EQ(StampOf(name), Stamp(row.time)) << name;
    EXPECT_EQ(StampOf(name), name.substr(0, 19));
    EXPECT_EQ(NumberOf(name), row.attempt) << name;
  }
}

TEST(NewNameTest, StampOfKnowsOnlyTheNamesTheRunGives) {
  for (const std::string_view nearMiss :
       {"2009-03-05 07-08-09 (00).jpg", "2009-03-05 07-08-09 (01).jpg",
        "2009-03-05 07-08-09 (1).jpg", "2009-03-05 07-08-09 (100).jpg",
        "2009-03-05 07-08-09 (0a).jpg", "2009-03-05 07-08-09 (a2).jpg",
        "2009-03-05 07-08-09abc.jpg", "2009-03-05 07-08-09 (02)x.jpg",
        "2009-03-05 07-08-09 (02", "2009-03-05 07-08-0x.jpg",
        "2009-03-05_07-08-09.jpg", "2009-03-05 07:08:09.jpg",
        "2009-03-05 07-08", "photo.jpg", ""})
    EXPECT_EQ(StampOf(nearMiss), "") << nearMiss;
  for (const std::string_view nearMiss :
       {"2009-03-05 07-08-09 (01).jpg", "photo.jpg"})
    EXPECT_EQ(NumberOf(nearMiss), 0) << nearMiss;
  // The shape is what counts: a date no clock shows still has it.
  EXPECT_EQ(StampOf("2009-13-45 25-61-61.jpg"), "2009-13-45 25-61-61");
}
