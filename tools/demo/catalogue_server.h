// The demo's own catalogue server: both programmes, the network time, the covers and the
// audio, on 127.0.0.1 over http and https, so the player runs without any network.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/endpoints.h"

namespace newsbar::demo {

// One episode the media folder holds a clip for (a row of episodes.tsv).
struct DemoEpisode {
  int programme = 0;      // 1 morning, 2 evening
  int daysAgo = 0;        // 0 today at UTC+8, 1 yesterday, ...
  std::string audioFile;  // a name in DemoMedia::files
  int seconds = 0;        // the clip's length in whole seconds
  std::string headline;   // UTF-8
};

struct DemoMedia {
  std::vector<DemoEpisode> episodes;
  std::map<std::string, std::string, std::less<>> files;  // file name -> bytes
};

// The programmes' identifiers in the catalogue query ("pid").
inline constexpr std::string_view kMorningPid = "367750";
inline constexpr std::string_view kEveningPid = "456498";
// The path both programmes are asked for.
inline constexpr std::string_view kCataloguePath = "/fm/read/fmd/h5/getPayResourceList_714.html";

// Rows "programme TAB daysAgo TAB audio file TAB seconds TAB headline"; lines starting with
// '#', blank lines and malformed rows are skipped.
std::vector<DemoEpisode> ParseEpisodeTable(std::string_view table);

// The clips, covers and episode table built into the program. Empty when the built-in
// resources are missing or an episode's clip is absent.
DemoMedia BuiltInMedia();

// The calendar date at UTC+8, `daysBack` days before the moment t.
struct CalendarDate {
  int year = 0;
  int month = 0;
  int day = 0;
};
CalendarDate DateAtUtc8(std::chrono::system_clock::time_point t, int daysBack = 0);

// "12月8日小涟早报：" + headline (programme 1) or "...小涟晚报：..." (programme 2), UTF-8.
std::string EpisodeTitle(int programme, CalendarDate date, std::string_view headline);

// RFC 1123, always in English and GMT: "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(std::chrono::system_clock::time_point t);

// The catalogue reply for one programme (1 or 2) at the moment `now`:
// {"data":{"list":[...]}}, newest first, each episode dated `daysAgo` days before now at
// UTC+8, its audio and cover under mediaBase (e.g. "http://127.0.0.1:8080/media/").
std::string CatalogueReply(const DemoMedia& media, int programme,
                           std::chrono::system_clock::time_point now, std::string_view mediaBase);

// Both listeners on ephemeral ports of 127.0.0.1: plain http, and https with a
// certificate made at start. They answer the same routes:
//   POST <kCataloguePath>?pid=...&pageNum=1...  the programme's first page (later pages
//                                               are empty, unknown pids 404)
//   GET/HEAD /                                  a small page; every reply carries Date
//   GET /media/<name>                           covers and clips, with Range support
class CatalogueServer {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  // The catalogue's dates and the Date header follow `clock` (empty: the real clock).
  explicit CatalogueServer(DemoMedia media, Clock clock = {});
  ~CatalogueServer();
  CatalogueServer(const CatalogueServer&) = delete;
  CatalogueServer& operator=(const CatalogueServer&) = delete;

  // Makes the certificate and starts both listeners; false when either cannot start.
  bool Start();
  // Stops both listeners and waits for them (also done by the destructor).
  void Stop();

  int HttpPort() const;
  int HttpsPort() const;
  // The https listener's certificate, PEM.
  std::string CertificatePem() const;
  // What the player is pointed at: the catalogue on 127.0.0.1 with both ports, and the
  // network time from this server's root.
  Endpoints PlayerEndpoints() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace newsbar::demo
