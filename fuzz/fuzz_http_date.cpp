// The HTTP-date parser and the date maths behind the network time, on whatever a server
// puts into its Date header. Input: the header block as received.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "catalogue/date_time.h"
#include "catalogue/network_time.h"
#include "fuzz_support.h"
#include "util/text_cut.h"

namespace {

using newsbar::CalendarTime;

bool SameFields(const CalendarTime& a, const CalendarTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second;
}

// A parsed date written again in the fixed form must read back the same.
void CheckRewritten(const CalendarTime& time) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "Mon, %02d %s %04d %02d:%02d:%02d GMT", time.day,
                kMonths[time.month - 1], time.year, time.hour, time.minute, time.second);
  const auto again = newsbar::ParseHttpDate(text);
  FUZZ_CHECK(again.has_value() && SameFields(*again, time));
}

// What GetNetworkTime does with the header block once the reply is in.
void CheckNetworkTime(std::string_view headers) {
  const newsbar::Text date = newsbar::TextBetween(headers, "Date:", "\r\n");
  CalendarTime fields;
  if (const auto parsed = newsbar::ParseHttpDate(date)) fields = *parsed;
  const CalendarTime normal = newsbar::NormaliseCalendar(fields);
  FUZZ_CHECK(normal.year >= 100 && normal.year <= 9999 && normal.month >= 1 && normal.month <= 12 &&
             normal.day >= 1 && normal.day <= 31);
  const newsbar::DateTime now = newsbar::ToDateTime(normal) + 8.0 / 24.0;
  const CalendarTime back = newsbar::FromDateTime(now);
  // Past the end of the calendar (31 Dec 9999 after 16:00 GMT) every field reads 0.
  FUZZ_CHECK((back.year >= 100 && back.year <= 9999) || (back.year == 0 && back.month == 0));
  FUZZ_CHECK(back.hour >= 0 && back.hour <= 23);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto time = newsbar::ParseHttpDate(text)) {
    FUZZ_CHECK(time->year >= 1 && time->year <= 9999);
    FUZZ_CHECK(time->month >= 1 && time->month <= 12);
    FUZZ_CHECK(time->day >= 1 && time->day <= 31);
    FUZZ_CHECK(time->hour >= 0 && time->hour <= 23);
    FUZZ_CHECK(time->minute >= 0 && time->minute <= 59);
    FUZZ_CHECK(time->second >= 0 && time->second <= 60);
    CheckRewritten(*time);
  }
  CheckNetworkTime(text);
  return 0;
}
