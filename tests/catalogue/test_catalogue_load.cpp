// The catalogue load end to end against the loopback fixture: what is sent, in which
// order, and what ends up in the list.
#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <chrono>
#include <regex>
#include <thread>

#include "catalogue/catalogue_request.h"
#include "catalogue/catalogue_worker.h"
#include "catalogue/date_time.h"
#include "catalogue/network_time.h"
#include "load_harness.h"
#include "support/catalogue_fixture.h"
#include "support/fault_server.h"
#include "support/log_capture.h"
#include "util/charset.h"

namespace newsbar::test {
namespace {

constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/50.0.2661.87 Safari/537.36";
constexpr const char* kPath = "/fm/read/fmd/h5/getPayResourceList_714.html";

using Titles_ = std::vector<std::string>;

FixtureEpisode Episode(std::string title, std::string durationJson = "61") {
  return {std::move(title), "http://127.0.0.1:9/a.wav", "http://127.0.0.1:9/c.png",
          std::move(durationJson)};
}

class CatalogueLoad : public ::testing::Test {
 protected:
  // 2020-07-20 20:00 at UTC+8 unless a test says otherwise.
  void SetUp() override { fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT"); }

  std::vector<FixtureEpisode> Morning(int month, int day, int count) {
    return fixture.MakeEpisodes(FixtureProgramme::kMorning, 2020, month, day, count);
  }
  std::vector<FixtureEpisode> Evening(int month, int day, int count) {
    return fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, month, day, count);
  }

  CatalogueFixture fixture;
};

// Header lines of a recorded request as "Name: value", sorted, for whole-set comparison.
std::vector<std::string> HeaderLines(const RecordedRequest& request) {
  std::vector<std::string> lines;
  for (const auto& [name, value] : request.headers) lines.push_back(name + ": " + value);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The one request of a listener ("http", "https", "time") among those recorded.
const RecordedRequest* RequestTo(const std::vector<RecordedRequest>& requests,
                                 const std::string& server) {
  const RecordedRequest* found = nullptr;
  for (const RecordedRequest& request : requests) {
    if (request.server != server) continue;
    EXPECT_EQ(found, nullptr) << "a second request to " << server;
    found = &request;
  }
  return found;
}

// The three requests go out in the servers' order; the three servers see the same
// requests as ever.
TEST_F(CatalogueLoad, SendsMorningPostThenTimeHeadThenEveningPostTogether) {
  fixture.SetEpisodes(FixtureProgramme::kMorning, Morning(7, 20, 2));
  fixture.SetEpisodes(FixtureProgramme::kEvening, Evening(7, 19, 2));
  QLoggingCategory::setFilterRules(QStringLiteral("newsbar.net.debug=true"));
  LogCapture log;
  const LoadResult result = RunWorker(fixture.Endpoints());
  QLoggingCategory::setFilterRules({});
  EXPECT_EQ(result.rows.size(), 4u);

  // The order of issue, and each answered. (That none waits for another's reply is shown
  // with a reply held back, below: on loopback a reply may come in while the next request
  // is still being issued.)
  std::vector<std::string> issued;
  int answered = 0;
  for (const LogCapture::Line& line : log.Lines()) {
    if (line.category != "newsbar.net") continue;
    const std::string& text = line.message;
    if (text.ends_with(": issued")) {
      issued.push_back(text.substr(0, text.find("://")));
    } else {
      ++answered;
    }
  }
  EXPECT_EQ(issued, (std::vector<std::string>{"POST http", "HEAD http", "POST https"}));
  EXPECT_EQ(answered, 3);

  const auto requests = fixture.Requests();
  ASSERT_EQ(requests.size(), 3u);
  const RecordedRequest* const morningRequest = RequestTo(requests, "http");
  const RecordedRequest* const timeRequest = RequestTo(requests, "time");
  const RecordedRequest* const eveningRequest = RequestTo(requests, "https");
  ASSERT_TRUE(morningRequest != nullptr && timeRequest != nullptr && eveningRequest != nullptr);
  const RecordedRequest& morning = *morningRequest;
  const RecordedRequest& time = *timeRequest;
  const RecordedRequest& evening = *eveningRequest;

  EXPECT_EQ(morning.server, "http");
  EXPECT_EQ(morning.method, "POST");
  EXPECT_EQ(morning.path, kPath);
  EXPECT_EQ(time.server, "time");
  EXPECT_EQ(time.method, "HEAD");
  EXPECT_EQ(time.path, "/");
  EXPECT_EQ(evening.server, "https");
  EXPECT_EQ(evening.method, "POST");
  EXPECT_EQ(evening.path, kPath);

  // The query in its fixed order, the timestamp last: 13 digits, taken per request.
  const std::regex morningQuery(std::string(kPath) +
                                R"(\?pid=367750&isFree=2&pageNum=1&userId=&_=(\d{13}))");
  const std::regex eveningQuery(std::string(kPath) +
                                R"(\?pid=456498&isFree=2&pageNum=1&userId=&_=(\d{13}))");
  std::smatch morningStamp;
  std::smatch eveningStamp;
  ASSERT_TRUE(std::regex_match(morning.target, morningStamp, morningQuery)) << morning.target;
  ASSERT_TRUE(std::regex_match(evening.target, eveningStamp, eveningQuery)) << evening.target;
  EXPECT_LE(std::stoll(morningStamp[1]), std::stoll(eveningStamp[1]));
  EXPECT_TRUE(morning.body.empty());
  EXPECT_TRUE(evening.body.empty());

  const int httpPort = fixture.HttpPort();
  const int httpsPort = fixture.HttpsPort();
  const std::string morningUrl = "http://127.0.0.1:" + std::to_string(httpPort) + morning.target;
  const std::string eveningUrl = "https://127.0.0.1:" + std::to_string(httpsPort) + evening.target;
  // Every header line of both POSTs: the own User-Agent, the defaults completed around it.
  EXPECT_EQ(HeaderLines(morning),
            (std::vector<std::string>{"Accept-Language: zh-cn", "Accept: */*", "Content-Length: 0",
                                      "Content-Type: application/x-www-form-urlencoded",
                                      "Host: 127.0.0.1:" + std::to_string(httpPort),
                                      "Referer: " + morningUrl,
                                      std::string("User-Agent: ") + kUserAgent}));
  EXPECT_EQ(HeaderLines(evening),
            (std::vector<std::string>{"Accept-Language: zh-cn", "Accept: */*", "Content-Length: 0",
                                      "Content-Type: application/x-www-form-urlencoded",
                                      "Host: 127.0.0.1:" + std::to_string(httpsPort),
                                      "Referer: " + eveningUrl,
                                      std::string("User-Agent: ") + kUserAgent}));
  // The HEAD carries the request object's defaults only (no Content-Type: not a POST).
  const std::string timeUrl = fixture.Endpoints().timeUrl;
  EXPECT_EQ(HeaderLines(time),
            (std::vector<std::string>{
                "Accept-Language: zh-cn", "Accept: */*",
                "Host: 127.0.0.1:" + std::to_string(fixture.TimePort()), "Referer: " + timeUrl,
                "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)"}));
}

TEST_F(CatalogueLoad, FillsTheCellsAndSignalsOnce) {
  std::vector<FixtureEpisode> morning{Episode("7月19日小涟早报：节目一", "1234"),
                                      Episode("7月18日小涟早报：节目二", "\"1234\"")};
  morning[0].audioUrl = fixture.MediaUrl("morning-0.wav");
  morning[0].coverUrl = fixture.MediaUrl("morning.png");
  fixture.SetEpisodes(FixtureProgramme::kMorning, morning);
  fixture.SetFailure(FixtureProgramme::kEvening, FixtureFailure::kEmptyList);

  const LoadResult result = RunWorker(fixture.Endpoints());
  EXPECT_EQ(result.signalCount, 1);
  EXPECT_EQ(result.doneContent, "1");
  EXPECT_EQ(result.loopMode, 1);
  EXPECT_EQ(result.lastRow, 1);
  ASSERT_EQ(result.rows.size(), 2u);
  EXPECT_EQ(result.rows[0], (Row{"7月19日小涟早报：节目一", fixture.MediaUrl("morning-0.wav"),
                                 fixture.MediaUrl("morning.png"), "20分34秒", "20分34秒"}));
  // A duration given as numeric text reads the same as the number.
  EXPECT_EQ(result.rows[1][3], "20分34秒");
  EXPECT_EQ(result.rows[1][4], "20分34秒");
}

TEST_F(CatalogueLoad, MergeOrderFollowsWhetherBothEditionsOfTodayAreOut) {
  fixture.SetEpisodes(FixtureProgramme::kMorning, Morning(7, 20, 2));
  fixture.SetEpisodes(FixtureProgramme::kEvening, Evening(7, 19, 2));
  auto rows = RunWorker(fixture.Endpoints()).rows;
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_NE(rows[0][0].find("7月20日小涟早报"), std::string::npos);
  EXPECT_NE(rows[1][0].find("7月19日小涟晚报"), std::string::npos);
  EXPECT_NE(rows[2][0].find("7月19日小涟早报"), std::string::npos);
  EXPECT_NE(rows[3][0].find("7月18日小涟晚报"), std::string::npos);

  fixture.SetEpisodes(FixtureProgramme::kEvening, Evening(7, 20, 2));
  rows = RunWorker(fixture.Endpoints()).rows;
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_NE(rows[0][0].find("7月20日小涟晚报"), std::string::npos);
  EXPECT_NE(rows[1][0].find("7月20日小涟早报"), std::string::npos);
  EXPECT_NE(rows[2][0].find("7月19日小涟晚报"), std::string::npos);
  EXPECT_NE(rows[3][0].find("7月19日小涟早报"), std::string::npos);
}

TEST_F(CatalogueLoad, TodaysEpisodesWaitUntilFiveOClockNetworkTime) {
  fixture.SetEpisodes(FixtureProgramme::kMorning, Morning(7, 20, 2));
  fixture.SetEpisodes(FixtureProgramme::kEvening, Evening(7, 20, 2));
  // 04:59:59 at UTC+8 on the 20th: only the 19th's editions.
  fixture.SetDateHeader("Sun, 19 Jul 2020 20:59:59 GMT");
  auto rows = RunWorker(fixture.Endpoints()).rows;
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_NE(rows[0][0].find("7月19日小涟晚报"), std::string::npos);
  EXPECT_NE(rows[1][0].find("7月19日小涟早报"), std::string::npos);
  // 05:00:00: the 20th's are due as well.
  fixture.SetDateHeader("Sun, 19 Jul 2020 21:00:00 GMT");
  rows = RunWorker(fixture.Endpoints()).rows;
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_NE(rows[0][0].find("7月20日小涟晚报"), std::string::npos);
}

TEST_F(CatalogueLoad, DecemberEpisodesAreListedInJanuary) {
  fixture.SetEpisodes(FixtureProgramme::kMorning,
                      fixture.MakeEpisodes(FixtureProgramme::kMorning, 2021, 1, 2, 4));
  fixture.SetEpisodes(FixtureProgramme::kEvening,
                      fixture.MakeEpisodes(FixtureProgramme::kEvening, 2021, 1, 1, 3));
  fixture.SetDateHeader("Sat, 02 Jan 2021 03:00:00 GMT");  // 11:00 on the 2nd
  const auto titles = Titles(RunWorker(fixture.Endpoints()).rows);
  ASSERT_EQ(titles.size(), 7u);
  const char* const starts[] = {"1月2日小涟早报",   "1月1日小涟晚报",   "1月1日小涟早报",
                                "12月31日小涟晚报", "12月31日小涟早报", "12月30日小涟晚报",
                                "12月30日小涟早报"};
  for (std::size_t i = 0; i < titles.size(); ++i) {
    EXPECT_EQ(titles[i].rfind(starts[i], 0), 0u) << titles[i];
  }
}

TEST_F(CatalogueLoad, TitleWithoutMarkerIsListed) {
  fixture.SetEpisodes(FixtureProgramme::kMorning,
                      {Episode("特别节目：城市声音"), Episode("7月21日小涟早报：明天")});
  const auto titles = Titles(RunWorker(fixture.Endpoints()).rows);
  EXPECT_EQ(titles, Titles_{"特别节目：城市声音"});
}

TEST_F(CatalogueLoad, OneProgrammeAloneIsListedInItsOwnOrder) {
  const FixtureFailure failures[] = {FixtureFailure::kRefuse, FixtureFailure::kServerError,
                                     FixtureFailure::kNotJson, FixtureFailure::kEmptyList,
                                     FixtureFailure::kNoList};
  for (const FixtureProgramme silent : {FixtureProgramme::kMorning, FixtureProgramme::kEvening}) {
    const FixtureProgramme answering = silent == FixtureProgramme::kMorning
                                           ? FixtureProgramme::kEvening
                                           : FixtureProgramme::kMorning;
    fixture.SetEpisodes(FixtureProgramme::kMorning, Morning(7, 19, 3));
    fixture.SetEpisodes(FixtureProgramme::kEvening, Evening(7, 19, 3));
    const auto expected =
        answering == FixtureProgramme::kMorning ? Morning(7, 19, 3) : Evening(7, 19, 3);
    for (const FixtureFailure failure : failures) {
      SCOPED_TRACE(static_cast<int>(silent) * 10 + static_cast<int>(failure));
      fixture.SetFailure(silent, failure);
      const LoadResult result = RunWorker(fixture.Endpoints());
      ASSERT_EQ(result.rows.size(), 3u);
      EXPECT_EQ(result.lastRow, 2);
      for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(result.rows[i][0], expected[i].title);
        EXPECT_EQ(result.rows[i][1], expected[i].audioUrl);
        EXPECT_EQ(result.rows[i][2], expected[i].coverUrl);
      }
    }
    fixture.SetFailure(silent, FixtureFailure::kNone);
  }
}

TEST_F(CatalogueLoad, PagesOfUnequalLengthListNoEmptyRows) {
  fixture.SetEpisodes(FixtureProgramme::kMorning, Morning(7, 19, 5));
  fixture.SetEpisodes(FixtureProgramme::kEvening, Evening(7, 19, 2));
  const LoadResult result = RunWorker(fixture.Endpoints());
  const auto titles = Titles(result.rows);
  ASSERT_EQ(titles.size(), 7u);
  EXPECT_EQ(result.lastRow, 6);
  const auto morning = Morning(7, 19, 5);
  const auto evening = Evening(7, 19, 2);
  EXPECT_EQ(titles, (Titles_{morning[0].title, evening[0].title, morning[1].title, evening[1].title,
                             morning[2].title, morning[3].title, morning[4].title}));
  for (const Row& row : result.rows) EXPECT_FALSE(row[1].empty());
}

// A failed load says why beside the window: one warning per cause, naming the request
// without its timestamp. The debug lines stay off unless asked for.
TEST_F(CatalogueLoad, EachCauseOfAFailedLoadIsOneWarning) {
  fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kServerError);
  fixture.SetFailure(FixtureProgramme::kEvening, FixtureFailure::kNotJson);
  fixture.SetDateHeader(std::nullopt);
  {
    LogCapture log;
    EXPECT_TRUE(RunWorker(fixture.Endpoints()).rows.empty());
    const auto warnings = log.Warnings("newsbar.catalogue");
    ASSERT_EQ(warnings.size(), 3u) << ::testing::PrintToString(warnings);
    const std::string morningUrl = "http://127.0.0.1:" + std::to_string(fixture.HttpPort()) +
                                   "/fm/read/fmd/h5/getPayResourceList_714.html?pid=367750&"
                                   "isFree=2&pageNum=1&userId=";
    EXPECT_EQ(warnings[0].rfind("morning catalogue POST " + morningUrl + ": HTTP 500", 0), 0u)
        << warnings[0];
    EXPECT_NE(warnings[1].find("without a Date header"), std::string::npos) << warnings[1];
    EXPECT_NE(warnings[2].find("evening catalogue: the reply"), std::string::npos) << warnings[2];
    EXPECT_NE(warnings[2].find("is not JSON"), std::string::npos) << warnings[2];
    EXPECT_NE(warnings[2].find("line 1, column 1"), std::string::npos) << warnings[2];
    for (const LogCapture::Line& line : log.Lines()) EXPECT_NE(line.type, QtDebugMsg);
  }

  // A server that is not there, and today's episodes before five with the debug lines on.
  fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kRefuse);
  fixture.SetFailure(FixtureProgramme::kEvening, FixtureFailure::kNone);
  fixture.SetEpisodes(FixtureProgramme::kEvening, Evening(7, 20, 1));
  fixture.SetDateHeader("Sun, 19 Jul 2020 20:00:00 GMT");  // 04:00 on the 20th
  QLoggingCategory::setFilterRules(QStringLiteral("newsbar.*.debug=true"));
  LogCapture log;
  EXPECT_TRUE(RunWorker(fixture.Endpoints()).rows.empty());
  QLoggingCategory::setFilterRules({});
  const auto warnings = log.Warnings("newsbar.catalogue");
  ASSERT_EQ(warnings.size(), 2u) << ::testing::PrintToString(warnings);
  EXPECT_NE(warnings[0].find("morning catalogue POST"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[0].find(": no response ("), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find("none of the 1 episodes is due by the network time 2020-07-20 04:00"),
            std::string::npos)
      << warnings[1];
  std::string debug;
  for (const LogCapture::Line& line : log.Lines()) {
    if (line.type == QtDebugMsg) debug += line.category + ": " + line.message + "\n";
  }
  EXPECT_NE(debug.find("newsbar.net: POST"), std::string::npos) << debug;
  EXPECT_NE(debug.find("newsbar.catalogue: evening catalogue POST"), std::string::npos) << debug;
  EXPECT_NE(debug.find("newsbar.catalogue: network time HEAD"), std::string::npos) << debug;
  EXPECT_NE(debug.find("2020-07-20 04:00 at UTC+8"), std::string::npos) << debug;
  EXPECT_NE(debug.find("merge: 0 morning and 1 evening episodes, 0 of them due"), std::string::npos)
      << debug;
}

TEST_F(CatalogueLoad, NeitherAnsweringListsNothingAndStillSignals) {
  fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kRefuse);
  fixture.SetFailure(FixtureProgramme::kEvening, FixtureFailure::kServerError);
  const LoadResult result = RunWorker(fixture.Endpoints());
  EXPECT_TRUE(result.rows.empty());
  EXPECT_EQ(result.lastRow, -1);
  EXPECT_EQ(result.signalCount, 1);
  EXPECT_EQ(result.loopMode, 1);
}

TEST_F(CatalogueLoad, NoDateHeaderMeansNothingIsDue) {
  // The year 100 makes every dated episode lie in the future; the local clock is not
  // asked instead.
  fixture.SetEpisodes(FixtureProgramme::kMorning, Morning(7, 19, 2));
  fixture.SetEpisodes(FixtureProgramme::kEvening, Evening(7, 19, 2));
  fixture.SetDateHeader(std::nullopt);
  const LoadResult result = RunWorker(fixture.Endpoints());
  EXPECT_TRUE(result.rows.empty());
  EXPECT_EQ(result.lastRow, -1);
}

// The three are under way together: while the morning server holds its reply, the time
// and the evening requests arrive; the load then waits out the morning request's bound.
TEST_F(CatalogueLoad, TheOtherTwoArriveWhileTheMorningReplyIsHeld) {
  using namespace std::chrono_literals;
  using Clock = std::chrono::steady_clock;
  fixture.SetEpisodes(FixtureProgramme::kEvening, Evening(7, 19, 2));
  FaultServer morning(Fault::kSilent);
  Endpoints endpoints = fixture.Endpoints();
  endpoints.httpPort = morning.Port();
  endpoints.requestLimit = 3s;
  CatalogueReplies replies;
  const Clock::time_point start = Clock::now();
  std::thread load([&] { replies = FetchCatalogues(endpoints); });
  const bool othersCame = fixture.WaitForRequests(
      [](const std::vector<RecordedRequest>& requests) { return requests.size() >= 2; }, 2500ms);
  const Clock::duration othersAfter = Clock::now() - start;
  const bool morningAsked = morning.WaitForRequests(1, 2500ms);
  load.join();
  const Clock::duration loadedAfter = Clock::now() - start;

  EXPECT_TRUE(othersCame && morningAsked);
  EXPECT_LT(othersAfter, 2500ms);
  EXPECT_GE(loadedAfter, 3s - 100ms);
  EXPECT_EQ(replies.morningStatus, 0);
  EXPECT_EQ(replies.eveningStatus, 200);
  EXPECT_EQ(replies.time.year, 2020);
  EXPECT_EQ(replies.time.hour, 20);
}

// A later load (a retry, a refresh) sends on the connections the one before left open.
TEST(CatalogueConnections, ASecondLoadReusesTheConnectionsOfTheFirst) {
  loopback::CatalogueServer server;
  ASSERT_TRUE(server.Start());
  server.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");
  const Endpoints endpoints = server.PlayerEndpoints();
  for (int load = 0; load < 2; ++load) {
    const CatalogueReplies replies = FetchCatalogues(endpoints);
    EXPECT_EQ(replies.morningStatus, 200);
    EXPECT_EQ(replies.eveningStatus, 200);
    EXPECT_EQ(replies.time.year, 2020);
  }
  const std::vector<RecordedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 6u);
  for (const char* listener : {"http", "time", "https"}) {
    std::vector<int> clientPorts;
    for (const RecordedRequest& request : requests) {
      if (request.server == listener) clientPorts.push_back(request.remotePort);
    }
    ASSERT_EQ(clientPorts.size(), 2u) << listener;
    EXPECT_EQ(clientPorts[0], clientPorts[1]) << listener;
  }
}

TEST(CombinedPort, OneHostAndPortServesBothSchemes) {
  CatalogueFixture fixture({.combined = true});
  fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");
  fixture.SetEpisodes(FixtureProgramme::kMorning,
                      fixture.MakeEpisodes(FixtureProgramme::kMorning, 2020, 7, 19, 1));
  fixture.SetEpisodes(FixtureProgramme::kEvening,
                      fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, 7, 19, 1));
  const Endpoints endpoints = fixture.Endpoints();
  EXPECT_EQ(endpoints.catalogueHost, "127.0.0.1:" + std::to_string(fixture.CombinedPort()));
  EXPECT_EQ(RunWorker(endpoints).rows.size(), 2u);
  const auto requests = fixture.Requests();
  ASSERT_EQ(requests.size(), 3u);
  // Plain http reached the http server, the TLS handshake the https one.
  const RecordedRequest* const morning = RequestTo(requests, "http");
  const RecordedRequest* const evening = RequestTo(requests, "https");
  ASSERT_TRUE(morning != nullptr && evening != nullptr);
  EXPECT_EQ(morning->query.at("pid"), "367750");
  EXPECT_EQ(evening->query.at("pid"), "456498");
  EXPECT_EQ(evening->Header("Referer").value_or("").rfind(
                "https://127.0.0.1:" + std::to_string(fixture.CombinedPort()) + "/fm/", 0),
            0u);
}

TEST(NetworkTime, ReadsTheDateHeaderAndAddsEightHours) {
  CatalogueFixture fixture;
  const std::string url = fixture.Endpoints().timeUrl;
  const auto at = [&](std::optional<std::string> header) {
    fixture.SetDateHeader(std::move(header));
    return FromDateTime(GetNetworkTime(url));
  };
  CalendarTime t = at("Mon, 20 Jul 2020 18:30:00 GMT");
  EXPECT_EQ((std::array{t.year, t.month, t.day, t.hour, t.minute}),
            (std::array{2020, 7, 21, 2, 30}));
  t = at("Monday, 20-Jul-20 18:30:00 GMT");
  EXPECT_EQ((std::array{t.year, t.month, t.day, t.hour, t.minute}),
            (std::array{2020, 7, 21, 2, 30}));
  t = at("Mon Jul 20 18:30:00 2020");
  EXPECT_EQ((std::array{t.year, t.month, t.day, t.hour, t.minute}),
            (std::array{2020, 7, 21, 2, 30}));
  // Across a year end.
  t = at("Thu, 31 Dec 2020 16:00:00 GMT");
  EXPECT_EQ((std::array{t.year, t.month, t.day, t.hour}), (std::array{2021, 1, 1, 0}));
  for (std::optional<std::string> none :
       {std::optional<std::string>{}, std::optional<std::string>{"yesterday"},
        std::optional<std::string>{""}}) {
    t = at(none);
    EXPECT_EQ((std::array{t.year, t.month, t.day, t.hour, t.minute}),
              (std::array{100, 1, 1, 8, 0}));
  }
  EXPECT_EQ(fixture.Requests().back().method, "HEAD");

  // Nobody answering gives the same.
  fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kRefuse);
  t = FromDateTime(GetNetworkTime("http://127.0.0.1:" + std::to_string(fixture.HttpPort()) + "/"));
  EXPECT_EQ((std::array{t.year, t.month, t.day, t.hour}), (std::array{100, 1, 1, 8}));
}

TEST(RequestCatalogue, ConvertsTheReplyAndRefusesUnknownSelectors) {
  CatalogueFixture fixture;
  fixture.SetRawReply(FixtureProgramme::kEvening, R"({"data":{"list":[{"title":"晚报：你好"}]}})");
  EXPECT_EQ(GbkToUtf8Text(RequestCatalogue(fixture.Endpoints(), 2)),
            R"({"data":{"list":[{"title":"晚报：你好"}]}})");
  // Unknown selectors send nothing.
  fixture.ClearRequests();
  for (int selector : {0, 3, -1}) {
    EXPECT_EQ(GbkToUtf8Text(RequestCatalogue(fixture.Endpoints(), selector)), "请求类型错误！");
  }
  EXPECT_TRUE(fixture.Requests().empty());
  // No body at all gives the empty text.
  fixture.SetRawReply(FixtureProgramme::kMorning, "");
  EXPECT_EQ(RequestCatalogue(fixture.Endpoints(), 1), "");
  fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kRefuse);
  EXPECT_EQ(RequestCatalogue(fixture.Endpoints(), 1), "");
}

TEST(RequestCatalogue, UrlNamesTheSchemeHostAndPort) {
  EXPECT_EQ(CatalogueUrl({.catalogueHost = "news.example"}, 1, "123"),
            "http://news.example/fm/read/fmd/h5/getPayResourceList_714.html"
            "?pid=367750&isFree=2&pageNum=1&userId=&_=123");
  EXPECT_EQ(
      CatalogueUrl({.catalogueHost = "news.example", .httpPort = 81, .httpsPort = 444}, 2, "9"),
      "https://news.example:444/fm/read/fmd/h5/getPayResourceList_714.html"
      "?pid=456498&isFree=2&pageNum=1&userId=&_=9");
  // A port in the host serves both schemes and wins over the per-scheme ones.
  EXPECT_EQ(CatalogueUrl({.catalogueHost = "127.0.0.1:8443", .httpPort = 81}, 1, "1").substr(0, 28),
            "http://127.0.0.1:8443/fm/rea");
  EXPECT_EQ(CatalogueUrl({.catalogueHost = "[::1]", .httpsPort = 444}, 2, "1").substr(0, 20),
            "https://[::1]:444/fm");
  EXPECT_EQ(CatalogueUrl({.catalogueHost = "h"}, 3, "1"), "");
}

}  // namespace
}  // namespace newsbar::test
