#include "support/catalogue_fixture.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>

#include "support/media_files.h"

namespace newsbar::test {
namespace {

// --- media made here: a short tone and two small cover pictures ----------------------

void PutLe(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutBe32(std::string& out, std::uint32_t value) {
  for (int i = 3; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t Crc32(std::string_view bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

void PutChunk(std::string& png, std::string_view type, std::string_view data) {
  PutBe32(png, static_cast<std::uint32_t>(data.size()));
  std::string typed(type);
  typed += data;
  png += typed;
  PutBe32(png, Crc32(typed));
}

// A size x size RGB PNG: a diagonal two-colour gradient with a light disc, stored
// without compression (a zlib stream of stored blocks) so no library is needed.
std::string MakeCoverPng(int size, std::array<int, 3> from, std::array<int, 3> to) {
  std::string raw;
  for (int y = 0; y < size; ++y) {
    raw += '\0';  // filter: none
    for (int x = 0; x < size; ++x) {
      const double t = (x + y) / (2.0 * (size - 1));
      const double dx = x - size / 2.0;
      const double dy = y - size / 2.0;
      const bool disc = dx * dx + dy * dy < size * size / 16.0;
      for (int c = 0; c < 3; ++c) {
        const int value = static_cast<int>(from[c] + (to[c] - from[c]) * t);
        raw += static_cast<char>(disc ? 255 - (255 - value) / 4 : value);
      }
    }
  }
  std::string zlib = "\x78\x01";
  for (std::size_t pos = 0; pos < raw.size() || pos == 0; pos += 65535) {
    const std::size_t length = std::min<std::size_t>(65535, raw.size() - pos);
    zlib += static_cast<char>(pos + length >= raw.size() ? 1 : 0);
    PutLe(zlib, static_cast<std::uint32_t>(length), 2);
    PutLe(zlib, static_cast<std::uint32_t>(~length & 0xFFFF), 2);
    zlib += raw.substr(pos, length);
  }
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (unsigned char byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBe32(zlib, (b << 16) | a);

  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  PutBe32(header, static_cast<std::uint32_t>(size));
  PutBe32(header, static_cast<std::uint32_t>(size));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", zlib);
  PutChunk(png, "IEND", "");
  return png;
}

// --- JSON text ------------------------------------------------------------------------

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          static constexpr char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out += kHex[(c >> 4) & 0xF];
          out += kHex[c & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// Invented, neutral headlines.
constexpr std::array<const char*, 8> kMorningHeadlines = {
    "城东新图书馆今日开放",   "地铁三号线延长段试运行", "本周末气温回升适合出游",
    "社区菜园迎来第一批收获", "青少年科技节下月举行",   "老城区街巷完成路面翻新",
    "湖滨公园新增骑行步道",   "夏季游泳馆开放时间调整"};
constexpr std::array<const char*, 8> kEveningHeadlines = {
    "晚间天气：明日多云转晴", "市民音乐会在广场上演", "夜市延长营业至十一点",
    "今日路况回顾与明日提示", "社区讲座介绍家庭节水", "傍晚雷阵雨已经结束",
    "图书漂流活动征集志愿者", "周末电影放映安排出炉"};

bool IsLeap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysIn(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

}  // namespace

CatalogueFixture::CatalogueFixture(FixtureOptions options)
    : CatalogueServer({}, {.timePort = options.timePort,
                           .combined = options.combined,
                           .combinedPort = options.combinedPort,
                           .oneRequestPerConnection = true}) {
  SetDateHeader(std::nullopt);
  AddFile("morning.png", MakeCoverPng(64, {230, 140, 40}, {250, 210, 90}));
  AddFile("evening.png", MakeCoverPng(64, {40, 60, 140}, {120, 90, 200}));
  const double seconds = options.clipMilliseconds / 1000.0;
  for (int i = 0; i < 8; ++i) {
    AddFile("morning-" + std::to_string(i) + ".wav", ToneWav(seconds, 440.0 + 40 * i, 8000));
    AddFile("evening-" + std::to_string(i) + ".wav", ToneWav(seconds, 330.0 + 40 * i, 8000));
  }
  if (!Start()) throw std::runtime_error("cannot start the catalogue fixture on 127.0.0.1");
}

void CatalogueFixture::SetEpisodes(FixtureProgramme programme,
                                   std::vector<FixtureEpisode> episodes) {
  SetRawReply(programme, PageJson(episodes));
}

void CatalogueFixture::SetRawReply(FixtureProgramme programme, std::string body) {
  SetReply(Index(programme), std::move(body));
}

void CatalogueFixture::SetFailure(FixtureProgramme programme, FixtureFailure failure) {
  CatalogueServer::SetFailure(Index(programme), failure);
}

std::vector<FixtureEpisode> CatalogueFixture::MakeEpisodes(FixtureProgramme programme, int year,
                                                           int month, int day, int count) const {
  const bool morning = programme == FixtureProgramme::kMorning;
  const std::string name = morning ? "morning" : "evening";
  std::vector<FixtureEpisode> episodes;
  for (int i = 0; i < count; ++i) {
    const auto& headlines = morning ? kMorningHeadlines : kEveningHeadlines;
    FixtureEpisode episode;
    episode.title = std::to_string(month) + "月" + std::to_string(day) + "日" +
                    (morning ? "小涟早报：" : "小涟晚报：") + headlines[i % headlines.size()];
    episode.audioUrl = MediaUrl(name + "-" + std::to_string(i % 8) + ".wav");
    episode.coverUrl = MediaUrl(name + ".png");
    const int seconds = 600 + 37 * i + (morning ? 0 : 300);
    episode.durationJson = std::to_string(seconds);
    // Every other one as a numeric string (quoted by appending: GCC 12 misreads a quote
    // inserted at the front at -O3).
    if (i % 2 != 0) {
      std::string quoted = "\"";
      quoted += episode.durationJson;
      quoted += '"';
      episode.durationJson = std::move(quoted);
    }
    episodes.push_back(std::move(episode));
    if (--day == 0) {
      if (--month == 0) {
        month = 12;
        --year;
      }
      day = DaysIn(year, month);
    }
  }
  return episodes;
}

std::string CatalogueFixture::PageJson(const std::vector<FixtureEpisode>& episodes) {
  // Shaped like the real reply: the members the player reads among others it ignores.
  std::string json = R"({"code":0,"msg":"ok","data":{"total":)" + std::to_string(episodes.size()) +
                     R"(,"pageNum":1,"list":[)";
  for (std::size_t i = 0; i < episodes.size(); ++i) {
    const FixtureEpisode& e = episodes[i];
    if (i > 0) json += ",";
    json += R"({"id":)" + std::to_string(1000 + i) + R"(,"title":)" + JsonString(e.title) +
            R"(,"audiolist":[{"filePath":)" + JsonString(e.audioUrl) +
            R"(,"bitrate":64}],"img194_194":)" + JsonString(e.coverUrl);
    if (!e.durationJson.empty()) json += R"(,"duration":)" + e.durationJson;
    json += "}";
  }
  return json + "]}}";
}

}  // namespace newsbar::test
