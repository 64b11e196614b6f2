#include "new_name.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "zero_pad.h"

TEST(ZeroPadTest, FillsWithZerosOnTheLeft) {
  EXPECT_EQ(ZeroPad(7, 2), "07");
  EXPECT_EQ(ZeroPad(0, 2), "00");
  EXPECT_EQ(ZeroPad(12, 2), "12");
  EXPECT_EQ(ZeroPad(45, 3), "045");
  EXPECT_EQ(ZeroPad(9, 4), "0009");
}

TEST(ZeroPadTest, KeepsTheRightmostDigitsOfAWideNumber) {
  EXPECT_EQ(ZeroPad(123, 2), "23");
  EXPECT_EQ(ZeroPad(10000, 4), "0000");
}

TEST(ZeroPadTest, WidthZeroGivesEmptyTextAndNegativeWidthFails) {
  EXPECT_EQ(ZeroPad(5, 0), "");
  EXPECT_EQ(ZeroPad(12345, 0), "");
  EXPECT_THROW(ZeroPad(5, -1), std::invalid_argument);
}

TEST(NewNameTest, ExtensionRunsFromTheFirstDot) {
  EXPECT_EQ(Extension("photo.jpg"), ".jpg");
  EXPECT_EQ(Extension("archive.tar.gz"), ".tar.gz");
  EXPECT_EQ(Extension("a.b.c"), ".b.c");
  EXPECT_EQ(Extension(".profile"), ".profile");
  EXPECT_EQ(Extension("IMG_0001.JPG"), ".JPG");
  EXPECT_EQ(Extension("README"), "");
  EXPECT_EQ(Extension("trailing."), ".");
  EXPECT_EQ(Extension(""), "");
}

TEST(NewNameTest, StampHasFixedWidthFieldsAndDashes) {
  EXPECT_EQ(Stamp({2009, 3, 5, 7, 8, 9}), "2009-03-05 07-08-09");
  EXPECT_EQ(Stamp({2023, 12, 31, 23, 59, 59}), "2023-12-31 23-59-59");
  EXPECT_EQ(Stamp({2000, 1, 1, 0, 0, 0}), "2000-01-01 00-00-00");
  EXPECT_EQ(Stamp({33, 1, 2, 3, 4, 5}), "0033-01-02 03-04-05");
}

TEST(NewNameTest, OnlyFourDigitYearsAreStampable) {
  EXPECT_TRUE(Stampable({1, 1, 1, 0, 0, 0}));
  EXPECT_TRUE(Stampable({9999, 12, 31, 23, 59, 59}));
  EXPECT_FALSE(Stampable({0, 1, 1, 0, 0, 0}));
  EXPECT_FALSE(Stampable({-1, 1, 1, 0, 0, 0}));
  EXPECT_FALSE(Stampable({10000, 1, 1, 0, 0, 0}));
}

TEST(NewNameTest, SuffixStandsBetweenStampAndExtension) {
  const std::string stamp = "2009-03-05 07-08-09";
  EXPECT_EQ(Suffix(1), "");
  EXPECT_EQ(Suffix(2), " (02)");
  EXPECT_EQ(Suffix(99), " (99)");
  EXPECT_EQ(NewName(stamp, 1, ".jpg"), "2009-03-05 07-08-09.jpg");
  EXPECT_EQ(NewName(stamp, 2, ".tar.gz"), "2009-03-05 07-08-09 (02).tar.gz");
  EXPECT_EQ(NewName(stamp, 10, ""), "2009-03-05 07-08-09 (10)");
}
