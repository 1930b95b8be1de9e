// GBK literals of the catalogue code. Sources are UTF-8, texts inside the program are
// GBK, so the Chinese ones are spelt as bytes (the UTF-8 form is in each comment).
#pragma once

#include <string_view>

namespace newsbar::catalogue_text {

// "小涟早报：" — the morning programme's title marker.
inline constexpr std::string_view kMorningMarker = "\xD0\xA1\xC1\xB0\xD4\xE7\xB1\xA8\xA3\xBA";
// "小涟晚报：" — the evening programme's title marker.
inline constexpr std::string_view kEveningMarker = "\xD0\xA1\xC1\xB0\xCD\xED\xB1\xA8\xA3\xBA";
// "月" and "日" around the day in a title's date part.
inline constexpr std::string_view kMonth = "\xD4\xC2";
inline constexpr std::string_view kDay = "\xC8\xD5";
// "m分s秒" — minutes and seconds, the duration column's pattern.
inline constexpr std::string_view kDurationPattern = "m\xB7\xD6s\xC3\xEB";
// "请求类型错误！" — returned for a programme selector other than 1 or 2.
inline constexpr std::string_view kBadSelector =
    "\xC7\xEB\xC7\xF3\xC0\xE0\xD0\xCD\xB4\xED\xCE\xF3\xA3\xA1";

}  // namespace newsbar::catalogue_text
