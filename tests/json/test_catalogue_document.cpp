// A reply shaped like the catalogue server's, read by the paths the catalogue loader uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "json/json_document.h"
#include "json_test_text.h"

namespace newsbar {
namespace {

using testing::Gbk;

struct Episode {
  std::string titleUtf8;
  std::string audio;
  std::string cover;
  std::string duration;  // as written in the reply: a number or a numeric string
};

// Headlines made up for these tests.
const char* const kHeadlines[] = {
    "江边步道今日开放",       "夜市延长营业到十点",   "本周末有小雨，气温回落",
    "图书馆新增自助借还机",   "地铁二号线早班提前",   "社区菜场换新招牌",
    "中学生科技节落幕",       "老城区路灯全部换新",   "公交站台加装遮雨棚",
    "“最美阳台”评选开始",     "秋季运动会报名截止",   "河道清理完成，水质变好",
    "新开一家二十四小时药店", "市民热线周末照常接听", "旧厂房改成文创园",
    "早高峰拥堵路段有变",     "小学放学时间调整",     "体育馆免费开放日",
    "古镇灯会下月举行",       "天气转凉 注意添衣",
};

std::vector<Episode> MakeEpisodes() {
  std::vector<Episode> episodes;
  for (int k = 0; k < 20; ++k) {
    Episode episode;
    episode.titleUtf8 = "7月" + std::to_string(20 - k / 2) + "日小涟早报：" + kHeadlines[k];
    episode.audio = "http://127.0.0.1:8080/audio/" + std::to_string(1000 + k) + ".mp3";
    episode.cover = "https://127.0.0.1:8443/cover/" + std::to_string(k) + "_194.jpg";
    const std::string seconds = std::to_string(600 + 37 * k);
    episode.duration = k % 3 == 0 ? "\"" + seconds + "\"" : seconds;
    episodes.push_back(episode);
  }
  return episodes;
}

// Every other title is written with \u escapes and the URLs with escaped slashes, as
// servers commonly do.
std::string Escaped(const std::string& utf8) {
  const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  std::string out;
  for (QChar ch : text) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(ch.unicode()));
    out += ch.unicode() < 0x80 ? std::string(1, static_cast<char>(ch.unicode())) : buffer;
  }
  return out;
}

std::string SlashEscaped(std::string url) {
  for (std::size_t at = url.find('/'); at != std::string::npos; at = url.find('/', at + 2)) {
    url.replace(at, 1, "\\/");
  }
  return url;
}

std::string CatalogueReply(const std::vector<Episode>& episodes) {
  std::string json = R"({"code": 0, "msg": "ok", "data": {"total": 240, "pageNum": 1, "list": [)";
  for (std::size_t k = 0; k < episodes.size(); ++k) {
    const Episode& e = episodes[k];
    if (k > 0) json += ",";
    json += "\n  {\"id\": " + std::to_string(5000 + k) + ", \"title\": \"" +
            (k % 2 ? Escaped(e.titleUtf8) : e.titleUtf8) + "\", \"audiolist\": [{\"filePath\": \"" +
            (k % 2 ? SlashEscaped(e.audio) : e.audio) +
            "\", \"size\": 1048576}], \"img194_194\": \"" + e.cover +
            "\", \"duration\": " + e.duration + ", \"isFree\": 2, \"tags\": [\"早报\"]}";
  }
  return json + "\n]}}";
}

// What the catalogue loader does with one reply: load, count, read four fields per episode.
struct Read {
  int count = 0;
  std::vector<Text> titles, audio, covers, durations;
  Text firstTitle;
};

Read LoadAndRead(const Text& reply) {
  JsonDocument doc;
  doc.Load(reply);
  Read read;
  read.count = doc.GetCount("data.list");
  for (int n = 0; n < read.count; ++n) {
    const std::string k = std::to_string(n);
    read.titles.push_back(doc.GetText("data.list[" + k + "].title"));
    read.audio.push_back(doc.GetText("data.list[" + k + "].audiolist[0].filePath"));
    read.covers.push_back(doc.GetText("data.list[" + k + "]['img194_194']"));
    read.durations.push_back(doc.GetText("data.list[" + k + "].duration"));
  }
  read.firstTitle = doc.GetText("data.list[0].title");
  return read;
}

TEST(CatalogueDocument, ReadsEveryEpisodeByTheLoadersPaths) {
  const std::vector<Episode> episodes = MakeEpisodes();
  // The reply arrives as UTF-8 and is converted to GBK before it is loaded.
  const Read read = LoadAndRead(Gbk(CatalogueReply(episodes)));
  ASSERT_EQ(read.count, 20);
  for (int k = 0; k < 20; ++k) {
    SCOPED_TRACE(k);
    const Episode& e = episodes[static_cast<std::size_t>(k)];
    EXPECT_EQ(read.titles[k], Gbk(e.titleUtf8));
    EXPECT_EQ(read.audio[k], e.audio);
    EXPECT_EQ(read.covers[k], e.cover);
    EXPECT_EQ(read.durations[k], std::to_string(600 + 37 * k));
  }
  EXPECT_EQ(read.firstTitle, Gbk("7月20日小涟早报：江边步道今日开放"));
}

TEST(CatalogueDocument, BrokenOrMisshapenRepliesGiveNoEpisodes) {
  const std::string reply = CatalogueReply(MakeEpisodes());
  for (const std::string& bad :
       {reply.substr(0, reply.size() / 2), std::string(),
        std::string("<html>502 Bad Gateway</html>"), std::string(R"({"code": 1, "data": null})"),
        std::string(R"({"data": {"list": {"0": {}}}})")}) {
    SCOPED_TRACE(bad.substr(0, 40));
    const Read read = LoadAndRead(Gbk(bad));
    EXPECT_EQ(read.count, 0);
    EXPECT_EQ(read.firstTitle, "");
  }
}

// Prints how long the loader's work on one 20-episode reply takes, and what making one
// document (engine and helper script) costs; fails only when it is absurdly slow.
TEST(CatalogueDocument, LoadAndReadTiming) {
  using Clock = std::chrono::steady_clock;
  const Text reply = Gbk(CatalogueReply(MakeEpisodes()));
  LoadAndRead(reply);  // warm up

  constexpr int kRounds = 20;
  std::vector<double> loadAndRead, creation;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = Clock::now();
    const Read read = LoadAndRead(reply);
    loadAndRead.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    ASSERT_EQ(read.count, 20);

    const auto made = Clock::now();
    JsonDocument doc;
    creation.push_back(std::chrono::duration<double, std::milli>(Clock::now() - made).count());
  }
  std::sort(loadAndRead.begin(), loadAndRead.end());
  std::sort(creation.begin(), creation.end());
  std::printf("[ timing   ] load and read one 20-episode reply: median %.2f ms, max %.2f ms\n",
              loadAndRead[kRounds / 2], loadAndRead.back());
  std::printf("[ timing   ] new document (engine + helper script): median %.2f ms, max %.2f ms\n",
              creation[kRounds / 2], creation.back());
  EXPECT_LT(loadAndRead[kRounds / 2], 1000.0);
}

}  // namespace
}  // namespace newsbar
