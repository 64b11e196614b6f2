#include "name_table.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

/// A table over names the test keeps, as the pass keeps its listing.
struct Names {
  std::vector<std::string> texts;
  NameTable table{[this](NameTable::Reference reference, std::string*) {
    return std::string_view(texts[reference]);
  }};

  NameTable::Reference Insert(const std::string& name) {
    texts.push_back(name);
    const auto reference = static_cast<NameTable::Reference>(texts.size() - 1);
    table.Insert(name, reference);
    return reference;
  }
  void Erase(NameTable::Reference reference) {
    table.Erase(texts[reference], reference);
  }
};

std::string Folded(std::string name) {
  for (char& c : name)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return name;
}

TEST(NameTableTest, FindsWhatWasInsertedButForCaseAndForgetsWhatWasErased) {
  Names names;
  EXPECT_FALSE(names.table.Contains("a.jpg"));
  const auto lower = names.Insert("a.jpg");
  names.Insert("");  // the empty name is a name like any other
  EXPECT_TRUE(names.table.Contains("a.jpg"));
  EXPECT_TRUE(names.table.Contains("A.JPG"));
  EXPECT_TRUE(names.table.Contains(""));
  EXPECT_FALSE(names.table.Contains("a.jp"));
  EXPECT_FALSE(names.table.Contains("a.jpgx"));
  // Letters beyond ASCII are compared as they are.
  names.Insert("\xC3\xA9.jpg");  // é
  EXPECT_FALSE(names.table.Contains("\xC3\x89.jpg"));  // É

  // Two entries that fold together: the name stays taken until both go.
  const auto upper = names.Insert("A.jpg");
  EXPECT_EQ(names.table.size(), 4u);
  names.Erase(lower);
  EXPECT_TRUE(names.table.Contains("a.JPG"));
  names.Erase(upper);
  EXPECT_FALSE(names.table.Contains("a.jpg"));
  EXPECT_EQ(names.table.size(), 2u);
}

// Random inserts and erases over a small set of names, so that probe paths
// cross erased slots and the table grows and rehashes many times, checked
// against the standard library's multimap of folded names.
TEST(NameTableTest, AgreesWithAMapOverRandomOperations) {
  std::mt19937 random(7);
  Names names;
  std::multimap<std::string, NameTable::Reference> model;
  for (int step = 0; step < 200000; ++step) {
    const std::string name = "2020-01-01 00-00-00 (" +
                             std::to_string(random() % 3000) +
                             (random() % 2 ? ").jpg" : ").JPG");
    if (random() % 3 != 2) {
      model.emplace(Folded(name), names.Insert(name));
    } else {
      const auto it = model.find(Folded(name));
      if (it != model.end()) {
        names.Erase(it->second);
        model.erase(it);
      }
    }
    const std::string probe =
        "2020-01-01 00-00-00 (" + std::to_string(random() % 3000) + ").jpg";
    ASSERT_EQ(names.table.Contains(probe), model.count(Folded(probe)) != 0)
        << "step " << step;
  }
  EXPECT_EQ(names.table.size(), model.size());
}

}  // namespace
