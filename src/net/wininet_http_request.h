// One synchronous HTTP exchange through the handle-based layer (wininet.h); the player
// downloads its cover pictures with it.
//
//   ByteSet picture = WinInetHttpRequest({.url = coverUrl});
//
// Pointer members are the caller's variables: null when not supplied, written only when
// supplied. The exchange is bounded (see wininet.h): 5 s to connect, 10 s in all.
#pragma once

#include <string>

#include "net/wininet.h"
#include "util/types.h"

namespace newsbar {

struct WinInetHttpRequestOptions {
  std::string url{};
  int method = 0;   // index into the method table; outside 0..7 means GET
  Text bodyText{};  // sent when bodyBytes is empty (never with GET)
  // In/out: cookies to send; supplying it (even empty) turns the layer's own cookie
  // handling off and enables merging.
  Text* sendCookies = nullptr;
  Text* receivedCookies = nullptr;  // out: cookies set by the response
  Text extraHeaders{};              // header text, lines joined by CR LF
  Text* responseHeaders = nullptr;  // out: the raw header block, status line first
  bool noRedirect = false;
  // In/out: the body to send (never with GET); when empty for another method it receives
  // the bytes of bodyText. Null: a local empty byte set.
  ByteSet* bodyBytes = nullptr;
  Text proxyAddress{};  // "host:port"; empty: direct
  bool mergeCookies = true;
  bool addDefaultHeaders = true;
  bool normaliseHeaderNames = true;
  bool socksProxy = false;
  // The whole exchange's limit; 0 keeps the layer's own (wininet::kExchangeLimitMs).
  std::uint32_t timeoutMs = 0;
  // The layer to call; null means wininet::DefaultApi(). Tests record the calls with it.
  wininet::Api* api = nullptr;
};

ByteSet WinInetHttpRequest(const WinInetHttpRequestOptions& options);

}  // namespace newsbar
