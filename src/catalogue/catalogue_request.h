// One programme's episode list from the catalogue server, as GBK text.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "catalogue/date_time.h"
#include "catalogue/endpoints.h"
#include "net/com_http_request.h"
#include "util/types.h"

namespace newsbar {

namespace net {
class CurlMulti;
}
class CurlRequestObject;

// Programme selectors.
inline constexpr int kMorningProgramme = 1;  // over http
inline constexpr int kEveningProgramme = 2;  // over https

// The browser identity both catalogue requests carry.
inline constexpr std::string_view kCatalogueUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/50.0.2661.87 Safari/537.36";

inline constexpr std::string_view kCataloguePath = "/fm/read/fmd/h5/getPayResourceList_714.html";

// The request URL of a programme with the given "_" value; empty for an unknown selector.
// The host's own port wins; otherwise the endpoint's port for the scheme, when set.
std::string CatalogueUrl(const Endpoints& endpoints, int selector, std::string_view timestamp);

// "morning" or "evening", for diagnostics.
const char* ProgrammeName(int selector);

// POSTs to the programme's URL and returns the reply converted from UTF-8 to GBK: empty
// when nothing came back, "请求类型错误！" (GBK) for a selector other than 1 or 2, in
// which case nothing is sent. A failed request is logged as a warning (newsbar.catalogue),
// every other one as a debug line.
// `status`, when given, receives the HTTP status (0 without a response).
Text RequestCatalogue(const Endpoints& endpoints, int selector, int* status = nullptr);

// The same request issued on a multi handle, which performs it together with others
// (CurlMulti::Run); Finish then gives what RequestCatalogue gives and logs the same.
// Neither copied nor moved: the request under way refers to it.
class CatalogueRequest {
 public:
  CatalogueRequest(const Endpoints& endpoints, int selector, net::CurlMulti& multi);
  CatalogueRequest(const CatalogueRequest&) = delete;
  CatalogueRequest& operator=(const CatalogueRequest&) = delete;
  ~CatalogueRequest();

  Text Finish(int* status = nullptr);

 private:
  const Endpoints& endpoints_;
  const int selector_;
  int status_ = 0;
  Text transportError_;
  ComHttpRequestOptions options_;
  std::chrono::steady_clock::time_point issued_;
  std::shared_ptr<CurlRequestObject> object_;
};

// Milliseconds since 1970-01-01 08:00 on the local wall clock, in decimal: the epoch
// count on a clock that runs at UTC+8. On a clock set to another zone it is that zone's
// wall time counted as if it were UTC+8 (the server only uses it to defeat caches).
Text MakeTimestamp();
// The same for a given local time (date, time and millisecond fields).
Text MakeTimestamp(const CalendarTime& localTime);

}  // namespace newsbar
