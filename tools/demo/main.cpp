// newsbar-demo: the player, unchanged, against a catalogue server of its own on
// 127.0.0.1 (both programmes, the network time, covers and spoken clips built in), so it
// runs on a machine without any network.
#include <QApplication>
#include <clocale>
#include <cstdio>

#include "app/application_id.h"
#include "app/mpris.h"
#include "app/player_window.h"
#include "catalogue/catalogue_worker.h"
#include "catalogue_server/catalogue_server.h"
#include "runtime/window_platform.h"
#include "util/threads.h"

int main(int argc, char** argv) {
  // The bar places itself near the top-left corner, which Wayland does not allow.
  newsbar::ChooseWindowPlatform();
  QApplication application(argc, argv);
  // The media player refuses to start with any other numeric locale.
  std::setlocale(LC_NUMERIC, "C");
  // SIGTERM and SIGINT (a logout, kill, Ctrl+C) end it as the close button does.
  newsbar::EndProcessOnTerminationSignals();
  // The same desktop identity as the player itself (name and icon when installed).
  QGuiApplication::setDesktopFileName(QString::fromLatin1(newsbar::kApplicationId));

  newsbar::loopback::MediaSet media = newsbar::loopback::BuiltInMedia();
  if (media.episodes.empty()) {
    std::fputs("newsbar-demo: its built-in episodes are missing; rebuild it\n", stderr);
    return 1;
  }
  newsbar::loopback::CatalogueServer server(std::move(media));
  if (!server.Start()) {
    std::fputs("newsbar-demo: could not start its catalogue server on 127.0.0.1\n", stderr);
    return 1;
  }
  const newsbar::Endpoints endpoints = server.PlayerEndpoints();

  newsbar::PlayerWindow window([endpoints](const newsbar::WorkerTargets& targets) {
    newsbar::CatalogueWorker(endpoints, targets);
  });
  // Media keys and the desktop's media controls, as in the player.
  newsbar::Mpris mpris(window);
  window.CreateAndShow();
  return application.exec();
}
