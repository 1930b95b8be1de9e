#include "catalogue/catalogue_request.h"

#include <cmath>

#include "catalogue/catalogue_texts.h"
#include "net/com_http_request.h"
#include "util/charset.h"
#include "util/duration.h"
#include "util/field_set.h"

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
  if (port > 0 && !HasPort(endpoints.catalogueHost)) url += ":" + std::to_string(port);
  url += kCataloguePath;
  url += query;
  url += timestamp;
  return url;
}

Text RequestCatalogue(const Endpoints& endpoints, int selector) {
  if (selector != kMorningProgramme && selector != kEveningProgramme) {
    return Text(catalogue_text::kBadSelector);
  }
  const std::string url = CatalogueUrl(endpoints, selector, MakeTimestamp());
  RequestFieldSet fields;
  fields.AddField("User-Agent", kCatalogueUserAgent, false);
  const Text header = fields.ToHeaderText(false);
  const ByteSet body = ComHttpRequest({.url = url, .method = 1, .extraHeaders = header});
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
