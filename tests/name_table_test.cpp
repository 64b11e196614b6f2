#include "name_table.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

TEST(NameTableTest, FindsWhatWasSetAndForgetsWhatWasErased) {
  NameTable table;
  EXPECT_EQ(table.Find("a.jpg"), nullptr);
  table.Set("a.jpg", 1);
  table.Set("", 2);  // the empty name is a name like any other
  ASSERT_NE(table.Find("a.jpg"), nullptr);
  EXPECT_EQ(*table.Find("a.jpg"), 1);
  EXPECT_EQ(*table.Find(""), 2);
  EXPECT_EQ(table.Find("a.jp"), nullptr);
  EXPECT_EQ(table.Find("a.jpgx"), nullptr);

  table.Set("a.jpg", 3);
  EXPECT_EQ(*table.Find("a.jpg"), 3);
  EXPECT_EQ(table.size(), 2u);
  table.Erase("a.jpg");
  table.Erase("never there");
  EXPECT_EQ(table.Find("a.jpg"), nullptr);
  EXPECT_EQ(table.size(), 1u);
  table.Set("a.jpg", 4);
  EXPECT_EQ(*table.Find("a.jpg"), 4);
}

// Random sets and erases over a small set of names, so that probe paths
// cross erased slots and the table grows many times, checked against the
// standard library's map.
TEST(NameTableTest, AgreesWithAMapOverRandomOperations) {
  std::mt19937 random(7);
  NameTable table;
  std::map<std::string, std::uint8_t> model;
  for (int step = 0; step < 200000; ++step) {
    const std::string name =
        "2020-01-01 00-00-00 (" + std::to_string(random() % 3000) + ").jpg";
    const std::uint8_t value = static_cast<std::uint8_t>(random() % 3);
    switch (random() % 3) {
      case 0:
      case 1:
        table.Set(name, value);
        model[name] = value;
        break;
      case 2:
        table.Erase(name);
        model.erase(name);
        break;
    }
    const std::string probe =
        "2020-01-01 00-00-00 (" + std::to_string(random() % 3000) + ").jpg";
    const auto expected = model.find(probe);
    const std::uint8_t* found = table.Find(probe);
    ASSERT_EQ(found != nullptr, expected != model.end()) << "step " << step;
    if (found != nullptr) {
      ASSERT_EQ(*found, expected->second) << "step " << step;
    }
  }
  EXPECT_EQ(table.size(), model.size());
}
