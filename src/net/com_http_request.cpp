#include "net/com_http_request.h"

#include <climits>

#include "net/http_text.h"
#include "util/gbk_text.h"

namespace newsbar {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr int kDefaultTimeoutMs = 15000;
constexpr int kIgnoredCertificateErrors =
    kIgnoreUnknownCa | kIgnoreWrongUsage | kIgnoreInvalidName | kIgnoreInvalidDate;  // 0x3300

// The default request headers, each added when its name appears nowhere in the text yet.
Text WithDefaultHeaders(Text headers, const std::string& url, int method) {
  if (!gbk::ContainsNoCase(headers, "Accept:")) headers += "\r\nAccept: */*";
  if (!gbk::ContainsNoCase(headers, "Referer:")) headers += "\r\nReferer: " + url;
  if (!gbk::ContainsNoCase(headers, "Accept-Language:")) headers += "\r\nAccept-Language: zh-cn";
  if (!gbk::ContainsNoCase(headers, "User-Agent:")) {
    headers += "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
  }
  if (method == 1 && !gbk::ContainsNoCase(headers, "Content-Type:")) {
    headers += "\r\nContent-Type: application/x-www-form-urlencoded";
  }
  return headers;
}

}  // namespace

std::shared_ptr<HttpRequestObject> ComHttpRequestSend(const ComHttpRequestOptions& options) {
  const int method = options.method < 0 || options.method > 7 ? 0 : options.method;
  const Text verb = MethodVerb(method);

  // The call holds its own reference; the caller's stays valid.
  std::shared_ptr<HttpRequestObject> request =
      options.requestObject ? options.requestObject : CreateHttpRequestObject();
  if (!request) return nullptr;

  if (options.timeoutMs > 0) {
    request->SetTimeouts(options.timeoutMs, options.timeoutMs, options.timeoutMs,
                         options.timeoutMs);
  } else if (options.timeoutSeconds != -1) {
    // Seconds beyond what milliseconds in an int can hold are held at that limit.
    const int timeoutMs = options.timeoutSeconds < 1                ? kDefaultTimeoutMs
                          : options.timeoutSeconds > INT_MAX / 1000 ? INT_MAX / 1000 * 1000
                                                                    : options.timeoutSeconds * 1000;
    request->SetTimeouts(timeoutMs, timeoutMs, timeoutMs, timeoutMs);
  }
  if (!options.proxyAddress.empty()) {
    request->SetProxy(kProxySettingProxy, options.proxyAddress);
  }
  request->Open(verb, options.url, false);
  if (options.noRedirect) request->Option(kOptionEnableRedirects, 0);
  request->Option(kOptionSslErrorIgnoreFlags, kIgnoredCertificateErrors);

  Text headers = options.extraHeaders;
  if (options.addDefaultHeaders) headers = WithDefaultHeaders(headers, options.url, method);
  if (options.normaliseHeaderNames) headers = NormaliseHeaderNames(headers);

  if (!options.proxyAddress.empty() && !options.proxyUser.empty()) {
    request->SetCredentials(options.proxyUser, options.proxyPassword, options.credentialTarget);
    if (options.credentialTarget == kCredentialsForProxy) {
      const ByteSet credentials = BytesFromText(options.proxyUser + ":" + options.proxyPassword);
      request->SetRequestHeader("Proxy-Authorization", "Basic " + Base64Encode(credentials));
    }
  }

  if (options.sendCookies != nullptr) {
    Text& cookies = *options.sendCookies;
    if (!cookies.empty() && gbk::ContainsNoCase(cookies, "Cookie:")) {
      cookies = gbk::ReplaceAllNoCase(cookies, "Cookie:", "");
    }
    request->SetRequestHeader("Cookie", cookies);
  }

  if (!gbk::Contains(headers, kCrLf)) {
    request->SetRequestHeader(HeaderName(headers), HeaderValue(headers));
  } else {
    for (const Text& line : gbk::Split(headers, kCrLf)) {
      if (line.empty()) continue;
      const Text name = HeaderName(line);
      const Text value = HeaderValue(line);
      // The request object keeps connections alive by itself.
      if (name == "Connection" && value == "keep-alive") continue;
      request->SetRequestHeader(name, value);
    }
  }

  if (options.bodyBytes.empty()) {
    request->Send(options.bodyText);
  } else {
    request->Send(options.bodyBytes);
  }
  return request;
}

ByteSet ComHttpRequestReceive(HttpRequestObject& request, const ComHttpRequestOptions& options) {
  ByteSet body = request.ResponseBody();
  const Text headerBlock = request.GetAllResponseHeaders();
  const int status = request.Status();
  request.StatusText();
  if (options.responseHeaders != nullptr) *options.responseHeaders = headerBlock;
  if (options.statusCode != nullptr) *options.statusCode = status;
  if (options.transportError != nullptr) *options.transportError = request.TransportError();

  HandOverReceivedCookies(headerBlock, options.sendCookies, options.mergeCookies,
                          options.receivedCookies);
  return body;
}

ByteSet ComHttpRequest(const ComHttpRequestOptions& options) {
  const std::shared_ptr<HttpRequestObject> request = ComHttpRequestSend(options);
  return request ? ComHttpRequestReceive(*request, options) : ByteSet{};
}

}  // namespace newsbar
