#include "catalogue/episode_merge.h"

#include <chrono>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "catalogue/catalogue_texts.h"
#include "util/duration.h"
#include "util/text_cut.h"

namespace newsbar {

int TextToInt(std::string_view text) {
  std::size_t pos = 0;
  // Full-width characters are the GBK pairs A1 A1 (space) and A3 B0..A3 B9 (digits).
  const auto fullWidthDigit = [&text](std::size_t at) {
    return at + 1 < text.size() && static_cast<unsigned char>(text[at]) == 0xA3 &&
           static_cast<unsigned char>(text[at + 1]) >= 0xB0 &&
           static_cast<unsigned char>(text[at + 1]) <= 0xB9;
  };
  while (pos < text.size()) {
    if (text[pos] == ' ' || text[pos] == '\t') {
      ++pos;
    } else if (text.substr(pos, 2) == "\xA1\xA1") {
      pos += 2;
    } else {
      break;
    }
  }
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  long long value = 0;
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  while (pos < text.size()) {
    int digit = 0;
    if (text[pos] >= '0' && text[pos] <= '9') {
      digit = text[pos] - '0';
      ++pos;
    } else if (fullWidthDigit(pos)) {
      digit = static_cast<unsigned char>(text[pos + 1]) - 0xB0;
      pos += 2;
    } else {
      break;
    }
    value = value * 10 + digit;
    if (value > limit) value = limit;  // keep reading the digits, held at the limit
  }
  return static_cast<int>(negative ? -value : value);
}

int DateInteger(int year, int month, int day) {
  const std::string text =
      std::to_string(year) + ZeroPad(std::to_string(month), 2) + ZeroPad(std::to_string(day), 2);
  return TextToInt(text);
}

namespace {

constexpr int kFirstYear = 100;

struct MonthDay {
  int month = 0;
  int day = 0;
};

MonthDay TitleMonthDay(std::string_view title, std::string_view marker) {
  const Text datePart = TextLeftOf(title, marker);
  return {TextToInt(TextLeftOf(datePart, catalogue_text::kMonth)),
          TextToInt(TextBetween(datePart, catalogue_text::kMonth, catalogue_text::kDay))};
}

// Days since the epoch of a calendar date; nothing when it is no date.
std::optional<long> DayNumber(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(year),
                                         std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok()) return std::nullopt;
  return std::chrono::sys_days(date).time_since_epoch().count();
}

}  // namespace

int TitleDate(std::string_view title, std::string_view marker, int year) {
  const MonthDay date = TitleMonthDay(title, marker);
  return DateInteger(year, date.month, date.day);
}

int TitleDateNearToday(std::string_view title, std::string_view marker, const NetworkNow& now) {
  const MonthDay date = TitleMonthDay(title, marker);
  const std::optional<long> today = DayNumber(now.year, now.month, now.day);
  const std::optional<long> thisYear = DayNumber(now.year, date.month, date.day);
  // The date-time of the network time starts at the year 100, which is also what a failed
  // time query gives: then there is no year before, and nothing dated is due, as ever.
  const std::optional<long> yearBefore =
      now.year > kFirstYear ? DayNumber(now.year - 1, date.month, date.day) : std::nullopt;
  // 29 February of a year before that has none falls back to this year, as does a today
  // that is no date.
  if (today && thisYear && yearBefore &&
      std::labs(*today - *yearBefore) < std::labs(*thisYear - *today)) {
    return DateInteger(now.year - 1, date.month, date.day);
  }
  return DateInteger(now.year, date.month, date.day);
}

std::vector<EpisodeRow> MergeEpisodes(const std::vector<CatalogueEpisode>& morning,
                                      const std::vector<CatalogueEpisode>& evening,
                                      const NetworkNow& now) {
  const int today = DateInteger(now.year, now.month, now.day);
  const auto datedToday = [&](const std::vector<CatalogueEpisode>& page, std::string_view marker) {
    return !page.empty() && TitleDateNearToday(page.front().title, marker, now) == today;
  };
  const int eveningFirst = datedToday(morning, catalogue_text::kMorningMarker) &&
                                   datedToday(evening, catalogue_text::kEveningMarker)
                               ? 1
                               : 0;

  std::vector<EpisodeRow> rows;
  std::size_t nextMorning = 0;
  std::size_t nextEvening = 0;
  const std::size_t total = morning.size() + evening.size();
  for (std::size_t step = 1; step <= total; ++step) {
    bool fromEvening = false;
    if (nextMorning == morning.size()) {
      fromEvening = true;
    } else if (nextEvening == evening.size()) {
      fromEvening = false;
    } else {
      fromEvening = static_cast<int>(step % 2) == eveningFirst;
    }
    const CatalogueEpisode& episode = fromEvening ? evening[nextEvening++] : morning[nextMorning++];
    const std::string_view marker =
        fromEvening ? catalogue_text::kEveningMarker : catalogue_text::kMorningMarker;

    const int date = TitleDateNearToday(episode.title, marker, now);
    const bool due = today > date || (today == date && now.hour >= 5);
    if (!due) continue;
    const Text duration =
        FormatDuration(TextToInt(episode.duration), catalogue_text::kDurationPattern);
    rows.push_back({episode.title, episode.audioUrl, episode.coverUrl, duration, duration});
  }
  return rows;
}

std::vector<RowInsertion> PlanInsertions(const std::vector<Text>& listed,
                                         const std::vector<EpisodeRow>& fresh) {
  constexpr int kAudioColumn = 1;
  std::unordered_map<std::string_view, int> listedAt;
  for (int index = static_cast<int>(listed.size()) - 1; index >= 0; --index) {
    listedAt[listed[static_cast<std::size_t>(index)]] = index;  // the first one counts
  }
  // New rows by the listed row they follow (-1: on top), in the fresh order.
  std::vector<std::vector<const EpisodeRow*>> after(listed.size() + 1);
  std::unordered_set<std::string_view> placed;
  int anchor = -1;
  for (const EpisodeRow& row : fresh) {
    const std::string_view audio = row[kAudioColumn];
    if (const auto found = listedAt.find(audio); found != listedAt.end()) {
      anchor = found->second;
    } else if (placed.insert(audio).second) {
      after[static_cast<std::size_t>(anchor + 1)].push_back(&row);
    }
  }
  std::vector<RowInsertion> insertions;
  int at = 0;
  for (std::size_t slot = 0; slot < after.size(); ++slot) {
    for (const EpisodeRow* row : after[slot]) insertions.push_back({at++, *row});
    ++at;  // the listed row `slot` (none after the last slot)
  }
  return insertions;
}

}  // namespace newsbar
