#include "catalogue/network_time.h"

#include <array>
#include <cctype>

#include "catalogue/endpoints.h"
#include "net/com_http_request.h"
#include "net/curl_exchange.h"
#include "net/curl_request_object.h"
#include "util/gbk_text.h"
#include "util/log.h"
#include "util/text_cut.h"

namespace newsbar {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                      "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr std::array<std::string_view, 7> kWeekdays = {"sunday",   "monday", "tuesday", "wednesday",
                                                       "thursday", "friday", "saturday"};

// A forward-only reader over the date text.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  bool PeekDigit() const {
    return !AtEnd() && std::isdigit(static_cast<unsigned char>(text_[pos_]));
  }
  bool PeekAlpha() const {
    return !AtEnd() && std::isalpha(static_cast<unsigned char>(text_[pos_]));
  }

  // Blanks (space, tab); returns how many were skipped.
  int SkipBlanks() {
    int count = 0;
    while (!AtEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t')) {
      ++pos_;
      ++count;
    }
    return count;
  }

  bool Take(char c) {
    if (AtEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  // A run of ASCII letters, lower-cased.
  std::string Word() {
    std::string word;
    while (PeekAlpha()) {
      word += static_cast<char>(std::tolower(static_cast<unsigned char>(text_[pos_])));
      ++pos_;
    }
    return word;
  }

  // 1..maxDigits digits; -1 when there is none or too many.
  int Number(int maxDigits, int* digits = nullptr) {
    int value = 0;
    int count = 0;
    while (PeekDigit()) {
      if (++count > maxDigits) return -1;
      value = value * 10 + (text_[pos_] - '0');
      ++pos_;
    }
    if (digits != nullptr) *digits = count;
    return count == 0 ? -1 : value;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// Month 1..12 from its English name (three letters, or the full name); 0 when unknown.
int MonthFromName(const std::string& word) {
  static constexpr std::array<std::string_view, 12> kFull = {
      "january", "february", "march",     "april",   "may",      "june",
      "july",    "august",   "september", "october", "november", "december"};
  for (std::size_t i = 0; i < kMonths.size(); ++i) {
    if (word == kMonths[i] || word == kFull[i]) return static_cast<int>(i) + 1;
  }
  return 0;
}

bool IsWeekday(const std::string& word) {
  for (std::string_view day : kWeekdays) {
    if (word == day || (word.size() == 3 && day.substr(0, 3) == word)) return true;
  }
  return false;
}

// hh:mm:ss
bool ReadClock(Cursor& in, CalendarTime& time) {
  time.hour = in.Number(2);
  if (time.hour < 0 || !in.Take(':')) return false;
  time.minute = in.Number(2);
  if (time.minute < 0 || !in.Take(':')) return false;
  time.second = in.Number(2);
  return time.second >= 0;
}

// A two-digit year of the old form: 00..49 this century, 50..99 the last one.
int FullYear(int year, int digits) {
  if (digits == 2) return year < 50 ? 2000 + year : 1900 + year;
  return digits == 4 ? year : -1;
}

bool InRange(const CalendarTime& time) {
  return time.year >= 1 && time.month >= 1 && time.month <= 12 && time.day >= 1 && time.day <= 31 &&
         time.hour <= 23 && time.minute <= 59 && time.second <= 60;
}

}  // namespace

std::optional<CalendarTime> ParseHttpDate(std::string_view text) {
  Cursor in(text);
  CalendarTime time;
  in.SkipBlanks();
  std::string word;
  if (in.PeekAlpha()) {
    word = in.Word();
    if (IsWeekday(word)) {
      in.Take(',');
      in.SkipBlanks();
      word = in.PeekAlpha() ? in.Word() : std::string();
    }
  }
  int digits = 0;
  if (word.empty()) {
    // "06 Nov 1994 08:49:37" or "06-Nov-94 08:49:37"
    time.day = in.Number(2);
    if (time.day < 0) return std::nullopt;
    const bool dashes = in.Take('-');
    if (!dashes && in.SkipBlanks() == 0) return std::nullopt;
    time.month = MonthFromName(in.Word());
    if (dashes ? !in.Take('-') : in.SkipBlanks() == 0) return std::nullopt;
    const int year = in.Number(4, &digits);
    time.year = FullYear(year, digits);
    if (in.SkipBlanks() == 0 || !ReadClock(in, time)) return std::nullopt;
  } else {
    // asctime: "Nov  6 08:49:37 1994"
    time.month = MonthFromName(word);
    if (in.SkipBlanks() == 0) return std::nullopt;
    time.day = in.Number(2);
    if (time.day < 0 || in.SkipBlanks() == 0 || !ReadClock(in, time)) return std::nullopt;
    if (in.SkipBlanks() == 0) return std::nullopt;
    time.year = in.Number(4, &digits);
    if (digits != 4) return std::nullopt;
  }
  if (!InRange(time)) return std::nullopt;
  return time;
}

DateTime GetNetworkTime(const std::string& url, std::chrono::milliseconds limit) {
  net::CurlMulti multi;
  NetworkTimeRequest request(url, limit, multi);
  multi.Run();
  return request.Finish();
}

NetworkTimeRequest::NetworkTimeRequest(const std::string& url, std::chrono::milliseconds limit,
                                       net::CurlMulti& multi)
    : target_(url.empty() ? BuildEndpoints().timeUrl : url) {
  options_ = {.url = target_,
              .method = 2,
              .responseHeaders = &headers_,
              .statusCode = &status_,
              .transportError = &transportError_,
              .timeoutMs = static_cast<int>(limit.count())};
  object_ = std::make_shared<CurlRequestObject>(&multi);
  options_.requestObject = object_;
  ComHttpRequestSend(options_);
}

NetworkTimeRequest::~NetworkTimeRequest() = default;

DateTime NetworkTimeRequest::Finish() {
  ComHttpRequestReceive(*object_, options_);
  const std::string& target = target_;
  const Text& headers = headers_;
  const int status = status_;
  const Text& transportError = transportError_;
  // The value keeps its leading blank; the parser skips it.
  const Text date = TextBetween(headers, "Date:", "\r\n");
  CalendarTime fields;  // all 0 unless the date reads
  if (const auto parsed = ParseHttpDate(date)) {
    fields = *parsed;
  } else if (status == 0) {
    NEWSBAR_CATALOGUE_WARNING("network time HEAD %s: no response (%s); nothing is due",
                              target.c_str(),
                              transportError.empty() ? "no reason given" : transportError.c_str());
  } else if (!gbk::Contains(headers, "Date:")) {
    NEWSBAR_CATALOGUE_WARNING("network time HEAD %s: HTTP %d without a Date header; nothing is due",
                              target.c_str(), status);
  } else {
    NEWSBAR_CATALOGUE_WARNING("network time HEAD %s: unreadable Date header \"%s\"; nothing is due",
                              target.c_str(), gbk::Trim(date).c_str());
  }
  const DateTime now = ToDateTime(NormaliseCalendar(fields)) + 8.0 / 24.0;
  if (lcCatalogue().isDebugEnabled()) {
    const CalendarTime local = FromDateTime(now);
    qCDebug(lcCatalogue, "network time HEAD %s: %04d-%02d-%02d %02d:%02d at UTC+8", target.c_str(),
            local.year, local.month, local.day, local.hour, local.minute);
  }
  return now;
}

}  // namespace newsbar
