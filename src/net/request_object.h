// The HTTP request object that ComHttpRequest drives, member by member.
//
// An interface, so a test can hand ComHttpRequest a recording object; CreateHttpRequestObject
// makes the real one, which performs the exchange with libcurl. Member calls never throw
// and report nothing: a call that cannot be carried out does nothing, and the response
// members then give empty values (empty body and headers, status 0).
#pragma once

#include <memory>

#include "util/types.h"

namespace newsbar {

// Flags of SetCredentials.
inline constexpr int kCredentialsForServer = 0;
inline constexpr int kCredentialsForProxy = 1;

// Settings of SetProxy.
inline constexpr int kProxySettingDefault = 0;  // no proxy is preconfigured here: direct
inline constexpr int kProxySettingDirect = 1;
inline constexpr int kProxySettingProxy = 2;

// Indexes of Option.
inline constexpr int kOptionSslErrorIgnoreFlags = 4;
inline constexpr int kOptionEnableRedirects = 6;

// Certificate errors that option 4 can ignore.
inline constexpr int kIgnoreUnknownCa = 0x0100;
inline constexpr int kIgnoreWrongUsage = 0x0200;
inline constexpr int kIgnoreInvalidName = 0x1000;
inline constexpr int kIgnoreInvalidDate = 0x2000;

class HttpRequestObject {
 public:
  virtual ~HttpRequestObject() = default;

  // Resolve, connect, send and receive limits in milliseconds; 0 means no limit. Send
  // bounds the time without progress while sending; receive bounds the whole wait for
  // the response, so a reply dripped a byte at a time cannot hold the caller for ever.
  virtual void SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) = 0;
  // With kProxySettingProxy, `proxy` is "host:port" or a list such as
  // "http=host:port;https=host:port"; `bypass` lists hosts reached directly.
  virtual void SetProxy(int setting, const Text& proxy, const Text& bypass = {}) = 0;
  // Starts a new request: forgets the headers, credentials and response of the last one.
  // Only synchronous requests are offered; async true leaves the object unopened.
  virtual void Open(const Text& verb, const Text& url, bool async = false) = 0;
  // Writes an option (kOptionSslErrorIgnoreFlags, kOptionEnableRedirects). Options stay
  // set for later requests of the same object.
  virtual void Option(int index, int value) = 0;
  virtual void SetCredentials(const Text& user, const Text& password, int flags) = 0;
  // Adds a header line "name: value". A name that is empty or holds a ":", or a name or
  // value with CR, LF or NUL in it, is refused.
  virtual void SetRequestHeader(const Text& name, const Text& value) = 0;
  // Performs the exchange, with a text or a byte body (none when empty).
  virtual void Send(const Text& body = {}) = 0;
  virtual void Send(const ByteSet& body) = 0;

  virtual ByteSet ResponseBody() = 0;
  // The final response's header lines, each ended by CR LF, without the status line.
  virtual Text GetAllResponseHeaders() = 0;
  virtual int Status() = 0;
  virtual Text StatusText() = 0;
  // Why the last Send got no response, for diagnostics; empty when one came (or when the
  // object cannot tell).
  virtual Text TransportError() { return {}; }
};

// A new libcurl-backed request object; null when one cannot be made.
std::shared_ptr<HttpRequestObject> CreateHttpRequestObject();

}  // namespace newsbar
