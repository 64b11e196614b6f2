#include "platform/wide_text.h"

#include <gtest/gtest.h>

TEST(WideTextTest, ValidNamesBecomeUtf8) {
  EXPECT_EQ(NarrowName(u"photo.jpg"), "photo.jpg");
  EXPECT_EQ(NarrowName(u"Café.JPG"), "Caf\xC3\xA9.JPG");
  EXPECT_EQ(NarrowName(u"写真.png"), "\xE5\x86\x99\xE7\x9C\x9F.png");
  EXPECT_EQ(NarrowName(u"\U0001F600.gif"), "\xF0\x9F\x98\x80.gif");
}

TEST(WideTextTest, EveryNameSurvivesTheRoundTrip) {
  const std::u16string names[] = {
      u"", u"a.b.c", u"Ünïcødé ñame.tar.gz", u"日本語のファイル",
      u"\U0001F4F7 burst \U0001F600.jpg",
      // Lone surrogates, which Windows names may hold.
      std::u16string(1, u'\xD800') + u".jpg",
      u"x" + std::u16string(1, u'\xDFFF'),
      std::u16string{u'\xDC00', u'\xD800'},  // low before high: no pair
  };
  for (const auto& name : names)
    EXPECT_EQ(WidenName(NarrowName(name)), name);
}

TEST(WideTextTest, DotsStayWhereTheyWere) {
  // The pass finds the extension by the first '.' byte; no multi-byte
  // sequence may contain one.
  const std::string narrow = NarrowName(u"\u2E2E\uFF0E.\U0001F600.jpg");
  EXPECT_EQ(narrow.find('.'), narrow.size() - 9);
}
