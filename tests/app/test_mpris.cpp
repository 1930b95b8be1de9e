// The player on a private session bus of its own: methods called with gdbus (another
// D-Bus implementation) act as the buttons do, and the properties, PropertiesChanged and
// Seeked follow the player, whatever changed it.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "app/images.h"
#include "app/mpris.h"
#include "app/player_state.h"
#include "app/player_window.h"
#include "app/single_instance.h"
#include "app_fixture.h"

namespace newsbar::test {

using namespace std::chrono_literals;

// Records the player's two signals as a desktop client would receive them.
class MprisListener : public QObject {
  Q_OBJECT
 public:
  std::vector<QVariantMap> changes;  // changed properties of the player interface
  std::vector<qlonglong> seeks;

 public slots:
  void PropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList&) {
    if (interface == QStringLiteral("org.mpris.MediaPlayer2.Player")) changes.push_back(changed);
  }
  void Seeked(qlonglong position) { seeks.push_back(position); }
};

namespace {

const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");

ByteSet Bytes(const std::string& text) {
  return ByteSet(text.begin(), text.end());
}

class MprisBus : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) return;
    daemon_ = new QProcess;
    daemon_->start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")});
    if (!daemon_->waitForStarted(5000)) return;
    while (!daemon_->canReadLine() && daemon_->waitForReadyRead(5000)) {
    }
    address_ = QString::fromUtf8(daemon_->readLine()).trimmed();
    QDBusConnection::connectToBus(address_, QStringLiteral("newsbar-test-player"));
    QDBusConnection::connectToBus(address_, QStringLiteral("newsbar-test-client"));
  }

  static void TearDownTestSuite() {
    QDBusConnection::disconnectFromBus(QStringLiteral("newsbar-test-player"));
    QDBusConnection::disconnectFromBus(QStringLiteral("newsbar-test-client"));
    if (daemon_) {
      daemon_->terminate();
      if (!daemon_->waitForFinished(5000)) daemon_->kill();
      daemon_->waitForFinished(5000);
    }
    delete daemon_;
    daemon_ = nullptr;
    address_.clear();
  }

  void SetUp() override {
    if (!daemon_) GTEST_SKIP() << "dbus-daemon is not installed (package dbus)";
    ASSERT_FALSE(address_.isEmpty()) << "dbus-daemon gave no address";
    ASSERT_TRUE(PlayerBus().isConnected());
    ASSERT_TRUE(ClientBus().isConnected());
    for (const char* clip : {"a.wav", "b.wav", "c.wav"}) server_.Add(clip, Clip(), "audio/wav");
    server_.Add("a.png", MakeCover(0x1f7ae0), "image/png");
    server_.Add("b.png", MakeCover(0xe0501f), "image/png");
    server_.Add("c.png", MakeCover(0x30a050), "image/png");
  }

  static QDBusConnection PlayerBus() {
    return QDBusConnection(QStringLiteral("newsbar-test-player"));
  }
  static QDBusConnection ClientBus() {
    return QDBusConnection(QStringLiteral("newsbar-test-client"));
  }

  // Subscribes the listener to the player's property changes (and, when asked, to its
  // Seeked signal) on the client's bus, then makes a round trip, so the bus has the
  // subscriptions before anything is sent.
  bool Listen(QDBusConnection& client, MprisListener& listener, bool seeked = false) {
    const bool changes = client.connect(mpris_->ServiceName(), kPath,
                                        QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("PropertiesChanged"), &listener,
                                        SLOT(PropertiesChanged(QString, QVariantMap, QStringList)));
    const bool seeks =
        !seeked || client.connect(mpris_->ServiceName(), kPath, kPlayer, QStringLiteral("Seeked"),
                                  &listener, SLOT(Seeked(qlonglong)));
    client.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
    return changes && seeks;
  }

  // Long enough that nothing ends by itself during a test.
  static const std::string& Clip() {
    static const std::string clip = MakeWav(20.0, 4000);
    return clip;
  }

  std::vector<Row> ThreeRows() {
    return {{"早报第一期", server_.Url("a.wav"), server_.Url("a.png"), 20},
            {"7月20日小涟晚报：第二期", server_.Url("b.wav"), server_.Url("b.png"), 20},
            {"早报第三期", server_.Url("c.wav"), server_.Url("c.png"), 20}};
  }

  // gdbus against the private bus, run while this thread goes on handling the window's
  // (and so the player's D-Bus) events. Gives gdbus's output; fails the test on an error.
  static std::string Gdbus(QStringList arguments) {
    // gdbus COMMAND --address ADDRESS ...
    arguments.insert(1, QStringLiteral("--address"));
    arguments.insert(2, address_);
    QProcess gdbus;
    gdbus.start(QStringLiteral("gdbus"), arguments);
    EXPECT_TRUE(gdbus.waitForStarted(5000)) << "gdbus (package libglib2.0-bin) did not start";
    EXPECT_TRUE(WaitUntil([&] { return gdbus.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(gdbus.exitCode(), 0) << gdbus.readAllStandardError().toStdString();
    return gdbus.readAllStandardOutput().trimmed().toStdString();
  }

  std::string Call(const QString& method, const QStringList& arguments = {}) {
    return Gdbus(QStringList{QStringLiteral("call"), QStringLiteral("--dest"),
                             mpris_->ServiceName(), QStringLiteral("--object-path"), kPath,
                             QStringLiteral("--method"), kPlayer + QStringLiteral(".") + method} +
                 arguments);
  }

  std::string Get(const QString& property) {
    return Gdbus({QStringLiteral("call"), QStringLiteral("--dest"), mpris_->ServiceName(),
                  QStringLiteral("--object-path"), kPath, QStringLiteral("--method"),
                  QStringLiteral("org.freedesktop.DBus.Properties.Get"), kPlayer, property});
  }

  // The window with its player on the bus, started with `rows`.
  void Start(const std::vector<Row>& rows) {
    window_ = std::make_unique<PlayerWindow>(ListingWorker({rows}));
    mpris_ = std::make_unique<Mpris>(*window_, PlayerBus());
    ASSERT_TRUE(mpris_->Registered());
    window_->CreateAndShow();
    if (rows.empty()) {
      ASSERT_TRUE(WaitUntil([&] { return !window_->retryButton->isHidden(); }));
    } else {
      ASSERT_TRUE(WaitForStart(*window_));
      ASSERT_TRUE(WaitUntil([&] { return window_->Media().State() == 1; }));
    }
  }

  MediaServer server_;
  std::unique_ptr<PlayerWindow> window_;
  std::unique_ptr<Mpris> mpris_;  // goes before the window
  static QProcess* daemon_;
  static QString address_;
};

QProcess* MprisBus::daemon_ = nullptr;
QString MprisBus::address_;

TEST_F(MprisBus, EachMethodActsAsItsButton) {
  Start(ThreeRows());
  MediaPlayer& media = window_->Media();
  EXPECT_EQ(mpris_->ServiceName().toStdString(), "org.mpris.MediaPlayer2.newsbar");
  EXPECT_EQ(Get(QStringLiteral("PlaybackStatus")), "(<'Playing'>,)");

  // Pause and Play are the play/pause button, but only where it would change something.
  Call(QStringLiteral("Pause"));
  EXPECT_EQ(media.State(), 3);
  EXPECT_EQ(window_->playPauseButton->Picture(), PlayImage());
  EXPECT_EQ(Get(QStringLiteral("PlaybackStatus")), "(<'Paused'>,)");
  Call(QStringLiteral("Pause"));
  EXPECT_EQ(media.State(), 3);
  Call(QStringLiteral("Play"));
  EXPECT_EQ(media.State(), 1);
  EXPECT_EQ(window_->playPauseButton->Picture(), PauseImage());
  Call(QStringLiteral("Play"));
  EXPECT_EQ(media.State(), 1);
  Call(QStringLiteral("PlayPause"));
  EXPECT_EQ(media.State(), 3);
  Call(QStringLiteral("PlayPause"));
  EXPECT_EQ(media.State(), 1);

  Call(QStringLiteral("Next"));
  EXPECT_EQ(CurrentRow, 1);
  EXPECT_EQ(Utf8(window_->statusLabel->Caption()), "7月20日小涟晚报：第二期");
  EXPECT_EQ(Utf8(window_->episodeList->CellText(1, 3)), "正在播放...");
  EXPECT_EQ(Utf8(window_->episodeList->CellText(0, 3)), "00分20秒");
  ASSERT_TRUE(WaitForStart(*window_));
  EXPECT_EQ(window_->cover->Picture(), Bytes(MakeCover(0xe0501f)));
  EXPECT_EQ(media.State(), 1);

  Call(QStringLiteral("Previous"));
  EXPECT_EQ(CurrentRow, 0);
  ASSERT_TRUE(WaitForStart(*window_));
  // At the first row, previous starts it again: the clip is asked for anew.
  const int asked = server_.CountFor("a.wav");
  Call(QStringLiteral("Previous"));
  EXPECT_EQ(CurrentRow, 0);
  EXPECT_TRUE(WaitUntil([&] { return server_.CountFor("a.wav") > asked; }));

  // Stop has no button: it stops and closes the media as the end of the list does, and
  // leaves the title, the row and the list as they are.
  Call(QStringLiteral("Stop"));
  EXPECT_EQ(media.State(), 0);
  EXPECT_EQ(Get(QStringLiteral("PlaybackStatus")), "(<'Stopped'>,)");
  EXPECT_EQ(CurrentRow, 0);
  EXPECT_EQ(Utf8(window_->statusLabel->Caption()), "早报第一期");
  EXPECT_EQ(Utf8(window_->episodeList->CellText(0, 3)), "正在播放...");
  // Stopped, the button offers to play, and Play starts the row again.
  EXPECT_EQ(window_->playPauseButton->Picture(), PlayImage());
  const int before = server_.CountFor("a.wav");
  Call(QStringLiteral("Play"));
  EXPECT_EQ(CurrentRow, 0);
  EXPECT_EQ(window_->playPauseButton->Picture(), PauseImage());
  ASSERT_TRUE(WaitForStart(*window_));
  EXPECT_GT(server_.CountFor("a.wav"), before);
  EXPECT_EQ(Get(QStringLiteral("PlaybackStatus")), "(<'Playing'>,)");
}

// The loop button's modes and the media's volume, read and written from the desktop, and
// the button's own changes announced.
TEST_F(MprisBus, LoopStatusShuffleAndVolume) {
  Start(ThreeRows());
  MprisListener listener;
  QDBusConnection client = ClientBus();
  ASSERT_TRUE(Listen(client, listener));
  auto set = [&](const char* property, const char* value) {
    Gdbus({QStringLiteral("call"), QStringLiteral("--dest"), mpris_->ServiceName(),
           QStringLiteral("--object-path"), kPath, QStringLiteral("--method"),
           QStringLiteral("org.freedesktop.DBus.Properties.Set"), kPlayer,
           QString::fromLatin1(property), QString::fromLatin1(value)});
  };
  EXPECT_EQ(Get(QStringLiteral("LoopStatus")), "(<'None'>,)");
  EXPECT_EQ(Get(QStringLiteral("Shuffle")), "(<false>,)");
  EXPECT_EQ(Get(QStringLiteral("Volume")), "(<1.0>,)");

  struct Step {
    const char* property;
    const char* value;
    int mode;  // LoopMode after it
    const ByteSet& picture;
  };
  const Step steps[] = {
      {"LoopStatus", "<'Track'>", 2, LoopImageRepeatOne()},
      {"Shuffle", "<true>", 3, LoopImageShuffle()},
      {"LoopStatus", "<'Playlist'>", 3, LoopImageShuffle()},  // no such mode: unchanged
      {"Shuffle", "<false>", 1, LoopImageInOrder()},
      {"LoopStatus", "<'Track'>", 2, LoopImageRepeatOne()},
      {"LoopStatus", "<'None'>", 1, LoopImageInOrder()},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.property) + " " + step.value);
    set(step.property, step.value);
    EXPECT_EQ(LoopMode, step.mode);
    EXPECT_EQ(window_->loopButton->Picture(), step.picture);
    EXPECT_EQ(Get(QStringLiteral("LoopStatus")), step.mode == 2 ? "(<'Track'>,)" : "(<'None'>,)");
    EXPECT_EQ(Get(QStringLiteral("Shuffle")), step.mode == 3 ? "(<true>,)" : "(<false>,)");
  }
  // The button's clicks are heard on the bus.
  auto lastWith = [&](const char* name) -> QVariant {
    for (auto change = listener.changes.rbegin(); change != listener.changes.rend(); ++change) {
      if (change->contains(QString::fromLatin1(name)))
        return change->value(QString::fromLatin1(name));
    }
    return {};
  };
  QTest::mouseClick(window_->loopButton, Qt::LeftButton);
  EXPECT_TRUE(WaitUntil([&] { return lastWith("LoopStatus").toString() == "Track"; }));
  QTest::mouseClick(window_->loopButton, Qt::LeftButton);
  EXPECT_TRUE(WaitUntil(
      [&] { return lastWith("Shuffle").toBool() && lastWith("LoopStatus").toString() == "None"; }));

  set("Volume", "<0.3>");
  EXPECT_DOUBLE_EQ(window_->Media().Volume(), 0.3);
  EXPECT_EQ(Get(QStringLiteral("Volume")), "(<0.29999999999999999>,)");
  EXPECT_TRUE(WaitUntil([&] { return lastWith("Volume").toDouble() == 0.3; }));
  set("Volume", "<-1.0>");
  EXPECT_EQ(Get(QStringLiteral("Volume")), "(<0.0>,)");
  EXPECT_TRUE(WaitUntil(
      [&] { return lastWith("Volume").isValid() && lastWith("Volume").toDouble() == 0.0; }));
}

TEST_F(MprisBus, NothingHappensWhereTheButtonsAreDisabledAndASecondPlayerTakesItsOwnName) {
  Start({});
  EXPECT_EQ(Get(QStringLiteral("CanGoNext")), "(<false>,)");
  EXPECT_EQ(Get(QStringLiteral("CanPlay")), "(<false>,)");
  EXPECT_EQ(Get(QStringLiteral("Metadata")),
            "(<{'mpris:trackid': <objectpath '/org/mpris/MediaPlayer2/TrackList/NoTrack'>}>,)");
  for (const char* method : {"Next", "Previous", "PlayPause", "Play"}) {
    Call(QString::fromLatin1(method));
  }
  EXPECT_EQ(CurrentRow, 0);
  EXPECT_EQ(window_->Media().State(), 0);
  EXPECT_EQ(window_->playPauseButton->Picture(), PauseImage());
  EXPECT_EQ(Utf8(window_->statusLabel->Caption()), "初始化失败，请重试...");

  const QString second = QStringLiteral("newsbar-test-second");
  {
    Mpris other(*window_, QDBusConnection::connectToBus(address_, second));
    EXPECT_TRUE(other.Registered());
    EXPECT_EQ(other.ServiceName(), QStringLiteral("org.mpris.MediaPlayer2.newsbar.instance%1")
                                       .arg(QCoreApplication::applicationPid()));
  }
  QDBusConnection::disconnectFromBus(second);

  // No bus at all (as in a session without one): nothing registers, nothing breaks.
  Mpris offline(*window_, QDBusConnection(QStringLiteral("newsbar-no-such-connection")));
  EXPECT_FALSE(offline.Registered());
  EXPECT_TRUE(offline.ServiceName().isEmpty());
}

// The first launch holds the application's name; a launcher's Activate (here from gdbus)
// brings its window forward from behind another and out of the minimised state. A later
// launch whose holder does not answer (this very thread, busy waiting) gives up within
// its bound instead of hanging; without a bus each launch is a player of its own.
TEST_F(MprisBus, OneInstanceAnswersActivateAndALaterLaunchWaitsOnlyItsBound) {
  Start({});
  SingleInstance first([] { return PlayerBus(); });
  ASSERT_EQ(first.role(), SingleInstance::Role::kFirst);
  first.SetWindow(*window_);

  QWidget other;
  other.show();
  other.activateWindow();
  window_->showMinimized();
  ASSERT_TRUE(WaitUntil([&] { return other.isActiveWindow(); }));
  Gdbus({QStringLiteral("call"), QStringLiteral("--dest"),
         QStringLiteral("io.github.newsbar.newsbar"), QStringLiteral("--object-path"),
         QStringLiteral("/io/github/newsbar/newsbar"), QStringLiteral("--method"),
         QStringLiteral("org.freedesktop.Application.Activate"), QStringLiteral("{}")});
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(window_->isMinimized());
  EXPECT_TRUE(WaitUntil([&] { return window_->isActiveWindow(); }));

  QElapsedTimer waited;
  waited.start();
  {
    SingleInstance later([] { return ClientBus(); }, 300);
    // The first load's requests ask from their own thread: not before the claim is in
    // (or their bound has passed), and not at all for a launch that will end.
    EXPECT_TRUE(later.WillPlay(0ms));
    EXPECT_FALSE(later.WillPlay(5s));
    EXPECT_EQ(later.role(), SingleInstance::Role::kHandOverFailed);
    EXPECT_FALSE(later.WillPlay(0ms));
  }
  EXPECT_LT(waited.elapsed(), 3000);
  EXPECT_TRUE(first.WillPlay(0ms));
  SingleInstance offline(
      [] { return QDBusConnection(QStringLiteral("newsbar-no-such-connection")); });
  EXPECT_TRUE(offline.WillPlay(5s));
  EXPECT_EQ(offline.role(), SingleInstance::Role::kAlone);
}

TEST_F(MprisBus, PropertiesAndSignalsFollowTheEpisode) {
  Start(ThreeRows());
  MprisListener listener;
  QDBusConnection client = ClientBus();
  ASSERT_TRUE(Listen(client, listener, true));

  auto lastWith = [&](const char* name) -> QVariant {
    for (auto change = listener.changes.rbegin(); change != listener.changes.rend(); ++change) {
      if (change->contains(QString::fromLatin1(name)))
        return change->value(QString::fromLatin1(name));
    }
    return {};
  };

  // The window's own button, not a D-Bus call: the desktop still hears of it, first without
  // the length, then with it.
  QTest::mouseClick(window_->nextButton, Qt::LeftButton);
  ASSERT_TRUE(WaitForStart(*window_));
  ASSERT_TRUE(WaitUntil([&] {
    return qdbus_cast<QVariantMap>(lastWith("Metadata")).contains(QStringLiteral("mpris:length"));
  }));
  const QVariantMap metadata = qdbus_cast<QVariantMap>(lastWith("Metadata"));
  // Named by its audio URL, not by its row (which a refresh may move).
  const QString track =
      metadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path();
  EXPECT_TRUE(track.startsWith(QStringLiteral("/io/github/newsbar/track/"))) << track.toStdString();
  EXPECT_NE(track, QStringLiteral("/io/github/newsbar/track/1"));
  EXPECT_EQ(metadata.value(QStringLiteral("xesam:title")).toString(),
            QStringLiteral("7月20日小涟晚报：第二期"));
  EXPECT_EQ(metadata.value(QStringLiteral("mpris:artUrl")).toString().toStdString(),
            server_.Url("b.png"));
  EXPECT_EQ(metadata.value(QStringLiteral("mpris:length")).toLongLong(), 20000000);
  EXPECT_EQ(metadata.value(QStringLiteral("xesam:album")).toString(), QStringLiteral("小涟晚报"));
  EXPECT_EQ(metadata.value(QStringLiteral("xesam:artist")).toStringList(),
            QStringList{QStringLiteral("小涟晚报")});
  EXPECT_NE(Get(QStringLiteral("Metadata")).find("'xesam:title': <'7月20日小涟晚报：第二期'>"),
            std::string::npos);

  QTest::mouseClick(window_->playPauseButton, Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return lastWith("PlaybackStatus").toString() == "Paused"; }));

  // Moving the slider from the desktop while paused: the media goes there and stays
  // paused; the picture still offers to play.
  Call(QStringLiteral("SetPosition"),
       {QLatin1Char('\'') + track + QLatin1Char('\''), QStringLiteral("12000000")});
  EXPECT_EQ(window_->progress->Position(), 12);
  EXPECT_EQ(window_->Media().State(), 3);
  EXPECT_EQ(window_->playPauseButton->Picture(), PlayImage());
  ASSERT_TRUE(WaitUntil([&] { return !listener.seeks.empty(); }));
  EXPECT_EQ(listener.seeks.back(), 12000000);
  HandleEventsFor(1200);
  EXPECT_EQ(Get(QStringLiteral("Position")), "(<int64 12000000>,)");
  EXPECT_EQ(Get(QStringLiteral("PlaybackStatus")), "(<'Paused'>,)");
  EXPECT_EQ(window_->progress->Position(), 12);
  // Playing, it plays on from where it was sent.
  Call(QStringLiteral("Play"));
  Call(QStringLiteral("SetPosition"),
       {QLatin1Char('\'') + track + QLatin1Char('\''), QStringLiteral("12000000")});
  EXPECT_EQ(window_->Media().State(), 1);
  ASSERT_TRUE(WaitUntil([&] { return lastWith("PlaybackStatus").toString() == "Playing"; }));
  const std::string position = Get(QStringLiteral("Position"));
  ASSERT_EQ(position.rfind("(<int64 ", 0), 0u) << position;
  EXPECT_GE(std::stoll(position.substr(8)), 12000000);

  // Another episode's id is refused; a seek past the end is the next episode.
  Call(QStringLiteral("SetPosition"),
       {QStringLiteral("'/io/github/newsbar/track/0'"), QStringLiteral("2000000")});
  EXPECT_GE(window_->progress->Position(), 12);
  // Paused, the position holds still: a seek back lands exactly 5 s before it, paused.
  Call(QStringLiteral("Pause"));
  const qlonglong paused = mpris_->Position();
  Call(QStringLiteral("Seek"), {QStringLiteral("int64 -5000000")});
  EXPECT_EQ(window_->progress->Position(), (paused - 5000000) / 1000000);
  EXPECT_EQ(window_->Media().State(), 3);
  Call(QStringLiteral("Seek"), {QStringLiteral("int64 60000000")});
  EXPECT_EQ(CurrentRow, 2);
  ASSERT_TRUE(WaitUntil([&] {
    return qdbus_cast<QVariantMap>(lastWith("Metadata"))
               .value(QStringLiteral("xesam:title"))
               .toString() == QStringLiteral("早报第三期");
  }));

  // Past the end of the last row the episode ends as its end would, by the loop mode: in
  // order, playback stops (no wrap to the first row); repeat one starts it again.
  ASSERT_TRUE(WaitForStart(*window_));
  QTest::mouseClick(window_->loopButton, Qt::LeftButton);  // repeat one
  const int asked = server_.CountFor("c.wav");
  Call(QStringLiteral("Seek"), {QStringLiteral("int64 60000000")});
  EXPECT_EQ(CurrentRow, 2);
  EXPECT_TRUE(WaitUntil([&] { return server_.CountFor("c.wav") > asked; }));
  ASSERT_TRUE(WaitForStart(*window_));
  QTest::mouseClick(window_->loopButton, Qt::LeftButton);  // shuffle
  QTest::mouseClick(window_->loopButton, Qt::LeftButton);  // in order
  Call(QStringLiteral("Seek"), {QStringLiteral("int64 60000000")});
  EXPECT_EQ(CurrentRow, 2);
  EXPECT_EQ(window_->Media().State(), 0);
}

}  // namespace
}  // namespace newsbar::test

#include "test_mpris.moc"
