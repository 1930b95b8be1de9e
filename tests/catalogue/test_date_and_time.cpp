// Date-time arithmetic, the HTTP-date reader and the catalogue timestamp.
#include <gtest/gtest.h>

#include "catalogue/catalogue_request.h"
#include "catalogue/date_time.h"
#include "catalogue/network_time.h"

namespace newsbar {
namespace {

void ExpectFields(const CalendarTime& t, int year, int month, int day, int hour, int minute,
                  int second) {
  EXPECT_EQ(t.year, year);
  EXPECT_EQ(t.month, month);
  EXPECT_EQ(t.day, day);
  EXPECT_EQ(t.hour, hour);
  EXPECT_EQ(t.minute, minute);
  EXPECT_EQ(t.second, second);
}

TEST(DateTime, KnownDaysAndRoundTrip) {
  EXPECT_DOUBLE_EQ(ToDateTime({.year = 1899, .month = 12, .day = 30}), 0.0);
  EXPECT_DOUBLE_EQ(ToDateTime({.year = 1900, .month = 1, .day = 1, .hour = 6}), 2.25);
  EXPECT_DOUBLE_EQ(ToDateTime({.year = 2020, .month = 7, .day = 20, .hour = 12}), 44032.5);
  // Before day 0 the scale stays linear: 1899-12-29 06:00 is -1 + 0.25.
  EXPECT_DOUBLE_EQ(ToDateTime({.year = 1899, .month = 12, .day = 29, .hour = 6}), -0.75);
  ExpectFields(FromDateTime(-0.75), 1899, 12, 29, 6, 0, 0);

  // Every hour of a leap day and its neighbours comes back exactly (no 01:59:59.999).
  for (int day = 28; day <= 31; ++day) {
    const int month = day <= 29 ? 2 : 3;
    const int dayOfMonth = day <= 29 ? day : day - 29;
    for (int hour = 0; hour < 24; ++hour) {
      const CalendarTime back = FromDateTime(ToDateTime(
          {.year = 2024, .month = month, .day = dayOfMonth, .hour = hour, .minute = 59}));
      ExpectFields(back, 2024, month, dayOfMonth, hour, 59, 0);
      EXPECT_EQ(back.millisecond, 0);
    }
  }
  const CalendarTime withMs = FromDateTime(ToDateTime(
      {.year = 2020, .month = 7, .day = 20, .hour = 20, .second = 1, .millisecond = 123}));
  EXPECT_EQ(withMs.millisecond, 123);

  // Nonsense values give the zero fields rather than garbage.
  ExpectFields(FromDateTime(1e300), 0, 0, 0, 0, 0, 0);
  ExpectFields(FromDateTime(std::numeric_limits<double>::quiet_NaN()), 0, 0, 0, 0, 0, 0);
}

TEST(DateTime, NormaliseClampsEveryField) {
  ExpectFields(NormaliseCalendar({}), 100, 1, 1, 0, 0, 0);
  ExpectFields(NormaliseCalendar(
                   {.year = 12000, .month = 13, .day = 40, .hour = 24, .minute = 61, .second = 60}),
               9999, 12, 31, 23, 59, 59);
  // Beyond the month's last day gives that day, leap years included.
  ExpectFields(NormaliseCalendar({.year = 2023, .month = 2, .day = 30}), 2023, 2, 28, 0, 0, 0);
  ExpectFields(NormaliseCalendar({.year = 2024, .month = 2, .day = 31}), 2024, 2, 29, 0, 0, 0);
  ExpectFields(NormaliseCalendar({.year = 1900, .month = 2, .day = 29}), 1900, 2, 28, 0, 0, 0);
  ExpectFields(NormaliseCalendar({.year = 2021, .month = 6, .day = 31, .hour = -3}), 2021, 6, 30, 0,
               0, 0);
}

TEST(HttpDate, TheThreeFormsAgree) {
  for (const char* text : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                           "Sun Nov  6 08:49:37 1994", "  \tSun, 06 Nov 1994 08:49:37 GMT",
                           " sun, 06 NOV 1994 08:49:37 gmt", "06 Nov 1994 08:49:37 GMT",
                           "Sun Nov 06 08:49:37 1994", "Sun, 6 November 1994 08:49:37 UTC"}) {
    SCOPED_TRACE(text);
    const auto parsed = ParseHttpDate(text);
    ASSERT_TRUE(parsed.has_value());
    ExpectFields(*parsed, 1994, 11, 6, 8, 49, 37);
  }
  // Two-digit years of the old form: this century below 50, the last one from 50.
  EXPECT_EQ(ParseHttpDate("Monday, 20-Jul-20 18:30:00 GMT")->year, 2020);
  EXPECT_EQ(ParseHttpDate("Friday, 31-Dec-99 23:59:59 GMT")->year, 1999);
}

TEST(HttpDate, RejectsWhatIsNoDate) {
  for (const char* text :
       {"", " ", "garbage", "Mon, 20 Jul 2020", "Mon, 20 Jux 2020 18:30:00 GMT",
        "Mon, 32 Jul 2020 18:30:00 GMT", "Mon, 20 Jul 2020 24:00:00 GMT",
        "Mon, 20 Jul 2020 18:60:00 GMT", "Mon, 20 Jul 20201 18:30:00 GMT",
        "Mon, 20 Jul 202 18:30:00 GMT", "Mon, 20-Jul 2020 18:30:00 GMT", "Mon Jul 20 18:30:00",
        "Mon Jul 20 18:30:00 20", "Someday, 20 Jul 2020 18:30:00 GMT", "Mon, 00 Jul 2020 1:2:3",
        "Mon, 20 Jul 2020 18:30", "Mon, 999999999999 Jul 2020 18:30:00 GMT"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseHttpDate(text).has_value());
  }
}

TEST(Timestamp, CountsFromEightOClockOnNewYearsDay1970) {
  // A clock at UTC+8 showing 2020-07-20 20:00:00.123 is 12:00:00.123 UTC.
  EXPECT_EQ(MakeTimestamp({.year = 2020, .month = 7, .day = 20, .hour = 20, .millisecond = 123}),
            "1595246400123");
  EXPECT_EQ(MakeTimestamp({.year = 2020, .month = 7, .day = 20, .hour = 20, .millisecond = 5}),
            "1595246400005");
  EXPECT_EQ(MakeTimestamp({.year = 2020, .month = 7, .day = 20, .hour = 20, .second = 59}),
            "1595246459000");
  EXPECT_EQ(MakeTimestamp({.year = 1970, .month = 1, .day = 1, .hour = 8, .second = 1}), "1000");
  // Every second of a day comes out whole: none is lost to floating-point error.
  for (int second = 0; second < 86400; ++second) {
    const CalendarTime local{.year = 2031,
                             .month = 3,
                             .day = 9,
                             .hour = second / 3600,
                             .minute = second / 60 % 60,
                             .second = second % 60,
                             .millisecond = 999};
    const long long expected = 1930780800LL + second - 8 * 3600;
    ASSERT_EQ(MakeTimestamp(local), std::to_string(expected) + "999") << second;
  }
  // The live clock gives 13 digits in this era.
  const Text now = MakeTimestamp();
  EXPECT_EQ(now.size(), 13u);
  EXPECT_EQ(now.find_first_not_of("0123456789"), std::string::npos);
}

}  // namespace
}  // namespace newsbar
