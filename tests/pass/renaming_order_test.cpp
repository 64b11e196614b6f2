// The order files are named in, found from names and times alone.
#include "renaming_order.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "date_time.h"
#include "folder_names.h"

namespace {

/// The order's names, with "|" between seconds and "/" between shots.
std::string Grouped(const std::vector<std::pair<const char*, int>>& listed) {
  FolderNames folder;
  for (const auto& [name, second] : listed)
    folder.Timed(folder.Add(name, true), Packed({2009, 3, 5, 7, 8, second}),
                 false);
  const Order order = RenamingOrder(folder);
  std::string grouped;
  for (auto first = order.begin(); first != order.end();) {
    const auto end = SecondEnd(folder, first, order.end());
    for (auto shot = first; shot != end;) {
      const auto last = ShotEnd(folder, shot, end);
      for (auto at = shot; at != last; ++at)
        grouped.append(folder[*at].name).append(" ");
      grouped.back() = '/';
      shot = last;
    }
    grouped.back() = '|';
    first = end;
  }
  return grouped;
}

TEST(RenamingOrderTest, BySecondStampNamesFirstThenShotThenName) {
  struct Row {
    std::vector<std::pair<const char*, int>> listed;
    const char* order;
  };
  for (const Row& row : std::vector<Row>{
           // Whatever the listing's order.
           {{{"b.jpg", 9}, {"a.jpg", 9}, {"c.jpg", 1}}, "c.jpg|a.jpg/b.jpg|"},
           // A shot's files together, by the part before the first dot:
           // "IMG_1.JPG" before "IMG_1 copy.JPG", though a space sorts
           // before a dot.
           {{{"IMG_1 copy.JPG", 9}, {"IMG_1.JPG", 9}, {"IMG_1.CR2", 9}},
            "IMG_1.CR2 IMG_1.JPG/IMG_1 copy.JPG|"},
           // A stamp name of another time comes before the others of its
           // new second: the name it frees may be the one they want.
           {{{"a.jpg", 9}, {"2001-01-01 00-00-00.jpg", 9}},
            "2001-01-01 00-00-00.jpg|a.jpg|"},
       })
    EXPECT_EQ(Grouped(row.listed), row.order);
}

TEST(RenamingOrderTest, AShotTakesTheLowestNumberFreeForAllItsNames) {
  FolderNames folder;
  const DateTime time{2009, 3, 5, 7, 8, 9};
  folder.Add("2009-03-05 07-08-09.jpg", true);
  folder.Add("2009-03-05 07-08-09 (02).cr2", true);
  const FolderNames::Index shot[] = {folder.Add("a.cr2", true),
                                     folder.Add("a.jpg", true)};
  for (const FolderNames::Index index : shot)
    folder.Timed(index, Packed(time), false);
  std::vector<std::string> names;
  EXPECT_EQ(ShotNumber(folder, shot, 1, &names), 3);
  EXPECT_EQ(names, (std::vector<std::string>{"2009-03-05 07-08-09 (03).cr2",
                                             "2009-03-05 07-08-09 (03).jpg"}));
  EXPECT_EQ(ShotNumber(folder, shot, 4, &names), 4);

  // Extensions but for case share one lowest number.
  Second second;
  ++second.LowestFree(".jpg");
  EXPECT_EQ(second.LowestFree(".JPG"), 2);
  EXPECT_EQ(second.LowestFree(".cr2"), 1);
}

}  // namespace
