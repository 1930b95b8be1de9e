#include "catalogue_server/catalogue_media.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <charconv>
#include <cstdio>

namespace newsbar::loopback {

namespace {

using std::chrono::system_clock;

bool ParseInt(std::string_view text, int& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

// Clip and cover names stay plain so that they make safe URL paths.
bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name.front() == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

// 20201207 for 7 December 2020.
std::string DateDigits(CalendarDate date) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d%02d%02d", date.year, date.month, date.day);
  return digits;
}

std::string_view PidOf(int programme) {
  return programme == 1 ? kMorningPid : kEveningPid;
}

bool ReadResource(const QString& path, std::string& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  QByteArray data = file.readAll();
  bytes.assign(data.constData(), static_cast<std::size_t>(data.size()));
  return true;
}

}  // namespace

std::string_view CoverFile(int programme) {
  return programme == 1 ? "morning.jpg" : "evening.png";
}

std::string MimeType(std::string_view name) {
  if (name.ends_with(".mp3")) return "audio/mpeg";
  if (name.ends_with(".wav")) return "audio/wav";
  if (name.ends_with(".jpg")) return "image/jpeg";
  if (name.ends_with(".png")) return "image/png";
  return "application/octet-stream";
}

bool IsAudioName(std::string_view name) {
  return name.ends_with(".mp3") || name.ends_with(".wav");
}

std::vector<Episode> ParseEpisodeTable(std::string_view table) {
  std::vector<Episode> episodes;
  while (!table.empty()) {
    std::size_t end = table.find('\n');
    std::string_view line = table.substr(0, end);
    table.remove_prefix(end == std::string_view::npos ? table.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;

    std::vector<std::string_view> fields;
    for (std::size_t tab; (tab = line.find('\t')) != std::string_view::npos;) {
      fields.push_back(line.substr(0, tab));
      line.remove_prefix(tab + 1);
    }
    fields.push_back(line);
    if (fields.size() != 5) continue;

    Episode episode;
    if (!ParseInt(fields[0], episode.programme) || !ParseInt(fields[1], episode.daysAgo) ||
        !ParseInt(fields[3], episode.seconds))
      continue;
    if (episode.programme < 1 || episode.programme > 2 || episode.daysAgo < 0 ||
        episode.seconds <= 0 || !IsPlainFileName(fields[2]) || fields[4].empty())
      continue;
    episode.audioFile = fields[2];
    episode.headline = fields[4];
    episodes.push_back(std::move(episode));
  }
  return episodes;
}

MediaSet BuiltInMedia() {
  const QString root = QStringLiteral(":/catalogue_server/media/");
  MediaSet media;
  std::string table;
  if (!ReadResource(root + QStringLiteral("episodes.tsv"), table)) return {};
  media.episodes = ParseEpisodeTable(table);

  std::vector<std::string> needed = {std::string(CoverFile(1)), std::string(CoverFile(2))};
  for (const Episode& episode : media.episodes) needed.push_back(episode.audioFile);
  for (const std::string& name : needed) {
    std::string bytes;
    if (!ReadResource(root + QString::fromStdString(name), bytes)) return {};
    media.files.emplace(name, std::move(bytes));
  }
  return media;
}

CalendarDate DateAtUtc8(system_clock::time_point t, int daysBack) {
  using namespace std::chrono;
  const sys_days day = floor<days>(t + hours(8)) - days(daysBack);
  const year_month_day date(day);
  return {static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day()))};
}

std::string EpisodeTitle(int programme, CalendarDate date, std::string_view headline) {
  std::string title = std::to_string(date.month) + "月" + std::to_string(date.day) + "日";
  title += programme == 1 ? "小涟早报：" : "小涟晚报：";
  title += headline;
  return title;
}

std::string HttpDate(system_clock::time_point t) {
  using namespace std::chrono;
  // strftime would follow the locale (the window's toolkit sets it from the environment).
  static constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const sys_seconds seconds = floor<std::chrono::seconds>(t);
  const sys_days day = floor<days>(seconds);
  const year_month_day date(day);
  const hh_mm_ss<std::chrono::seconds> time(seconds - day);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d GMT",
                kWeekdays[weekday(day).c_encoding()], static_cast<unsigned>(date.day()),
                kMonths[static_cast<unsigned>(date.month()) - 1], static_cast<int>(date.year()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

std::string CatalogueReply(const MediaSet& media, int programme, system_clock::time_point now,
                           std::string_view mediaBase) {
  return CatalogueReply(
      media.episodes, programme, now, mediaBase, [&media](const std::string& name) {
        auto found = media.files.find(name);
        return found == media.files.end() ? 0LL : static_cast<long long>(found->second.size());
      });
}

std::string CatalogueReply(const std::vector<Episode>& episodes, int programme,
                           system_clock::time_point now, std::string_view mediaBase,
                           const std::function<long long(const std::string&)>& fileSize) {
  std::vector<const Episode*> chosen;
  for (const Episode& episode : episodes)
    if (episode.programme == programme) chosen.push_back(&episode);
  std::stable_sort(chosen.begin(), chosen.end(),
                   [](const Episode* a, const Episode* b) { return a->daysAgo < b->daysAgo; });

  const QString base =
      QString::fromUtf8(mediaBase.data(), static_cast<qsizetype>(mediaBase.size()));
  const QString cover = base + QString::fromUtf8(CoverFile(programme).data());
  QJsonArray list;
  for (const Episode* episode : chosen) {
    const CalendarDate date = DateAtUtc8(now, episode->daysAgo);
    const std::string title = EpisodeTitle(programme, date, episode->headline);
    QJsonObject audio{{"filePath", base + QString::fromStdString(episode->audioFile)},
                      {"size", fileSize ? static_cast<qint64>(fileSize(episode->audioFile)) : 0}};
    list.append(QJsonObject{
        {"id", QString::fromStdString(std::string(PidOf(programme)) + DateDigits(date))},
        {"title", QString::fromStdString(title)},
        {"duration", episode->seconds},
        {"img194_194", cover},
        {"audiolist", QJsonArray{audio}},
    });
  }
  QJsonObject reply{{"code", 0}, {"data", QJsonObject{{"list", list}}}};
  const QByteArray json = QJsonDocument(reply).toJson(QJsonDocument::Compact);
  return std::string(json.constData(), static_cast<std::size_t>(json.size()));
}

}  // namespace newsbar::loopback
