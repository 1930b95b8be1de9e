// newsbar-bench-player: the player exactly as main() builds it, but pointed at the
// benchmark's loopback server, whose two ports it takes as arguments:
//
//   newsbar-bench-player <http port> <https port>
//
// Only this benchmark build reads arguments; the shipped player takes its endpoints from
// the build settings.
#include <QApplication>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/player_window.h"
#include "catalogue/catalogue_worker.h"
#include "catalogue/endpoints.h"

namespace {

int PortArgument(std::string_view text) {
  int port = 0;
  const auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (error != std::errc() || rest != text.data() + text.size() || port < 1 || port > 65535)
    return 0;
  return port;
}

}  // namespace

int main(int argc, char** argv) {
  // Read before Qt sees the arguments; the ports are the only ones.
  const int httpPort = argc == 3 ? PortArgument(argv[1]) : 0;
  const int httpsPort = argc == 3 ? PortArgument(argv[2]) : 0;
  if (httpPort == 0 || httpsPort == 0) {
    std::fputs("usage: newsbar-bench-player <http port> <https port>\n", stderr);
    return 2;
  }
  newsbar::Endpoints endpoints;
  endpoints.catalogueHost = "127.0.0.1";
  endpoints.timeUrl = "http://127.0.0.1:" + std::to_string(httpPort) + "/";
  endpoints.httpPort = httpPort;
  endpoints.httpsPort = httpsPort;

  // From here on, as main() does it.
  QApplication application(argc, argv);
  // The media player refuses to start with any other numeric locale.
  std::setlocale(LC_NUMERIC, "C");

  newsbar::PlayerWindow window([endpoints](const newsbar::WorkerTargets& targets) {
    newsbar::CatalogueWorker(endpoints, targets);
  });
  window.CreateAndShow();
  return application.exec();
}
