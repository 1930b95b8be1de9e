#include "figures.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <charconv>
#include <cstdlib>

namespace newsbar::bench {

using namespace std::chrono_literals;

std::optional<Options> ParseOptions(int argc, const char* const* argv, Options options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    auto value = [argument](std::string_view name) -> std::optional<std::string_view> {
      if (!argument.starts_with(name) || argument.size() <= name.size() ||
          argument[name.size()] != '=')
        return std::nullopt;
      return argument.substr(name.size() + 1);
    };
    if (argument == "--smoke") {
      options.smoke = true;
    } else if (argument == "--serve") {
      options.serve = true;
    } else if (argument == "--stall-audio") {
      options.stallAudio = true;
    } else if (auto runs = value("--runs")) {
      const char* end = runs->data() + runs->size();
      const auto [rest, error] = std::from_chars(runs->data(), end, options.runs);
      if (error != std::errc() || rest != end || options.runs < 1 || options.runs > 100)
        return std::nullopt;
    } else if (auto only = value("--only")) {
      options.launch = options.play = options.load = options.lateness = options.outage =
          options.episodes = false;
      std::string_view list = *only;
      while (true) {
        const std::size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        if (item == "launch") {
          options.launch = true;
        } else if (item == "play") {
          options.play = true;
        } else if (item == "load") {
          options.load = true;
        } else if (item == "lateness") {
          options.lateness = true;
        } else if (item == "outage") {
          options.outage = true;
        } else if (item == "episodes") {
          options.episodes = true;
        } else {
          return std::nullopt;
        }
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
      }
    } else if (auto path = value("--player")) {
      options.player = *path;
    } else if (auto path = value("--load-bench")) {
      options.loadBench = *path;
    } else if (auto path = value("--clip")) {
      options.clip = *path;
    } else if (auto path = value("--mpv")) {
      options.mpv = *path;
    } else if (auto path = value("--curl")) {
      options.curl = *path;
    } else if (auto list = value("--latency")) {
      std::string_view rest = *list;
      while (true) {
        const std::size_t comma = rest.find(',');
        const std::string item(rest.substr(0, comma));
        char* end = nullptr;
        const long ms = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || ms < 0 || ms > 2000) return std::nullopt;
        options.latencies.push_back(static_cast<int>(ms));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
      }
    } else {
      return std::nullopt;
    }
  }
  if (options.smoke) {
    options.runs = 1;
    options.memoryAfter = 1s;
    options.cpuOver = 2s;
  }
  return options;
}

std::map<std::string, LoadFigure> ReadLoadFigures(std::string_view json) {
  std::map<std::string, LoadFigure> figures;
  const QJsonDocument document =
      QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())));
  for (const QJsonValue entry : document.object()["benchmarks"].toArray()) {
    const QJsonObject run = entry.toObject();
    if (run["error_occurred"].toBool()) continue;
    const bool aggregate = run["run_type"].toString() == "aggregate";
    // With repetitions only the medians count; a single run reports iterations only.
    if (aggregate && run["aggregate_name"].toString() != "median") continue;
    if (run["time_unit"].toString() != "ms") continue;
    std::string name = run["run_name"].toString().toStdString();
    // Timed by the wall clock: the list calls run on another thread.
    constexpr std::string_view kRealTime = "/real_time";
    if (name.ends_with(kRealTime)) name.resize(name.size() - kRealTime.size());
    if (name.empty() || (!aggregate && figures.contains(name))) continue;
    figures[name] = {.ms = run["real_time"].toDouble(), .rows = run["rows"].toDouble()};
  }
  return figures;
}

}  // namespace newsbar::bench
