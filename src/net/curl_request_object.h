// The request object on libcurl: one exchange per Open and Send.
//
// Made with a multi handle, Send only issues the exchange; the response members give
// its outcome once the multi handle has run (CurlMulti::Run). Otherwise Send performs it.
//
// Timeouts, proxy and options belong to the object and carry over to its later requests;
// Open starts a request afresh (headers, credentials, response). Until SetTimeouts it
// allows 60 s to connect, 30 s without progress while sending and 30 s for the response.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "net/curl_exchange.h"
#include "net/request_object.h"

namespace newsbar {

class CurlRequestObject : public HttpRequestObject {
 public:
  CurlRequestObject() = default;
  // Send issues on `multi`, which must outlive the exchange (until its Run returns).
  explicit CurlRequestObject(net::CurlMulti* multi) : multi_(multi) {}
  // False when libcurl could not give the object a handle.
  bool Valid() const { return static_cast<bool>(easy_); }

  void SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) override;
  void SetProxy(int setting, const Text& proxy, const Text& bypass = {}) override;
  void Open(const Text& verb, const Text& url, bool async = false) override;
  void Option(int index, int value) override;
  void SetCredentials(const Text& user, const Text& password, int flags) override;
  void SetRequestHeader(const Text& name, const Text& value) override;
  void Send(const Text& body = {}) override;
  void Send(const ByteSet& body) override;
  ByteSet ResponseBody() override;
  Text GetAllResponseHeaders() override;
  int Status() override;
  Text StatusText() override;
  Text TransportError() override;
  // When the last exchange ended (its reply read or given up).
  std::chrono::steady_clock::time_point Ended() const { return response_.ended; }

 private:
  void Perform(std::string_view body);

  net::CurlEasy easy_;
  net::CurlMulti* multi_ = nullptr;
  // Kept by the object.
  int resolveMs_ = 0;
  int connectMs_ = 60000;
  int sendMs_ = 30000;
  int receiveMs_ = 30000;
  bool useProxy_ = false;
  Text proxy_;
  Text bypass_;
  int ignoredTlsErrors_ = 0;
  bool redirects_ = true;
  // The current request.
  bool opened_ = false;
  bool sent_ = false;
  Text verb_;
  Text url_;
  std::vector<std::string> headerLines_;
  std::vector<std::string> proxyHeaderLines_;
  bool serverCredentials_ = false;
  Text serverUser_, serverPassword_;
  bool proxyCredentials_ = false;
  Text proxyUser_, proxyPassword_;
  // What an issued exchange refers to until it has been performed.
  net::ExchangeRequest request_;
  std::string body_;
  net::ExchangeResponse response_;
};

}  // namespace newsbar
