// Dates in titles, the merge of the two pages and the due-time filter.
#include <gtest/gtest.h>

#include "catalogue/episode_merge.h"
#include "util/charset.h"

namespace newsbar {
namespace {

// Test texts are written in UTF-8 and compared as the program holds them (GBK).
Text G(std::string_view utf8) {
  return Utf8ToGbk(utf8);
}

CatalogueEpisode Morning(int month, int day, std::string_view headline = "天气晴好",
                         std::string duration = "60") {
  const std::string title =
      std::to_string(month) + "月" + std::to_string(day) + "日小涟早报：" + std::string(headline);
  return {G(title), "http://a/m" + std::to_string(day) + ".mp3",
          "http://a/m" + std::to_string(day) + ".jpg", duration};
}

CatalogueEpisode Evening(int month, int day, std::string_view headline = "夜间小雨",
                         std::string duration = "60") {
  const std::string title =
      std::to_string(month) + "月" + std::to_string(day) + "日小涟晚报：" + std::string(headline);
  return {G(title), "http://a/e" + std::to_string(day) + ".mp3",
          "http://a/e" + std::to_string(day) + ".jpg", duration};
}

// The audio URLs of the rows, which name programme and day ("m20", "e19").
std::vector<std::string> Order(const std::vector<EpisodeRow>& rows) {
  std::vector<std::string> order;
  for (const EpisodeRow& row : rows) order.push_back(row[1].substr(9, row[1].size() - 13));
  return order;
}

TEST(TextToInt, DigitsSignsBlanksAndLimits) {
  EXPECT_EQ(TextToInt("1234"), 1234);
  EXPECT_EQ(TextToInt("  -42abc"), -42);
  EXPECT_EQ(TextToInt("+7"), 7);
  EXPECT_EQ(TextToInt("\t12.9"), 12);
  EXPECT_EQ(TextToInt(""), 0);
  EXPECT_EQ(TextToInt("abc12"), 0);
  EXPECT_EQ(TextToInt("- 5"), 0);
  // Full-width digits and the full-width space count like their ASCII forms.
  EXPECT_EQ(TextToInt(G("　１２3")), 123);
  EXPECT_EQ(TextToInt(G("7月")), 7);
  // Too many digits stop at the limits instead of wrapping.
  EXPECT_EQ(TextToInt("99999999999999999999"), 2147483647);
  EXPECT_EQ(TextToInt("-99999999999999999999"), -2147483647 - 1);
  EXPECT_EQ(TextToInt("-2147483648"), -2147483647 - 1);
}

TEST(TitleDate, ReadsMonthAndDayInFrontOfTheMarker) {
  const Text morningMarker = G("小涟早报：");
  EXPECT_EQ(DateInteger(2020, 7, 20), 20200720);
  EXPECT_EQ(DateInteger(2021, 12, 3), 20211203);
  EXPECT_EQ(TitleDate(G("7月20日小涟早报：开学"), morningMarker, 2020), 20200720);
  EXPECT_EQ(TitleDate(G("12月1日小涟早报：降温"), morningMarker, 2021), 20211201);
  // Full-width digits in the date fold like ASCII ones.
  EXPECT_EQ(TitleDate(G("７月２日小涟早报：新闻"), morningMarker, 2020), 20200702);
  // The other programme's marker, or none at all: month and day 0.
  EXPECT_EQ(TitleDate(G("7月20日小涟晚报：开学"), morningMarker, 2020), 20200000);
  EXPECT_EQ(TitleDate(G("特别节目"), morningMarker, 2020), 20200000);
  // A month so large that the joined text no longer fits an int lies in the far future.
  EXPECT_EQ(TitleDate(G("99999999月1日小涟早报：x"), morningMarker, 2020), 2147483647);
}

TEST(MergeEpisodes, AlternatesMorningFirstUnlessBothEditionsOfTodayAreOut) {
  const NetworkNow now{.year = 2020, .month = 7, .day = 20, .hour = 20};
  // Evening edition of the 20th not out yet: morning leads.
  EXPECT_EQ(Order(MergeEpisodes({Morning(7, 20), Morning(7, 19), Morning(7, 18)},
                                {Evening(7, 19), Evening(7, 18), Evening(7, 17)}, now)),
            (std::vector<std::string>{"m20", "e19", "m19", "e18", "m18", "e17"}));
  // Both first episodes are today's: evening leads.
  EXPECT_EQ(
      Order(MergeEpisodes({Morning(7, 20), Morning(7, 19)}, {Evening(7, 20), Evening(7, 19)}, now)),
      (std::vector<std::string>{"e20", "m20", "e19", "m19"}));
  // Evening today but morning not: morning still leads.
  EXPECT_EQ(Order(MergeEpisodes({Morning(7, 19)}, {Evening(7, 20)}, now)),
            (std::vector<std::string>{"m19", "e20"}));
}

TEST(MergeEpisodes, RowsCarryTheCellsAndTheDurationText) {
  const NetworkNow now{.year = 2020, .month = 7, .day = 20, .hour = 12};
  const auto rows =
      MergeEpisodes({Morning(7, 20, "新闻", "1234")},
                    {Evening(7, 19, "新闻", " 1234.9"), Evening(7, 18, "x", "abc")}, now);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0], G("7月20日小涟早报：新闻"));
  EXPECT_EQ(rows[0][1], "http://a/m20.mp3");
  EXPECT_EQ(rows[0][2], "http://a/m20.jpg");
  EXPECT_EQ(rows[0][3], G("20分34秒"));
  EXPECT_EQ(rows[0][4], G("20分34秒"));
  EXPECT_EQ(rows[1][3], G("20分34秒"));
  EXPECT_EQ(rows[2][3], G("00分00秒"));
  EXPECT_EQ(rows[2][4], G("00分00秒"));
}

TEST(MergeEpisodes, TodaysEpisodesAreDueFromFiveOClock) {
  const std::vector<CatalogueEpisode> morning{Morning(7, 20), Morning(7, 19)};
  const std::vector<CatalogueEpisode> evening{Evening(7, 20), Evening(7, 19)};
  EXPECT_EQ(Order(MergeEpisodes(morning, evening, {2020, 7, 20, 4})),
            (std::vector<std::string>{"e19", "m19"}));
  EXPECT_EQ(Order(MergeEpisodes(morning, evening, {2020, 7, 20, 5})),
            (std::vector<std::string>{"e20", "m20", "e19", "m19"}));
  // Tomorrow's episodes are never due; yesterday's always.
  EXPECT_EQ(Order(MergeEpisodes({Morning(7, 21)}, {Evening(7, 19)}, {2020, 7, 20, 23})),
            (std::vector<std::string>{"e19"}));
  EXPECT_EQ(Order(MergeEpisodes({Morning(7, 19)}, {}, {2020, 7, 20, 0})),
            (std::vector<std::string>{"m19"}));
}

// Titles carry no year: each is dated in the year that puts it nearest to today.
TEST(MergeEpisodes, AroundTheNewYearTitlesTakeTheYearNearestToday) {
  // On 2 January December's episodes are last year's, listed in the alternation.
  EXPECT_EQ(Order(MergeEpisodes({Morning(1, 2), Morning(1, 1), Morning(12, 31)},
                                {Evening(1, 1), Evening(12, 31), Evening(12, 30)},
                                {.year = 2021, .month = 1, .day = 2, .hour = 9})),
            (std::vector<std::string>{"m2", "e1", "m1", "e31", "m31", "e30"}));
  // On 1 January at 03:00 yesterday's editions are out, today's not yet (the morning one
  // leads the alternation and is skipped).
  EXPECT_EQ(Order(MergeEpisodes({Morning(1, 1), Morning(12, 31), Morning(12, 30)},
                                {Evening(12, 31), Evening(12, 30)},
                                {.year = 2021, .month = 1, .day = 1, .hour = 3})),
            (std::vector<std::string>{"e31", "m31", "e30", "m30"}));
  // Tomorrow stays in the future across a month end: on 31 July, 1 August is skipped.
  EXPECT_EQ(Order(MergeEpisodes({Morning(8, 1), Morning(7, 31)}, {Evening(7, 31)},
                                {.year = 2020, .month = 7, .day = 31, .hour = 9})),
            (std::vector<std::string>{"e31", "m31"}));

  const Text marker = G("小涟早报：");
  const NetworkNow newYear{.year = 2021, .month = 1, .day = 2, .hour = 9};
  EXPECT_EQ(TitleDateNearToday(G("12月31日小涟早报：x"), marker, newYear), 20201231);
  EXPECT_EQ(TitleDateNearToday(G("1月3日小涟早报：x"), marker, newYear), 20210103);
  // Half a year either way: the later half of the year is last year's.
  const NetworkNow summer{.year = 2021, .month = 3, .day = 1, .hour = 9};
  EXPECT_EQ(TitleDateNearToday(G("8月31日小涟早报：x"), marker, summer), 20200831);
  EXPECT_EQ(TitleDateNearToday(G("8月30日小涟早报：x"), marker, summer), 20210830);
  // No date at all, or 29 February of a year without one: this year, as before.
  EXPECT_EQ(TitleDateNearToday(G("特别节目"), marker, newYear), 20210000);
  EXPECT_EQ(TitleDateNearToday(G("2月29日小涟早报：x"), marker, newYear), 20210229);
  EXPECT_EQ(TitleDateNearToday(G("13月1日小涟早报：x"), marker, newYear), 20211301);
  // A failed time query gives 1 January of the year 100, which has no year before.
  EXPECT_EQ(TitleDateNearToday(G("12月31日小涟早报：x"), marker, {100, 1, 1, 8}), 1001231);
}

TEST(MergeEpisodes, TitleWithoutMarkerIsListedAsOld) {
  CatalogueEpisode special{G("特别节目：夏日音乐会"), "http://a/m99.mp3", "", "61"};
  const auto rows = MergeEpisodes({special}, {Evening(7, 20)}, {2020, 7, 20, 3});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], special.title);
  EXPECT_EQ(rows[0][3], G("01分01秒"));
}

TEST(MergeEpisodes, OnePageAloneOrPagesOfUnequalLength) {
  const NetworkNow now{.year = 2020, .month = 7, .day = 20, .hour = 20};
  EXPECT_EQ(Order(MergeEpisodes({}, {Evening(7, 19), Evening(7, 18)}, now)),
            (std::vector<std::string>{"e19", "e18"}));
  EXPECT_EQ(Order(MergeEpisodes({Morning(7, 19), Morning(7, 18)}, {}, now)),
            (std::vector<std::string>{"m19", "m18"}));
  EXPECT_TRUE(MergeEpisodes({}, {}, now).empty());
  // Once the shorter page is used up the rest of the longer follows in order; no row
  // is made from an episode that is not there.
  EXPECT_EQ(Order(MergeEpisodes({Morning(7, 20), Morning(7, 19), Morning(7, 18), Morning(7, 17)},
                                {Evening(7, 19)}, now)),
            (std::vector<std::string>{"m20", "e19", "m19", "m18", "m17"}));
  EXPECT_EQ(
      Order(MergeEpisodes({Morning(7, 20)}, {Evening(7, 20), Evening(7, 19), Evening(7, 18)}, now)),
      (std::vector<std::string>{"e20", "m20", "e19", "e18"}));
}

// A refresh's rows in a list already shown: each case gives the listed audio names, the
// fresh merge (by audio name) and the list that results from the planned insertions.
TEST(PlanInsertions, NewRowsGoToTheirMergedPlaceAndNothingElseMoves) {
  struct Case {
    const char* what;
    std::vector<std::string> listed;
    std::vector<std::string> fresh;
    std::vector<std::string> after;
  };
  const std::vector<Case> cases = {
      {"today's edition on top",
       {"e20", "m20", "e19"},
       {"m21", "e20", "m20", "e19"},
       {"m21", "e20", "m20", "e19"}},
      {"both of today's on top, newest first",
       {"e20", "m20"},
       {"e21", "m21", "e20", "m20"},
       {"e21", "m21", "e20", "m20"}},
      {"nothing new", {"e20", "m20", "e19"}, {"e20", "m20", "e19"}, {"e20", "m20", "e19"}},
      {"rows off the first page stay",
       {"e20", "m20", "e19", "m19"},
       {"m21", "e20"},
       {"m21", "e20", "m20", "e19", "m19"}},
      {"a late one after the row above it",
       {"e20", "m20", "e19"},
       {"e20", "m20", "x", "e19"},
       {"e20", "m20", "x", "e19"}},
      {"after the nearest listed row above it, also out of order",
       {"a", "b", "c"},
       {"c", "x", "a", "y"},
       {"a", "y", "b", "c", "x"}},
      {"a repeated one once", {"a"}, {"x", "x", "a"}, {"x", "a"}},
      {"nothing listed yet", {}, {"a", "b"}, {"a", "b"}},
      {"a failed refresh lists nothing", {"a", "b"}, {}, {"a", "b"}},
  };
  for (const Case& test : cases) {
    std::vector<Text> listed(test.listed.begin(), test.listed.end());
    std::vector<EpisodeRow> fresh;
    for (const std::string& audio : test.fresh) fresh.push_back({"t " + audio, audio, "", "", ""});
    std::vector<std::string> list = test.listed;
    int previous = -1;
    for (const RowInsertion& insertion : PlanInsertions(listed, fresh)) {
      EXPECT_GT(insertion.at, previous) << test.what;
      previous = insertion.at;
      ASSERT_LE(insertion.at, static_cast<int>(list.size())) << test.what;
      EXPECT_EQ(insertion.row[0], "t " + insertion.row[1]) << test.what;
      list.insert(list.begin() + insertion.at, insertion.row[1]);
    }
    EXPECT_EQ(list, test.after) << test.what;
  }
}

}  // namespace
}  // namespace newsbar
