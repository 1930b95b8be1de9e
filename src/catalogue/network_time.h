// Today's date and hour at UTC+8, from the Date header of a web server's reply rather
// than from the local clock.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/date_time.h"
#include "catalogue/endpoints.h"
#include "net/com_http_request.h"

namespace newsbar {

namespace net {
class CurlMulti;
}
class CurlRequestObject;

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

// The same HEAD issued on a multi handle, which performs it together with others
// (CurlMulti::Run); Finish then gives what GetNetworkTime gives and logs the same.
// Neither copied nor moved: the request under way refers to it.
class NetworkTimeRequest {
 public:
  NetworkTimeRequest(const std::string& url, std::chrono::milliseconds limit,
                     net::CurlMulti& multi);
  NetworkTimeRequest(const NetworkTimeRequest&) = delete;
  NetworkTimeRequest& operator=(const NetworkTimeRequest&) = delete;
  ~NetworkTimeRequest();

  DateTime Finish();

 private:
  std::string target_;
  Text headers_;
  int status_ = 0;
  Text transportError_;
  ComHttpRequestOptions options_;
  std::shared_ptr<CurlRequestObject> object_;
};

}  // namespace newsbar
