#include "net/wininet.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "net/curl_exchange.h"
#include "net/request_object.h"
#include "util/gbk_text.h"
#include "util/types.h"

namespace newsbar::wininet {

enum class Kind { kInternet, kConnection, kRequest };

struct HandleObject {
  Kind kind = Kind::kInternet;
  // Internet handle (copied into its children, so closing order does not matter).
  std::string agent;
  bool hasAgent = false;
  int accessType = kOpenTypeDirect;
  std::string proxy;
  std::string bypass;
  // Connection.
  std::string host;
  int port = 0;
  // Request.
  std::string verb;
  std::string objectName;
  bool http10 = false;
  std::vector<std::string> ownHeaderLines;  // Referer and Accept from the open call
  std::uint32_t flags = 0;
  std::uint32_t securityFlags = 0;
  long exchangeLimitMs = kExchangeLimitMs;
  bool sent = false;
  net::ExchangeResponse response;
  std::size_t readOffset = 0;
};

namespace {

// The handles alive now: a call with anything else (closed, never opened) fails. Made once
// and never destroyed: a download still running on its own thread when the process ends
// must not find them gone.
struct Handles {
  std::mutex mutex;
  std::unordered_set<const HandleObject*> live;
};
Handles& LiveHandles() {
  static Handles* const handles = new Handles;
  return *handles;
}

RawHandle Register(std::unique_ptr<HandleObject> object) {
  Handles& handles = LiveHandles();
  std::lock_guard lock(handles.mutex);
  handles.live.insert(object.get());
  return object.release();
}

HandleObject* Find(RawHandle handle, Kind kind) {
  Handles& handles = LiveHandles();
  std::lock_guard lock(handles.mutex);
  if (handle == nullptr || !handles.live.contains(handle) || handle->kind != kind) return nullptr;
  return handle;
}

std::string Str(const char* text) {
  return text == nullptr ? std::string() : std::string(text);
}

// Bytes that cannot stand in a request line or a host name.
bool HasBlankOrControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F;
  });
}

// Control bytes other than the blanks that separate list entries.
bool HasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && byte != '\t') || byte == 0x7F;
  });
}

bool IsToken(std::string_view text) {
  if (text.empty()) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
  });
}

// The header lines of a header text that can be sent as they are.
std::vector<std::string> SendableLines(std::string_view headers) {
  std::vector<std::string> lines;
  for (std::string& line : gbk::Split(headers, "\r\n")) {
    if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) continue;
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || gbk::Trim(line.substr(0, colon)).empty()) continue;
    lines.push_back(std::move(line));
  }
  return lines;
}

int TlsErrorsIgnored(std::uint32_t flags, std::uint32_t security) {
  int ignored = 0;
  if (security & kSecurityIgnoreUnknownCa) ignored |= kIgnoreUnknownCa;
  if (security & kSecurityIgnoreWrongUsage) ignored |= kIgnoreWrongUsage;
  if ((security & kSecurityIgnoreCertCnInvalid) || (flags & kFlagIgnoreCertCnInvalid)) {
    ignored |= kIgnoreInvalidName;
  }
  if ((security & kSecurityIgnoreCertDateInvalid) || (flags & kFlagIgnoreCertDateInvalid)) {
    ignored |= kIgnoreInvalidDate;
  }
  return ignored;
}

std::string RawHeaderBlock(const net::ExchangeResponse& response) {
  std::string block = response.statusLine + "\r\n";
  for (const std::string& line : response.headerLines) block += line + "\r\n";
  block += "\r\n";
  return block;
}

}  // namespace

RawHandle Api::InternetOpen(const char* agent, int accessType, const char* proxy,
                            const char* proxyBypass, std::uint32_t flags) {
  constexpr std::uint32_t kAsync = 0x10000000;
  constexpr std::uint32_t kOffline = 0x01000000;
  if ((flags & (kAsync | kOffline)) != 0) return nullptr;
  if (accessType != kOpenTypePreconfig && accessType != kOpenTypeDirect &&
      accessType != kOpenTypeProxy) {
    return nullptr;
  }
  auto object = std::make_unique<HandleObject>();
  object->kind = Kind::kInternet;
  // An agent is one header value: whatever follows a line break is not part of it.
  object->hasAgent = agent != nullptr;
  object->agent = Str(agent).substr(0, Str(agent).find_first_of("\r\n"));
  object->accessType = accessType;
  if (accessType == kOpenTypeProxy) {
    object->proxy = Str(proxy);
    object->bypass = Str(proxyBypass);
    if (object->proxy.empty() || HasControl(object->proxy) || HasControl(object->bypass)) {
      return nullptr;
    }
  }
  return Register(std::move(object));
}

RawHandle Api::InternetConnect(RawHandle internet, const char* serverName, int port, const char*,
                               const char*, int service, std::uint32_t, std::uintptr_t) {
  const HandleObject* parent = Find(internet, Kind::kInternet);
  const std::string host = Str(serverName);
  if (parent == nullptr || service != kServiceHttp || host.empty() || HasBlankOrControl(host) ||
      host.find_first_of("/?#@\\") != std::string::npos || port < 0 || port > 65535) {
    return nullptr;
  }
  auto object = std::make_unique<HandleObject>(*parent);
  object->kind = Kind::kConnection;
  object->host = host;
  object->port = port;
  return Register(std::move(object));
}

RawHandle Api::HttpOpenRequest(RawHandle connection, const char* verb, const char* objectName,
                               const char* version, const char* referrer,
                               const char* const* acceptTypes, std::uint32_t flags,
                               std::uintptr_t) {
  const HandleObject* parent = Find(connection, Kind::kConnection);
  const std::string method = verb == nullptr ? "GET" : verb;
  std::string object = objectName == nullptr ? "/" : objectName;
  const std::string protocol = version == nullptr ? "HTTP/1.1" : version;
  if (parent == nullptr || !IsToken(method) || object.empty() || HasBlankOrControl(object) ||
      (protocol != "HTTP/1.1" && protocol != "HTTP/1.0")) {
    return nullptr;
  }
  if (!object.starts_with("/")) {
    // Appended rather than inserted at the front: GCC 12 misreads such an insert at -O3.
    std::string rooted = "/";
    rooted += object;
    object = std::move(rooted);
  }
  auto request = std::make_unique<HandleObject>(*parent);
  request->kind = Kind::kRequest;
  request->verb = method;
  request->objectName = object;
  request->http10 = protocol == "HTTP/1.0";
  request->flags = flags;
  if (referrer != nullptr && *referrer != '\0' && !HasBlankOrControl(referrer)) {
    request->ownHeaderLines.push_back("Referer: " + std::string(referrer));
  }
  if (acceptTypes != nullptr && acceptTypes[0] != nullptr) {
    std::string accept = "Accept: ";
    for (std::size_t i = 0; acceptTypes[i] != nullptr; ++i) {
      if (i > 0) accept += ", ";
      accept += acceptTypes[i];
    }
    if (accept.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos) {
      request->ownHeaderLines.push_back(accept);
    }
  }
  return Register(std::move(request));
}

bool Api::InternetSetOption(RawHandle handle, std::uint32_t option, const void* buffer,
                            std::uint32_t length) {
  HandleObject* request = Find(handle, Kind::kRequest);
  if (request == nullptr || buffer == nullptr || length != 4) return false;
  if (option == kOptionSecurityFlags) {
    std::memcpy(&request->securityFlags, buffer, 4);
    return true;
  }
  if (option == kOptionReceiveTimeout) {
    std::uint32_t limitMs = 0;
    std::memcpy(&limitMs, buffer, 4);
    if (limitMs == 0) return false;
    request->exchangeLimitMs = limitMs;
    return true;
  }
  return false;
}

bool Api::HttpSendRequest(RawHandle handle, const char* headers, std::size_t headersLength,
                          const void* optional, std::size_t optionalLength) {
  HandleObject* request = Find(handle, Kind::kRequest);
  if (request == nullptr) return false;
  const bool https = (request->flags & kFlagSecure) != 0;
  const int port = request->port != 0 ? request->port : https ? 443 : 80;

  net::ExchangeRequest exchange;
  exchange.verb = request->verb;
  exchange.url = std::string(https ? "https://" : "http://") + request->host + ":" +
                 std::to_string(port) + request->objectName;
  exchange.headerLines = request->ownHeaderLines;
  const std::vector<std::string> given = SendableLines(
      headers == nullptr ? std::string_view() : std::string_view(headers, headersLength));
  exchange.headerLines.insert(exchange.headerLines.end(), given.begin(), given.end());
  // The agent goes out as the User-Agent, unless the header text has its own.
  const bool ownAgent = std::any_of(given.begin(), given.end(), [](const std::string& line) {
    return net::HeaderLineNamed(line, "User-Agent");
  });
  if (request->hasAgent && !ownAgent) {
    exchange.headerLines.insert(exchange.headerLines.begin(), "User-Agent: " + request->agent);
  }
  if (optional != nullptr && optionalLength > 0) {
    exchange.body = std::string_view(static_cast<const char*>(optional), optionalLength);
  }
  if (request->accessType == kOpenTypeProxy) {
    exchange.proxy = net::SelectProxy(request->proxy, https);
    exchange.noProxy = net::BypassList(request->bypass);
  }
  exchange.followRedirects = (request->flags & kFlagNoAutoRedirect) == 0;
  exchange.allowHttpToHttps = ((request->flags & kFlagIgnoreRedirectToHttps) != 0) ||
                              ((request->securityFlags & kSecurityIgnoreRedirectToHttps) != 0);
  exchange.allowHttpsToHttp = ((request->flags & kFlagIgnoreRedirectToHttp) != 0) ||
                              ((request->securityFlags & kSecurityIgnoreRedirectToHttp) != 0);
  exchange.cookieEngine = (request->flags & kFlagNoCookies) == 0;
  exchange.ignoredTlsErrors = TlsErrorsIgnored(request->flags, request->securityFlags);
  exchange.http10 = request->http10;
  exchange.connectMs = kConnectLimitMs;
  exchange.totalMs = request->exchangeLimitMs;

  net::CurlEasy easy;
  request->response = net::PerformExchange(easy, exchange);
  request->sent = true;
  request->readOffset = 0;
  return request->response.ok;
}

bool Api::InternetReadFile(RawHandle handle, void* buffer, std::uint32_t toRead,
                           std::uint32_t* read) {
  if (read != nullptr) *read = 0;
  HandleObject* request = Find(handle, Kind::kRequest);
  if (request == nullptr || !request->sent || read == nullptr ||
      (buffer == nullptr && toRead > 0)) {
    return false;
  }
  const ByteSet& body = request->response.body;
  const std::size_t count = std::min<std::size_t>(toRead, body.size() - request->readOffset);
  if (count > 0) std::memcpy(buffer, body.data() + request->readOffset, count);
  request->readOffset += count;
  *read = static_cast<std::uint32_t>(count);
  return true;
}

bool Api::HttpQueryInfo(RawHandle handle, std::uint32_t infoLevel, void* buffer,
                        std::uint32_t* length, std::uint32_t*) {
  const HandleObject* request = Find(handle, Kind::kRequest);
  if (request == nullptr || !request->sent || !request->response.ok ||
      infoLevel != kQueryRawHeadersCrLf || length == nullptr) {
    return false;
  }
  const std::string block = RawHeaderBlock(request->response);
  if (buffer == nullptr || *length < block.size() + 1) {
    *length = static_cast<std::uint32_t>(block.size() + 1);
    return false;
  }
  std::memcpy(buffer, block.c_str(), block.size() + 1);
  *length = static_cast<std::uint32_t>(block.size());
  return true;
}

bool Api::InternetCloseHandle(RawHandle handle) {
  {
    Handles& handles = LiveHandles();
    std::lock_guard lock(handles.mutex);
    if (handle == nullptr || handles.live.erase(handle) == 0) return false;
  }
  delete handle;
  return true;
}

Api& DefaultApi() {
  static Api api;
  return api;
}

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    Close();
    api_ = other.api_;
    raw_ = other.raw_;
    other.raw_ = nullptr;
  }
  return *this;
}

void Handle::Close() {
  if (raw_ != nullptr && api_ != nullptr) api_->InternetCloseHandle(raw_);
  raw_ = nullptr;
}

}  // namespace newsbar::wininet
