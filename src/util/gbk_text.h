// The one place that knows how GBK text is walked.
//
// A lead byte 0x81..0xFE takes the following byte with it, so the trail byte of a
// double-byte character (0x40..0xFE, which includes the ASCII letters, '@', '[', '\\',
// ']', '^', '_', '`' and '{'..'~') is never matched, split or case-folded as if it were
// ASCII. A malformed pair (a lead byte before, say, '=' or ':') is stepped over the same
// way. "NoCase" concerns the ASCII letters only. Every other text routine in the program
// goes through these.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace newsbar::gbk {

inline constexpr std::size_t npos = std::string_view::npos;

// Byte length of the character that starts at pos (1 or 2; 1 for a lead byte at the end;
// 0 at or past the end of the text).
std::size_t CharLength(std::string_view text, std::size_t pos);

// True when pos is the start of a character (or text.size()).
bool IsBoundary(std::string_view text, std::size_t pos);

// First occurrence of needle that starts on a character boundary at or after `from`
// (0-based byte offset) and does not end inside a character; npos when absent. An empty
// needle is found at the first boundary at or after `from`.
std::size_t Find(std::string_view text, std::string_view needle, std::size_t from = 0);
std::size_t FindNoCase(std::string_view text, std::string_view needle, std::size_t from = 0);

// Last occurrence that starts on a character boundary; npos when absent (an empty needle
// is found at text.size()).
std::size_t FindLast(std::string_view text, std::string_view needle);

bool Contains(std::string_view text, std::string_view needle);
bool ContainsNoCase(std::string_view text, std::string_view needle);

// Every non-overlapping occurrence, scanning left to right.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
std::string ReplaceAllNoCase(std::string_view text, std::string_view from, std::string_view to);

// Splits at every occurrence of sep (non-empty). "a,,b" gives {"a", "", "b"}; an empty
// text gives {""}; a trailing separator gives a trailing empty part.
std::vector<std::string> Split(std::string_view text, std::string_view sep);

// Removes ASCII spaces (0x20) and full-width spaces (A1 A1) at both ends; nothing else.
std::string Trim(std::string_view text);

// ASCII letters changed, every byte of a double-byte character left alone.
std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);

// ASCII-case-insensitive equality of whole texts.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace newsbar::gbk
