// One HTTP exchange on libcurl, shared by the request object and the WinINet-style layer.
//
// It sends exactly the header lines it is given: libcurl's own Accept, Expect,
// Content-Type and Proxy-Connection lines are suppressed unless the caller gave them, so
// only Host, Content-Length and the given lines go out. Redirects are followed here, hop
// by hop, so the method rules are ours: 303 turns anything but HEAD into GET, 301 and
// 302 turn POST into GET, 307 and 308 keep method and body. The header lines reported are
// those of the final response.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/types.h"

namespace newsbar::net {

// No response body is taken beyond this; a longer one fails the exchange.
inline constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;
// Nor more header bytes than this in one response.
inline constexpr std::size_t kMaxHeaderBytes = 1024 * 1024;

// An easy handle, kept across exchanges so connections can be reused.
class CurlEasy {
 public:
  CurlEasy();
  ~CurlEasy();
  CurlEasy(const CurlEasy&) = delete;
  CurlEasy& operator=(const CurlEasy&) = delete;

  CURL* get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  // The certificate errors ignored by the connections the handle keeps (-1: none kept);
  // an exchange with other settings must not reuse them.
  int keptTlsIgnore = -1;

  // Where this libcurl looks for trusted roots by default (empty: nowhere).
  const std::string& DefaultCaFile() const { return defaultCaFile_; }
  const std::string& DefaultCaPath() const { return defaultCaPath_; }

 private:
  CURL* handle_ = nullptr;
  std::string defaultCaFile_;
  std::string defaultCaPath_;
};

struct ExchangeRequest {
  std::string verb = "GET";
  std::string url;
  // Header lines "Name: value" sent in this order, byte for byte; one whose value is
  // empty is sent as "Name:".
  std::vector<std::string> headerLines;
  // Lines only a proxy sees (on CONNECT, or on a plain request through it).
  std::vector<std::string> proxyHeaderLines;
  std::string_view body;  // raw bytes; sent with every method but HEAD when not empty

  std::string proxy;    // libcurl proxy URL ("http://h:p", "socks5://h:p"); empty: direct
  std::string noProxy;  // comma-separated hosts reached directly

  bool followRedirects = true;
  int maxRedirects = 10;
  bool allowHttpToHttps = true;
  bool allowHttpsToHttp = true;
  // Cookies set during the exchange are sent on its later hops to the same origin
  // (unless the header lines carry a Cookie line of their own).
  bool cookieEngine = false;

  int ignoredTlsErrors = 0;  // kIgnore* bits of request_object.h
  bool http10 = false;       // HTTP/1.0 instead of 1.1

  bool serverCredentials = false;
  std::string serverUser, serverPassword;
  bool proxyCredentials = false;
  std::string proxyUser, proxyPassword;

  // Limits in milliseconds, 0 for none: resolve and connect; time without progress while
  // sending; the whole wait for the response of one hop, from the end of sending to its
  // last byte; the whole exchange with all its hops.
  long connectMs = 0;
  long sendIdleMs = 0;
  long receiveMs = 0;
  long totalMs = 0;
};

struct ExchangeResponse {
  bool ok = false;  // a response was read in full
  // Why not, when ok is false: libcurl's word for it ("Timeout was reached", ...).
  std::string error;
  int status = 0;
  std::string statusLine;                // "HTTP/1.1 200 OK"
  std::vector<std::string> headerLines;  // without CR LF
  ByteSet body;
  // When the exchange ended, for diagnostics.
  std::chrono::steady_clock::time_point ended{};
};

// Performs the exchange; on any failure the response is empty with ok false.
ExchangeResponse PerformExchange(CurlEasy& easy, const ExchangeRequest& request);

struct RunningExchange;

// Exchanges performed together on the calling thread (libcurl's multi interface), and
// what later exchanges on the same object reuse: open connections by host and port,
// resolved names, and TLS sessions for the same certificate settings.
//
//   CurlMulti multi;
//   multi.Start(easyA, requestA, &responseA);  // its connection is under way at once
//   multi.Start(easyB, requestB, &responseB);
//   multi.Run();                               // returns when both have ended
//
// One thread at a time may use it.
class CurlMulti {
 public:
  CurlMulti();
  ~CurlMulti();
  CurlMulti(const CurlMulti&) = delete;
  CurlMulti& operator=(const CurlMulti&) = delete;

  explicit operator bool() const { return multi_ != nullptr; }

  // Issues the exchange without waiting for anything: its first hop is handed to libcurl,
  // which starts connecting before this returns. `easy` and `request` (with the bytes its
  // body views) must stay until Run returns; the outcome is written to *response then.
  // Exchanges go out in the order of Start.
  void Start(CurlEasy& easy, const ExchangeRequest& request, ExchangeResponse* response);
  // Performs every exchange started until each has ended, within its own limits.
  void Run();

 private:
  void Perform();
  void Finish(RunningExchange& exchange, CURLcode result);

  CURLM* multi_ = nullptr;
  CURLSH* share_ = nullptr;
  // The certificate errors ignored by the connections the multi keeps (-1: none kept),
  // and those of the TLS sessions it keeps: a resumed session skips the certificate
  // check, so only an exchange with the same settings may resume one.
  int keptTlsIgnore_ = -1;
  int sessionTlsIgnore_ = -1;
  std::vector<std::unique_ptr<RunningExchange>> running_;
};

// The proxy for a URL scheme from a list such as "host:port",
// "http=host:port;https=host:port" or "SOCKS=host:port" (entries separated by ";" or
// blanks), as a libcurl proxy URL; empty when no entry applies.
std::string SelectProxy(std::string_view list, bool https);

// A bypass list ("a;b c") as libcurl's comma-separated form.
std::string BypassList(std::string_view list);

// True when a header line has exactly this name (ASCII case ignored).
bool HeaderLineNamed(std::string_view line, std::string_view name);

}  // namespace newsbar::net
