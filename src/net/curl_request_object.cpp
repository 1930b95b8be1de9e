#include "net/curl_request_object.h"

#include <algorithm>
#include <memory>

#include "util/gbk_text.h"

namespace newsbar {
namespace {

bool HasControlBytes(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

// CR, LF or NUL would let a value start a header line of its own.
bool BreaksLine(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A method name: letters, digits and the few symbols HTTP allows in a token.
bool IsToken(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alnum && std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::shared_ptr<HttpRequestObject> CreateHttpRequestObject() {
  auto object = std::make_shared<CurlRequestObject>();
  if (!object->Valid()) return nullptr;
  return object;
}

void CurlRequestObject::SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) {
  resolveMs_ = resolveMs;
  connectMs_ = connectMs;
  sendMs_ = sendMs;
  receiveMs_ = receiveMs;
}

void CurlRequestObject::SetProxy(int setting, const Text& proxy, const Text& bypass) {
  if (setting == kProxySettingDefault || setting == kProxySettingDirect) {
    useProxy_ = false;
  } else if (setting == kProxySettingProxy && !HasControlBytes(proxy) && !HasControlBytes(bypass)) {
    useProxy_ = true;
    proxy_ = proxy;
    bypass_ = bypass;
  }
}

void CurlRequestObject::Open(const Text& verb, const Text& url, bool async) {
  opened_ = false;
  sent_ = false;
  headerLines_.clear();
  proxyHeaderLines_.clear();
  serverCredentials_ = proxyCredentials_ = false;
  response_ = {};
  const Text scheme = gbk::AsciiLower(url.substr(0, 8));
  const bool web = scheme.starts_with("http://") || scheme == "https://";
  if (async || !IsToken(verb) || !web || HasControlBytes(url)) return;
  verb_ = verb;
  url_ = url;
  opened_ = true;
}

void CurlRequestObject::Option(int index, int value) {
  if (index == kOptionSslErrorIgnoreFlags) ignoredTlsErrors_ = value;
  if (index == kOptionEnableRedirects) redirects_ = value != 0;
}

void CurlRequestObject::SetCredentials(const Text& user, const Text& password, int flags) {
  if (!opened_ || sent_ || HasControlBytes(user) || HasControlBytes(password)) return;
  if (flags == kCredentialsForServer) {
    serverCredentials_ = true;
    serverUser_ = user;
    serverPassword_ = password;
  } else if (flags == kCredentialsForProxy) {
    proxyCredentials_ = true;
    proxyUser_ = user;
    proxyPassword_ = password;
  }
}

void CurlRequestObject::SetRequestHeader(const Text& name, const Text& value) {
  if (!opened_ || sent_ || name.empty() || name.find(':') != Text::npos || BreaksLine(name) ||
      BreaksLine(value)) {
    return;
  }
  // Proxy credentials are for the proxy alone, never for the site behind it.
  const Text line = name + ": " + value;
  if (gbk::EqualsNoCase(gbk::Trim(name), "Proxy-Authorization")) {
    proxyHeaderLines_.push_back(line);
  } else {
    headerLines_.push_back(line);
  }
}

void CurlRequestObject::Send(const Text& body) {
  Perform(body);
}

void CurlRequestObject::Send(const ByteSet& body) {
  Perform(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
}

void CurlRequestObject::Perform(std::string_view body) {
  if (!opened_ || sent_) return;
  sent_ = true;
  request_ = {};
  net::ExchangeRequest& request = request_;
  request.verb = verb_;
  request.url = url_;
  request.headerLines = headerLines_;
  request.proxyHeaderLines = proxyHeaderLines_;
  body_ = body;
  request.body = body_;
  if (useProxy_) {
    const bool https = gbk::AsciiLower(url_.substr(0, 8)) == "https://";
    request.proxy = net::SelectProxy(proxy_, https);
    request.noProxy = net::BypassList(bypass_);
  }
  request.followRedirects = redirects_;
  // A secure page does not hand its request on to a plain one.
  request.allowHttpsToHttp = false;
  request.ignoredTlsErrors = ignoredTlsErrors_;
  request.serverCredentials = serverCredentials_;
  request.serverUser = serverUser_;
  request.serverPassword = serverPassword_;
  request.proxyCredentials = proxyCredentials_;
  request.proxyUser = proxyUser_;
  request.proxyPassword = proxyPassword_;
  request.connectMs = static_cast<long>(std::max(resolveMs_, 0)) + std::max(connectMs_, 0);
  request.sendIdleMs = std::max(sendMs_, 0);
  request.receiveMs = std::max(receiveMs_, 0);
  if (multi_ != nullptr) {
    multi_->Start(easy_, request, &response_);
  } else {
    response_ = net::PerformExchange(easy_, request);
  }
}

ByteSet CurlRequestObject::ResponseBody() {
  return response_.ok ? response_.body : ByteSet{};
}

Text CurlRequestObject::GetAllResponseHeaders() {
  Text block;
  if (!response_.ok) return block;
  for (const std::string& line : response_.headerLines) {
    block += line;
    block += "\r\n";
  }
  return block;
}

int CurlRequestObject::Status() {
  return response_.ok ? response_.status : 0;
}

Text CurlRequestObject::StatusText() {
  if (!response_.ok) return {};
  // "HTTP/1.1 200 OK": the reason follows the second blank.
  const std::size_t first = response_.statusLine.find(' ');
  if (first == std::string::npos) return {};
  const std::size_t second = response_.statusLine.find(' ', first + 1);
  if (second == std::string::npos) return {};
  return response_.statusLine.substr(second + 1);
}

Text CurlRequestObject::TransportError() {
  return response_.ok ? Text() : Text(response_.error);
}

}  // namespace newsbar
