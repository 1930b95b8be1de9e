// What the loopback catalogue server lists and serves: episodes with their clips and the
// two covers, and the catalogue page made from them at a given moment.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace newsbar::loopback {

// One episode the media set holds a clip for (a row of episodes.tsv).
struct Episode {
  int programme = 0;      // 1 morning, 2 evening
  int daysAgo = 0;        // 0 today at UTC+8, 1 yesterday, ...
  std::string audioFile;  // a name in MediaSet::files
  int seconds = 0;        // the clip's length in whole seconds
  std::string headline;   // UTF-8
};

struct MediaSet {
  std::vector<Episode> episodes;
  std::map<std::string, std::string, std::less<>> files;  // file name -> bytes
};

// The cover of a programme (1 or 2) in the built-in set.
std::string_view CoverFile(int programme);

// The MIME type served for a file name: audio/mpeg, audio/wav, image/jpeg, image/png, or
// application/octet-stream.
std::string MimeType(std::string_view name);
// Whether a file name is a clip (.mp3 or .wav) rather than a picture.
bool IsAudioName(std::string_view name);

// The programmes' identifiers in the catalogue query ("pid").
inline constexpr std::string_view kMorningPid = "367750";
inline constexpr std::string_view kEveningPid = "456498";
// The path both programmes are asked for.
inline constexpr std::string_view kCataloguePath = "/fm/read/fmd/h5/getPayResourceList_714.html";

// Rows "programme TAB daysAgo TAB audio file TAB seconds TAB headline"; lines starting with
// '#', blank lines and malformed rows are skipped.
std::vector<Episode> ParseEpisodeTable(std::string_view table);

// The clips, covers and episode table built into the library (media/, made by
// make_media.sh). Empty when the built-in resources are missing or a clip is absent.
MediaSet BuiltInMedia();

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
// UTC+8, its audio and cover under mediaBase (e.g. "http://127.0.0.1:8080/media/"), each
// clip's size as `fileSize` tells it (0 when it does not know the file).
std::string CatalogueReply(const std::vector<Episode>& episodes, int programme,
                           std::chrono::system_clock::time_point now, std::string_view mediaBase,
                           const std::function<long long(const std::string&)>& fileSize);
// The same for a media set, the sizes its files have.
std::string CatalogueReply(const MediaSet& media, int programme,
                           std::chrono::system_clock::time_point now, std::string_view mediaBase);

}  // namespace newsbar::loopback
