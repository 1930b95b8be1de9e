#include "catalogue/catalogue_request.h"

#include <chrono>
#include <cmath>

#include "catalogue/catalogue_texts.h"
#include "net/com_http_request.h"
#include "net/curl_exchange.h"
#include "net/curl_request_object.h"
#include "util/charset.h"
#include "util/duration.h"
#include "util/field_set.h"
#include "util/log.h"

namespace newsbar {
namespace {

// Whether the host text names its own port ("host:port", "[v6]:port").
bool HasPort(std::string_view host) {
  const std::size_t bracket = host.rfind(']');
  const std::size_t colon = host.rfind(':');
  if (colon == std::string_view::npos) return false;
  return bracket == std::string_view::npos || colon > bracket;
}

}  // namespace

std::string CatalogueUrl(const Endpoints& endpoints, int selector, std::string_view timestamp) {
  std::string scheme;
  std::string_view query;
  int port = 0;
  if (selector == kMorningProgramme) {
    scheme = "http";
    query = "?pid=367750&isFree=2&pageNum=1&userId=&_=";
    port = endpoints.httpPort;
  } else if (selector == kEveningProgramme) {
    scheme = "https";
    query = "?pid=456498&isFree=2&pageNum=1&userId=&_=";
    port = endpoints.httpsPort;
  } else {
    return {};
  }
  std::string url = scheme + "://" + endpoints.catalogueHost;
  if (port > 0 && !HasPort(endpoints.catalogueHost)) {
    // Appended piece by piece: GCC 12 misreads ":" + text (an insert at the front) at -O3.
    url += ':';
    url += std::to_string(port);
  }
  url += kCataloguePath;
  url += query;
  url += timestamp;
  return url;
}

const char* ProgrammeName(int selector) {
  return selector == kMorningProgramme ? "morning" : "evening";
}

Text RequestCatalogue(const Endpoints& endpoints, int selector, int* statusOut) {
  net::CurlMulti multi;
  CatalogueRequest request(endpoints, selector, multi);
  multi.Run();
  return request.Finish(statusOut);
}

CatalogueRequest::CatalogueRequest(const Endpoints& endpoints, int selector, net::CurlMulti& multi)
    : endpoints_(endpoints), selector_(selector) {
  if (selector != kMorningProgramme && selector != kEveningProgramme) return;
  RequestFieldSet fields;
  fields.AddField("User-Agent", kCatalogueUserAgent, false);
  options_ = {.url = CatalogueUrl(endpoints, selector, MakeTimestamp()),
              .method = 1,
              .extraHeaders = fields.ToHeaderText(false),
              .statusCode = &status_,
              .transportError = &transportError_,
              .timeoutMs = static_cast<int>(endpoints.requestLimit.count())};
  object_ = std::make_shared<CurlRequestObject>(&multi);
  options_.requestObject = object_;
  issued_ = std::chrono::steady_clock::now();
  ComHttpRequestSend(options_);
}

CatalogueRequest::~CatalogueRequest() = default;

Text CatalogueRequest::Finish(int* statusOut) {
  if (!object_) return Text(catalogue_text::kBadSelector);
  const ByteSet body = ComHttpRequestReceive(*object_, options_);
  const auto ended = object_->Ended() > issued_ ? object_->Ended() : issued_;
  const double seconds = std::chrono::duration<double>(ended - issued_).count();
  // The request as a person can look it up again: without the timestamp that ends it.
  std::string shown = CatalogueUrl(endpoints_, selector_, {});
  if (shown.ends_with("&_=")) shown.resize(shown.size() - 3);
  const char* const programme = ProgrammeName(selector_);
  const int status = status_;
  if (status == 0) {
    NEWSBAR_CATALOGUE_WARNING(
        "%s catalogue POST %s: no response (%s) after %.2f s", programme, shown.c_str(),
        transportError_.empty() ? "no reason given" : transportError_.c_str(), seconds);
  } else if (status != 200 || body.empty()) {
    NEWSBAR_CATALOGUE_WARNING("%s catalogue POST %s: HTTP %d with %zu bytes after %.2f s",
                              programme, shown.c_str(), status, body.size(), seconds);
  } else {
    qCDebug(lcCatalogue, "%s catalogue POST %s: HTTP %d, %zu bytes in %.2f s", programme,
            shown.c_str(), status, body.size(), seconds);
  }
  if (statusOut != nullptr) *statusOut = status;
  return TextFromBytes(ConvertCharset(body));
}

Text MakeTimestamp() {
  return MakeTimestamp(LocalNow());
}

Text MakeTimestamp(const CalendarTime& localTime) {
  CalendarTime wholeSeconds = localTime;
  wholeSeconds.millisecond = 0;
  const DateTime start = ToDateTime({.year = 1970, .month = 1, .day = 1, .hour = 8});
  // The addend (a few microseconds) keeps an exact second from rounding down.
  const double seconds = (ToDateTime(wholeSeconds) - start) * 86400.0 + 5.787037037037037e-06;
  const long long count = static_cast<long long>(std::trunc(seconds));
  return std::to_string(count) + ZeroPad(std::to_string(localTime.millisecond), 3);
}

}  // namespace newsbar
