// GBK literals of the player window. Sources are UTF-8, texts inside the program are GBK,
// so the Chinese ones are spelt as bytes (the UTF-8 form is in each comment).
#pragma once

#include <string_view>

namespace newsbar::app_text {

// "正在初始化..." — the status while the catalogue loads.
inline constexpr std::string_view kInitialising = "\xD5\xFD\xD4\xDA\xB3\xF5\xCA\xBC\xBB\xAF...";
// "初始化失败，请重试..." — the status after a load that listed nothing.
inline constexpr std::string_view kInitialisationFailed =
    "\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC\xA3\xAC\xC7\xEB\xD6\xD8\xCA\xD4...";
// "正在播放..." — the status cell of the row that plays.
inline constexpr std::string_view kPlaying = "\xD5\xFD\xD4\xDA\xB2\xA5\xB7\xC5...";
// "00分00秒" — a time label before anything has played.
inline constexpr std::string_view kZeroTime =
    "00\xB7\xD6"
    "00\xC3\xEB";
// "m分s秒" — minutes and seconds, the pattern of both time labels.
inline constexpr std::string_view kTimePattern = "m\xB7\xD6s\xC3\xEB";
// "网络中断，正在重连..." — shown on the bar while a lost stream is being opened again.
inline constexpr std::string_view kReconnecting =
    "\xCD\xF8\xC2\xE7\xD6\xD0\xB6\xCF\xA3\xAC\xD5\xFD\xD4\xDA\xD6\xD8\xC1\xAC...";
// "往期节目" — the caption of the collapse bar.
inline constexpr std::string_view kCollapseCaption = "\xCD\xF9\xC6\xDA\xBD\xDA\xC4\xBF";

}  // namespace newsbar::app_text
