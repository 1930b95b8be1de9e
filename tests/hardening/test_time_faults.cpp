// A time server whose Date header is missing, unreadable or never comes. The network
// time then falls back to nothing but 1 January of the year 100 at 08:00, every episode
// of the catalogue lies in the future, and the window shows the failure; a retry once
// the header is right lists the episodes.
#include <gtest/gtest.h>

#include <QTest>

#include "catalogue/catalogue_worker.h"
#include "catalogue/date_time.h"
#include "catalogue/network_time.h"
#include "hardening_harness.h"
#include "support/fault_server.h"

namespace newsbar::test {
namespace {

constexpr auto kLoadBound = 25s;

// What GetNetworkTime gives when it learns nothing.
void ExpectNoTime(const CalendarTime& time) {
  EXPECT_EQ(time.year, 100);
  EXPECT_EQ(time.month, 1);
  EXPECT_EQ(time.day, 1);
  EXPECT_EQ(time.hour, 8);
  EXPECT_EQ(time.minute, 0);
}

TEST(TimeHeader, UnreadableDatesGiveTheYear100) {
  CatalogueFixture fixture;
  const std::optional<std::string> values[] = {
      std::nullopt,
      "",
      "yesterday",
      "Mon, 32 Jul 2020 12:00:00 GMT",
      "Mon, 20 Jul 2020 24:00:00 GMT",
      "Mon, 20 Foo 2020 12:00:00 GMT",
      "2020-07-20T12:00:00Z",
      "Mon, 20 Jul 2020 12:00 GMT",
      "Mon, 20 Jul 99999 12:00:00 GMT",
      std::string(100000, '9'),
      "\xC3\xA9\xE6\x97\xA5 20 Jul 2020",
  };
  for (const auto& value : values) {
    SCOPED_TRACE(value ? value->substr(0, 40) : "no Date header");
    fixture.SetDateHeader(value);
    ExpectNoTime(FromDateTime(GetNetworkTime(fixture.Endpoints().timeUrl)));
  }
}

// The last hours of the calendar: eight hours later there is no date at all, which
// reads as all fields 0 (and lists nothing rather than failing oddly).
TEST(TimeHeader, EndOfTheCalendarReadsAsNoDate) {
  CatalogueFixture fixture;
  fixture.SetDateHeader("Fri, 31 Dec 9999 20:00:00 GMT");
  const CalendarTime time = FromDateTime(GetNetworkTime(fixture.Endpoints().timeUrl));
  EXPECT_EQ(time.year, 0);
  EXPECT_EQ(time.month, 0);
}

// A time host that never answers fails the load at its bound, though both catalogues
// answered long before: without the network's date nothing is due.
TEST(TimeHeader, ASilentTimeHostFailsTheLoadAtItsBoundThoughBothCataloguesAnswered) {
  CatalogueFixture fixture;
  FillFixture(fixture, 2);
  fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");
  FaultServer silent(Fault::kSilent);
  Endpoints endpoints = fixture.Endpoints();
  endpoints.timeUrl = silent.Url("/");
  endpoints.requestLimit = 2s;
  CatalogueReplies replies;
  const auto start = std::chrono::steady_clock::now();
  const LoadedCatalogue loaded =
      LoadCatalogue(endpoints.scriptLimit, [&] { return replies = FetchCatalogues(endpoints); });
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(replies.morningStatus, 200);
  EXPECT_EQ(replies.eveningStatus, 200);
  EXPECT_FALSE(replies.morning.empty());
  ExpectNoTime(replies.time);
  EXPECT_TRUE(loaded.rows.empty());
  EXPECT_GE(took, 2s - 100ms);
  EXPECT_LT(took, 2s + 3s);
}

struct TimeFault {
  const char* name;
  std::optional<std::string> date;  // the fixture's Date header
  bool silentServer = false;        // a time server that never answers instead
};

void PrintTo(const TimeFault& fault, std::ostream* out) {
  *out << fault.name;
}

class WindowTimeFault : public testing::TestWithParam<TimeFault> {};

TEST_P(WindowTimeFault, FailureShownThenRetryLists) {
  CatalogueFixture fixture;
  FillFixture(fixture, 2);
  fixture.SetDateHeader(GetParam().date);
  WindowRun run(fixture.Endpoints());
  FaultServer silent(Fault::kSilent);
  if (GetParam().silentServer) {
    Endpoints endpoints = fixture.Endpoints();
    endpoints.timeUrl = silent.Url("/");
    run.SetEndpoints(endpoints);
  }

  run.Start();
  ASSERT_TRUE(run.WaitForVerdict(kLoadBound)) << run.StatusText();
  EXPECT_LE(run.FreezeBeforeVerdict(), 2s);
  EXPECT_TRUE(run.ShowsFailure()) << run.StatusText();
  EXPECT_TRUE(run.Rows().empty());

  fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");
  run.SetEndpoints(fixture.Endpoints());
  QTest::mouseClick(run.window().retryButton, Qt::LeftButton);
  ASSERT_TRUE(run.WaitForVerdict(kLoadBound));
  EXPECT_TRUE(run.ShowsPlaying()) << run.StatusText();
  EXPECT_EQ(run.Rows().size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WindowTimeFault,
    testing::Values(TimeFault{"MissingDate", std::nullopt}, TimeFault{"GarbageDate", "not a date"},
                    TimeFault{"EndOfCalendar", "Fri, 31 Dec 9999 20:00:00 GMT"},
                    TimeFault{"SilentServer", std::nullopt, true}),
    [](const testing::TestParamInfo<TimeFault>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace newsbar::test
