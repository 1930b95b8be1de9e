// The sleep watch against a mock portal on a private session bus and dbusmock's logind on a
// private system bus: the idle inhibitor follows the sound with the suspend flag alone and
// never more than one at a time, a resume is announced and nothing else is; without buses,
// or with one that does not answer, nothing waits.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "app/sleep_watch.h"
#include "support/log_capture.h"
#include "support/private_bus.h"
#include "support/wait_until.h"

namespace newsbar::test {
namespace {

const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kPortalTest = QStringLiteral("io.github.newsbar.test.Portal");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");

// "inhibit <flags> <reason> <handle>" or "close <handle>": the handle.
QString HandleOf(const QString& event) {
  return event.section(QLatin1Char(' '), -1);
}

// logind's PrepareForSleep, sent by the mock logind.
void EmitPrepareForSleep(BusMock& logind, bool sleeping) {
  const QDBusMessage reply = logind.Call(
      kLogindPath, QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("EmitSignal"),
      {kLogindManager, QStringLiteral("PrepareForSleep"), QStringLiteral("b"),
       QVariant::fromValue(QVariantList{sleeping})});
  ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
}

// Debug lines of newsbar.desktop on, for the test's length.
class DesktopDebugLines {
 public:
  DesktopDebugLines() {
    QLoggingCategory::setFilterRules(QStringLiteral("newsbar.desktop.debug=true"));
  }
  ~DesktopDebugLines() { QLoggingCategory::setFilterRules({}); }
  DesktopDebugLines(const DesktopDebugLines&) = delete;
  DesktopDebugLines& operator=(const DesktopDebugLines&) = delete;
};

// How many lines of newsbar.desktop hold `part`.
int Logged(const LogCapture& log, const std::string& part) {
  int lines = 0;
  for (const LogCapture::Line& line : log.Lines()) {
    if (line.category == "newsbar.desktop" && line.message.find(part) != std::string::npos) ++lines;
  }
  return lines;
}

class SleepWatchBus : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!BusMock::Available()) return;
    session_ = new PrivateBus;
    system_ = new PrivateBus;
    portal_ = new BusMock(*session_, BusMock::kPortal);
    logind_ = new BusMock(*system_, BusMock::kLogind);
  }

  static void TearDownTestSuite() {
    delete portal_;
    delete logind_;
    delete session_;
    delete system_;
    portal_ = logind_ = nullptr;
    session_ = system_ = nullptr;
  }

  void SetUp() override {
    if (!BusMock::Available()) GTEST_SKIP() << "python3-dbusmock is not installed";
    ASSERT_FALSE(session_->Address().isEmpty()) << "dbus-daemon did not start";
    ASSERT_TRUE(portal_->Running()) << portal_->Errors().toStdString();
    ASSERT_TRUE(logind_->Running()) << logind_->Errors().toStdString();
    before_ = Events().size();
  }

  // Every test ends with its watches gone: nothing may be held then, and never was more
  // than one inhibitor at a time.
  void TearDown() override {
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_TRUE(WaitUntil([&] { return Held() == 0; })) << Events().join('\n').toStdString();
    EXPECT_LE(MostHeld(), 1u);
  }

  std::unique_ptr<SleepWatch> Watch() {
    return std::make_unique<SleepWatch>(session_->Connector(), system_->Connector());
  }

  QStringList Events() {
    return portal_->Call(kPortalPath, kPortalTest, QStringLiteral("Events"))
        .arguments()
        .value(0)
        .toStringList();
  }
  // What the portal was asked since the test began.
  QStringList NewEvents() { return Events().mid(before_); }
  uint Held() {
    return portal_->Call(kPortalPath, kPortalTest, QStringLiteral("Held"))
        .arguments()
        .value(0)
        .toUInt();
  }
  uint MostHeld() {
    return portal_->Call(kPortalPath, kPortalTest, QStringLiteral("MostHeld"))
        .arguments()
        .value(0)
        .toUInt();
  }
  // Waits until the portal has been asked `count` things since the test began and holds
  // `held` inhibitors.
  bool Settles(qsizetype count, uint held) {
    return WaitUntil([&] { return NewEvents().size() == count && Held() == held; });
  }

  qsizetype before_ = 0;
  static PrivateBus* session_;
  static PrivateBus* system_;
  static BusMock* portal_;
  static BusMock* logind_;
};

PrivateBus* SleepWatchBus::session_ = nullptr;
PrivateBus* SleepWatchBus::system_ = nullptr;
BusMock* SleepWatchBus::portal_ = nullptr;
BusMock* SleepWatchBus::logind_ = nullptr;

TEST_F(SleepWatchBus, InhibitorFollowsTheSound) {
  auto watch = Watch();
  // Before the session bus is there: it takes effect once it is.
  watch->SetSoundPlaying(true);
  ASSERT_TRUE(Settles(1, 1)) << NewEvents().join('\n').toStdString();
  ASSERT_TRUE(WaitUntil([&] { return watch->Inhibiting(); }));
  const QStringList inhibit = NewEvents().first().split(QLatin1Char(' '));
  ASSERT_EQ(inhibit.size(), 4);
  EXPECT_EQ(inhibit[0], QStringLiteral("inhibit"));
  // Suspend alone: neither the screen's idle (8), nor logout (1) or a user switch (2).
  EXPECT_EQ(inhibit[1], QStringLiteral("4"));
  EXPECT_EQ(inhibit[2], QString::fromUtf8("正在播放"));
  const QString first = inhibit[3];

  // Saying it again changes nothing; stopping closes the portal's request for it.
  watch->SetSoundPlaying(true);
  watch->SetSoundPlaying(false);
  EXPECT_FALSE(watch->Inhibiting());
  ASSERT_TRUE(Settles(2, 0)) << NewEvents().join('\n').toStdString();
  EXPECT_EQ(NewEvents()[1], QStringLiteral("close ") + first);

  // Asked for again, and the watch gone before the answer is read: closed when it comes.
  // (Gone while one is held: QuickFlipsHoldAtMostOne.)
  watch->SetSoundPlaying(false);
  watch->SetSoundPlaying(true);
  watch.reset();
  ASSERT_TRUE(Settles(4, 0)) << NewEvents().join('\n').toStdString();
  const QString second = HandleOf(NewEvents()[2]);
  EXPECT_NE(second, first);
  EXPECT_EQ(NewEvents()[3], QStringLiteral("close ") + second);

  // Made and dropped before the buses are there: nothing is left behind either.
  for (int i = 0; i < 5; ++i) {
    SleepWatch quick(session_->Connector(), system_->Connector());
    quick.SetSoundPlaying(true);
  }
  QCoreApplication::processEvents();
}

TEST_F(SleepWatchBus, QuickFlipsHoldAtMostOne) {
  auto watch = Watch();
  watch->SetSoundPlaying(true);
  ASSERT_TRUE(WaitUntil([&] { return watch->Inhibiting(); }));
  ASSERT_TRUE(Settles(1, 1));
  const QString first = HandleOf(NewEvents()[0]);

  // Flips faster than the portal answers: the held one is closed, one more is asked for,
  // and the rest only change what is wanted when its answer comes.
  for (int i = 0; i < 20; ++i) {
    watch->SetSoundPlaying(false);
    watch->SetSoundPlaying(true);
  }
  EXPECT_FALSE(watch->Inhibiting());
  ASSERT_TRUE(WaitUntil([&] { return watch->Inhibiting(); }));
  ASSERT_TRUE(Settles(3, 1)) << NewEvents().join('\n').toStdString();
  QStringList events = NewEvents();
  EXPECT_EQ(events[1], QStringLiteral("close ") + first);
  EXPECT_TRUE(events[2].startsWith(QStringLiteral("inhibit 4 ")));
  const QString second = HandleOf(events[2]);

  // Released while the answer is on its way: closed as soon as its handle comes.
  watch->SetSoundPlaying(false);
  watch->SetSoundPlaying(true);
  watch->SetSoundPlaying(false);
  ASSERT_TRUE(Settles(6, 0)) << NewEvents().join('\n').toStdString();
  events = NewEvents();
  EXPECT_EQ(events[3], QStringLiteral("close ") + second);
  EXPECT_TRUE(events[4].startsWith(QStringLiteral("inhibit 4 ")));
  EXPECT_EQ(events[5], QStringLiteral("close ") + HandleOf(events[4]));

  // Flips with the answers coming in between at any point; the end is playing.
  for (int i = 0; i < 60; ++i) {
    watch->SetSoundPlaying(i % 3 != 0);
    if (i % 4 == 0) QCoreApplication::processEvents();
  }
  watch->SetSoundPlaying(true);
  ASSERT_TRUE(WaitUntil([&] {
    const QStringList all = NewEvents();
    const auto asked = all.filter(QRegularExpression(QStringLiteral("^inhibit "))).size();
    return watch->Inhibiting() && Held() == 1 && asked == all.size() - asked + 1;
  })) << NewEvents().join('\n').toStdString();
  watch.reset();
  ASSERT_TRUE(WaitUntil([&] { return Held() == 0; }));
  // Every request was closed once, and each close names the request asked for before it.
  events = NewEvents();
  ASSERT_EQ(events.size() % 2, 0);
  for (qsizetype i = 0; i < events.size(); i += 2) {
    EXPECT_TRUE(events[i].startsWith(QStringLiteral("inhibit 4 "))) << events[i].toStdString();
    EXPECT_EQ(events[i + 1], QStringLiteral("close ") + HandleOf(events[i]));
  }
}

TEST_F(SleepWatchBus, ResumedOnlyWhenLogindSaysSo) {
  auto watch = Watch();
  int resumes = 0;
  QObject::connect(watch.get(), &SleepWatch::resumed, [&] { ++resumes; });
  ASSERT_TRUE(WaitUntil([&] { return watch->WatchingResume(); }));

  // Another process sending a signal of that name is not logind. Signals reach the watch
  // in the order they were sent, so both of these come before the resume below.
  QDBusMessage fake =
      QDBusMessage::createSignal(kLogindPath, kLogindManager, QStringLiteral("PrepareForSleep"));
  fake << false;
  ASSERT_TRUE(system_->Client().send(fake));
  EmitPrepareForSleep(*logind_, true);
  EmitPrepareForSleep(*logind_, false);
  ASSERT_TRUE(WaitUntil([&] { return resumes > 0; }));
  EXPECT_EQ(resumes, 1);

  EmitPrepareForSleep(*logind_, true);
  EmitPrepareForSleep(*logind_, false);
  ASSERT_TRUE(WaitUntil([&] { return resumes > 1; }));
  EXPECT_EQ(resumes, 2);
}

TEST_F(SleepWatchBus, ARefusalIsSaidOnceAndTheNextStartAsksAgain) {
  LogCapture log;
  DesktopDebugLines debug;
  const auto setRefusing = [&](bool refusing) {
    portal_->Call(kPortalPath, kPortalTest, QStringLiteral("SetRefusing"), {refusing});
  };
  setRefusing(true);
  auto watch = Watch();
  watch->SetSoundPlaying(true);
  ASSERT_TRUE(WaitUntil([&] { return Logged(log, "refused") == 1; }));
  watch->SetSoundPlaying(false);
  watch->SetSoundPlaying(true);
  ASSERT_TRUE(WaitUntil([&] { return Logged(log, "not held off again") == 1; }));
  EXPECT_EQ(log.Warnings("newsbar.desktop").size(), 1u);

  setRefusing(false);
  watch->SetSoundPlaying(false);
  watch->SetSoundPlaying(true);
  ASSERT_TRUE(WaitUntil([&] { return watch->Inhibiting(); }));
  const QStringList events = NewEvents();
  ASSERT_EQ(events.size(), 3) << events.join('\n').toStdString();
  EXPECT_EQ(events[0], QStringLiteral("refused"));
  EXPECT_EQ(events[1], QStringLiteral("refused"));
  EXPECT_TRUE(events[2].startsWith(QStringLiteral("inhibit 4 ")));
  watch.reset();
}

// A session bus without a portal and a system bus without logind, both of which come
// later: the next start holds idle suspend off, and a resume is heard.
TEST(SleepWatchLateServices, PortalAndLogindThatComeLaterAreUsed) {
  if (!BusMock::Available()) GTEST_SKIP() << "python3-dbusmock is not installed";
  PrivateBus session;
  PrivateBus system;
  ASSERT_FALSE(session.Address().isEmpty()) << "dbus-daemon did not start";
  LogCapture log;
  DesktopDebugLines debug;
  SleepWatch watch(session.Connector(), system.Connector());
  int resumes = 0;
  QObject::connect(&watch, &SleepWatch::resumed, [&] { ++resumes; });
  watch.SetSoundPlaying(true);
  ASSERT_TRUE(WaitUntil([&] { return Logged(log, "offers no idle inhibitor") == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return watch.WatchingResume(); }));
  EXPECT_EQ(Logged(log, "logind is not on the system bus"), 1);
  EXPECT_TRUE(log.Warnings("newsbar.desktop").empty());

  BusMock portal(session, BusMock::kPortal);
  BusMock logind(system, BusMock::kLogind);
  ASSERT_TRUE(portal.Running()) << portal.Errors().toStdString();
  ASSERT_TRUE(logind.Running()) << logind.Errors().toStdString();
  watch.SetSoundPlaying(false);
  watch.SetSoundPlaying(true);
  ASSERT_TRUE(WaitUntil([&] { return watch.Inhibiting(); }));
  EmitPrepareForSleep(logind, false);
  ASSERT_TRUE(WaitUntil([&] { return resumes == 1; }));
}

std::function<QDBusConnection()> ConnectorTo(const QString& address) {
  static std::atomic<int> made{0};
  return [address, name = QStringLiteral("newsbar-test-nowhere-%1").arg(++made)] {
    return QDBusConnection::connectToBus(address, name);
  };
}

// A Unix socket that takes connections and says nothing on them until Close() or, at the
// latest, `limit` after it was made: then it goes away and hangs up on them.
class SilentSocket {
 public:
  explicit SilentSocket(std::chrono::milliseconds limit) {
    path_ = dir_.filePath(QStringLiteral("bus")).toStdString();
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path_.copy(address.sun_path, sizeof address.sun_path - 1);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, 8) != 0)
      return;
    bound_ = true;
    thread_ = std::thread([this, limit] { Serve(limit); });
  }
  ~SilentSocket() {
    Close();
    ::close(fd_);
  }
  SilentSocket(const SilentSocket&) = delete;
  SilentSocket& operator=(const SilentSocket&) = delete;

  bool Bound() const { return bound_; }
  QString Address() const { return QStringLiteral("unix:path=") + QString::fromStdString(path_); }
  int Accepted() const { return accepted_; }
  void Close() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Serve(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<int> taken;
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
      pollfd waiting{fd_, POLLIN, 0};
      if (::poll(&waiting, 1, 20) != 1) continue;
      const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      taken.push_back(fd);
      ++accepted_;
    }
    // Gone first, so that nothing connects after the hang-up and waits for good.
    ::unlink(path_.c_str());
    for (int fd : taken) ::close(fd);
  }

  QTemporaryDir dir_;
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

TEST(SleepWatchWithoutBuses, NothingWaitsAndOneLineSaysWhy) {
  LogCapture log;
  DesktopDebugLines debug;
  QElapsedTimer timer;
  timer.start();
  {
    SleepWatch watch(ConnectorTo(QStringLiteral("unix:path=/nonexistent/newsbar/bus")),
                     ConnectorTo(QStringLiteral("unix:path=/nonexistent/newsbar/bus")));
    for (int i = 0; i < 10; ++i) watch.SetSoundPlaying(i % 2 == 0);
    ASSERT_TRUE(WaitUntil([&] { return Logged(log, "no system bus") == 1; }));
    EXPECT_EQ(Logged(log, "no session bus"), 1);
    watch.SetSoundPlaying(true);
    EXPECT_FALSE(watch.WatchingResume());
  }
  EXPECT_LT(timer.elapsed(), 5000);
}

TEST(SleepWatchWithoutBuses, ABusThatDoesNotAnswerHoldsNothingUp) {
  // Were the window's thread to connect, it would wait the whole limit.
  SilentSocket silent(std::chrono::seconds(5));
  ASSERT_TRUE(silent.Bound());
  LogCapture log;
  DesktopDebugLines debug;
  QElapsedTimer timer;
  timer.start();
  auto watch =
      std::make_unique<SleepWatch>(ConnectorTo(silent.Address()), ConnectorTo(silent.Address()));
  for (int i = 0; i < 100; ++i) watch->SetSoundPlaying(i % 2 == 0);
  EXPECT_LT(timer.elapsed(), 200);
  // The session bus's connection is made and waits for an answer that does not come.
  ASSERT_TRUE(WaitUntil([&] { return silent.Accepted() == 1; }));
  timer.restart();
  for (int i = 0; i < 100; ++i) watch->SetSoundPlaying(i % 2 == 0);
  QCoreApplication::processEvents();
  EXPECT_LT(timer.elapsed(), 200);
  EXPECT_FALSE(watch->WatchingResume());
  EXPECT_EQ(Logged(log, "no session bus"), 0);

  // Hung up on, it counts as no bus; the system bus, gone by then, too.
  silent.Close();
  ASSERT_TRUE(WaitUntil([&] { return Logged(log, "no system bus") == 1; }));
  EXPECT_EQ(Logged(log, "no session bus"), 1);
  timer.restart();
  watch.reset();
  EXPECT_LT(timer.elapsed(), 1000);
}

}  // namespace
}  // namespace newsbar::test
