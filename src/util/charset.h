// Character-set conversion. Texts are GBK inside the program; conversion happens only at
// the edges (catalogue bytes, the script engine, the screen, the field set).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "util/types.h"

namespace newsbar {

struct ConvertOptions {
  std::string_view from = "UTF-8";          // empty means the default
  std::string_view to = "GBK";              // empty means the default
  std::optional<int> start = std::nullopt;  // byte offset into the re-encoded result
};

// Re-encodes data from one named charset (iconv names) into another, directly. Characters
// the target cannot hold and invalid source bytes are replaced ('?' in the target's own
// encoding), never failing the whole conversion; an unknown charset name (or one carrying
// converter options such as "//IGNORE") gives an empty result. A UTF-8 byte-order mark at
// the start of the data is not text. start past the end gives an empty result; a negative
// start is ignored.
ByteSet ConvertCharset(const ByteSet& data, ConvertOptions options = {});

// GBK <-> UTF-16 for the script engine and the screen. Unmappable characters become '?'.
std::u16string GbkToUtf16(std::string_view gbk);
Text Utf16ToGbk(std::u16string_view utf16);

// GBK <-> UTF-8 (display, field set, tests).
std::string GbkToUtf8Text(std::string_view gbk);
Text Utf8ToGbk(std::string_view utf8);

}  // namespace newsbar
