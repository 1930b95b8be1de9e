// Date-time values: days since 1899-12-30 as a double, the time of day as the fraction.
// The scale is linear on both sides of day 0 (floor for the day), so adding hours is a
// plain addition also before 1899.
#pragma once

namespace newsbar {

using DateTime = double;

struct CalendarTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Expects a valid calendar date (see NormaliseCalendar); the time fields are added as
// an offset, so they may lie outside their usual ranges.
DateTime ToDateTime(const CalendarTime& time);

// The fields of a date-time, to the nearest millisecond. A value that is not finite or
// lies outside the years 1..9999 gives all fields 0.
CalendarTime FromDateTime(DateTime value);

// The calendar's clamping: year 100..9999, month 1..12, day 1..the month's last day,
// hour 0..23, minute and second 0..59, millisecond 0..999.
CalendarTime NormaliseCalendar(CalendarTime time);

// The local wall clock, to the millisecond.
CalendarTime LocalNow();

}  // namespace newsbar
