#include "catalogue/date_time.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

namespace newsbar {
namespace {

namespace chr = std::chrono;

constexpr double kMillisecondsPerDay = 86400000.0;

// 1899-12-30, day 0 of the date-time scale.
constexpr chr::sys_days kDayZero = chr::year{1899} / chr::December / 30;

int LastDayOfMonth(int year, int month) {
  const auto last = chr::year{year} / chr::month{static_cast<unsigned>(month)} / chr::last;
  return static_cast<int>(static_cast<unsigned>(last.day()));
}

}  // namespace

DateTime ToDateTime(const CalendarTime& time) {
  const chr::sys_days date = chr::year{time.year} / chr::month{static_cast<unsigned>(time.month)} /
                             chr::day{static_cast<unsigned>(time.day)};
  const double days = static_cast<double>((date - kDayZero).count());
  const double milliseconds =
      ((time.hour * 60.0 + time.minute) * 60.0 + time.second) * 1000.0 + time.millisecond;
  return days + milliseconds / kMillisecondsPerDay;
}

CalendarTime FromDateTime(DateTime value) {
  constexpr double kFirst = (chr::sys_days{chr::year{1} / 1 / 1} - kDayZero).count();
  constexpr double kEnd = (chr::sys_days{chr::year{10000} / 1 / 1} - kDayZero).count();
  if (!std::isfinite(value) || value < kFirst || value >= kEnd) {
    return {};
  }
  const long long total = std::llround(value * kMillisecondsPerDay);
  const long long perDay = 86400000LL;
  long long days = total / perDay;
  long long rest = total % perDay;
  if (rest < 0) {
    rest += perDay;
    --days;
  }
  const chr::year_month_day date{kDayZero + chr::days{days}};
  CalendarTime time;
  time.year = static_cast<int>(date.year());
  time.month = static_cast<int>(static_cast<unsigned>(date.month()));
  time.day = static_cast<int>(static_cast<unsigned>(date.day()));
  time.hour = static_cast<int>(rest / 3600000);
  time.minute = static_cast<int>(rest / 60000 % 60);
  time.second = static_cast<int>(rest / 1000 % 60);
  time.millisecond = static_cast<int>(rest % 1000);
  return time;
}

CalendarTime NormaliseCalendar(CalendarTime time) {
  time.year = std::clamp(time.year, 100, 9999);
  time.month = std::clamp(time.month, 1, 12);
  time.day = std::clamp(time.day, 1, LastDayOfMonth(time.year, time.month));
  time.hour = std::clamp(time.hour, 0, 23);
  time.minute = std::clamp(time.minute, 0, 59);
  time.second = std::clamp(time.second, 0, 59);
  time.millisecond = std::clamp(time.millisecond, 0, 999);
  return time;
}

CalendarTime LocalNow() {
  const auto now = chr::system_clock::now();
  const auto sinceEpoch = chr::duration_cast<chr::milliseconds>(now.time_since_epoch());
  const std::time_t seconds = chr::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  CalendarTime time;
  time.year = local.tm_year + 1900;
  time.month = local.tm_mon + 1;
  time.day = local.tm_mday;
  time.hour = local.tm_hour;
  time.minute = local.tm_min;
  time.second = local.tm_sec;
  time.millisecond = static_cast<int>(sinceEpoch.count() % 1000);
  return time;
}

}  // namespace newsbar
