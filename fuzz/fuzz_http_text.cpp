// The URL, header and cookie text routines on arbitrary bytes: a URL or header text
// from a hostile server must never crash them, and their results keep their shape.
// Input: first NUL second NUL third (a header or URL text, a cookie text, a separator).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "net/http_text.h"
#include "util/gbk_text.h"

namespace gbk = newsbar::gbk;
using newsbar::Text;

namespace {

// Standard Base64 decoding of what Base64Encode writes; false for anything malformed.
bool DecodeBase64(std::string_view text, std::string& out) {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0) return false;
  out.clear();
  for (std::size_t i = 0; i < text.size(); i += 4) {
    unsigned group = 0;
    int padding = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      const char c = text[i + j];
      unsigned value = 0;
      if (c == '=') {
        if (i + 4 != text.size() || j < 2) return false;
        ++padding;
      } else {
        if (padding > 0) return false;
        const std::size_t at = kAlphabet.find(c);
        if (at == std::string_view::npos) return false;
        value = static_cast<unsigned>(at);
      }
      group = (group << 6) | value;
    }
    out += static_cast<char>((group >> 16) & 0xFF);
    if (padding < 2) out += static_cast<char>((group >> 8) & 0xFF);
    if (padding < 1) out += static_cast<char>(group & 0xFF);
  }
  return true;
}

// Every lead byte has its trail byte. Items cut out of such a text and joined again split
// the same way; a dangling lead byte would swallow the separator's first byte instead.
bool WellFormed(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) continue;
    if (c == 0x80 || c == 0xFF || i + 1 == text.size()) return false;
    const auto trail = static_cast<unsigned char>(text[++i]);
    if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
  }
  return true;
}

bool HasDuplicateItems(std::string_view text, std::string_view separator) {
  const auto items = gbk::Split(text, separator);
  for (std::size_t i = 0; i < items.size(); ++i) {
    for (std::size_t j = i + 1; j < items.size(); ++j) {
      if (items[i] == items[j]) return true;
    }
  }
  return false;
}

void CheckHeaders(std::string_view headers) {
  const Text name = newsbar::HeaderName(headers);
  const Text value = newsbar::HeaderValue(headers);
  FUZZ_CHECK(gbk::Trim(name) == name && gbk::Trim(value) == value);
  if (!gbk::Contains(headers, ":")) FUZZ_CHECK(name.empty() && value.empty());

  const Text capitalised = newsbar::CapitaliseFirst(headers);
  FUZZ_CHECK(capitalised.size() == headers.size());
  if (!headers.empty()) FUZZ_CHECK(capitalised.substr(1) == headers.substr(1));

  const Text normalised = newsbar::NormaliseHeaderNames(headers);
  FUZZ_CHECK(normalised.size() <= headers.size());
  if (WellFormed(headers) && !normalised.empty()) {
    // Every line that is left names a header.
    for (const Text& line : gbk::Split(normalised, "\r\n")) {
      FUZZ_CHECK(gbk::Contains(line, ":"));
    }
  }
}

void CheckCookies(std::string_view first, std::string_view second) {
  Text old(first);
  const Text merged = newsbar::MergeCookies(old, second);
  FUZZ_CHECK(old == merged);
  if (WellFormed(first) && WellFormed(second)) {
    FUZZ_CHECK(!HasDuplicateItems(merged, "; "));
    for (const Text& item : gbk::Split(merged, "; ")) {
      FUZZ_CHECK(!item.ends_with("=deleted"));
    }
  }

  const Text name = newsbar::CookieName(first);
  FUZZ_CHECK(gbk::Trim(name) == name);
}

void CheckItems(std::string_view text, std::string_view separator) {
  const Text unique = newsbar::RemoveDuplicateItems(text, separator);
  FUZZ_CHECK(unique.size() <= text.size());
  if (!separator.empty() && WellFormed(text) && WellFormed(separator)) {
    FUZZ_CHECK(!HasDuplicateItems(unique, separator));
    FUZZ_CHECK(newsbar::RemoveDuplicateItems(unique, separator) == unique);
  }
}

void CheckBase64(std::string_view text) {
  const newsbar::ByteSet bytes(text.begin(), text.end());
  const Text encoded = newsbar::Base64Encode(bytes);
  FUZZ_CHECK(encoded.size() == (bytes.size() + 2) / 3 * 4);
  std::string decoded;
  FUZZ_CHECK(DecodeBase64(encoded, decoded));
  FUZZ_CHECK(decoded == text);
}

void CheckUrl(std::string_view url) {
  const Text host = newsbar::UrlHost(url);
  const Text hostPort = newsbar::UrlHost(url, true);
  FUZZ_CHECK(gbk::AsciiLower(host) == host && gbk::AsciiLower(hostPort) == hostPort);
  FUZZ_CHECK(hostPort.starts_with(host));
  if (WellFormed(url)) FUZZ_CHECK(!gbk::Contains(host, "/"));
  const int port = newsbar::UrlPort(url);
  FUZZ_CHECK(port >= 0 && port <= 1000000);
  const Text path = newsbar::UrlPath(url);
  FUZZ_CHECK(path.starts_with("/"));
  FUZZ_CHECK(path == "/" || url.ends_with(std::string_view(path).substr(1)));
  newsbar::MethodVerb(static_cast<int>(url.size() % 12) - 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = newsbar::fuzz::SplitInput(data, size, 3);
  CheckHeaders(parts[0]);
  CheckUrl(parts[0]);
  CheckCookies(parts[0], parts[1]);
  CheckItems(parts[1], parts[2]);
  CheckBase64(parts[0]);
  return 0;
}
