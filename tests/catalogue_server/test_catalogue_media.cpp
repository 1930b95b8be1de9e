// The demo's catalogue as data: the episode table, dates at UTC+8, titles, the Date
// header text, the JSON reply and the media built into the program.
#include <gtest/gtest.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <set>

#include "catalogue_server/catalogue_server.h"

namespace newsbar::loopback {
namespace {

using std::chrono::sys_days;
using std::chrono::system_clock;
using namespace std::chrono_literals;

system_clock::time_point Utc(int y, unsigned m, unsigned d, int hour, int minute = 0,
                             int second = 0) {
  return sys_days(std::chrono::year(y) / m / d) + std::chrono::hours(hour) +
         std::chrono::minutes(minute) + std::chrono::seconds(second);
}

std::string DateText(CalendarDate date) {
  return std::to_string(date.year) + "-" + std::to_string(date.month) + "-" +
         std::to_string(date.day);
}

TEST(EpisodeTable, KeepsWellFormedRowsAndSkipsTheRest) {
  const std::string table =
      "# programme\tslot\taudio\tseconds\theadline\n"
      "1\t0\tmorning-0.mp3\t20\t晴转多云\r\n"
      "\n"
      "2\t3\tevening-3.mp3\t17\t科技节\n"
      "3\t0\tx.mp3\t5\tunknown programme\n"
      "1\t-1\tx.mp3\t5\tnegative day\n"
      "1\t0\tx.mp3\t0\tno length\n"
      "1\t0\tx.mp3\t5s\tbad number\n"
      "1\t0\t../secret\t5\tpath outside the media\n"
      "1\t0\t.hidden\t5\thidden file\n"
      "1\t0\tx.mp3\t5\t\n"
      "1\t0\tx.mp3\t5\ttoo\tmany\n"
      "1\t0\tx.mp3\n"
      "2\t1\tlast.mp3\t9\tno newline at the end";
  const std::vector<Episode> episodes = ParseEpisodeTable(table);
  ASSERT_EQ(episodes.size(), 3u);
  EXPECT_EQ(episodes[0].programme, 1);
  EXPECT_EQ(episodes[0].daysAgo, 0);
  EXPECT_EQ(episodes[0].audioFile, "morning-0.mp3");
  EXPECT_EQ(episodes[0].seconds, 20);
  EXPECT_EQ(episodes[0].headline, "晴转多云");  // the CR of a CRLF line is not kept
  EXPECT_EQ(episodes[1].daysAgo, 3);
  EXPECT_EQ(episodes[2].audioFile, "last.mp3");
  EXPECT_EQ(episodes[2].headline, "no newline at the end");
  EXPECT_TRUE(ParseEpisodeTable("").empty());
}

TEST(CatalogueDates, DayChangesAtMidnightUtc8AndCountsBackAcrossMonthAndYear) {
  // 16:00 UTC is midnight at UTC+8.
  EXPECT_EQ(DateText(DateAtUtc8(Utc(2020, 7, 20, 15, 59, 59))), "2020-7-20");
  EXPECT_EQ(DateText(DateAtUtc8(Utc(2020, 7, 20, 16))), "2020-7-21");
  EXPECT_EQ(DateText(DateAtUtc8(Utc(2020, 12, 31, 16, 30), 1)), "2020-12-31");
  EXPECT_EQ(DateText(DateAtUtc8(Utc(2021, 1, 2, 0), 2)), "2020-12-31");
  EXPECT_EQ(DateText(DateAtUtc8(Utc(2024, 3, 1, 3), 1)), "2024-2-29");
  EXPECT_EQ(DateText(DateAtUtc8(Utc(2023, 3, 1, 3), 1)), "2023-2-28");
}

TEST(CatalogueDates, TitlesCarryUnpaddedMonthAndDayAndTheProgrammeMarker) {
  EXPECT_EQ(EpisodeTitle(1, {2020, 7, 20}, "晴"), "7月20日小涟早报：晴");
  EXPECT_EQ(EpisodeTitle(2, {2021, 1, 5}, "雨"), "1月5日小涟晚报：雨");
  EXPECT_EQ(EpisodeTitle(2, {2021, 12, 31}, ""), "12月31日小涟晚报：");
}

TEST(CatalogueDates, HttpDateIsRfc1123InGmt) {
  EXPECT_EQ(HttpDate(system_clock::from_time_t(784111777)), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(HttpDate(Utc(2020, 7, 20, 18, 30) + 999ms), "Mon, 20 Jul 2020 18:30:00 GMT");
  EXPECT_EQ(HttpDate(Utc(2024, 2, 29, 23, 59, 59)), "Thu, 29 Feb 2024 23:59:59 GMT");
  EXPECT_EQ(HttpDate(Utc(2000, 1, 1, 0)), "Sat, 01 Jan 2000 00:00:00 GMT");
}

MediaSet SmallMedia() {
  MediaSet media;
  // Deliberately out of order: the reply must be newest first all the same.
  media.episodes = {{1, 1, "m1.mp3", 11, "昨天的早报"},
                    {2, 0, "e0.mp3", 12, "今天的晚报"},
                    {1, 0, "m0.mp3", 10, "今天的早报"},
                    {1, 2, "m2.mp3", 13, "带\"引号\"的\\标题"}};
  media.files = {{"m0.mp3", "aaaa"}, {"m1.mp3", "bb"}, {"m2.mp3", "c"}, {"e0.mp3", "dddddd"}};
  return media;
}

QJsonArray ReplyList(const std::string& reply) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(reply), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << reply;
  return document.object()["data"].toObject()["list"].toArray();
}

TEST(CatalogueReply, ListsTheProgrammeNewestFirstDatedBackFromNowAtUtc8) {
  // 20:00 UTC on 31 December is already 1 January at UTC+8.
  const auto now = Utc(2020, 12, 31, 20);
  const QJsonArray morning =
      ReplyList(CatalogueReply(SmallMedia(), 1, now, "http://127.0.0.1:1234/media/"));
  ASSERT_EQ(morning.size(), 3);
  const char* titles[] = {"1月1日小涟早报：今天的早报", "12月31日小涟早报：昨天的早报",
                          "12月30日小涟早报：带\"引号\"的\\标题"};
  const char* files[] = {"m0.mp3", "m1.mp3", "m2.mp3"};
  const int seconds[] = {10, 11, 13};
  for (int k = 0; k < 3; ++k) {
    const QJsonObject episode = morning[k].toObject();
    EXPECT_EQ(episode["title"].toString().toStdString(), titles[k]);
    EXPECT_EQ(episode["audiolist"][0]["filePath"].toString().toStdString(),
              std::string("http://127.0.0.1:1234/media/") + files[k]);
    EXPECT_EQ(episode["img194_194"].toString(), "http://127.0.0.1:1234/media/morning.jpg");
    ASSERT_TRUE(episode["duration"].isDouble());
    EXPECT_EQ(episode["duration"].toInt(), seconds[k]);
  }
  EXPECT_EQ(morning[0]["audiolist"][0]["size"].toInt(), 4);

  const QJsonArray evening = ReplyList(CatalogueReply(SmallMedia(), 2, now, "http://h/media/"));
  ASSERT_EQ(evening.size(), 1);
  EXPECT_EQ(evening[0]["title"].toString().toStdString(), "1月1日小涟晚报：今天的晚报");
  EXPECT_EQ(evening[0]["img194_194"].toString(), "http://h/media/evening.png");

  EXPECT_EQ(ReplyList(CatalogueReply(MediaSet{}, 1, now, "http://h/media/")).size(), 0);
}

TEST(BuiltInMedia, HoldsAWeekOfBothProgrammesWithTheirClipsAndCovers) {
  const MediaSet media = BuiltInMedia();
  for (int programme : {1, 2}) {
    std::set<int> days;
    for (const Episode& episode : media.episodes)
      if (episode.programme == programme) days.insert(episode.daysAgo);
    // Today and at least five days before it, each once.
    ASSERT_GE(days.size(), 6u) << "programme " << programme;
    EXPECT_EQ(*days.begin(), 0);
    EXPECT_EQ(*days.rbegin(), static_cast<int>(days.size()) - 1);
  }
  for (const Episode& episode : media.episodes) {
    auto clip = media.files.find(episode.audioFile);
    ASSERT_NE(clip, media.files.end()) << episode.audioFile;
    // An MP3 frame header (lame writes no ID3 tag by default) or an ID3 tag.
    const auto* bytes = reinterpret_cast<const unsigned char*>(clip->second.data());
    ASSERT_GT(clip->second.size(), 1000u);
    EXPECT_TRUE((bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0) ||
                clip->second.compare(0, 3, "ID3") == 0)
        << episode.audioFile;
  }
  for (const char* name : {"morning.jpg", "evening.png"}) {
    auto cover = media.files.find(name);
    ASSERT_NE(cover, media.files.end()) << name;
    QImage image;
    ASSERT_TRUE(image.loadFromData(QByteArray::fromStdString(cover->second))) << name;
    EXPECT_EQ(image.size(), QSize(194, 194)) << name;
  }
}

}  // namespace
}  // namespace newsbar::loopback
