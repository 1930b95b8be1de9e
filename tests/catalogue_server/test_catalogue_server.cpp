// The loopback catalogue server on the wire: real requests over http and https, its
// faults and its record of requests, then the player's own catalogue worker and media
// player against it.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <httplib.h>
#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "catalogue/catalogue_worker.h"
#include "catalogue_server/catalogue_server.h"
#include "runtime/controls.h"
#include "runtime/media_player.h"
#include "support/wait_until.h"
#include "util/charset.h"
#include "util/duration.h"

namespace newsbar::loopback {
namespace {

using std::chrono::system_clock;
using namespace std::chrono_literals;

std::string CatalogueTarget(std::string_view pid, std::string_view page = "1") {
  return std::string(kCataloguePath) + "?pid=" + std::string(pid) +
         "&isFree=2&pageNum=" + std::string(page) + "&userId=&_=1595246400123";
}

QJsonArray ListOf(const std::string& body) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(body), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << body;
  return document.object()["data"].toObject()["list"].toArray();
}

// "Sun, 06 Nov 1994 08:49:37 GMT" and nothing else; nothing for any other text.
std::optional<system_clock::time_point> ParseRfc1123(const std::string& text) {
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char weekday[4] = {}, month[4] = {}, zone[4] = {};
  int day = 0, year = 0, hour = 0, minute = 0, second = 0, used = 0;
  if (std::sscanf(text.c_str(), "%3[A-Za-z], %2d %3[A-Za-z] %4d %2d:%2d:%2d %3s%n", weekday, &day,
                  month, &year, &hour, &minute, &second, zone, &used) != 8 ||
      static_cast<std::size_t>(used) != text.size() || std::strcmp(zone, "GMT") != 0)
    return std::nullopt;
  for (unsigned m = 0; m < 12; ++m) {
    if (std::strcmp(month, kMonths[m]) != 0) continue;
    const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(m + 1),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) return std::nullopt;
    return std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
           std::chrono::seconds(second);
  }
  return std::nullopt;
}

class CatalogueServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    media_ = BuiltInMedia();
    ASSERT_FALSE(media_.episodes.empty());
    server_ = std::make_unique<CatalogueServer>(media_);
    ASSERT_TRUE(server_->Start());
  }

  httplib::Client Http() { return httplib::Client("127.0.0.1", server_->HttpPort()); }

  // An https client that trusts nothing but the server's own certificate, with the host
  // name checked, so a certificate that does not fit 127.0.0.1 fails the request.
  std::unique_ptr<httplib::SSLClient> Https() {
    auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", server_->HttpsPort());
    const std::string pem = server_->CertificatePem();
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), &BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), &X509_free);
    EXPECT_NE(cert, nullptr);
    X509_STORE* store = X509_STORE_new();
    if (cert) X509_STORE_add_cert(store, cert.get());
    client->set_ca_cert_store(store);  // the client owns the store from here on
    client->enable_server_certificate_verification(true);
    return client;
  }

  const Episode* Find(int programme, int daysAgo) const {
    for (const Episode& episode : media_.episodes)
      if (episode.programme == programme && episode.daysAgo == daysAgo) return &episode;
    return nullptr;
  }

  MediaSet media_;
  std::unique_ptr<CatalogueServer> server_;
};

TEST_F(CatalogueServerTest, AnswersBothProgrammesWithTodaysPageOverTheirSchemes) {
  const CalendarDate before = DateAtUtc8(system_clock::now());
  auto http = Http();
  auto morning = http.Post(CatalogueTarget(kMorningPid), "", "application/x-www-form-urlencoded");
  auto https = Https();
  auto evening = https->Post(CatalogueTarget(kEveningPid), "", "application/x-www-form-urlencoded");
  const CalendarDate after = DateAtUtc8(system_clock::now());
  if (before.day != after.day) GTEST_SKIP() << "the day changed at UTC+8 during the test";

  ASSERT_TRUE(morning) << httplib::to_string(morning.error());
  ASSERT_TRUE(evening) << httplib::to_string(evening.error());
  for (auto* reply : {&morning, &evening}) {
    const int programme = reply == &morning ? 1 : 2;
    EXPECT_EQ((*reply)->status, 200);
    EXPECT_EQ((*reply)->get_header_value("Content-Type"), "application/json;charset=UTF-8");
    const QJsonArray list = ListOf((*reply)->body);
    ASSERT_GE(list.size(), 6);
    for (qsizetype k = 0; k < list.size(); ++k) {
      const Episode* episode = Find(programme, static_cast<int>(k));
      ASSERT_NE(episode, nullptr);
      EXPECT_EQ(list[k]["title"].toString().toStdString(),
                EpisodeTitle(programme, DateAtUtc8(system_clock::now(), episode->daysAgo),
                             episode->headline));
      EXPECT_EQ(list[k]["duration"].toInt(), episode->seconds);
      EXPECT_EQ(list[k]["audiolist"][0]["filePath"].toString().toStdString(),
                server_->MediaUrl("") + episode->audioFile);
    }
  }
}

TEST_F(CatalogueServerTest, UnknownProgrammesFailAndLaterPagesAreEmpty) {
  auto http = Http();
  auto unknown = http.Post(CatalogueTarget("1"), "", "application/x-www-form-urlencoded");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 404);
  auto noPid = http.Post(std::string(kCataloguePath), "", "application/x-www-form-urlencoded");
  ASSERT_TRUE(noPid);
  EXPECT_EQ(noPid->status, 404);
  auto page2 =
      http.Post(CatalogueTarget(kMorningPid, "2"), "", "application/x-www-form-urlencoded");
  ASSERT_TRUE(page2);
  EXPECT_EQ(page2->status, 200);
  EXPECT_EQ(ListOf(page2->body).size(), 0);
}

TEST_F(CatalogueServerTest, TimeHostSendsTheCurrentTimeInItsDateHeader) {
  auto http = Http();
  auto head = http.Head("/");
  ASSERT_TRUE(head) << httplib::to_string(head.error());
  EXPECT_EQ(head->status, 200);
  ASSERT_TRUE(head->has_header("Date"));
  EXPECT_EQ(head->get_header_value_count("Date"), 1u);
  const std::string date = head->get_header_value("Date");
  const auto parsed = ParseRfc1123(date);
  ASSERT_TRUE(parsed) << date;
  EXPECT_LT(std::chrono::abs(*parsed - system_clock::now()), 60s) << date;
}

TEST_F(CatalogueServerTest, ServesCoversAndClipsWithRanges) {
  auto http = Http();
  auto cover = http.Get("/media/morning.jpg");
  ASSERT_TRUE(cover);
  EXPECT_EQ(cover->status, 200);
  EXPECT_EQ(cover->get_header_value("Content-Type"), "image/jpeg");
  EXPECT_EQ(cover->body, media_.files.at("morning.jpg"));

  const Episode* today = Find(2, 0);
  ASSERT_NE(today, nullptr);
  const std::string& clip = media_.files.at(today->audioFile);
  const std::string path = "/media/" + today->audioFile;
  auto part = http.Get(path, {{"Range", "bytes=100-199"}});
  ASSERT_TRUE(part);
  EXPECT_EQ(part->status, 206);
  EXPECT_EQ(part->body, clip.substr(100, 100));
  EXPECT_EQ(part->get_header_value("Content-Range"),
            "bytes 100-199/" + std::to_string(clip.size()));
  auto tail = http.Get(path, {{"Range", "bytes=-10"}});
  ASSERT_TRUE(tail);
  EXPECT_EQ(tail->status, 206);
  EXPECT_EQ(tail->body, clip.substr(clip.size() - 10));
  auto beyond = http.Get(path, {{"Range", "bytes=" + std::to_string(clip.size() + 5) + "-"}});
  ASSERT_TRUE(beyond);
  EXPECT_EQ(beyond->status, 416);

  for (const char* missing : {"/media/nothing.mp3", "/media/../CMakeLists.txt", "/media/"}) {
    auto reply = http.Get(missing);
    ASSERT_TRUE(reply) << missing;
    EXPECT_EQ(reply->status, 404) << missing;
  }
}

// The player's own load against the server at a given moment: what the list holds
// and which row leads, as the README tells the user.
struct DueCase {
  const char* what;
  system_clock::time_point now;
  int rows;
  const char* firstTitle;  // the row that starts playing
  const char* secondTitle;
  int firstDaysAgo;  // the evening episode row 0 comes from
};

class CatalogueServerWorkerTest : public ::testing::TestWithParam<DueCase> {};

TEST_P(CatalogueServerWorkerTest, CatalogueWorkerListsWhatIsDue) {
  const DueCase& due = GetParam();
  const MediaSet media = BuiltInMedia();
  CatalogueServer server(media);
  server.SetClock([&due] { return due.now; });
  ASSERT_TRUE(server.Start());

  ListView list;
  EditBox doneBox;
  std::atomic<int> lastRow{-2};
  std::atomic<int> loopMode{0};
  const WorkerTargets targets{&list, &doneBox, &lastRow, &loopMode};
  QEventLoop loop;
  QObject::connect(&doneBox, &EditBox::contentChanged, &loop, &QEventLoop::quit);
  QTimer::singleShot(60s, &loop, &QEventLoop::quit);
  std::thread worker([&] { CatalogueWorker(server.PlayerEndpoints(), targets); });
  loop.exec();
  worker.join();
  ASSERT_EQ(doneBox.Content(), "1");

  ASSERT_EQ(list.RowCount(), due.rows);
  EXPECT_EQ(lastRow.load(), due.rows - 1);
  EXPECT_EQ(loopMode.load(), 1);
  EXPECT_TRUE(GbkToUtf8Text(list.CellText(0, 0)).starts_with(due.firstTitle))
      << GbkToUtf8Text(list.CellText(0, 0));
  EXPECT_TRUE(GbkToUtf8Text(list.CellText(1, 0)).starts_with(due.secondTitle))
      << GbkToUtf8Text(list.CellText(1, 0));

  const Episode* first = nullptr;
  for (const Episode& episode : media.episodes)
    if (episode.programme == 2 && episode.daysAgo == due.firstDaysAgo) first = &episode;
  ASSERT_NE(first, nullptr);
  const std::string base = server.MediaUrl("");
  EXPECT_EQ(GbkToUtf8Text(list.CellText(0, 0)), std::string(due.firstTitle) + first->headline);
  EXPECT_EQ(list.CellText(0, 1), base + first->audioFile);
  EXPECT_EQ(list.CellText(0, 2), base + "evening.png");
  EXPECT_EQ(list.CellText(0, 3), FormatDuration(first->seconds, Utf8ToGbk("m分s秒")));
  for (int row = 0; row < list.RowCount(); ++row)
    EXPECT_EQ(list.CellText(row, 3), list.CellText(row, 4)) << "row " << row;
}

system_clock::time_point Utc(int y, unsigned m, unsigned d, int hour, int minute, int second) {
  return std::chrono::sys_days(std::chrono::year(y) / m / d) + std::chrono::hours(hour) +
         std::chrono::minutes(minute) + std::chrono::seconds(second);
}

INSTANTIATE_TEST_SUITE_P(
    Hours, CatalogueServerWorkerTest,
    ::testing::Values(
        // 04:59:59 on 21 July at UTC+8: today's two editions are not due yet.
        DueCase{"before five", Utc(2020, 7, 20, 20, 59, 59), 12, "7月20日小涟晚报：",
                "7月20日小涟早报：", 1},
        // 05:00 on 21 July at UTC+8: both of today's editions, the evening one first.
        DueCase{"from five", Utc(2020, 7, 20, 21, 0, 0), 14, "7月21日小涟晚报：",
                "7月21日小涟早报：", 0},
        // 2 January: the December episodes are last year's, listed after January's.
        DueCase{"early January", Utc(2021, 1, 2, 3, 0, 0), 14, "1月2日小涟晚报：",
                "1月2日小涟早报：", 0}),
    [](const ::testing::TestParamInfo<DueCase>& info) {
      std::string name = info.param.what;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

// The lengths in the catalogue are the lengths the player reads from the clips, and a
// clip streamed from the server plays.
TEST_F(CatalogueServerTest, ClipsPlayForTheLengthTheCatalogueGives) {
  MediaPlayer player;
  const std::string base = server_->MediaUrl("");
  for (const Episode& episode : media_.episodes) {
    ASSERT_TRUE(player.Open(base + episode.audioFile)) << episode.audioFile;
    ASSERT_TRUE(test::WaitUntil([&] { return player.LengthKnown(); })) << episode.audioFile;
    EXPECT_EQ(player.Length(), episode.seconds) << episode.audioFile;
  }
  const Episode* today = Find(1, 0);
  ASSERT_NE(today, nullptr);
  ASSERT_TRUE(player.Open(base + today->audioFile));
  ASSERT_TRUE(player.Play());
  EXPECT_TRUE(test::WaitUntil([&] { return player.Position() >= 300; }));
  EXPECT_EQ(player.State(), 1);
}

}  // namespace
}  // namespace newsbar::loopback
