// newsbar-bench-load: how the catalogue load grows with the number of episodes.
//
//   CatalogueLoad/N      the worker's steps after the downloads, for two pages of N
//                        episodes: two documents (each with its engine), both loads, every
//                        episode read by path, the merge and filter, and the rows appended
//                        from a worker thread to the list on the window's thread.
//   Step/<step>/N        the same steps one at a time: Documents (both made and loaded),
//                        Reads (every episode's four fields by path), Merge (merge and
//                        filter), List (the rows appended across threads), and
//                        Requests (the worker's three requests on loopback).
//   CatalogueWorker/N    the worker itself against a loopback server, the three requests
//                        included, as a check that the steps above are what it does.
//
// Google Benchmark runs on a thread of its own while this thread runs the window's event
// loop, so every list call crosses threads exactly as in the player.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMetaObject>
#include <atomic>
#include <chrono>
#include <clocale>
#include <string>
#include <thread>
#include <vector>

#include "bench_server.h"
#include "catalogue/catalogue_page.h"
#include "catalogue/catalogue_request.h"
#include "catalogue/catalogue_worker.h"
#include "catalogue/episode_merge.h"
#include "catalogue/network_time.h"
#include "catalogue_server/catalogue_server.h"
#include "json/json_document.h"
#include "runtime/controls.h"
#include "util/charset.h"

namespace newsbar::bench {
namespace {

using std::chrono::system_clock;

// The controls the load writes into; they live on the window's thread.
struct Targets {
  ListView* list = nullptr;
  EditBox* doneBox = nullptr;
};
Targets g_targets;

void ClearList() {
  QMetaObject::invokeMethod(
      g_targets.list, [] { g_targets.list->clear(); }, Qt::BlockingQueuedConnection);
}

// N episodes a programme, one a day going back from today, with the demo's headlines.
loopback::MediaSet ScaledMedia(int perProgramme) {
  static const loopback::MediaSet demoMedia = loopback::BuiltInMedia();
  loopback::MediaSet media;
  const std::size_t headlines = demoMedia.episodes.size();
  for (int programme = 1; programme <= 2; ++programme) {
    for (int k = 0; k < perProgramme; ++k) {
      loopback::Episode episode;
      episode.programme = programme;
      episode.daysAgo = k;
      episode.audioFile = std::string(kClipName);
      episode.seconds = 600 + (k * 37) % 900;
      episode.headline = headlines == 0
                             ? "Headline " + std::to_string(k)
                             : demoMedia.episodes[static_cast<std::size_t>(k) % headlines].headline;
      media.episodes.push_back(std::move(episode));
    }
  }
  return media;
}

// What the two requests hand the worker (the replies converted to GBK), and the
// network's now: midday today, so that today's editions are due.
struct LoadInput {
  Text morningText;
  Text eveningText;
  NetworkNow now;
};

LoadInput MakeInput(int perProgramme) {
  const loopback::MediaSet media = ScaledMedia(perProgramme);
  const auto moment = system_clock::now();
  const std::string base = "http://127.0.0.1:8080/media/";
  const loopback::CalendarDate today = loopback::DateAtUtc8(moment);
  return {.morningText = Utf8ToGbk(loopback::CatalogueReply(media, 1, moment, base)),
          .eveningText = Utf8ToGbk(loopback::CatalogueReply(media, 2, moment, base)),
          .now = {.year = today.year, .month = today.month, .day = today.day, .hour = 12}};
}

// Both pages loaded, each into a document of its own, as the worker holds them.
struct LoadedPages {
  JsonDocument morning{"da"};
  JsonDocument evening{"da"};
  explicit LoadedPages(const LoadInput& input) {
    morning.Load(input.morningText);
    evening.Load(input.eveningText);
  }
};

// Appends the rows the way the worker does: an empty row, then its five cells.
int AppendRows(const std::vector<EpisodeRow>& rows) {
  for (const EpisodeRow& row : rows) {
    const int index = g_targets.list->AppendRow();
    for (int column = 0; column < static_cast<int>(row.size()); ++column)
      g_targets.list->SetCellText(index, column, row[column]);
  }
  return g_targets.list->RowCount();
}

void Count(benchmark::State& state, int perProgramme, int rows) {
  state.counters["episodes"] = 2.0 * perProgramme;
  state.counters["rows"] = rows;
  if (rows == 0) state.SkipWithError("nothing was listed");
}

void CatalogueLoad(benchmark::State& state) {
  const int perProgramme = static_cast<int>(state.range(0));
  const LoadInput input = MakeInput(perProgramme);
  int rows = 0;
  for (auto _ : state) {
    LoadedPages pages(input);
    rows = AppendRows(MergeEpisodes(ReadPage(pages.morning), ReadPage(pages.evening), input.now));
    state.PauseTiming();
    ClearList();
    state.ResumeTiming();
  }
  Count(state, perProgramme, rows);
}

// The same steps one at a time, to show where the time of a load goes.

void StepDocuments(benchmark::State& state) {
  const int perProgramme = static_cast<int>(state.range(0));
  const LoadInput input = MakeInput(perProgramme);
  int count = 0;
  for (auto _ : state) {
    LoadedPages pages(input);
    count = pages.morning.GetCount("data.list") + pages.evening.GetCount("data.list");
  }
  Count(state, perProgramme, count);
}

void StepReads(benchmark::State& state) {
  const int perProgramme = static_cast<int>(state.range(0));
  const LoadInput input = MakeInput(perProgramme);
  LoadedPages pages(input);
  std::size_t count = 0;
  for (auto _ : state) {
    count = ReadPage(pages.morning).size() + ReadPage(pages.evening).size();
    benchmark::DoNotOptimize(count);
  }
  Count(state, perProgramme, static_cast<int>(count));
}

void StepMerge(benchmark::State& state) {
  const int perProgramme = static_cast<int>(state.range(0));
  const LoadInput input = MakeInput(perProgramme);
  LoadedPages pages(input);
  const std::vector<CatalogueEpisode> morningPage = ReadPage(pages.morning);
  const std::vector<CatalogueEpisode> eveningPage = ReadPage(pages.evening);
  std::size_t rows = 0;
  for (auto _ : state) {
    rows = MergeEpisodes(morningPage, eveningPage, input.now).size();
    benchmark::DoNotOptimize(rows);
  }
  Count(state, perProgramme, static_cast<int>(rows));
}

void StepList(benchmark::State& state) {
  const int perProgramme = static_cast<int>(state.range(0));
  const LoadInput input = MakeInput(perProgramme);
  LoadedPages pages(input);
  const std::vector<EpisodeRow> merged =
      MergeEpisodes(ReadPage(pages.morning), ReadPage(pages.evening), input.now);
  int rows = 0;
  for (auto _ : state) {
    rows = AppendRows(merged);
    state.PauseTiming();
    ClearList();
    state.ResumeTiming();
  }
  Count(state, perProgramme, rows);
}

// Starts the loopback server of a measure; false, with the measure skipped, when it cannot.
bool StartOrSkip(BenchServer& server, benchmark::State& state) {
  if (server.Start()) return true;
  state.SkipWithError("the loopback server did not start");
  return false;
}

// The worker's three requests alone (morning, the time, evening), on loopback.
void StepRequests(benchmark::State& state) {
  const int perProgramme = static_cast<int>(state.range(0));
  BenchServer server(ScaledMedia(perProgramme));
  if (!StartOrSkip(server, state)) return;
  const Endpoints endpoints = server.PlayerEndpoints();
  std::size_t bytes = 0;
  for (auto _ : state) {
    const Text morning = RequestCatalogue(endpoints, kMorningProgramme);
    const CalendarTime time = FromDateTime(GetNetworkTime(endpoints.timeUrl));
    const Text evening = RequestCatalogue(endpoints, kEveningProgramme);
    bytes = time.year > 0 ? morning.size() + evening.size() : 0;
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  Count(state, perProgramme, bytes > 0 ? 2 * perProgramme : 0);
}

void CatalogueWorkerLoopback(benchmark::State& state) {
  const int perProgramme = static_cast<int>(state.range(0));
  BenchServer server(ScaledMedia(perProgramme));
  if (!StartOrSkip(server, state)) return;
  const Endpoints endpoints = server.PlayerEndpoints();
  std::atomic<int> lastRow{-1};
  std::atomic<int> loopMode{0};
  const WorkerTargets targets{.list = g_targets.list,
                              .doneBox = g_targets.doneBox,
                              .lastRow = &lastRow,
                              .loopMode = &loopMode};
  for (auto _ : state) {
    CatalogueWorker(endpoints, targets);
    state.PauseTiming();
    ClearList();
    state.ResumeTiming();
  }
  Count(state, perProgramme, lastRow.load() + 1);
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(20)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(CatalogueLoad)->Apply(Sizes);
BENCHMARK(StepDocuments)->Name("Step/Documents")->Apply(Sizes);
BENCHMARK(StepReads)->Name("Step/Reads")->Apply(Sizes);
BENCHMARK(StepMerge)->Name("Step/Merge")->Apply(Sizes);
BENCHMARK(StepList)->Name("Step/List")->Apply(Sizes);
BENCHMARK(StepRequests)->Name("Step/Requests")->Apply(Sizes);
BENCHMARK(CatalogueWorkerLoopback)->Name("CatalogueWorker")->Apply(Sizes);

}  // namespace
}  // namespace newsbar::bench

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;

  newsbar::ListView list;
  newsbar::EditBox doneBox;
  newsbar::bench::g_targets = {.list = &list, .doneBox = &doneBox};

  std::thread runner([&application] {
    benchmark::RunSpecifiedBenchmarks();
    QMetaObject::invokeMethod(&application, &QCoreApplication::quit, Qt::QueuedConnection);
  });
  application.exec();
  runner.join();
  benchmark::Shutdown();
  return 0;
}
