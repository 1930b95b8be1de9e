#include "app/sleep_watch.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <utility>

#include "util/log.h"

namespace newsbar {

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInhibitInterface = QStringLiteral("org.freedesktop.portal.Inhibit");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
// Inhibit's flags: 1 logout, 2 user switch, 4 suspend, 8 idle (the screen's blanking and
// locking). Only suspend.
constexpr uint kInhibitSuspend = 4;

const QString kLogindService = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");

// The errors of a desktop that offers no portal, or one without Inhibit: expected, so
// only a debug line.
bool PortalMissing(const QDBusError& error) {
  switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
      return true;
    default:
      return false;
  }
}

}  // namespace

// The one inhibitor, on the window's thread. It outlives the watch while an Inhibit call
// is on its way, so that the handle that comes after the watch has gone is closed too.
struct SleepWatch::Inhibitor : std::enable_shared_from_this<Inhibitor> {
  QDBusConnection bus{QString()};  // not connected until the connecting thread hands it over
  bool wanted = false;             // the latest SetSoundPlaying
  bool asking = false;             // an Inhibit call is on its way
  bool refused = false;            // the portal refused since `wanted` was last false
  bool reported = false;           // a failure has been logged
  QString held;                    // the Request object of the inhibitor held, or empty

  // Brings what the portal holds in line with `wanted`: at most one inhibitor held or
  // asked for at a time.
  void Update() {
    if (!bus.isConnected()) return;
    if (!wanted && !held.isEmpty()) Close(std::exchange(held, QString()));
    if (!wanted || !held.isEmpty() || asking || refused) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kPortalService, kPortalPath, kInhibitInterface, QStringLiteral("Inhibit"));
    // No window identifier: the inhibitor is the application's, not a window's.
    call << QString() << kInhibitSuspend
         << QVariantMap{{QStringLiteral("reason"), QString::fromUtf8("正在播放")}};
    asking = true;
    // Parented to the application, so that a reply that never comes before the end does
    // not leak it; the reply is awaited without the watch, which may go meanwhile.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [self = shared_from_this()](QDBusPendingCallWatcher* finished) {
                       self->Answered(*finished);
                       finished->deleteLater();
                     });
  }

  void Answered(const QDBusPendingCallWatcher& call) {
    asking = false;
    const QDBusPendingReply<QDBusObjectPath> reply = call;
    if (reply.isError()) {
      if (wanted) refused = true;
      // One line for the first failure; later ones only among the debug lines.
      if (std::exchange(reported, true)) {
        qCDebug(lcDesktop) << "sleep: idle suspend is not held off again:"
                           << reply.error().message();
      } else if (PortalMissing(reply.error())) {
        qCDebug(lcDesktop) << "sleep: the desktop offers no idle inhibitor, idle suspend is "
                              "not held off while sound plays:"
                           << reply.error().message();
      } else {
        qCWarning(lcDesktop) << "sleep: the portal refused to hold off idle suspend:"
                             << reply.error().message();
      }
      return;
    }
    const QString handle = reply.value().path();
    // Sound stopped while the call was on its way: released as soon as it is known.
    if (!wanted) {
      Close(handle);
      return;
    }
    held = handle;
  }

  // The portal answers Close with nothing, so no reply is asked for.
  void Close(const QString& request) const {
    bus.send(QDBusMessage::createMethodCall(kPortalService, request, kRequestInterface,
                                            QStringLiteral("Close")));
  }
};

SleepWatch::SleepWatch(BusConnector sessionBus, BusConnector systemBus)
    : inhibitor_(std::make_shared<Inhibitor>()) {
  connecting_ = std::thread([this, sessionBus = std::move(sessionBus),
                             systemBus = std::move(systemBus)] { Connect(sessionBus, systemBus); });
}

SleepWatch::~SleepWatch() {
  connecting_.join();
  inhibitor_->wanted = false;
  inhibitor_->Update();
}

QDBusConnection SleepWatch::OwnSystemBus() {
  return QDBusConnection::connectToBus(QDBusConnection::SystemBus,
                                       QStringLiteral("newsbar-sleep-watch-system"));
}

void SleepWatch::SetSoundPlaying(bool playing) {
  inhibitor_->wanted = playing;
  if (!playing) inhibitor_->refused = false;
  inhibitor_->Update();
}

bool SleepWatch::Inhibiting() const {
  return !inhibitor_->held.isEmpty();
}

void SleepWatch::OnPrepareForSleep(bool sleeping) {
  qCDebug(lcDesktop) << (sleeping ? "sleep: the machine goes to sleep"
                                  : "sleep: the machine has resumed");
  if (!sleeping) emit resumed();
}

void SleepWatch::Connect(const BusConnector& sessionBus, const BusConnector& systemBus) {
  // What is found here goes to the window's thread as a queued call; the destructor waits
  // for this thread, so the watch is there to receive it (and drops it if it goes first).
  const QDBusConnection session = sessionBus();
  if (session.isConnected()) {
    QMetaObject::invokeMethod(
        this,
        [this, session] {
          inhibitor_->bus = session;
          inhibitor_->Update();
        },
        Qt::QueuedConnection);
  } else {
    qCDebug(lcDesktop) << "sleep: no session bus, idle suspend is not held off while sound "
                          "plays:"
                       << session.lastError().message();
  }

  QDBusConnection system = systemBus();
  if (!system.isConnected()) {
    qCDebug(lcDesktop) << "sleep: no system bus, a resume goes unnoticed:"
                       << system.lastError().message();
    return;
  }
  // Subscribing waits for the bus's answer, which is why it is done here. The signal
  // reaches the watch on its own thread.
  if (!system.connect(kLogindService, kLogindPath, kLogindManager,
                      QStringLiteral("PrepareForSleep"), this, SLOT(OnPrepareForSleep(bool)))) {
    qCWarning(lcDesktop) << "sleep: cannot subscribe to logind's PrepareForSleep:"
                         << system.lastError().message();
    return;
  }
  QDBusMessage hasOwner = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
  hasOwner << kLogindService;
  const QDBusMessage owner = system.call(hasOwner);
  if (owner.type() != QDBusMessage::ReplyMessage || !owner.arguments().value(0).toBool()) {
    // Still subscribed: logind that starts later is heard.
    qCDebug(lcDesktop) << "sleep: logind is not on the system bus, a resume goes unnoticed "
                          "until it is";
  }
  QMetaObject::invokeMethod(
      this, [this] { watchingResume_ = true; }, Qt::QueuedConnection);
}

}  // namespace newsbar
