#ifndef STAMPNAME_DATE_TIME_H_
#define STAMPNAME_DATE_TIME_H_

#include <cstdint>

/// A local wall-clock date and time, split into the parts a new name shows.
struct DateTime {
  int year = 0;
  int month = 0;   // 1 to 12
  int day = 0;     // 1 to 31
  int hour = 0;    // 0 to 23
  int minute = 0;
  int second = 0;

  bool operator==(const DateTime&) const = default;
};

/// A stampable date and time in one number that sorts as the times do.
inline std::uint64_t Packed(const DateTime& t) {
  return static_cast<std::uint64_t>(t.year) << 26 |
         static_cast<std::uint64_t>(t.month) << 22 |
         static_cast<std::uint64_t>(t.day) << 17 |
         static_cast<std::uint64_t>(t.hour) << 12 |
         static_cast<std::uint64_t>(t.minute) << 6 |
         static_cast<std::uint64_t>(t.second);
}

inline DateTime Unpacked(std::uint64_t packed) {
  return {static_cast<int>(packed >> 26), static_cast<int>(packed >> 22 & 15),
          static_cast<int>(packed >> 17 & 31), static_cast<int>(packed >> 12 & 31),
          static_cast<int>(packed >> 6 & 63), static_cast<int>(packed & 63)};
}

#endif  // STAMPNAME_DATE_TIME_H_
