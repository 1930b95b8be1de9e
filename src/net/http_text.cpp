#include "net/http_text.h"

#include <array>
#include <vector>

#include "util/gbk_text.h"

namespace newsbar {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kCookieSeparator = "; ";

// Cookie items of a text: trimmed, a final ";" read as "; ", and the empty part after a
// final separator (or of an empty text) not counted as an item.
std::vector<Text> CookieItems(std::string_view text) {
  Text trimmed = gbk::Trim(text);
  if (trimmed.ends_with(";")) trimmed += " ";
  std::vector<Text> items = gbk::Split(trimmed, kCookieSeparator);
  if (!items.empty() && items.back().empty()) items.pop_back();
  return items;
}

// Where the host of a URL starts: after a leading http:// or https://, else at 0.
std::size_t HostStart(std::string_view url) {
  const Text lower = gbk::AsciiLower(url.substr(0, 8));
  if (lower.starts_with("https://")) return 8;
  if (lower.starts_with("http://")) return 7;
  return 0;
}

// Position of the colon that introduces the port of a host part, npos without one. In a
// bracketed IPv6 literal only a colon after the "]" counts.
// The colon in front of the port: the first after a bracketed IPv6 address, or, with
// `last`, the last one of the host part.
std::size_t PortColon(std::string_view hostPart, bool last = false) {
  std::size_t from = 0;
  if (hostPart.starts_with("[")) {
    from = gbk::Find(hostPart, "]");
    if (from == gbk::npos) return gbk::npos;
  }
  if (last) {
    const std::size_t colon = gbk::FindLast(hostPart, ":");
    return colon == gbk::npos || colon < from ? gbk::npos : colon;
  }
  return gbk::Find(hostPart, ":", from);
}

}  // namespace

Text MethodVerb(int method) {
  static constexpr std::array<std::string_view, 8> kVerbs = {
      "GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT"};
  if (method < 0 || method > 7) method = 0;
  return Text(kVerbs[static_cast<std::size_t>(method)]);
}

Text CapitaliseFirst(std::string_view word) {
  Text result(word);
  if (!result.empty() && result[0] >= 'a' && result[0] <= 'z') {
    result[0] = static_cast<char>(result[0] - 'a' + 'A');
  }
  return result;
}

Text HeaderName(std::string_view line) {
  const std::size_t colon = gbk::Find(line, ":");
  if (colon == gbk::npos) return {};
  return gbk::Trim(line.substr(0, colon));
}

Text HeaderValue(std::string_view line) {
  const std::size_t colon = gbk::Find(line, ":");
  if (colon == gbk::npos) return {};
  return gbk::Trim(line.substr(colon + 1));
}

Text NormaliseHeaderNames(std::string_view headers) {
  Text out;
  for (const Text& line : gbk::Split(headers, kCrLf)) {
    const std::size_t colon = gbk::Find(line, ":");
    if (colon == gbk::npos) continue;
    const std::string_view name = std::string_view(line).substr(0, colon);
    Text rewritten;
    if (gbk::Contains(name, "-")) {
      const std::vector<Text> words = gbk::Split(name, "-");
      for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) rewritten += "-";
        rewritten += CapitaliseFirst(words[i]);
      }
    } else {
      rewritten = CapitaliseFirst(name);
    }
    out += rewritten;
    out += std::string_view(line).substr(colon);
    out += kCrLf;
  }
  if (!out.empty()) out.resize(out.size() - kCrLf.size());
  return out;
}

Text CookieName(std::string_view item) {
  const std::size_t equals = gbk::Find(item, "=");
  return gbk::Trim(equals == gbk::npos ? item : item.substr(0, equals));
}

Text RemoveDuplicateItems(std::string_view text, std::string_view separator) {
  if (separator.empty()) return Text(text);
  std::vector<Text> kept;
  for (Text& item : gbk::Split(text, separator)) {
    bool seen = false;
    for (const Text& earlier : kept) {
      if (earlier == item) {
        seen = true;
        break;
      }
    }
    if (!seen) kept.push_back(std::move(item));
  }
  Text result;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) result += separator;
    result += kept[i];
  }
  return result;
}

Text MergeCookies(Text& old, std::string_view newer) {
  const std::vector<Text> oldItems = CookieItems(old);
  std::vector<Text> items = CookieItems(newer);
  for (const Text& item : oldItems) {
    const Text name = CookieName(item);
    bool present = false;
    for (const Text& kept : items) {
      if (CookieName(kept) == name) {
        present = true;
        break;
      }
    }
    if (!present) items.push_back(item);
  }
  Text result;
  for (const Text& item : items) {
    if (item.ends_with("=deleted")) continue;
    result += item;
    result += kCookieSeparator;
  }
  if (!result.empty()) result.resize(result.size() - kCookieSeparator.size());
  result = RemoveDuplicateItems(result, kCookieSeparator);
  old = result;
  return result;
}

Text ReceivedCookies(std::string_view responseHeaders) {
  Text cookies;
  for (const Text& line : gbk::Split(responseHeaders, kCrLf)) {
    if (TextLeftOf(line, ": ") != "Set-Cookie") continue;
    const Text cookie = gbk::Contains(line, ";") ? TextBetween(line, "Set-Cookie:", ";")
                                                 : gbk::ReplaceAllNoCase(line, "Set-Cookie:", "");
    cookies += gbk::Trim(cookie);
    cookies += kCookieSeparator;
  }
  if (cookies.ends_with(kCookieSeparator)) cookies.resize(cookies.size() - kCookieSeparator.size());
  return cookies;
}

void HandOverReceivedCookies(std::string_view responseHeaders, Text* sendCookies, bool merge,
                             Text* receivedCookies) {
  Text received = ReceivedCookies(responseHeaders);
  if (merge && sendCookies != nullptr) received = MergeCookies(*sendCookies, received);
  if (receivedCookies != nullptr) *receivedCookies = received;
}

Text Base64Encode(const ByteSet& bytes) {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Text out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += kAlphabet[(group >> 6) & 63];
    out += kAlphabet[group & 63];
  }
  const std::size_t left = bytes.size() - i;
  if (left > 0) {
    const unsigned group = (bytes[i] << 16) | (left == 2 ? bytes[i + 1] << 8 : 0);
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += left == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

Text UrlHost(std::string_view url, bool keepPort) {
  Text u = gbk::AsciiLower(url);
  if (!u.ends_with("/")) u += "/";
  Text host;
  if (u.starts_with("https://")) {
    host = TextBetween(u, "https://", "/");
  } else {
    // Only a scheme at the very start is one: "a/?next=http://b/" names host "a".
    if (!u.starts_with("http://")) u = "http://" + u;
    host = TextBetween(u, "http://", "/");
  }
  // The query or fragment may follow the host directly ("http://host?q=1").
  for (std::string_view end : {"?", "#"}) {
    const std::size_t at = gbk::Find(host, end);
    if (at != gbk::npos) host.resize(at);
  }
  if (!keepPort) {
    const std::size_t colon = PortColon(host);
    if (colon != gbk::npos) host.resize(colon);
  }
  return host;
}

int UrlPort(std::string_view url) {
  const Text hostPort = UrlHost(url, true);
  const std::size_t colon = PortColon(hostPort, true);
  if (colon == gbk::npos) {
    // Only a leading "https://" makes a URL https (as in UrlHost).
    return gbk::AsciiLower(url.substr(0, 8)) == "https://" ? 443 : 80;
  }
  int port = 0;
  for (std::size_t i = colon + 1; i < hostPort.size(); ++i) {
    const char c = hostPort[i];
    if (c < '0' || c > '9') break;
    if (port < 1000000) port = port * 10 + (c - '0');
  }
  return port < 1000000 ? port : 1000000;
}

Text UrlPath(std::string_view url) {
  const Text host = UrlHost(url);
  // The host is looked for after the scheme, so a host such as "s" is not found in "https".
  const std::size_t start = HostStart(url);
  std::size_t a = gbk::FindNoCase(url, host, start);
  if (a == gbk::npos) a = start;
  for (std::size_t at = a + host.size(); at < url.size(); at += gbk::CharLength(url, at)) {
    const char c = url[at];
    if (c == '/') return Text(url.substr(at));
    if (c == '?') {
      // Appended rather than "/" + text: GCC 12 misreads an insert at the front at -O3.
      Text path = "/";
      path += url.substr(at);
      return path;
    }
    if (c == '#') break;
  }
  return "/";
}

}  // namespace newsbar
