#include "util/duration.h"

#include <cmath>
#include <string>

#include "util/gbk_text.h"

namespace newsbar {
namespace {

// "d天h小时m分s秒" in GBK.
constexpr std::string_view kDefaultPattern = "d\xCC\xECh\xD0\xA1\xCA\xB1m\xB7\xD6s\xC3\xEB";

}  // namespace

Text FormatDuration(int seconds, DurationOptions options) {
  Text local;
  Text& pattern = options.pattern ? *options.pattern : local;
  if (!options.usePattern || pattern.empty()) pattern = Text(kDefaultPattern);

  // Floating point as the display always did; std::fmod keeps the dividend's sign and the
  // casts truncate toward zero.
  const double total = seconds;
  const double days = std::trunc(total / 86400);
  const double hours = std::trunc(std::fmod(total, 86400) / 3600);
  const double minutes = std::trunc(std::fmod(std::fmod(total, 86400), 3600) / 60);
  const double secs = std::fmod(std::fmod(std::fmod(total, 86400), 3600), 60);

  const std::pair<char, double> units[] = {{'d', days}, {'h', hours}, {'m', minutes}, {'s', secs}};
  for (const auto& [letter, value] : units) {
    std::size_t at = gbk::FindLast(pattern, std::string_view(&letter, 1));
    if (at == gbk::npos) continue;
    Text digits = std::to_string(static_cast<long long>(value));
    if (options.pad) digits = ZeroPad(digits, 2);
    pattern.replace(at, 1, digits);
  }
  return pattern;
}

Text FormatDuration(int seconds, std::string_view pattern) {
  Text filled(pattern);
  return FormatDuration(seconds, {.pattern = &filled});
}

Text ZeroPad(std::string_view text, int width) {
  if (width <= 0 || text.size() >= static_cast<std::size_t>(width)) return Text(text);
  return Text(static_cast<std::size_t>(width) - text.size(), '0') + Text(text);
}

}  // namespace newsbar
