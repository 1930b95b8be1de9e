#include "util/gbk_text.h"

namespace newsbar::gbk {
namespace {

bool IsLeadByte(unsigned char c) {
  return c >= 0x81 && c <= 0xFE;
}

char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Full-width space, the GBK bytes A1 A1.
constexpr std::string_view kWideSpace = "\xA1\xA1";

// Compares needle with the text at pos. Case folding touches only the single-byte
// characters of the needle; at a matching boundary the two walks are in step, so a
// lead byte can only meet an equal lead byte.
bool MatchesAt(std::string_view text, std::size_t pos, std::string_view needle, bool noCase) {
  if (text.size() - pos < needle.size()) return false;
  std::size_t i = 0;
  std::size_t last = 0;
  while (i < needle.size()) {
    std::size_t len = CharLength(needle, i);
    if (len == 1) {
      char a = text[pos + i];
      char b = needle[i];
      if (noCase ? FoldAscii(a) != FoldAscii(b) : a != b) return false;
    } else if (text.compare(pos + i, len, needle, i, len) != 0) {
      return false;
    }
    last = i;
    i += len;
  }
  // A needle that ends in a lone lead byte must not cut a character of the text in two.
  bool endsInLead = !needle.empty() && last == needle.size() - 1 &&
                    IsLeadByte(static_cast<unsigned char>(needle.back()));
  return !endsInLead || pos + needle.size() == text.size();
}

std::size_t FindImpl(std::string_view text, std::string_view needle, std::size_t from,
                     bool noCase) {
  for (std::size_t pos = 0; pos <= text.size(); pos += CharLength(text, pos)) {
    if (pos >= from && MatchesAt(text, pos, needle, noCase)) return pos;
    if (pos == text.size()) break;
  }
  return npos;
}

std::string ReplaceImpl(std::string_view text, std::string_view from, std::string_view to,
                        bool noCase) {
  if (from.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (MatchesAt(text, pos, from, noCase)) {
      out += to;
      pos += from.size();
    } else {
      std::size_t len = CharLength(text, pos);
      out.append(text, pos, len);
      pos += len;
    }
  }
  return out;
}

std::string ChangeCase(std::string_view text, bool upper) {
  std::string out(text);
  for (std::size_t pos = 0; pos < out.size(); pos += CharLength(out, pos)) {
    char& c = out[pos];
    if (CharLength(out, pos) != 1) continue;
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

std::size_t CharLength(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return 0;
  if (IsLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size()) return 2;
  return 1;
}

bool IsBoundary(std::string_view text, std::size_t pos) {
  if (pos > text.size()) return false;
  std::size_t at = 0;
  while (at < pos) at += CharLength(text, at);
  return at == pos;
}

std::size_t Find(std::string_view text, std::string_view needle, std::size_t from) {
  return FindImpl(text, needle, from, false);
}

std::size_t FindNoCase(std::string_view text, std::string_view needle, std::size_t from) {
  return FindImpl(text, needle, from, true);
}

std::size_t FindLast(std::string_view text, std::string_view needle) {
  std::size_t found = npos;
  for (std::size_t pos = 0; pos <= text.size(); pos += CharLength(text, pos)) {
    if (MatchesAt(text, pos, needle, false)) found = pos;
    if (pos == text.size()) break;
  }
  return found;
}

bool Contains(std::string_view text, std::string_view needle) {
  return Find(text, needle) != npos;
}

bool ContainsNoCase(std::string_view text, std::string_view needle) {
  return FindNoCase(text, needle) != npos;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  return ReplaceImpl(text, from, to, false);
}

std::string ReplaceAllNoCase(std::string_view text, std::string_view from, std::string_view to) {
  return ReplaceImpl(text, from, to, true);
}

std::vector<std::string> Split(std::string_view text, std::string_view sep) {
  std::vector<std::string> parts;
  if (sep.empty()) {
    parts.emplace_back(text);
    return parts;
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t at = Find(text, sep, start);
    if (at == npos) break;
    parts.emplace_back(text.substr(start, at - start));
    start = at + sep.size();
  }
  parts.emplace_back(text.substr(start));
  return parts;
}

std::string Trim(std::string_view text) {
  std::size_t first = npos;
  std::size_t end = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t len = CharLength(text, pos);
    std::string_view ch = text.substr(pos, len);
    if (ch != " " && ch != kWideSpace) {
      if (first == npos) first = pos;
      end = pos + len;
    }
    pos += len;
  }
  if (first == npos) return {};
  return std::string(text.substr(first, end - first));
}

std::string AsciiLower(std::string_view text) {
  return ChangeCase(text, false);
}

std::string AsciiUpper(std::string_view text) {
  return ChangeCase(text, true);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && MatchesAt(a, 0, b, true);
}

}  // namespace newsbar::gbk
