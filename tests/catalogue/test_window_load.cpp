// The real player window, offscreen, loading its list from the loopback fixture: the
// list it shows, the hand-over, and the failure and retry path.
#include <gtest/gtest.h>

#include <set>

#include <QScrollBar>
#include <algorithm>
#include <atomic>

#include "app/mpris.h"
#include "app/player_state.h"
#include "app/player_window.h"
#include "catalogue/catalogue_worker.h"
#include "support/catalogue_fixture.h"
#include "support/log_capture.h"
#include "support/wait_until.h"
#include "util/charset.h"

namespace newsbar::test {
namespace {

// A load's requests, "server method pid": the three are under way together, so they may
// arrive in any order.
const std::multiset<std::string> kLoadRequests = {"http POST 367750", "time HEAD",
                                                  "https POST 456498"};
std::multiset<std::string> FirstThree(const std::vector<RecordedRequest>& requests) {
  std::multiset<std::string> first;
  for (std::size_t k = 0; k < 3 && k < requests.size(); ++k) {
    const auto pid = requests[k].query.find("pid");
    first.insert(requests[k].server + " " + requests[k].method +
                 (pid == requests[k].query.end() ? "" : " " + pid->second));
  }
  return first;
}

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

  // What reached the servers: the two catalogue requests and the time query (under way
  // together, so in any order of arrival), then the first episode's cover.
  const auto requests = fixture.Requests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(FirstThree(requests), kLoadRequests);
}

// A head start told that this launch is about to end sends nothing; should the window
// run its worker all the same, the worker sends the requests itself.
TEST_F(WindowLoad, AHeadStartThatMayNotStartLeavesTheRequestsToTheWorker) {
  std::atomic<bool> asked = false;
  CatalogueHeadStart headStart(fixture.Endpoints(), [&asked] {
    asked = true;
    return false;
  });
  ASSERT_TRUE(WaitUntil([&] { return asked.load(); }));
  EXPECT_FALSE(WaitUntil([&] { return !fixture.Requests().empty(); }, 200ms));
  PlayerWindow window(headStart.Worker());
  window.CreateAndShow();
  ASSERT_TRUE(WaitUntil([&] { return ControlsEnabled(window); }, 30s));
  EXPECT_EQ(window.episodeList->RowCount(), 8);
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
  EXPECT_EQ(FirstThree(requests), kLoadRequests);
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

// --- Keeping the list current ------------------------------------------------------------

namespace newsbar::test {
namespace {

void HandleEventsFor(std::chrono::milliseconds time) {
  WaitUntil([] { return false; }, time);
}

// The real window on the loopback catalogue with KeepListCurrent, on short timings: the
// schedule looked at every 50 ms, the retry backoff from 300 ms.
class WindowRefresh : public ::testing::Test {
 protected:
  explicit WindowRefresh(int clipMilliseconds = 30000)
      : fixture({.clipMilliseconds = clipMilliseconds}) {}

  std::unique_ptr<PlayerWindow> MakeWindow(Endpoints endpoints) {
    auto window = std::make_unique<PlayerWindow>(
        [endpoints](const WorkerTargets& targets) { CatalogueWorker(endpoints, targets); });
    window->KeepListCurrent(
        endpoints, {.check = 50ms, .firstRetry = 300ms, .longestRetry = 1s, .wallClock = [this] {
                      return WallNow();
                    }});
    QObject::connect(window.get(), &PlayerWindow::refreshed, [this](bool listed) {
      ++refreshes;
      lastListed = listed;
    });
    QObject::connect(window.get(), &PlayerWindow::playbackChanged, [this] { ++playbackChanges; });
    window->CreateAndShow();
    return window;
  }

  std::chrono::system_clock::time_point WallNow() const {
    return std::chrono::system_clock::now() + wallAhead;
  }

  // Every cell of every row, in UTF-8.
  static std::vector<std::vector<std::string>> Cells(PlayerWindow& window) {
    std::vector<std::vector<std::string>> cells;
    for (int row = 0; row < window.episodeList->RowCount(); ++row) {
      cells.emplace_back();
      for (int column = 0; column < 5; ++column)
        cells.back().push_back(Utf8(window.episodeList->CellText(row, column)));
    }
    return cells;
  }

  // Waits for the next refresh's result; whether it listed episodes.
  bool NextRefresh(PlayerWindow& window, bool now = true) {
    const int before = refreshes;
    if (now) window.RefreshNow();
    EXPECT_TRUE(WaitUntil([&] { return refreshes > before; }, 30s));
    return lastListed;
  }

  static bool Loaded(PlayerWindow& window) {
    return window.playPauseButton->isEnabled() && !window.StartUnderWay() &&
           window.Media().State() == 1;
  }

  CatalogueFixture fixture;
  std::chrono::system_clock::duration wallAhead{};
  int refreshes = 0;
  bool lastListed = false;
  int playbackChanges = 0;
};

// Left open over 05:00 at UTC+8: today's morning edition comes on top by the network's
// clock carried forward, while an older row plays on. Nothing the person sees or holds
// moves: the playing row, its sound and its place on the media bus, the selection and the
// rows in view.
TEST_F(WindowRefresh, FiveOClockBringsTodaysEditionOnTopWhileAnOlderRowPlaysOn) {
  // 04:59:50 on the 21st at UTC+8, running on.
  const auto set = std::chrono::system_clock::now();
  const auto fourFiftyNine =
      std::chrono::sys_days(std::chrono::year(2020) / 7 / 20) + 20h + 59min + 50s;
  fixture.SetClock(
      [set, fourFiftyNine] { return fourFiftyNine + (std::chrono::system_clock::now() - set); });
  fixture.SetDateFromClock();
  const auto morning = fixture.MakeEpisodes(FixtureProgramme::kMorning, 2020, 7, 21, 8);
  const auto evening = fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, 7, 20, 8);
  fixture.SetEpisodes(FixtureProgramme::kMorning, morning);
  fixture.SetEpisodes(FixtureProgramme::kEvening, evening);

  auto window = MakeWindow(fixture.Endpoints());
  Mpris bus(*window, QDBusConnection(QStringLiteral("no bus")));
  ASSERT_TRUE(WaitUntil([&] { return Loaded(*window); }, 30s));
  // The 21st's morning edition is not due yet: the 20th's evening one leads and plays.
  ListView& list = *window->episodeList;
  ASSERT_EQ(list.RowCount(), 15);
  ASSERT_EQ(Utf8(list.CellText(0, 0)), evening[0].title);
  ASSERT_EQ(refreshes, 0);
  const QVariantMap metadata = bus.Metadata();

  // The list folded out and scrolled down a little, a row selected.
  window->listButton->click();
  HandleEventsFor(100ms);
  list.setCurrentItem(list.topLevelItem(12));
  list.verticalScrollBar()->setValue(1);
  HandleEventsFor(100ms);
  ASSERT_EQ(list.verticalScrollBar()->value(), 1);
  QTreeWidgetItem* shown = list.itemAt(QPoint(0, 0));
  ASSERT_NE(shown, nullptr);
  const int shownRow = list.indexOfTopLevelItem(shown);
  const int changes = playbackChanges;
  int position = window->Media().Position();

  ASSERT_TRUE(WaitUntil(
      [&] {
        position = std::max(position, window->Media().Position());
        return refreshes > 0;
      },
      20s));
  EXPECT_TRUE(lastListed);
  ASSERT_EQ(list.RowCount(), 16);
  EXPECT_EQ(Utf8(list.CellText(0, 0)), morning[0].title);
  EXPECT_EQ(Utf8(list.CellText(1, 0)), evening[0].title);
  EXPECT_EQ(Utf8(list.CellText(0, 3)), "10分00秒");
  EXPECT_EQ(window->RowsAddedByRefresh(), 1);
  // The same episode plays on from where it was; it is row 1 now.
  EXPECT_EQ(CurrentRow.load(), 1);
  EXPECT_EQ(LastRow.load(), 15);
  EXPECT_EQ(Utf8(list.CellText(1, 3)), "正在播放...");
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), evening[0].title);
  EXPECT_EQ(window->Media().State(), 1);
  EXPECT_EQ(playbackChanges, changes);
  HandleEventsFor(1200ms);
  EXPECT_GE(window->Media().Position(), position + 500);
  EXPECT_EQ(bus.Metadata(), metadata);
  // The selection and the rows in view stay with their episodes.
  EXPECT_EQ(list.SelectedRow(), 13);
  EXPECT_EQ(list.itemAt(QPoint(0, 0)), shown);
  EXPECT_EQ(list.indexOfTopLevelItem(shown), shownRow + 1);
  // The next episode in order is still the one below.
  window->nextButton->click();
  EXPECT_EQ(CurrentRow.load(), 2);
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), morning[1].title);
}

// A refresh that finds nothing new changes nothing, one that fails changes nothing and
// logs one warning, and a refresh that fell due while the machine slept (the wall clock
// jumped) runs at once, with the start-up's requests.
TEST_F(WindowRefresh, NothingNewOrAFailedRefreshChangesNothing) {
  fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");
  fixture.SetEpisodes(FixtureProgramme::kMorning,
                      fixture.MakeEpisodes(FixtureProgramme::kMorning, 2020, 7, 20, 4));
  fixture.SetEpisodes(FixtureProgramme::kEvening,
                      fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, 7, 19, 4));
  auto window = MakeWindow(fixture.Endpoints());
  ASSERT_TRUE(WaitUntil([&] { return Loaded(*window); }, 30s));
  const auto cells = Cells(*window);
  const std::string title = Utf8(window->statusLabel->Caption());
  ASSERT_EQ(cells.size(), 8u);

  // Half an hour later by the wall clock (a suspend the timers did not see).
  fixture.ClearRequests();
  HandleEventsFor(300ms);
  EXPECT_EQ(refreshes, 0);
  wallAhead = 31min;
  EXPECT_TRUE(NextRefresh(*window, false));
  EXPECT_EQ(Cells(*window), cells);
  EXPECT_EQ(CurrentRow.load(), 0);
  EXPECT_EQ(LastRow.load(), 7);
  const auto requests = fixture.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(FirstThree(requests), kLoadRequests);
  // The next one is half an hour on.
  HandleEventsFor(300ms);
  EXPECT_EQ(refreshes, 1);

  for (const FixtureFailure failure : {FixtureFailure::kRefuse, FixtureFailure::kNotJson}) {
    fixture.SetFailure(FixtureProgramme::kMorning, failure);
    fixture.SetFailure(FixtureProgramme::kEvening, FixtureFailure::kServerError);
    LogCapture log;
    EXPECT_FALSE(NextRefresh(*window));
    EXPECT_EQ(Cells(*window), cells);
    EXPECT_EQ(Utf8(window->statusLabel->Caption()), title);
    EXPECT_TRUE(window->retryButton->isHidden());
    EXPECT_EQ(window->Media().State(), 1);
    EXPECT_EQ(log.Warnings("newsbar.catalogue").size(), 1u);
  }
  fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kNone);
  fixture.SetFailure(FixtureProgramme::kEvening, FixtureFailure::kNone);
  EXPECT_TRUE(NextRefresh(*window));
  EXPECT_EQ(Cells(*window), cells);
  EXPECT_EQ(window->RowsAddedByRefresh(), 0);
}

class WindowRefreshShortClips : public WindowRefresh {
 protected:
  WindowRefreshShortClips() : WindowRefresh(2500) {}
};

// The last row plays in order while new rows come on top: it still ends the list, and
// playback stops at its end as before. New rows after that only appear.
TEST_F(WindowRefreshShortClips, TheListGrowsWhileTheLastRowPlaysInOrder) {
  fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");
  auto morning = fixture.MakeEpisodes(FixtureProgramme::kMorning, 2020, 7, 20, 2);
  fixture.SetEpisodes(FixtureProgramme::kMorning, morning);
  auto window = MakeWindow(fixture.Endpoints());
  ASSERT_TRUE(WaitUntil([&] { return Loaded(*window); }, 30s));
  ASSERT_EQ(window->episodeList->RowCount(), 2);
  window->nextButton->click();
  ASSERT_TRUE(WaitUntil([&] { return Loaded(*window); }, 30s));
  ASSERT_EQ(CurrentRow.load(), 1);
  const Text playing = window->episodeList->CellText(1, 1);

  // The evening edition of the 20th is out.
  auto evening = fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, 7, 20, 1);
  fixture.SetEpisodes(FixtureProgramme::kEvening, evening);
  EXPECT_TRUE(NextRefresh(*window));
  ASSERT_EQ(window->episodeList->RowCount(), 3);
  EXPECT_EQ(Utf8(window->episodeList->CellText(0, 0)), evening[0].title);
  EXPECT_EQ(CurrentRow.load(), 2);
  EXPECT_EQ(LastRow.load(), 2);
  EXPECT_EQ(window->episodeList->CellText(2, 1), playing);

  // Its end is the list's end: nothing else starts.
  ASSERT_TRUE(WaitUntil([&] { return window->Media().State() == 0; }, 15s));
  HandleEventsFor(1500ms);
  EXPECT_EQ(window->Media().State(), 0);
  EXPECT_EQ(CurrentRow.load(), 2);
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), morning[1].title);

  // Stopped at the end, the next edition only appears.
  morning.insert(morning.begin(), FixtureEpisode{.title = "7月21日小涟早报：又一期",
                                                 .audioUrl = fixture.MediaUrl("morning-7.wav"),
                                                 .coverUrl = fixture.MediaUrl("morning.png"),
                                                 .durationJson = "60"});
  fixture.SetEpisodes(FixtureProgramme::kMorning, morning);
  fixture.SetDateHeader("Mon, 20 Jul 2020 22:00:00 GMT");
  fixture.ClearRequests();
  EXPECT_TRUE(NextRefresh(*window));
  ASSERT_EQ(window->episodeList->RowCount(), 4);
  EXPECT_EQ(CurrentRow.load(), 3);
  EXPECT_EQ(LastRow.load(), 3);
  HandleEventsFor(1500ms);
  EXPECT_EQ(window->Media().State(), 0);
  for (const RecordedRequest& request : fixture.Requests()) EXPECT_NE(request.server, "media");
}

// An offline start: the catalogue refused, then served. The retry flow runs by itself,
// one attempt at a time (never two at once, also when asked while one is under way), and
// the list loads within the backoff.
TEST_F(WindowRefreshShortClips, AnOfflineStartRecoversByItself) {
  fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");
  fixture.SetEpisodes(FixtureProgramme::kMorning,
                      fixture.MakeEpisodes(FixtureProgramme::kMorning, 2020, 7, 20, 2));
  fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kRefuse);
  fixture.SetFailure(FixtureProgramme::kEvening, FixtureFailure::kRefuse);
  Endpoints endpoints = fixture.Endpoints();
  endpoints.requestLimit = 700ms;
  auto window = MakeWindow(endpoints);
  ASSERT_TRUE(WaitUntil([&] { return !window->retryButton->isHidden(); }, 30s));
  // Tries by itself: at least two attempts more within 0.3 + 0.6 s and their requests.
  ASSERT_TRUE(WaitUntil(
      [&] {
        int times = 0;
        for (const RecordedRequest& request : fixture.Requests()) times += request.server == "time";
        return times >= 3;
      },
      10s));
  EXPECT_EQ(window->episodeList->RowCount(), 0);

  // Slow answers: asked again and again, also while an attempt is under way (the retry's
  // flow handles events while it waits), nothing else starts.
  fixture.ClearRequests();
  fixture.SetFaults({.stallCatalogue = true});
  fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kNone);
  fixture.SetFailure(FixtureProgramme::kEvening, FixtureFailure::kNone);
  int askedDuringAnAttempt = 0;
  QTimer asking;
  // Only during an attempt: one started from this timer's own slot would hold it.
  QObject::connect(&asking, &QTimer::timeout, [&] {
    if (!window->retryButton->isHidden()) return;
    ++askedDuringAnAttempt;
    window->RefreshNow();
  });
  asking.start(50);
  HandleEventsFor(2500ms);
  asking.stop();
  EXPECT_GT(askedDuringAnAttempt, 0);
  fixture.SetFaults({});
  ASSERT_TRUE(WaitUntil([&] { return Loaded(*window); }, 15s));
  EXPECT_EQ(window->episodeList->RowCount(), 2);
  EXPECT_TRUE(window->retryButton->isHidden());
  // Each attempt asked the start-up's three (together, so in any order of arrival), none
  // overlapping the one before.
  std::string order;
  for (const RecordedRequest& request : fixture.Requests()) {
    if (request.server == "http") order += "M";
    if (request.server == "https") order += "E";
    if (request.server == "time") order += "T";
  }
  EXPECT_EQ(order.size() % 3, 0u) << order;
  for (std::size_t at = 0; at < order.size(); at += 3) {
    std::string attempt = order.substr(at, 3);
    std::sort(attempt.begin(), attempt.end());
    EXPECT_EQ(attempt, "EMT") << order;
  }
  EXPECT_EQ(refreshes, 0);
}

}  // namespace
}  // namespace newsbar::test
