// The catalogue server the tests run (the loopback one of tools/catalogue_server) with
// the tests' own configuration: no Date header until one is set, one request per
// connection, generated tone clips and covers, and pages of made-up episodes written as
// JSON text exactly as a test wants them.
//
// Typical use:
//   CatalogueFixture fixture;
//   fixture.SetEpisodes(FixtureProgramme::kMorning,
//                       fixture.MakeEpisodes(FixtureProgramme::kMorning, 2020, 7, 20, 3));
//   fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");
//   CatalogueWorker(fixture.Endpoints(), targets);
//   fixture.Requests() ...
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "catalogue/endpoints.h"
#include "catalogue_server/catalogue_server.h"

namespace newsbar::test {

enum class FixtureProgramme { kMorning, kEvening };

struct FixtureOptions {
  // Fixed ports instead of ephemeral ones (0 = ephemeral), for a fixture run by hand.
  int timePort = 0;
  // One more port on which both schemes are answered (see loopback::ServerOptions).
  bool combined = false;
  int combinedPort = 0;  // 0 = ephemeral
  // Length of the generated audio clips (a tone each).
  int clipMilliseconds = 1500;
};

using FixtureFailure = loopback::CatalogueFailure;
using loopback::RecordedRequest;

// One episode as served. Texts are UTF-8 (the server sends UTF-8, as the real one does).
struct FixtureEpisode {
  std::string title;     // e.g. "7月20日小涟早报：..."
  std::string audioUrl;  // absolute URL
  std::string coverUrl;  // absolute URL
  // The duration member exactly as it appears in the JSON: a number ("1234") or a
  // string ("\"1234\""). Empty leaves the member out.
  std::string durationJson;
};

class CatalogueFixture : public loopback::CatalogueServer {
 public:
  // Starts every listener (throws when one cannot start); both programmes answer with an
  // empty page until SetEpisodes, and no reply carries a Date header until SetDateHeader.
  explicit CatalogueFixture(FixtureOptions options = {});

  // PlayerEndpoints(), with the shipped time limits.
  newsbar::Endpoints Endpoints() const { return PlayerEndpoints(); }

  void SetEpisodes(FixtureProgramme programme, std::vector<FixtureEpisode> episodes);
  // Replaces the whole reply body of a programme (still UTF-8 bytes, status 200).
  void SetRawReply(FixtureProgramme programme, std::string body);
  void SetFailure(FixtureProgramme programme, FixtureFailure failure);

  // `count` episodes of a programme, newest first, the first dated year-month-day and one
  // day earlier each (crossing month and year ends). Titles are "<m>月<d>日小涟早报：
  // <headline>" (晚报 for the evening); durations alternate between numbers and numeric
  // strings; audio and cover URLs point at this fixture's media host
  // ("<programme>-<i>.wav", "<programme>.png" / ".jpg"), which serves them.
  std::vector<FixtureEpisode> MakeEpisodes(FixtureProgramme programme, int year, int month, int day,
                                           int count) const;

  // The JSON page SetEpisodes would serve.
  static std::string PageJson(const std::vector<FixtureEpisode>& episodes);

 private:
  static int Index(FixtureProgramme programme) {
    return programme == FixtureProgramme::kMorning ? 1 : 2;
  }
};

}  // namespace newsbar::test
