// newsbar: loads both programmes' episode lists and plays them in a small bar.
#include <QApplication>
#include <clocale>

#include "app/application_id.h"
#include "app/mpris.h"
#include "app/player_window.h"
#include "app/single_instance.h"
#include "catalogue/catalogue_worker.h"
#include "catalogue/endpoints.h"
#include "runtime/window_platform.h"
#include "util/threads.h"

int main(int argc, char** argv) {
  if (!newsbar::RequireGraphicalSession()) return 1;
  // The bar places itself near the top-left corner, which Wayland does not allow.
  newsbar::ChooseWindowPlatform();
  QApplication application(argc, argv);
  // The media player refuses to start with any other numeric locale.
  std::setlocale(LC_NUMERIC, "C");
  // SIGTERM and SIGINT (a logout, kill, Ctrl+C) end it as the close button does.
  newsbar::EndProcessOnTerminationSignals();
  // Ties the window to its installed desktop entry (its name and icon on the desktop).
  QGuiApplication::setDesktopFileName(QString::fromLatin1(newsbar::kApplicationId));
  // One player per session: a second launch brings the running one forward and ends.
  // The claim runs on a thread of its own while the window is built.
  newsbar::SingleInstance instance;

  newsbar::PlayerWindow window([](const newsbar::WorkerTargets& targets) {
    newsbar::CatalogueWorker(newsbar::BuildEndpoints(), targets);
  });
  if (instance.role() == newsbar::SingleInstance::Role::kHandedOver) return 0;
  if (instance.role() == newsbar::SingleInstance::Role::kHandOverFailed) return 1;
  // Media keys and the desktop's media controls; silently absent without a session bus.
  newsbar::Mpris mpris(window);
  instance.SetWindow(window);
  window.CreateAndShow();
  return application.exec();
}
