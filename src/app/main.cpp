// newsbar: loads both programmes' episode lists and plays them in a small bar.
#include <QApplication>
#include <clocale>

#include "app/mpris.h"
#include "app/player_window.h"
#include "catalogue/catalogue_worker.h"
#include "catalogue/endpoints.h"
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
  // Ties the window to the installed newsbar.desktop (its name and icon on the desktop).
  QGuiApplication::setDesktopFileName(QStringLiteral("newsbar"));

  newsbar::PlayerWindow window([](const newsbar::WorkerTargets& targets) {
    newsbar::CatalogueWorker(newsbar::BuildEndpoints(), targets);
  });
  // Media keys and the desktop's media controls; silently absent without a session bus.
  newsbar::Mpris mpris(window);
  window.CreateAndShow();
  return application.exec();
}
