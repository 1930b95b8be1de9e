// The morning catalogue served by a faulty server, the evening one and the time healthy:
// whatever the fault, the load ends within the request limit, the window keeps handling
// events meanwhile, and the evening programme is listed alone, complete and in order.
// With both programmes faulty the window shows the failure, and a retry against a
// healthy server then lists everything. The fault cases run with a short request limit;
// ShippedLimits waits out the player's own 15 s once.
#include <gtest/gtest.h>

#include <QTest>

#include "hardening_harness.h"
#include "support/fault_server.h"

namespace newsbar::test {
namespace {

// The faulty request gives up at its limit; the rest of the load (time, evening page,
// list) takes well under a second on loopback, with room for a busy machine and
// sanitizer builds.
constexpr auto kLoadBound = kShortLimits.request + 10s;
// Longest the window may go without handling events while the worker loads.
constexpr auto kResponsive = 2s;

class MorningCatalogueFault : public testing::TestWithParam<Fault> {};

TEST_P(MorningCatalogueFault, EveningListedAloneWithinTheBound) {
  CatalogueFixture fixture;
  FillFixture(fixture, 3);
  const auto morning = fixture.MakeEpisodes(FixtureProgramme::kMorning, 2020, 7, 20, 3);
  const auto evening = fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, 7, 20, 3);
  // The server goes first when the test ends, so a worker still held by it is let go.
  WindowRun run(fixture.Endpoints());
  FaultServer server(GetParam(), CatalogueFixture::PageJson(morning));
  run.SetEndpoints(WithMorningAt(fixture, server.Port()));
  run.Start();
  ASSERT_TRUE(run.WaitForVerdict(kLoadBound + 5s)) << run.StatusText();
  EXPECT_LE(run.TimeToVerdict(), kLoadBound);
  EXPECT_LE(run.FreezeBeforeVerdict(), kResponsive);

  if (GetParam() != Fault::kRefuse) {
    EXPECT_GE(server.ConnectionCount(), 1u);
  }
  ASSERT_TRUE(run.ShowsPlaying()) << run.StatusText();
  EXPECT_EQ(ListedTitles(run.Rows()), Titles(evening));
  // Every listed row is a whole evening episode: its links and its duration text.
  const auto rows = run.Rows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][1], evening[i].audioUrl);
    EXPECT_EQ(rows[i][2], evening[i].coverUrl);
    EXPECT_FALSE(rows[i][4].empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, MorningCatalogueFault,
                         testing::Values(Fault::kRefuse, Fault::kSilent, Fault::kHeadersThenStall,
                                         Fault::kEndlessBody, Fault::kEarlyClose, Fault::kNotFound,
                                         Fault::kServerError, Fault::kHtml, Fault::kTruncated,
                                         Fault::kDrip, Fault::kDripBody, Fault::kRedirectLoop),
                         [](const testing::TestParamInfo<Fault>& info) {
                           return std::string(FaultName(info.param));
                         });

// A redirect loop is followed only so far: the server sees a bounded number of hops.
TEST(CatalogueRedirectLoop, GivesUpAfterFewHops) {
  CatalogueFixture fixture;
  FillFixture(fixture, 2);
  WindowRun run(fixture.Endpoints());
  FaultServer server(Fault::kRedirectLoop);
  run.SetEndpoints(WithMorningAt(fixture, server.Port()));
  run.Start();
  ASSERT_TRUE(run.WaitForVerdict(kLoadBound));
  EXPECT_GE(server.RequestCount(), 2u);
  EXPECT_LE(server.RequestCount(), 31u);
}

// Both programmes unreachable: the failure is shown; the servers come back and a retry
// lists both programmes, nothing twice.
TEST(BothCataloguesFaulty, FailureThenRetryListsEverything) {
  CatalogueFixture fixture;
  FillFixture(fixture, 2);
  WindowRun run(fixture.Endpoints());
  FaultServer morning(Fault::kHtml);
  FaultServer evening(Fault::kRefuse);
  Endpoints broken = WithMorningAt(fixture, morning.Port());
  broken.httpsPort = evening.Port();
  run.SetEndpoints(broken);
  run.Start();
  ASSERT_TRUE(run.WaitForVerdict(kLoadBound));
  EXPECT_TRUE(run.ShowsFailure()) << run.StatusText();
  EXPECT_TRUE(run.Rows().empty());
  EXPECT_FALSE(run.window().playPauseButton->isEnabled());

  run.SetEndpoints(fixture.Endpoints());
  QTest::mouseClick(run.window().retryButton, Qt::LeftButton);
  ASSERT_TRUE(run.WaitForVerdict(kLoadBound));
  ASSERT_TRUE(run.ShowsPlaying()) << run.StatusText();
  EXPECT_EQ(run.Rows().size(), 4u);
  EXPECT_TRUE(run.window().retryButton->isHidden());
}

// The https side pointed at a server that speaks plain HTTP (or nothing): the handshake
// fails and the morning programme is listed alone.
TEST(EveningCatalogueFault, PlainServerBehindHttpsGivesTheMorningAlone) {
  CatalogueFixture fixture;
  FillFixture(fixture, 2);
  const auto morning = fixture.MakeEpisodes(FixtureProgramme::kMorning, 2020, 7, 20, 2);
  WindowRun run(fixture.Endpoints());
  FaultServer plain(Fault::kNone, CatalogueFixture::PageJson(morning));
  Endpoints endpoints = fixture.Endpoints();
  endpoints.httpsPort = plain.Port();
  run.SetEndpoints(endpoints);
  run.Start();
  ASSERT_TRUE(run.WaitForVerdict(kLoadBound));
  ASSERT_TRUE(run.ShowsPlaying()) << run.StatusText();
  EXPECT_EQ(ListedTitles(run.Rows()), Titles(morning));
}

// The shipped limit, end to end: a morning server that never answers is given up after
// 15 s, not before, and the evening programme is listed.
TEST(ShippedLimits, SilentCatalogueIsGivenUpAfterFifteenSeconds) {
  CatalogueFixture fixture;
  FillFixture(fixture, 2);
  WindowRun run(fixture.Endpoints(), kShippedLimits);
  FaultServer server(Fault::kSilent);
  run.SetEndpoints(WithMorningAt(fixture, server.Port()));
  run.Start();
  ASSERT_TRUE(run.WaitForVerdict(kRequestLimit + 15s)) << run.StatusText();
  EXPECT_GE(run.TimeToVerdict(), kRequestLimit);
  EXPECT_LE(run.TimeToVerdict(), kRequestLimit + 10s);
  EXPECT_LE(run.FreezeBeforeVerdict(), kResponsive);
  EXPECT_TRUE(run.ShowsPlaying()) << run.StatusText();
  EXPECT_EQ(run.Rows().size(), 2u);
}

}  // namespace
}  // namespace newsbar::test
