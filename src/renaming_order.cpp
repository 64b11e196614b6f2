// The order in which a run names files, the seconds and shots that order
// falls into, and the numbers they take: what makes the names a run gives
// independent of the order the folder lists files in.
#include "renaming_order.h"

#include <algorithm>
#include <cstdint>

#include "name_table.h"
#include "new_name.h"

using Index = FolderNames::Index;

int& Second::LowestFree(std::string_view extension) {
  for (auto& [known, number] : lowest)
    if (SameButForCase(known, extension))
      return number;
  return lowest.emplace_back(extension, 1).second;
}

Order RenamingOrder(const FolderNames& folder) {
  // Files bearing a stamp name of another time go first: the names they
  // free may be the very ones the others want, so one run gives what a
  // second would. The first two keys in one number, so that most
  // comparisons end there.
  std::vector<std::pair<std::uint64_t, Index>> keyed;
  for (Index index = 0; index < folder.size(); ++index) {
    const ListedFile& file = folder[index];
    if (file.state == FileState::kPending)
      keyed.emplace_back(file.time | std::uint64_t{!file.stampShaped} << 63,
                         index);
  }
  std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
    if (a.first != b.first)
      return a.first < b.first;
    const ListedFile& x = folder[a.second];
    const ListedFile& y = folder[b.second];
    return x.shot() != y.shot() ? x.shot() < y.shot() : x.name < y.name;
  });
  Order order;
  order.reserve(keyed.size());
  for (const auto& [key, index] : keyed) order.push_back(index);
  return order;
}

Order::const_iterator SecondEnd(const FolderNames& folder,
                                Order::const_iterator first,
                                Order::const_iterator end) {
  const ListedFile& head = folder[*first];
  return std::find_if(first, end, [&](Index index) {
    return folder[index].time != head.time ||
           folder[index].stampShaped != head.stampShaped;
  });
}

Order::const_iterator ShotEnd(const FolderNames& folder,
                              Order::const_iterator first,
                              Order::const_iterator end) {
  return std::find_if(first, end, [&](Index index) {
    return folder[index].shot() != folder[*first].shot();
  });
}

int ShotNumber(const FolderNames& folder, std::span<const Index> shot, int from,
               std::vector<std::string>* names) {
  names->resize(shot.size());
  for (int number = from; number <= kMaxAttempts; ++number) {
    bool free = true;
    for (std::size_t i = 0; i < shot.size() && free; ++i) {
      (*names)[i] = folder.NewNameOf(shot[i], number);
      free = !folder.Taken((*names)[i]);
    }
    if (free)
      return number;
  }
  return 0;
}
