// newsbar: loads both programmes' episode lists and plays them in a small bar.
#include <QApplication>
#include <clocale>

#include "app/player_window.h"
#include "catalogue/catalogue_worker.h"
#include "catalogue/endpoints.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // The media player refuses to start with any other numeric locale.
  std::setlocale(LC_NUMERIC, "C");

  newsbar::PlayerWindow window([](const newsbar::WorkerTargets& targets) {
    newsbar::CatalogueWorker(newsbar::BuildEndpoints(), targets);
  });
  window.CreateAndShow();
  return application.exec();
}
