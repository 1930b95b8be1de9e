// newsbar-bench-player: the player exactly as main() builds it, but pointed at loopback
// servers whose ports it takes as arguments:
//
//   newsbar-bench-player <http port> <https port> [--time-url=URL] [--script]
//
// The time is asked of the http port's root unless --time-url names another URL. With
// --script it also reads commands on stdin, one per line, and answers on stdout:
//
//   lateness          "lateness <ms>": the longest a 10 ms timer of the window's thread
//                     has been late since the last such command (or the start)
//   click <name>      "clicking", then clicks the button of that objectName (UTF-8)
//   await <name>      "shown <name>" once the control of that objectName is visible
//   enabled <name>    "enabled <name>" once that control is visible and enabled
//   drag <seconds>    once the first row is playing, drags the progress slider to and fro
//                     for that long as a mouse would; then "dragged <seeks sent>"
//   refresh           refreshes the list at once (as on a resume); "refreshed <0|1> <rows>"
//                     once its result is in (1: it listed episodes)
//   where             "where <row> <position ms> <waiting 0|1>": the current row and place
//   next              as a click on the next button; "playing <row>" once the row's length
//                     is known (or its open failed)
//   close             closes the window as the desktop does (title bar, Alt+F4)
//   quit              asks the application to quit, as a session's end may
//
// Unasked, it says "painted" once the window has first been drawn, "waiting <0|1>" when
// the bar starts or stops waiting for a lost stream, and "sound <0|1> <position ms>" when
// sound starts or stops.
//
// Only this benchmark build reads arguments; the shipped player takes its endpoints from
// the build settings.
#include <unistd.h>
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "app/player_state.h"
#include "app/player_window.h"
#include "app/single_instance.h"
#include "catalogue/catalogue_worker.h"
#include "catalogue/endpoints.h"
#include "runtime/media_player.h"
#include "runtime/mpv_library.h"
#include "util/threads.h"

namespace {

int PortArgument(std::string_view text) {
  int port = 0;
  const auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (error != std::errc() || rest != text.data() + text.size() || port < 1 || port > 65535)
    return 0;
  return port;
}

void Answer(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// How late a 10 ms timer of the window's thread runs: the longest time the thread went
// without handling events, less the period.
class LatenessProbe : public QObject {
 public:
  LatenessProbe() {
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this,
            [this] { longest_ = std::max(longest_, since_.restart() - kPeriodMs); });
    since_.start();
    timer_.start(kPeriodMs);
  }
  qint64 TakeLongest() { return std::max<qint64>(0, std::exchange(longest_, 0)); }

 private:
  static constexpr int kPeriodMs = 10;
  QTimer timer_;
  QElapsedTimer since_;
  qint64 longest_ = 0;
};

// Mouse events on the slider, as a person dragging its handle back and forth would send.
class SliderDrag : public QObject {
 public:
  SliderDrag(newsbar::PlayerWindow& window, int seconds) : window_(window), seconds_(seconds) {
    connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
    timer_.start(10);
  }

 private:
  void Send(QEvent::Type type, int x) {
    QWidget* slider = window_.progress;
    const QPointF at(x, slider->height() / 2.0);
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, slider->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(slider, &event);
  }
  int HandleX() const {
    const auto* slider = window_.progress;
    const int maximum = std::max(1, slider->MaximumPosition());
    return 5 + (slider->width() - 10) * slider->Position() / maximum;
  }
  void Step() {
    if (!dragging_) {
      // Wait for the first row to be playing with its length known.
      if (window_.progress->MaximumPosition() <= 0 || !window_.progress->isEnabled()) return;
      dragging_ = true;
      seeksBefore_ = window_.Media().SeeksSent();
      x_ = HandleX();
      Send(QEvent::MouseButtonPress, x_);
      clock_.start();
      return;
    }
    if (clock_.elapsed() >= seconds_ * 1000) {
      Send(QEvent::MouseButtonRelease, x_);
      timer_.stop();
      Answer("dragged " + std::to_string(window_.Media().SeeksSent() - seeksBefore_));
      deleteLater();
      return;
    }
    // Across the middle half of the groove and back, once a second.
    const int width = window_.progress->width();
    const double phase = std::fmod(clock_.elapsed() / 1000.0, 1.0);
    const double along = phase < 0.5 ? phase * 2 : 2 - phase * 2;
    x_ = static_cast<int>(width * (0.25 + 0.5 * along));
    Send(QEvent::MouseMove, x_);
  }

  newsbar::PlayerWindow& window_;
  int seconds_;
  QTimer timer_;
  QElapsedTimer clock_;
  bool dragging_ = false;
  int x_ = 0;
  int seeksBefore_ = 0;
};

// Commands on stdin, run on the window's thread as they arrive.
class Script : public QObject {
 public:
  explicit Script(newsbar::PlayerWindow& window)
      : window_(window), notifier_(STDIN_FILENO, QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, [this] { Read(); });
    connect(&window_, &newsbar::PlayerWindow::refreshed, this, [this](bool listed) {
      Answer("refreshed " + std::to_string(listed ? 1 : 0) + " " +
             std::to_string(window_.episodeList->RowCount()));
    });
    window_.installEventFilter(this);
    newsbar::MediaPlayer& media = window_.Media();
    connect(&media, &newsbar::MediaPlayer::waitingChanged, this,
            [](bool waiting) { Answer(waiting ? "waiting 1" : "waiting 0"); });
    connect(&media, &newsbar::MediaPlayer::soundPlayingChanged, this, [&media](bool playing) {
      Answer(std::string("sound ") + (playing ? "1 " : "0 ") + std::to_string(media.Position()));
    });
  }

 protected:
  // Says "painted" once the window has first been drawn (unasked).
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &window_ && event->type() == QEvent::Paint && !painted_) {
      painted_ = true;
      Answer("painted");
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void Read() {
    char chunk[512];
    const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got <= 0) {
      notifier_.setEnabled(false);
      return;
    }
    pending_.append(chunk, static_cast<std::size_t>(got));
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      const std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      Run(line);
    }
  }
  void Run(const std::string& line) {
    if (line == "lateness") {
      Answer("lateness " + std::to_string(probe_.TakeLongest()));
    } else if (line.starts_with("click ")) {
      const QString name = QString::fromUtf8(line.substr(6));
      auto* button = window_.findChild<QAbstractButton*>(name);
      // Said first: a click may run for long (the retry waits for the worker inside it).
      Answer(button ? "clicking" : "no such button");
      if (button) button->click();
    } else if (line.starts_with("await ")) {
      AwaitShown(QString::fromUtf8(line.substr(6)), false);
    } else if (line.starts_with("enabled ")) {
      AwaitShown(QString::fromUtf8(line.substr(8)), true);
    } else if (line.starts_with("drag ")) {
      new SliderDrag(window_, std::max(1, std::atoi(line.substr(5).c_str())));
    } else if (line == "where") {
      Answer("where " + std::to_string(newsbar::CurrentRow.load()) + " " +
             std::to_string(window_.Media().Position()) + " " +
             (window_.Media().Waiting() ? "1" : "0"));
    } else if (line == "refresh") {
      window_.RefreshNow();
    } else if (line == "next") {
      window_.OnNextClicked();
      AwaitStarted();
    } else if (line == "close") {
      window_.close();
    } else if (line == "quit") {
      QCoreApplication::quit();
    } else {
      Answer("unknown command");
    }
  }

  void AwaitStarted() {
    if (!window_.StartUnderWay()) {
      Answer("playing " + std::to_string(newsbar::CurrentRow));
      return;
    }
    QTimer::singleShot(5, this, [this] { AwaitStarted(); });
  }

  void AwaitShown(const QString& name, bool enabled) {
    auto* control = window_.findChild<QWidget*>(name);
    if (control && control->isVisible() && (!enabled || control->isEnabled())) {
      Answer((enabled ? "enabled " : "shown ") + name.toStdString());
      return;
    }
    QTimer::singleShot(10, this, [this, name, enabled] { AwaitShown(name, enabled); });
  }

  newsbar::PlayerWindow& window_;
  QSocketNotifier notifier_;
  LatenessProbe probe_;
  std::string pending_;
  bool painted_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  // Read before Qt sees the arguments.
  const int httpPort = argc >= 3 ? PortArgument(argv[1]) : 0;
  const int httpsPort = argc >= 3 ? PortArgument(argv[2]) : 0;
  std::string timeUrl = "http://127.0.0.1:" + std::to_string(httpPort) + "/";
  bool script = false;
  bool good = httpPort != 0 && httpsPort != 0;
  for (int i = 3; i < argc && good; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--script") {
      script = true;
    } else if (argument.starts_with("--time-url=")) {
      timeUrl = argument.substr(11);
    } else {
      good = false;
    }
  }
  if (!good) {
    std::fputs("usage: newsbar-bench-player <http port> <https port> [--time-url=URL] [--script]\n",
               stderr);
    return 2;
  }
  newsbar::Endpoints endpoints;
  endpoints.catalogueHost = "127.0.0.1";
  endpoints.timeUrl = timeUrl;
  endpoints.httpPort = httpPort;
  endpoints.httpsPort = httpsPort;

  // From here on, as main() does it.
  newsbar::EndProcessOnTerminationSignals();
  newsbar::PreloadMpvLibrary();
  QApplication application(argc, argv);
  // The media player refuses to start with any other numeric locale.
  std::setlocale(LC_NUMERIC, "C");
  newsbar::SingleInstance instance;
  newsbar::CatalogueHeadStart headStart(
      endpoints, [&instance] { return instance.WillPlay(newsbar::kClaimWaitForRequests); });

  newsbar::PlayerWindow window(headStart.Worker());
  window.KeepListCurrent(endpoints);
  if (instance.role() == newsbar::SingleInstance::Role::kHandedOver) std::_Exit(0);
  if (instance.role() == newsbar::SingleInstance::Role::kHandOverFailed) std::_Exit(1);
  std::unique_ptr<Script> commands;
  if (script) commands = std::make_unique<Script>(window);
  instance.SetWindow(window);
  window.CreateAndShow();
  return application.exec();
}
