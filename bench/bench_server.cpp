#include "bench_server.h"

#include <utility>

namespace newsbar::bench {

loopback::MediaSet BenchMedia(loopback::MediaSet demoMedia, std::string clipBytes,
                              int clipSeconds) {
  loopback::MediaSet media;
  for (loopback::Episode episode : demoMedia.episodes) {
    episode.audioFile = kClipName;
    episode.seconds = clipSeconds;
    media.episodes.push_back(std::move(episode));
  }
  // Keep the covers, drop the short clips.
  for (auto& [name, bytes] : demoMedia.files) {
    if (!loopback::IsAudioName(name)) media.files.emplace(name, std::move(bytes));
  }
  media.files.emplace(std::string(kClipName), std::move(clipBytes));
  return media;
}

std::vector<std::string> BenchPlayerCommand(const std::string& player,
                                            const loopback::CatalogueServer& server, bool script) {
  std::vector<std::string> command = {player, std::to_string(server.HttpPort()),
                                      std::to_string(server.HttpsPort()),
                                      "--time-url=" + server.PlayerEndpoints().timeUrl};
  if (script) command.emplace_back("--script");
  return command;
}

std::vector<std::string> BenchPlayerEnvironment() {
  return {"QT_QPA_PLATFORM=offscreen"};
}

RequestMarks MarksOf(const std::vector<loopback::RecordedRequest>& requests) {
  RequestMarks marks;
  auto first = [](std::optional<Clock::time_point>& mark, Clock::time_point arrived) {
    if (!mark || arrived < *mark) mark = arrived;
  };
  for (const loopback::RecordedRequest& request : requests) {
    if (request.method == "POST") {
      ++marks.cataloguePosts;
      first(marks.firstCatalogue, request.arrived);
      const auto pid = request.query.find("pid");
      if (pid != request.query.end() && pid->second == loopback::kMorningPid) {
        first(marks.firstMorning, request.arrived);
      } else if (pid != request.query.end() && pid->second == loopback::kEveningPid) {
        first(marks.firstEvening, request.arrived);
      }
    } else if (request.path == "/") {
      ++marks.timeRequests;
      first(marks.firstTime, request.arrived);
    } else if (request.path.starts_with("/media/")) {
      if (loopback::IsAudioName(request.path)) {
        ++marks.audioRequests;
        first(marks.firstAudio, request.arrived);
      } else {
        ++marks.coverRequests;
        first(marks.firstCover, request.arrived);
        marks.lastCoverPath = request.path;
      }
    }
  }
  return marks;
}

BenchServer::BenchServer(loopback::MediaSet media, std::chrono::milliseconds latency)
    : CatalogueServer(std::move(media), {.latency = latency}) {}

void BenchServer::SetEpisodeClip(std::string_view name, int seconds) {
  std::vector<loopback::Episode> episodes = Episodes();
  for (loopback::Episode& episode : episodes) {
    episode.audioFile = std::string(name);
    episode.seconds = seconds;
  }
  SetEpisodes(std::move(episodes));
}

std::optional<Clock::time_point> BenchServer::WaitForFirstAudioRequest(
    std::chrono::milliseconds timeout) {
  WaitForMarks([](const RequestMarks& marks) { return marks.firstAudio.has_value(); }, timeout);
  return Marks().firstAudio;
}

bool BenchServer::WaitForMarks(const std::function<bool(const RequestMarks&)>& condition,
                               std::chrono::milliseconds timeout) {
  return WaitForRequests(
      [&condition](const std::vector<loopback::RecordedRequest>& requests) {
        return condition(MarksOf(requests));
      },
      timeout);
}

}  // namespace newsbar::bench
