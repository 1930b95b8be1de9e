// The runner's parts that a wrong figure would come from: what /proc is read as, the
// child processes, and the server's clock on the first audio request.
#include <gtest/gtest.h>

#include <httplib.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <csignal>
#include <thread>
#include <vector>

#include "bench_server.h"
#include "figures.h"
#include "process.h"

namespace newsbar::bench {
namespace {

using namespace std::chrono_literals;

TEST(ProcFiles, MemoryUseIsReadFromItsOwnLinesOnly) {
  const std::string status =
      "Name:\tmpv\nVmPeak:\t  900000 kB\nVmHWM:\t   61440 kB\nVmRSSx:\t 1 kB\n"
      "VmRSS:\t   51200 kB\nRssAnon:\t 20000 kB\n";
  const std::optional<MemoryUse> use = ParseMemoryUse(status);
  ASSERT_TRUE(use);
  EXPECT_EQ(use->rssKb, 51200);
  EXPECT_EQ(use->hwmKb, 61440);
  EXPECT_EQ(use->anonKb, 20000);
  EXPECT_EQ(ParseMemoryUse("VmHWM:\t 9 kB\nVmRSS:\t 8 kB\n")->anonKb, -1);  // an older kernel

  EXPECT_FALSE(ParseMemoryUse("VmRSS:\t 100 kB\n"));             // no peak
  EXPECT_FALSE(ParseMemoryUse("VmRSS:\t 100 kB\nVmHWM:\t 12"));  // no unit, cut short
  EXPECT_FALSE(ParseMemoryUse("VmRSS:\t -5 kB\nVmHWM:\t 9 kB\n"));
  EXPECT_FALSE(ParseMemoryUse(""));
}

TEST(ProcFiles, CpuTicksSkipAnAwkwardCommandName) {
  // utime 250 and stime 50 (fields 14 and 15); the name holds spaces and parentheses.
  const std::string stat =
      "4242 (a) b (c) R 1 4242 4242 0 -1 4194304 900 0 0 0 250 50 0 0 20 0 7 0 100 "
      "800000000 12000 18446744073709551615\n";
  EXPECT_EQ(ParseCpuTicks(stat), 300);
  EXPECT_FALSE(ParseCpuTicks("4242 (short) R 1 2 3\n"));
  EXPECT_FALSE(ParseCpuTicks("no parenthesis at all"));
  EXPECT_FALSE(ParseCpuTicks("1 (x) R 1 1 1 0 -1 0 0 0 0 0 ab 50 0 0\n"));
}

TEST(ProcFiles, ResidentMemoryIsSortedByMapping) {
  const std::string smaps =
      "55d0c0000000-55d0c0100000 r-xp 00000000 08:01 1234     /usr/bin/mpv\n"
      "Size:               1024 kB\n"
      "Rss:                 300 kB\n"
      "7f00-7f10 r--p 00000000 08:01 77   /usr/lib/x86_64-linux-gnu/libQt6Gui.so.6.4.2\n"
      "Rss:                5000 kB\n"
      "Pss:                5000 kB\n"
      "7f10-7f20 r--p 00000000 08:01 78   /usr/share/fonts/truetype/wqy/wqy-microhei.ttc\n"
      "Rss:                3000 kB\n"
      "7f20-7f30 rw-p 00000000 00:00 0 \n"
      "Rss:                 700 kB\n"
      "7f30-7f40 rw-p 00000000 00:00 0                          [heap]\n"
      "Rss:                  20 kB\n"
      "7f40-7f50 rw-s 00000000 00:01 9    /memfd:engine (deleted)\n"
      "Rss:                   8 kB\n"
      "7f50-7f60 r--p 00000000 08:01 79   /usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/"
      "libqoffscreen.so\n"
      "Rss:                  40 kB\n"
      "VmFlags: rd mr mw me sd\n";
  const ResidentBreakdown breakdown = ParseResidentBreakdown(smaps);
  EXPECT_EQ(breakdown.ownKb, 728);
  EXPECT_EQ(breakdown.toolkitKb, 5040);
  EXPECT_EQ(breakdown.fontsKb, 3000);
  EXPECT_EQ(breakdown.librariesKb, 300);

  // The same sum as the kernel's own total for a live process. The process keeps
  // running (reading the files alone maps memory, a lot more under a sanitizer), so the
  // sum must lie between the kernel's totals taken just before and just after it.
  const auto rolledUp = [] {
    const std::optional<std::string> rollup = ReadWholeFile("/proc/self/smaps_rollup");
    const std::size_t rss = rollup ? rollup->find("\nRss:") : std::string::npos;
    return rss == std::string::npos ? -1L : std::stol(rollup->substr(rss + 5));
  };
  const long before = rolledUp();
  const std::optional<ResidentBreakdown> own = ReadResidentBreakdown(getpid());
  const long after = rolledUp();
  ASSERT_TRUE(own);
  ASSERT_GT(before, 0);
  ASSERT_GT(after, 0);
  const long summed = own->ownKb + own->toolkitKb + own->fontsKb + own->librariesKb;
  EXPECT_GE(summed, std::min(before, after) - 512);
  EXPECT_LE(summed, std::max(before, after) + 512);
}

TEST(ProcFiles, OwnProcessReadsSensibly) {
  const std::optional<MemoryUse> use = ReadMemoryUse(getpid());
  ASSERT_TRUE(use);
  EXPECT_GT(use->rssKb, 0);
  EXPECT_GE(use->hwmKb, use->rssKb);
  // The proportional share and the private pages lie within what is resident.
  EXPECT_GT(use->privateDirtyKb, 0);
  EXPECT_GE(use->privateKb, use->privateDirtyKb);
  EXPECT_GE(use->pssKb, use->privateKb);
  EXPECT_LE(use->pssKb, use->rssKb + 512);

  const std::optional<double> before = ReadCpuSeconds(getpid());
  ASSERT_TRUE(before);
  // Spin until the clock-tick counter moves; it must, or CPU figures would stay flat.
  volatile unsigned sink = 0;
  std::optional<double> after = before;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (after && *after <= *before && std::chrono::steady_clock::now() < deadline) {
    for (unsigned i = 0; i < 1000000; ++i) sink = sink + i;
    after = ReadCpuSeconds(getpid());
  }
  ASSERT_TRUE(after);
  EXPECT_GT(*after, *before);
  EXPECT_FALSE(ReadMemoryUse(-1));
}

TEST(Figures, MedianOfOddEvenAndNone) {
  EXPECT_DOUBLE_EQ(Median({5, 1, 3}), 3);
  EXPECT_DOUBLE_EQ(Median({4, 1, 3, 2}), 2.5);
  EXPECT_DOUBLE_EQ(Median({7}), 7);
  EXPECT_DOUBLE_EQ(Median({}), 0);
}

TEST(ChildProcesses, ExitCodeEnvironmentAndEnding) {
  EXPECT_EQ(RunToEnd({"sh", "-c", "exit 3"}), 3);
  EXPECT_EQ(RunToEnd({"true"}), 0);
  EXPECT_FALSE(RunToEnd({"/nonexistent/newsbar-bench-no-such-program"}));

  ChildProcess withVariable =
      ChildProcess::Spawn({"sh", "-c", "test \"$BENCH_PROBE\" = here"}, {"BENCH_PROBE=here"});
  EXPECT_EQ(withVariable.Wait(10s), 0);

  // A process that would outlive the run is ended and reaped, promptly.
  ChildProcess sleeper = ChildProcess::Spawn({"sleep", "600"});
  ASSERT_TRUE(sleeper.Started());
  EXPECT_TRUE(sleeper.Running());
  EXPECT_FALSE(sleeper.Wait(50ms));  // still running: the bound holds
  const auto start = std::chrono::steady_clock::now();
  sleeper.End();
  EXPECT_FALSE(sleeper.Running());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

  // One that ignores SIGTERM (inherited from the start, so there is no race with a trap)
  // is killed after the grace period.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGTERM, &ignore, &previous), 0);
  ChildProcess stubborn = ChildProcess::Spawn({"sleep", "600"});
  sigaction(SIGTERM, &previous, nullptr);
  ASSERT_TRUE(stubborn.Started());
  stubborn.End();
  EXPECT_FALSE(stubborn.Running());
  EXPECT_FALSE(stubborn.Wait(0ms));  // killed, not exited
}

std::optional<Options> Parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "newsbar-bench");
  Options defaults;
  defaults.player = "/default/player";
  return ParseOptions(static_cast<int>(arguments.size()), arguments.data(), defaults);
}

TEST(RunnerOptions, KnownOptionsOverTheDefaultsAndNothingElse) {
  const std::optional<Options> plain = Parse({});
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->runs, 5);
  EXPECT_EQ(plain->player, "/default/player");
  EXPECT_TRUE(plain->launch && plain->play && plain->load && plain->lateness && plain->outage &&
              plain->episodes);

  const std::optional<Options> chosen =
      Parse({"--runs=9", "--only=load,launch", "--player=/p", "--mpv=/m"});
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->runs, 9);
  EXPECT_TRUE(chosen->launch && chosen->load);
  EXPECT_FALSE(chosen->play || chosen->lateness || chosen->outage || chosen->episodes);
  const std::optional<Options> lateness = Parse({"--only=lateness,outage,episodes"});
  ASSERT_TRUE(lateness);
  EXPECT_TRUE(lateness->lateness && lateness->outage && lateness->episodes);
  EXPECT_FALSE(lateness->launch || lateness->play || lateness->load);
  EXPECT_EQ(chosen->player, "/p");
  EXPECT_EQ(chosen->mpv, "/m");
  EXPECT_TRUE(chosen->latencies.empty());
  const std::optional<Options> far = Parse({"--latency=0,50,100,200"});
  ASSERT_TRUE(far);
  EXPECT_EQ(far->latencies, (std::vector<int>{0, 50, 100, 200}));

  // A smoke run is one short run, whatever else was asked.
  const std::optional<Options> smoke = Parse({"--runs=7", "--smoke"});
  ASSERT_TRUE(smoke);
  EXPECT_EQ(smoke->runs, 1);
  EXPECT_EQ(smoke->memoryAfter, 1s);
  EXPECT_EQ(smoke->cpuOver, 2s);

  for (const char* wrong : {"--runs=0", "--runs=101", "--runs=5x", "--runs=", "--runs", "--only=",
                            "--only=load,", "--only=loads", "--latency=", "--latency=50,",
                            "--latency=-1", "--latency=1e2", "--frobnicate", "-x"}) {
    EXPECT_FALSE(Parse({wrong})) << wrong;
  }
}

TEST(LoadFigures, MediansOfRepetitionsFirstRunOtherwise) {
  // Shaped as newsbar-bench-load writes it with --benchmark_out_format=json.
  const std::string repeated = R"({"context": {}, "benchmarks": [
    {"run_name": "CatalogueLoad/20/real_time", "run_type": "iteration", "time_unit": "ms",
     "real_time": 40.0, "rows": 40},
    {"run_name": "CatalogueLoad/20/real_time", "run_type": "aggregate", "aggregate_name": "mean",
     "time_unit": "ms", "real_time": 35.0, "rows": 40},
    {"run_name": "CatalogueLoad/20/real_time", "run_type": "aggregate",
     "aggregate_name": "median", "time_unit": "ms", "real_time": 33.5, "rows": 40},
    {"run_name": "CatalogueLoad/20/real_time", "run_type": "aggregate",
     "aggregate_name": "stddev", "time_unit": "ms", "real_time": 2.0, "rows": 40},
    {"run_name": "Step/List/2000/real_time", "run_type": "iteration", "time_unit": "ms",
     "real_time": 290.0, "rows": 3770},
    {"run_name": "Step/List/2000/real_time", "run_type": "iteration", "time_unit": "ms",
     "real_time": 310.0, "rows": 3770},
    {"run_name": "CatalogueWorker/20/real_time", "run_type": "iteration", "time_unit": "ms",
     "error_occurred": true, "error_message": "nothing was listed", "real_time": 1.0},
    {"run_name": "Step/Merge/20/real_time", "run_type": "iteration", "time_unit": "us",
     "real_time": 40.0, "rows": 40}
  ]})";
  const std::map<std::string, LoadFigure> figures = ReadLoadFigures(repeated);
  ASSERT_EQ(figures.size(), 2u);
  EXPECT_DOUBLE_EQ(figures.at("CatalogueLoad/20").ms, 33.5);
  EXPECT_DOUBLE_EQ(figures.at("CatalogueLoad/20").rows, 40);
  EXPECT_DOUBLE_EQ(figures.at("Step/List/2000").ms, 290.0);
  // A failed benchmark gives no figure, so the runner reports it missing.
  EXPECT_FALSE(figures.contains("CatalogueWorker/20"));

  EXPECT_TRUE(ReadLoadFigures("").empty());
  EXPECT_TRUE(ReadLoadFigures("not json {").empty());
  EXPECT_TRUE(ReadLoadFigures(R"({"benchmarks": 3})").empty());
}

class BenchServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    loopback::MediaSet demoMedia = loopback::BuiltInMedia();
    ASSERT_FALSE(demoMedia.episodes.empty());
    server_ = std::make_unique<BenchServer>(BenchMedia(std::move(demoMedia), "clip-bytes", 240));
    ASSERT_TRUE(server_->Start());
  }

  static QJsonArray ListOf(const std::string& body) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(body))
        .object()["data"]
        .toObject()["list"]
        .toArray();
  }
  std::string Target(std::string_view pid) const {
    return std::string(loopback::kCataloguePath) + "?pid=" + std::string(pid) +
           "&isFree=2&pageNum=1&userId=&_=1";
  }

  std::unique_ptr<BenchServer> server_;
};

TEST_F(BenchServerTest, EveryEpisodePlaysTheClipOnBothSchemes) {
  httplib::Client http("127.0.0.1", server_->HttpPort());
  httplib::SSLClient https("127.0.0.1", server_->HttpsPort());
  https.enable_server_certificate_verification(false);
  const auto morning = http.Post(Target(loopback::kMorningPid));
  const auto evening = https.Post(Target(loopback::kEveningPid));
  ASSERT_TRUE(morning && evening);
  const QJsonArray morningList = ListOf(morning->body);
  const QJsonArray eveningList = ListOf(evening->body);
  ASSERT_EQ(morningList.size(), 7);
  ASSERT_EQ(eveningList.size(), 7);
  const QString clipUrl = QString::fromStdString(server_->MediaUrl(kClipName));
  for (const QJsonArray& list : {morningList, eveningList}) {
    for (const QJsonValue episode : list) {
      EXPECT_EQ(episode["audiolist"][0]["filePath"].toString(), clipUrl);
      EXPECT_EQ(episode["duration"].toInt(), 240);
    }
  }
  // The clip and the covers are served; the demo's short clips are not.
  EXPECT_EQ(http.Get("/media/" + std::string(kClipName))->body, "clip-bytes");
  EXPECT_EQ(http.Get("/media/morning.jpg")->status, 200);
  EXPECT_EQ(http.Get("/media/morning-0.mp3")->status, 404);
  // The time comes with every reply, HEAD included.
  const auto head = http.Head("/");
  ASSERT_TRUE(head);
  EXPECT_TRUE(head->has_header("Date"));
}

TEST_F(BenchServerTest, FirstAudioRequestIsKeptUntilReset) {
  httplib::Client http("127.0.0.1", server_->HttpPort());
  // Nothing asked yet: the wait ends at its bound with nothing.
  EXPECT_FALSE(server_->WaitForFirstAudioRequest(20ms));

  ASSERT_TRUE(http.Get("/media/evening.png"));  // a cover is not audio
  EXPECT_FALSE(server_->WaitForFirstAudioRequest(0ms));

  const Clock::time_point before = Clock::now();
  ASSERT_TRUE(http.Get("/media/" + std::string(kClipName)));
  const std::optional<Clock::time_point> first = server_->WaitForFirstAudioRequest(5s);
  ASSERT_TRUE(first);
  EXPECT_GE(*first, before);
  EXPECT_LE(*first, Clock::now());

  // A later request (mpv asks again with a range) does not move the mark.
  httplib::Headers range = {{"Range", "bytes=2-"}};
  const auto partial = http.Get("/media/" + std::string(kClipName), range);
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->body, "ip-bytes");
  EXPECT_EQ(server_->WaitForFirstAudioRequest(0ms), first);
  RequestMarks marks = server_->Marks();
  EXPECT_EQ(marks.audioRequests, 2);
  EXPECT_EQ(marks.coverRequests, 1);
  EXPECT_EQ(marks.lastCoverPath, "/media/evening.png");

  server_->ResetMarks();
  marks = server_->Marks();
  EXPECT_FALSE(marks.firstAudio);
  EXPECT_EQ(marks.audioRequests, 0);
}

TEST_F(BenchServerTest, WaitWakesWhenTheAudioIsAskedFromAnotherThread) {
  std::thread asker([port = server_->HttpPort()] {
    httplib::Client http("127.0.0.1", port);
    http.Get("/media/" + std::string(kClipName));
  });
  EXPECT_TRUE(server_->WaitForFirstAudioRequest(10s));
  asker.join();
}

}  // namespace
}  // namespace newsbar::bench
