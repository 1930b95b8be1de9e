// Second counts as display text, e.g. 1234 with "m分s秒" -> "20分34秒".
#pragma once

#include <string_view>

#include "util/types.h"

namespace newsbar {

struct DurationOptions {
  // In/out: the pattern, filled in place; null means the default pattern.
  Text* pattern = nullptr;
  bool usePattern = true;
  bool pad = true;
};

// The pattern's letters d, h, m and s (last occurrence each) replaced by days, hours,
// minutes and seconds. Default pattern "d天h小时m分s秒".
Text FormatDuration(int seconds, DurationOptions options = {});

// Convenience for the callers that pass a fresh copy of a pattern (all of them).
Text FormatDuration(int seconds, std::string_view pattern);

// text with "0" in front until it is `width` bytes long; never shortened.
Text ZeroPad(std::string_view text, int width);

}  // namespace newsbar
