// The GBK text rules, the marker cuts and the charset conversions on arbitrary bytes.
// Input: text NUL needle NUL replacement. Besides crashes and hangs it checks the
// promises the rest of the program builds on: matches start on character boundaries,
// splitting and joining give the text back, trimming and case folding keep their shape.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "util/charset.h"
#include "util/gbk_text.h"
#include "util/text_cut.h"

namespace gbk = newsbar::gbk;

namespace {

bool IsAscii(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

std::size_t CountMatches(std::string_view text, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t at = gbk::Find(text, needle); at != gbk::npos;
       at = gbk::Find(text, needle, at + needle.size())) {
    ++count;
  }
  return count;
}

void CheckWalk(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t length = gbk::CharLength(text, pos);
    FUZZ_CHECK(length == 1 || length == 2);
    FUZZ_CHECK(gbk::IsBoundary(text, pos));
    pos += length;
  }
  FUZZ_CHECK(pos == text.size());
  FUZZ_CHECK(gbk::CharLength(text, text.size()) == 0);
}

void CheckSearch(std::string_view text, std::string_view needle) {
  const std::size_t first = gbk::Find(text, needle);
  if (first != gbk::npos) {
    FUZZ_CHECK(gbk::IsBoundary(text, first));
    FUZZ_CHECK(text.substr(first, needle.size()) == needle);
    const std::size_t last = gbk::FindLast(text, needle);
    FUZZ_CHECK(last != gbk::npos && last >= first && gbk::IsBoundary(text, last));
    FUZZ_CHECK(text.substr(last, needle.size()) == needle);
  }
  FUZZ_CHECK(gbk::Contains(text, needle) == (first != gbk::npos));

  const std::size_t folded = gbk::FindNoCase(text, needle);
  if (first != gbk::npos) FUZZ_CHECK(folded != gbk::npos && folded <= first);
  if (folded != gbk::npos) {
    FUZZ_CHECK(gbk::IsBoundary(text, folded));
    FUZZ_CHECK(gbk::EqualsNoCase(text.substr(folded, needle.size()), needle));
  }
  FUZZ_CHECK(gbk::ContainsNoCase(text, needle) == (folded != gbk::npos));
}

void CheckSplitAndReplace(std::string_view text, std::string_view separator,
                          std::string_view replacement) {
  const auto parts = gbk::Split(text, separator);
  FUZZ_CHECK(!parts.empty());
  std::string joined;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) joined += separator;
    joined += parts[i];
  }
  FUZZ_CHECK(joined == text);
  if (!separator.empty()) {
    FUZZ_CHECK(parts.size() == CountMatches(text, separator) + 1);
    // Replacing every separator is the same as joining the parts with the replacement.
    std::string rejoined;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (i > 0) rejoined += replacement;
      rejoined += parts[i];
    }
    FUZZ_CHECK(gbk::ReplaceAll(text, separator, replacement) == rejoined);
  }
  FUZZ_CHECK(gbk::ReplaceAll(text, separator, separator) == text);
  gbk::ReplaceAllNoCase(text, separator, replacement);
}

void CheckShape(std::string_view text) {
  const std::string trimmed = gbk::Trim(text);
  FUZZ_CHECK(gbk::Trim(trimmed) == trimmed);
  FUZZ_CHECK(trimmed.size() <= text.size());
  FUZZ_CHECK(text.find(trimmed) != std::string_view::npos);

  const std::string lower = gbk::AsciiLower(text);
  const std::string upper = gbk::AsciiUpper(text);
  FUZZ_CHECK(lower.size() == text.size() && upper.size() == text.size());
  FUZZ_CHECK(gbk::EqualsNoCase(lower, text) && gbk::EqualsNoCase(upper, text));
  FUZZ_CHECK(gbk::AsciiLower(upper) == lower);
}

void CheckCuts(std::string_view text, std::string_view left, std::string_view right) {
  const newsbar::Text before = newsbar::TextLeftOf(text, left);
  FUZZ_CHECK(text.substr(0, before.size()) == before);
  const int start = static_cast<int>(right.size() % 8) - 1;
  const newsbar::Text between = newsbar::TextBetween(text, left, right, start);
  FUZZ_CHECK(between.size() <= text.size());
  if (!between.empty()) FUZZ_CHECK(text.find(between) != std::string_view::npos);
}

void CheckConversions(std::string_view text, std::string_view other) {
  const std::u16string wide = newsbar::GbkToUtf16(text);
  const newsbar::Text back = newsbar::Utf16ToGbk(wide);
  if (IsAscii(text)) FUZZ_CHECK(back == text);
  // Whatever came back from the engine's side is valid GBK, so it survives the trip.
  FUZZ_CHECK(newsbar::Utf16ToGbk(newsbar::GbkToUtf16(back)) == back);

  const newsbar::Text fromUtf8 = newsbar::Utf8ToGbk(text);
  const std::string utf8 = newsbar::GbkToUtf8Text(fromUtf8);
  FUZZ_CHECK(newsbar::Utf8ToGbk(utf8) == fromUtf8);

  const newsbar::ByteSet bytes = newsbar::BytesFromText(text);
  newsbar::ConvertCharset(bytes);
  newsbar::ConvertCharset(bytes, {.from = "GBK", .to = "UTF-16LE"});
  newsbar::ConvertCharset(bytes, {.start = static_cast<int>(other.size()) - 2});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = newsbar::fuzz::SplitInput(data, size, 3);
  const std::string_view text = parts[0];
  const std::string_view needle = parts[1];
  const std::string_view replacement = parts[2];

  CheckWalk(text);
  CheckSearch(text, needle);
  CheckSplitAndReplace(text, needle, replacement);
  CheckShape(text);
  CheckCuts(text, needle, replacement);
  CheckConversions(text, needle);
  return 0;
}
