#include "net/wininet_http_request.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "net/http_text.h"
#include "util/gbk_text.h"

namespace newsbar {
namespace {

constexpr std::string_view kDefaultAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
constexpr std::uint32_t kSecurityFlags = 0x0001F380;
constexpr std::uint32_t kReadChunk = 1024;
constexpr std::uint32_t kHeaderBuffer = 5000;

Text AgentFrom(const Text& headers) {
  if (!gbk::ContainsNoCase(headers, "User-Agent:")) return Text(kDefaultAgent);
  // The line's own value; when it is empty, the value of the first header line.
  Text agent = gbk::Trim(TextBetween(headers + "\r\n", "User-Agent:", "\r\n"));
  if (agent.empty()) agent = HeaderValue(TextLeftOf(headers + "\r\n", "\r\n"));
  return agent;
}

Text WithDefaultHeaders(Text headers, const std::string& url, int method) {
  if (headers.empty()) headers = "Accept: */*";
  if (!gbk::ContainsNoCase(headers, "Accept:")) headers += "\r\nAccept: */*";
  if (!gbk::ContainsNoCase(headers, "Referer:")) headers += "\r\nReferer: " + url;
  if (!gbk::ContainsNoCase(headers, "Accept-Language:")) headers += "\r\nAccept-Language: zh-cn";
  if (method == 1 && !gbk::ContainsNoCase(headers, "Content-Type:")) {
    headers += "\r\nContent-Type: application/x-www-form-urlencoded";
  }
  return headers;
}

}  // namespace

ByteSet WinInetHttpRequest(const WinInetHttpRequestOptions& options) {
  wininet::Api& api = options.api != nullptr ? *options.api : wininet::DefaultApi();
  Text headers = options.extraHeaders;
  if (options.normaliseHeaderNames) headers = NormaliseHeaderNames(headers);
  const int method = options.method < 0 || options.method > 7 ? 0 : options.method;
  const Text verb = MethodVerb(method);
  const bool https = gbk::AsciiLower(std::string_view(options.url).substr(0, 8)) == "https://";
  const Text agent = AgentFrom(headers);

  Text proxy;
  wininet::Handle internet;
  if (options.proxyAddress.empty()) {
    internet = wininet::Handle(
        api, api.InternetOpen(agent.c_str(), wininet::kOpenTypeDirect, nullptr, nullptr, 0));
  } else {
    proxy = options.socksProxy ? "SOCKS=" + options.proxyAddress
            : https            ? options.proxyAddress
                               : "http=" + options.proxyAddress;
    internet = wininet::Handle(
        api, api.InternetOpen(agent.c_str(), wininet::kOpenTypeProxy, proxy.c_str(), "", 0));
  }
  if (!internet) return {};

  const Text host = UrlHost(options.url);
  wininet::Handle connection(
      api, api.InternetConnect(internet.get(), host.c_str(), UrlPort(options.url), nullptr, nullptr,
                               wininet::kServiceHttp, 0, 0));
  if (!connection) return {};

  std::uint32_t flags = wininet::kFlagReload | wininet::kFlagNeedFile;
  if (options.sendCookies != nullptr) flags |= wininet::kFlagNoCookies;
  if (options.noRedirect) flags |= wininet::kFlagNoAutoRedirect;
  flags |= https ? wininet::kFlagSecure : wininet::kFlagIgnoreRedirectToHttps;
  const Text path = UrlPath(options.url);
  wininet::Handle request(api, api.HttpOpenRequest(connection.get(), verb.c_str(), path.c_str(),
                                                   "HTTP/1.1", nullptr, nullptr, flags, 0));
  if (!request) return {};

  const std::uint32_t securityFlags = kSecurityFlags;
  api.InternetSetOption(request.get(), wininet::kOptionSecurityFlags, &securityFlags,
                        sizeof securityFlags);
  if (options.timeoutMs > 0) {
    api.InternetSetOption(request.get(), wininet::kOptionReceiveTimeout, &options.timeoutMs,
                          sizeof options.timeoutMs);
  }

  if (options.addDefaultHeaders) headers = WithDefaultHeaders(headers, options.url, method);
  if (options.sendCookies != nullptr && !options.sendCookies->empty()) {
    headers += gbk::ContainsNoCase(*options.sendCookies, "Cookie:")
                   ? "\r\n" + *options.sendCookies
                   : "\r\nCookie: " + *options.sendCookies;
  }

  ByteSet localBody;
  ByteSet& bodyBytes = options.bodyBytes != nullptr ? *options.bodyBytes : localBody;
  if (method == 0) {
    api.HttpSendRequest(request.get(), headers.data(), headers.size(), nullptr, 0);
  } else {
    if (bodyBytes.empty()) bodyBytes = BytesFromText(options.bodyText);
    api.HttpSendRequest(request.get(), headers.data(), headers.size(),
                        bodyBytes.empty() ? nullptr : bodyBytes.data(), bodyBytes.size());
  }

  ByteSet body;
  std::array<std::uint8_t, kReadChunk> chunk{};
  for (;;) {
    chunk.fill(0);
    std::uint32_t read = 0;
    api.InternetReadFile(request.get(), chunk.data(), kReadChunk, &read);
    if (read == 0) break;
    body.insert(body.end(), chunk.begin(), chunk.begin() + read);
  }

  // The block comes whole: a larger buffer when the first does not hold it, nothing when
  // there is no response.
  Text responseHeaders;
  std::uint32_t length = kHeaderBuffer;
  Text buffer(kHeaderBuffer, ' ');
  bool got = api.HttpQueryInfo(request.get(), wininet::kQueryRawHeadersCrLf, buffer.data(), &length,
                               nullptr);
  if (!got && length > kHeaderBuffer) {
    buffer.assign(length, ' ');
    got = api.HttpQueryInfo(request.get(), wininet::kQueryRawHeadersCrLf, buffer.data(), &length,
                            nullptr);
  }
  if (got) {
    responseHeaders = buffer.substr(0, std::min<std::size_t>(length, buffer.size()));
    responseHeaders = responseHeaders.substr(0, responseHeaders.find('\0'));
  }
  if (options.responseHeaders != nullptr) *options.responseHeaders = responseHeaders;

  request.Close();
  connection.Close();
  internet.Close();

  HandOverReceivedCookies(responseHeaders, options.sendCookies, options.mergeCookies,
                          options.receivedCookies);
  return body;
}

}  // namespace newsbar
