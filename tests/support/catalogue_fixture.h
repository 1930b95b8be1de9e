// A loopback stand-in for everything the player talks to at start-up:
//
//   - the catalogue server, over plain http (where the morning programme is asked for) and
//     over https with a self-signed certificate (where the evening programme is asked
//     for); both answer either programme, chosen by the "pid" query key, with the JSON
//     page of that programme ({"data":{"list":[...]}});
//   - a time host that answers every request with the Date header the test sets (or none);
//   - a media host serving cover pictures and short audio files under /media/<name>.
//
// Every server listens on 127.0.0.1 with an ephemeral port. Endpoints() points the
// program's code at them. Every request that arrives is recorded, in arrival order, with
// its header lines as sent. Each programme can be switched into a failure mode at any
// time (for example refused, then healthy again to let a retry succeed).
//
// Typical use:
//   CatalogueFixture fixture;
//   fixture.SetEpisodes(FixtureProgramme::kMorning,
//                       CatalogueFixture::MakeEpisodes(FixtureProgramme::kMorning, 2020, 7, 20,
//                       3));
//   fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");
//   CatalogueWorker(fixture.Endpoints(), targets);
//   fixture.Requests() ...
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue/endpoints.h"

namespace newsbar::test {

enum class FixtureProgramme { kMorning, kEvening };

struct FixtureOptions {
  // Fixed ports instead of ephemeral ones (0 = ephemeral), for a fixture run by hand.
  int timePort = 0;
  // When set, one more port on which both schemes are answered: a connection that opens
  // with a TLS handshake is passed to the https server, any other to the http one. The
  // endpoints then name the host as "127.0.0.1:<port>", the form of the build setting
  // NEWSBAR_CATALOGUE_HOST that serves both schemes. (A refused programme then shows as
  // a connection closed without a reply.)
  bool combined = false;
  int combinedPort = 0;  // 0 = ephemeral
  // Length of the generated audio clips (a tone each).
  int clipMilliseconds = 1500;
};

// How a programme's catalogue request is answered.
enum class FixtureFailure {
  kNone,         // 200 with the programme's page
  kRefuse,       // nothing listens: the connection is refused (the server of that scheme is down)
  kServerError,  // 500 with a short text body
  kNotJson,      // 200 with an HTML body
  kEmptyList,    // 200 with {"data":{"list":[]}}
  kNoList,       // 200 with {"code":0} (no data.list at all)
};

// One episode as served. Texts are UTF-8 (the server sends UTF-8, as the real one does).
struct FixtureEpisode {
  std::string title;     // e.g. "7月20日小涟早报：..."
  std::string audioUrl;  // absolute URL
  std::string coverUrl;  // absolute URL
  // The duration member exactly as it appears in the JSON: a number ("1234") or a
  // string ("\"1234\""). Empty leaves the member out.
  std::string durationJson;
};

struct RecordedRequest {
  std::string server;  // "http", "https", "time" or "media"
  std::string method;  // "POST", "HEAD", ...
  std::string path;    // without the query
  std::string target;  // path and query as sent
  std::map<std::string, std::string> query;
  // Header lines in the received spelling of their names (order not kept).
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The value of a header (name compared without case); nothing when absent.
  std::optional<std::string> Header(std::string_view name) const;
};

class CatalogueFixture {
 public:
  // Starts all servers; every programme answers normally with an empty page until
  // SetEpisodes is called; the time host sends no Date header until SetDateHeader.
  explicit CatalogueFixture(FixtureOptions options = {});
  ~CatalogueFixture();
  CatalogueFixture(const CatalogueFixture&) = delete;
  CatalogueFixture& operator=(const CatalogueFixture&) = delete;

  // catalogueHost "127.0.0.1" with the two ports (or "127.0.0.1:<combined port>"),
  // timeUrl "http://127.0.0.1:<port>/".
  newsbar::Endpoints Endpoints() const;
  int HttpPort() const;
  int HttpsPort() const;
  int TimePort() const;
  int MediaPort() const;
  int CombinedPort() const;  // 0 without the combined port

  void SetEpisodes(FixtureProgramme programme, std::vector<FixtureEpisode> episodes);
  // Replaces the whole reply body of a programme (still UTF-8 bytes, status 200).
  void SetRawReply(FixtureProgramme programme, std::string body);
  void SetFailure(FixtureProgramme programme, FixtureFailure failure);
  // The Date header value, e.g. "Mon, 20 Jul 2020 18:30:00 GMT"; nothing sends none.
  void SetDateHeader(std::optional<std::string> value);

  // A file the media host serves at MediaUrl(name).
  void SetMediaFile(const std::string& name, std::string bytes, std::string contentType);
  std::string MediaUrl(std::string_view name) const;

  // `count` episodes of a programme, newest first, the first dated year-month-day and one
  // day earlier each (crossing month and year ends). Titles are "<m>月<d>日小涟早报：
  // <headline>" (晚报 for the evening); durations alternate between numbers and numeric
  // strings; audio and cover URLs point at this fixture's media host
  // ("<programme>-<i>.wav", "<programme>.png" / ".jpg"), which serves them.
  std::vector<FixtureEpisode> MakeEpisodes(FixtureProgramme programme, int year, int month, int day,
                                           int count) const;

  // The JSON page SetEpisodes would serve.
  static std::string PageJson(const std::vector<FixtureEpisode>& episodes);

  std::vector<RecordedRequest> Requests() const;
  void ClearRequests();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace newsbar::test
