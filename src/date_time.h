#ifndef STAMPNAME_DATE_TIME_H_
#define STAMPNAME_DATE_TIME_H_

/// A local wall-clock date and time, split into the parts a new name shows.
struct DateTime {
  int year = 0;
  int month = 0;   // 1 to 12
  int day = 0;     // 1 to 31
  int hour = 0;    // 0 to 23
  int minute = 0;
  int second = 0;
};

#endif  // STAMPNAME_DATE_TIME_H_
