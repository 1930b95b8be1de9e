// Today's date and hour at UTC+8, from the Date header of a web server's reply rather
// than from the local clock.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/date_time.h"
#include "catalogue/endpoints.h"

namespace newsbar {

// Reads an HTTP date in any of its three forms, leading blanks ignored:
//   "Sun, 06 Nov 1994 08:49:37 GMT"   (the fixed form of today's servers)
//   "Sunday, 06-Nov-94 08:49:37 GMT"  (the old two-digit-year form)
//   "Sun Nov  6 08:49:37 1994"        (the C library's asctime form)
// Names are matched without regard to case; the weekday may be missing and is not
// checked against the date; the zone after the time is not read (dates are GMT).
// Gives nothing when the text is not such a date or a field is out of range.
std::optional<CalendarTime> ParseHttpDate(std::string_view text);

// Asks `url` with HEAD (an empty url means the build setting NEWSBAR_TIME_URL) and
// returns the time of its "Date:" header plus 8 hours. Without a readable date the
// fields are all 0, which the calendar turns into 0100-01-01, so 08:00 of that day.
// The request gives up after `limit`.
DateTime GetNetworkTime(const std::string& url = {},
                        std::chrono::milliseconds limit = kRequestLimit);

}  // namespace newsbar
