// One synchronous HTTP exchange through the request object (request_object.h).
//
//   ByteSet body = ComHttpRequest({.url = url, .method = 1, .extraHeaders = header});
//
// Pointer members are the caller's variables: null when not supplied, written only when
// supplied (a supplied empty text is not the same as none). Failures are silent: the
// body comes back empty and the outputs hold the empty values.
#pragma once

#include <memory>
#include <string>

#include "net/request_object.h"
#include "util/types.h"

namespace newsbar {

struct ComHttpRequestOptions {
  std::string url{};
  int method = 0;   // index into the method table; outside 0..7 means GET
  Text bodyText{};  // sent when bodyBytes is empty
  // In/out: cookies to send; on return the merged cookie text when merging runs.
  Text* sendCookies = nullptr;
  Text* receivedCookies = nullptr;  // out: cookies set by the response
  Text extraHeaders{};              // header text, lines joined by CR LF
  Text* responseHeaders = nullptr;  // out: GetAllResponseHeaders
  int* statusCode = nullptr;        // out: Status
  Text* transportError = nullptr;   // out: why no response came (diagnostics only)
  bool noRedirect = false;
  ByteSet bodyBytes{};     // when not empty, sent instead of bodyText
  Text proxyAddress{};     // "host:port"; empty: no proxy set by this call
  int timeoutSeconds = 0;  // -1: the object's own timeouts; below 1 otherwise: 15 s
  int timeoutMs = 0;       // when above 0, the timeouts in milliseconds instead
  Text proxyUser{};        // used only with proxyAddress
  Text proxyPassword{};
  int credentialTarget = kCredentialsForProxy;  // SetCredentials flags
  // A request object to use instead of a new one; it stays the caller's.
  std::shared_ptr<HttpRequestObject> requestObject{};
  bool mergeCookies = true;  // merge received into sent cookies (when sendCookies is given)
  bool addDefaultHeaders = true;
  bool normaliseHeaderNames = true;
};

ByteSet ComHttpRequest(const ComHttpRequestOptions& options);

// The same in two halves, for a request object whose Send only issues the exchange
// (CurlRequestObject on a multi handle): every member call up to Send, giving the object
// (null when none could be made, which ends the call as ComHttpRequest would); then,
// once the exchange has been performed, the response read and the outputs written.
std::shared_ptr<HttpRequestObject> ComHttpRequestSend(const ComHttpRequestOptions& options);
ByteSet ComHttpRequestReceive(HttpRequestObject& request, const ComHttpRequestOptions& options);

}  // namespace newsbar
