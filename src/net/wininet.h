// A small handle-based HTTP layer with the calls of the WinINet family, on libcurl.
//
// An Internet handle carries the agent and the proxy; a connection handle the server and
// port; a request handle the verb, object name and flags. HttpSendRequest performs the
// whole exchange (redirects included) and keeps the response on the request handle, from
// which InternetReadFile reads the body and HttpQueryInfo the raw header block.
//
// Unlike the platform it stands in for, every exchange is bounded: 5 s to resolve and
// connect, 10 s for the whole exchange (a request may set a shorter one). An unanswering
// server must not hold a cover download for ever. Bodies beyond 64 MiB fail the
// exchange.
//
// The calls are virtual members of Api so a test can record them around the real ones;
// Handle closes what it holds when it goes out of scope.
#pragma once

#include <cstddef>
#include <cstdint>

namespace newsbar::wininet {

// Access types of InternetOpen.
inline constexpr int kOpenTypePreconfig = 0;  // no preconfigured proxy here: direct
inline constexpr int kOpenTypeDirect = 1;
inline constexpr int kOpenTypeProxy = 3;

inline constexpr int kServiceHttp = 3;

// Flags of HttpOpenRequest.
inline constexpr std::uint32_t kFlagReload = 0x80000000;    // nothing is cached: always so
inline constexpr std::uint32_t kFlagNeedFile = 0x00000010;  // nothing is cached: no effect
inline constexpr std::uint32_t kFlagNoCookies = 0x00080000;
inline constexpr std::uint32_t kFlagNoAutoRedirect = 0x00200000;
inline constexpr std::uint32_t kFlagSecure = 0x00800000;
inline constexpr std::uint32_t kFlagIgnoreCertCnInvalid = 0x00001000;
inline constexpr std::uint32_t kFlagIgnoreCertDateInvalid = 0x00002000;
inline constexpr std::uint32_t kFlagIgnoreRedirectToHttps = 0x00004000;
inline constexpr std::uint32_t kFlagIgnoreRedirectToHttp = 0x00008000;

// InternetSetOption: the security flags of a request, a 4-byte value.
inline constexpr std::uint32_t kOptionSecurityFlags = 31;
// InternetSetOption: the whole exchange's limit in milliseconds, a 4-byte value (the
// default is kExchangeLimitMs).
inline constexpr std::uint32_t kOptionReceiveTimeout = 6;
inline constexpr std::uint32_t kSecurityIgnoreRevocation = 0x00000080;
inline constexpr std::uint32_t kSecurityIgnoreUnknownCa = 0x00000100;
inline constexpr std::uint32_t kSecurityIgnoreWrongUsage = 0x00000200;
inline constexpr std::uint32_t kSecurityIgnoreCertCnInvalid = 0x00001000;
inline constexpr std::uint32_t kSecurityIgnoreCertDateInvalid = 0x00002000;
inline constexpr std::uint32_t kSecurityIgnoreRedirectToHttps = 0x00004000;
inline constexpr std::uint32_t kSecurityIgnoreRedirectToHttp = 0x00008000;

// HttpQueryInfo: status line, header lines and an empty line, each ended by CR LF.
inline constexpr std::uint32_t kQueryRawHeadersCrLf = 22;

// The limits of every exchange.
inline constexpr long kConnectLimitMs = 5000;
inline constexpr long kExchangeLimitMs = 10000;

struct HandleObject;
using RawHandle = HandleObject*;

class Api {
 public:
  virtual ~Api() = default;

  // Null when the access type or flags are not supported (asynchronous use is not).
  // `proxy` and `proxyBypass` may be null; the bypass list names hosts reached directly.
  virtual RawHandle InternetOpen(const char* agent, int accessType, const char* proxy,
                                 const char* proxyBypass, std::uint32_t flags);
  // Port 0 means the scheme's default (80, or 443 for a secure request). Null for a bad
  // handle, service, host name or port.
  virtual RawHandle InternetConnect(RawHandle internet, const char* serverName, int port,
                                    const char* user, const char* password, int service,
                                    std::uint32_t flags, std::uintptr_t context);
  // A null verb is GET, a null object name "/", a null version "HTTP/1.1". A referrer
  // adds a Referer line, accept types an Accept line. Null for a bad handle, or a verb or
  // object name that cannot go on a request line.
  virtual RawHandle HttpOpenRequest(RawHandle connection, const char* verb, const char* objectName,
                                    const char* version, const char* referrer,
                                    const char* const* acceptTypes, std::uint32_t flags,
                                    std::uintptr_t context);
  // Only kOptionSecurityFlags and kOptionReceiveTimeout on a request handle are known.
  virtual bool InternetSetOption(RawHandle handle, std::uint32_t option, const void* buffer,
                                 std::uint32_t length);
  // `headers` is header text (lines joined by CR LF) of `headersLength` bytes; lines
  // without a name or with a stray CR, LF or NUL are left out. True when a response came.
  virtual bool HttpSendRequest(RawHandle request, const char* headers, std::size_t headersLength,
                               const void* optional, std::size_t optionalLength);
  // Up to `toRead` body bytes; *read is 0 at the end of the body.
  virtual bool InternetReadFile(RawHandle request, void* buffer, std::uint32_t toRead,
                                std::uint32_t* read);
  // kQueryRawHeadersCrLf only. The block and a terminating zero must fit in *length
  // bytes; when they do not, false with *length set to the size needed.
  virtual bool HttpQueryInfo(RawHandle request, std::uint32_t infoLevel, void* buffer,
                             std::uint32_t* length, std::uint32_t* index);
  virtual bool InternetCloseHandle(RawHandle handle);
};

// The libcurl implementation.
Api& DefaultApi();

// Owns one raw handle and closes it through its Api.
class Handle {
 public:
  Handle() = default;
  Handle(Api& api, RawHandle raw) : api_(&api), raw_(raw) {}
  ~Handle() { Close(); }
  Handle(Handle&& other) noexcept : api_(other.api_), raw_(other.raw_) { other.raw_ = nullptr; }
  Handle& operator=(Handle&& other) noexcept;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  RawHandle get() const { return raw_; }
  explicit operator bool() const { return raw_ != nullptr; }
  // Closes now; the handle is empty afterwards.
  void Close();

 private:
  Api* api_ = nullptr;
  RawHandle raw_ = nullptr;
};

}  // namespace newsbar::wininet
