// The player and the machine's sleep. While sound plays, the desktop's idle suspend is
// held off through the portal on the session bus (org.freedesktop.portal.Desktop,
// org.freedesktop.portal.Inhibit.Inhibit with the suspend flag alone, 4): the screen still
// blanks and locks, and a suspend the person asks for (the lid, the menu) still happens,
// since the portal's inhibitor is only what the desktop's idle suspend honours. logind's
// own inhibitor locks are not taken. When sound stops, the inhibitor is released by
// closing the Request object the portal gave for it (org.freedesktop.portal.Request.Close);
// at exit the portal drops it with the connection.
//
// After the machine resumes (logind's PrepareForSleep(false) on the system bus,
// org.freedesktop.login1.Manager), `resumed` is emitted: a stream whose connection died
// during the sleep can be reopened at once.
//
// Lives on the window's thread and is used only there; nothing in it waits on a bus.
// Connecting to a bus can take long (a bus that accepts the connection and never answers
// is waited for without limit), so both buses are connected, and the resume signal
// subscribed to, on a thread of its own and handed back; every call after that is
// asynchronous. Without a session bus or a portal, sound is not kept from idle suspend;
// without a system bus or logind, `resumed` never comes; either way one line on
// `newsbar.desktop` says so and everything else works.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <memory>
#include <thread>

namespace newsbar {

class SleepWatch : public QObject {
  Q_OBJECT
 public:
  using BusConnector = std::function<QDBusConnection()>;

  // Starts connecting to both buses (session bus first) on a thread of its own and
  // returns at once.
  explicit SleepWatch(BusConnector sessionBus = &QDBusConnection::sessionBus,
                      BusConnector systemBus = &OwnSystemBus);
  // Releases the inhibitor (one still on its way is released when it arrives). Waits for
  // the connecting thread if it has not finished, which takes long only on a bus that
  // accepted the connection and does not answer (Qt's D-Bus waits on such a bus too).
  ~SleepWatch() override;
  SleepWatch(const SleepWatch&) = delete;
  SleepWatch& operator=(const SleepWatch&) = delete;

  // True while sound plays: idle suspend is held off. False releases the inhibitor. Only
  // the latest call counts: however quickly it flips, at most one inhibitor is held or
  // asked for at a time. Called before the session bus is there, it takes effect once it
  // is. A portal that refused is asked again at the next true after a false.
  void SetSoundPlaying(bool playing);

  // The system bus on a connection of the watch's own, not Qt's shared one: Qt holds one
  // lock while it connects either shared bus, so a system bus slow to answer would keep
  // every QDBusConnection::sessionBus() in the program waiting meanwhile.
  static QDBusConnection OwnSystemBus();

  // Whether an inhibitor is held: the portal has answered, and sound still plays.
  bool Inhibiting() const;
  // Whether the resume signal is subscribed to (false until the system bus has been
  // connected, and for good without one).
  bool WatchingResume() const { return watchingResume_; }

 signals:
  // The machine has resumed from sleep.
  void resumed();

 private slots:
  // logind's PrepareForSleep: true before the machine sleeps, false once it has resumed.
  void OnPrepareForSleep(bool sleeping);

 private:
  struct Inhibitor;

  // Runs on the connecting thread.
  void Connect(const BusConnector& sessionBus, const BusConnector& systemBus);

  std::shared_ptr<Inhibitor> inhibitor_;
  bool watchingResume_ = false;
  std::thread connecting_;
};

}  // namespace newsbar
