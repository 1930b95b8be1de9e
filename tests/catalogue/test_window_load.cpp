// The real player window, offscreen, loading its list from the loopback fixture: the
// list it shows, the hand-over, and the failure and retry path.
#include <gtest/gtest.h>

#include "app/player_window.h"
#include "catalogue/catalogue_worker.h"
#include "support/catalogue_fixture.h"
#include "support/wait_until.h"
#include "util/charset.h"

namespace newsbar::test {
namespace {

using namespace std::chrono_literals;

std::string Utf8(const Text& gbk) {
  return GbkToUtf8Text(gbk);
}

class WindowLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");  // 20:00 on the 20th at UTC+8
    fixture.SetEpisodes(FixtureProgramme::kMorning,
                        fixture.MakeEpisodes(FixtureProgramme::kMorning, 2020, 7, 20, 4));
    fixture.SetEpisodes(FixtureProgramme::kEvening,
                        fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, 7, 19, 4));
  }

  // A window whose worker is the real one, pointed at the fixture.
  std::unique_ptr<PlayerWindow> MakeWindow() {
    const Endpoints endpoints = fixture.Endpoints();
    auto window = std::make_unique<PlayerWindow>(
        [endpoints](const WorkerTargets& targets) { CatalogueWorker(endpoints, targets); });
    window->CreateAndShow();
    return window;
  }

  static bool ControlsEnabled(PlayerWindow& window) {
    return window.listButton->isEnabled() && window.playPauseButton->isEnabled() &&
           window.previousButton->isEnabled() && window.nextButton->isEnabled() &&
           window.progress->isEnabled();
  }

  CatalogueFixture fixture;
};

TEST_F(WindowLoad, ListsTheMergedEpisodesAndStartsRowZero) {
  auto window = MakeWindow();
  ASSERT_TRUE(WaitUntil([&] { return ControlsEnabled(*window); }, 30s));
  ListView& list = *window->episodeList;
  ASSERT_EQ(list.RowCount(), 8);

  const auto morning = fixture.MakeEpisodes(FixtureProgramme::kMorning, 2020, 7, 20, 4);
  const auto evening = fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, 7, 19, 4);
  for (int i = 0; i < 4; ++i) {
    // Morning leads: the evening edition of the 20th is not out.
    EXPECT_EQ(Utf8(list.CellText(2 * i, 0)), morning[i].title);
    EXPECT_EQ(Utf8(list.CellText(2 * i + 1, 0)), evening[i].title);
    EXPECT_EQ(list.CellText(2 * i, 1), morning[i].audioUrl);
    EXPECT_EQ(list.CellText(2 * i + 1, 2), evening[i].coverUrl);
  }
  // Durations as numbers (even rows of a page) and as numeric text (odd rows) alike:
  // 600 s and 637 s for the first two morning episodes, 900 s for the first evening one.
  EXPECT_EQ(Utf8(list.CellText(0, 4)), "10分00秒");
  EXPECT_EQ(Utf8(list.CellText(1, 3)), "15分00秒");
  EXPECT_EQ(Utf8(list.CellText(2, 3)), "10分37秒");
  EXPECT_EQ(Utf8(list.CellText(2, 4)), "10分37秒");
  // The verdict started row 0.
  EXPECT_EQ(Utf8(list.CellText(0, 3)), "正在播放...");
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), morning[0].title);
  EXPECT_FALSE(window->retryButton->isVisible());

  // What reached the servers: the two catalogue requests around the time query, then
  // the first episode's cover.
  const auto requests = fixture.Requests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(requests[0].server + " " + requests[0].method + " " + requests[0].query.at("pid"),
            "http POST 367750");
  EXPECT_EQ(requests[1].server + " " + requests[1].method, "time HEAD");
  EXPECT_EQ(requests[2].server + " " + requests[2].method + " " + requests[2].query.at("pid"),
            "https POST 456498");
}

TEST_F(WindowLoad, BothEditionsOfTodayOutPutsTheEveningFirst) {
  fixture.SetEpisodes(FixtureProgramme::kEvening,
                      fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, 7, 20, 2));
  auto window = MakeWindow();
  ASSERT_TRUE(WaitUntil([&] { return ControlsEnabled(*window); }, 30s));
  EXPECT_EQ(window->episodeList->RowCount(), 6);
  EXPECT_NE(Utf8(window->statusLabel->Caption()).find("7月20日小涟晚报："), std::string::npos);
}

// Titles carry no year. Early in January December's episodes are last year's: listed in
// the alternation, not skipped as if they lay ahead.
TEST_F(WindowLoad, AroundTheNewYearDecemberIsListed) {
  // 2 January, 09:00 at UTC+8: three episodes each, back to 31 December.
  fixture.SetDateHeader("Sat, 02 Jan 2021 01:00:00 GMT");
  const auto morning = fixture.MakeEpisodes(FixtureProgramme::kMorning, 2021, 1, 2, 3);
  const auto evening = fixture.MakeEpisodes(FixtureProgramme::kEvening, 2021, 1, 1, 3);
  fixture.SetEpisodes(FixtureProgramme::kMorning, morning);
  fixture.SetEpisodes(FixtureProgramme::kEvening, evening);
  auto window = MakeWindow();
  ASSERT_TRUE(WaitUntil([&] { return ControlsEnabled(*window); }, 30s));
  ListView& list = *window->episodeList;
  ASSERT_EQ(list.RowCount(), 6);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Utf8(list.CellText(2 * i, 0)), morning[i].title);
    EXPECT_EQ(Utf8(list.CellText(2 * i + 1, 0)), evening[i].title);
  }
  window.reset();

  // 1 January, 03:00 at UTC+8: yesterday's editions are out, today's not yet (the
  // morning one leads the alternation and is skipped, so the evening one comes first).
  fixture.SetDateHeader("Thu, 31 Dec 2020 19:00:00 GMT");
  fixture.SetEpisodes(FixtureProgramme::kMorning,
                      fixture.MakeEpisodes(FixtureProgramme::kMorning, 2021, 1, 1, 2));
  fixture.SetEpisodes(FixtureProgramme::kEvening,
                      fixture.MakeEpisodes(FixtureProgramme::kEvening, 2021, 1, 1, 2));
  window = MakeWindow();
  ASSERT_TRUE(WaitUntil([&] { return ControlsEnabled(*window); }, 30s));
  ASSERT_EQ(window->episodeList->RowCount(), 2);
  EXPECT_EQ(Utf8(window->episodeList->CellText(0, 0)).rfind("12月31日小涟晚报：", 0), 0u)
      << Utf8(window->episodeList->CellText(0, 0));
  EXPECT_EQ(Utf8(window->episodeList->CellText(1, 0)).rfind("12月31日小涟早报：", 0), 0u)
      << Utf8(window->episodeList->CellText(1, 0));
}

TEST_F(WindowLoad, NothingAnsweringShowsFailureThenRetryRecovers) {
  fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kRefuse);
  fixture.SetFailure(FixtureProgramme::kEvening, FixtureFailure::kNotJson);
  auto window = MakeWindow();
  ASSERT_TRUE(WaitUntil([&] { return window->retryButton->isVisible(); }, 30s));
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), "初始化失败，请重试...");
  EXPECT_EQ(window->episodeList->RowCount(), 0);
  EXPECT_FALSE(window->playPauseButton->isEnabled());
  EXPECT_FALSE(window->listButton->isEnabled());

  // The server comes back; the retry lists everything and hands over as the first
  // load would have.
  fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kNone);
  fixture.SetFailure(FixtureProgramme::kEvening, FixtureFailure::kNone);
  fixture.ClearRequests();
  window->retryButton->click();  // returns once the retried worker has ended
  EXPECT_TRUE(WaitUntil([&] { return ControlsEnabled(*window); }, 30s));
  EXPECT_EQ(window->episodeList->RowCount(), 8);
  EXPECT_FALSE(window->retryButton->isVisible());
  EXPECT_EQ(Utf8(window->episodeList->CellText(0, 3)), "正在播放...");
  const auto requests = fixture.Requests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(requests[0].server, "http");
  EXPECT_EQ(requests[1].server, "time");
  EXPECT_EQ(requests[2].server, "https");
}

TEST_F(WindowLoad, OnlyTheEveningAnsweringStillFillsTheWindow) {
  fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kServerError);
  auto window = MakeWindow();
  ASSERT_TRUE(WaitUntil([&] { return ControlsEnabled(*window); }, 30s));
  const auto evening = fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, 7, 19, 4);
  ASSERT_EQ(window->episodeList->RowCount(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Utf8(window->episodeList->CellText(i, 0)), evening[i].title);
  }
}

TEST_F(WindowLoad, EverythingFilteredOutFails) {
  // 04:00 on the 20th: the morning page holds only the 20th, the evening page is empty.
  fixture.SetEpisodes(FixtureProgramme::kMorning,
                      fixture.MakeEpisodes(FixtureProgramme::kMorning, 2020, 7, 20, 1));
  fixture.SetFailure(FixtureProgramme::kEvening, FixtureFailure::kEmptyList);
  fixture.SetDateHeader("Sun, 19 Jul 2020 20:00:00 GMT");
  auto window = MakeWindow();
  ASSERT_TRUE(WaitUntil([&] { return window->retryButton->isVisible(); }, 30s));
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), "初始化失败，请重试...");
  EXPECT_EQ(window->episodeList->RowCount(), 0);
}

}  // namespace
}  // namespace newsbar::test
