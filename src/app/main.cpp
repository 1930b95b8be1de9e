// newsbar: loads both programmes' episode lists and plays them in a small bar.
#include <QApplication>
#include <clocale>
#include <cstdlib>

#include "app/application_id.h"
#include "app/mpris.h"
#include "app/player_window.h"
#include "app/single_instance.h"
#include "app/sleep_watch.h"
#include "catalogue/catalogue_worker.h"
#include "catalogue/endpoints.h"
#include "runtime/mpv_library.h"
#include "runtime/window_platform.h"
#include "util/threads.h"

int main(int argc, char** argv) {
  if (!newsbar::RequireGraphicalSession()) return 1;
  // The bar places itself near the top-left corner, which Wayland does not allow. (Before
  // any other thread runs: it may set an environment variable.)
  newsbar::ChooseWindowPlatform();
  // SIGTERM and SIGINT (a logout, kill, Ctrl+C) end it as the close button does, from
  // the first request on.
  newsbar::EndProcessOnTerminationSignals();
  // The media library is the longest load of a start: under way from here on, one
  // library at a time, so that nothing else waits for it.
  newsbar::PreloadMpvLibrary();
  QApplication application(argc, argv);
  // The media player refuses to start with any other numeric locale.
  std::setlocale(LC_NUMERIC, "C");
  // Ties the window to its installed desktop entry (its name and icon on the desktop).
  QGuiApplication::setDesktopFileName(QString::fromLatin1(newsbar::kApplicationId));
  // One player per session: a second launch brings the running one forward and ends.
  // The claim runs on a thread of its own while the window is built.
  newsbar::SingleInstance instance;
  // The first load's requests go out, while the window is set up, once the claim says
  // this launch is the player (a later one sends none); the window's worker takes the replies.
  const newsbar::Endpoints endpoints = newsbar::BuildEndpoints();
  newsbar::CatalogueHeadStart headStart(
      endpoints, [&instance] { return instance.WillPlay(newsbar::kClaimWaitForRequests); });

  newsbar::PlayerWindow window(headStart.Worker());
  // Refreshes while the bar stays open; a failed start retries by itself.
  window.KeepListCurrent(endpoints);
  // A later launch ends at once: the media library's load is of no use to it.
  if (instance.role() == newsbar::SingleInstance::Role::kHandedOver) std::_Exit(0);
  if (instance.role() == newsbar::SingleInstance::Role::kHandOverFailed) std::_Exit(1);
  // Media keys and the desktop's media controls; silently absent without a session bus.
  newsbar::Mpris mpris(window);
  // Idle suspend is held off while sound plays; after a resume a stream whose connection
  // died on the way is opened again at once, and the list is brought up to date.
  newsbar::SleepWatch sleep;
  QObject::connect(&window.Media(), &newsbar::MediaPlayer::soundPlayingChanged, &sleep,
                   &newsbar::SleepWatch::SetSoundPlaying);
  QObject::connect(&sleep, &newsbar::SleepWatch::resumed, &window, [&window] {
    window.Media().Reconnect();
    window.RefreshNow();
  });
  instance.SetWindow(window);
  window.CreateAndShow();
  return application.exec();
}
