#include "util/text_cut.h"

#include "util/gbk_text.h"

namespace newsbar {
namespace {

// "#引号" in GBK: callers write markers that contain double quotes with it.
constexpr std::string_view kQuotePlaceholder = "#\xD2\xFD\xBA\xC5";

}  // namespace

Text TextBetween(std::string_view text, std::string_view leftMarker, std::string_view rightMarker,
                 int start) {
  Text left = gbk::ReplaceAll(leftMarker, kQuotePlaceholder, "\"");
  Text right = gbk::ReplaceAll(rightMarker, kQuotePlaceholder, "\"");
  // Positions below 1 count as the first byte; past the end nothing is found.
  std::size_t from = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  std::size_t at = gbk::Find(text, left, from);
  if (at == gbk::npos) return {};
  std::size_t a = at + left.size();
  std::size_t b = gbk::Find(text, right, a);
  if (b == gbk::npos) return {};
  return Text(text.substr(a, b - a));
}

Text TextLeftOf(std::string_view text, std::string_view marker) {
  std::size_t at = gbk::Find(text, marker);
  if (at == gbk::npos) return {};
  return Text(text.substr(0, at));
}

}  // namespace newsbar
