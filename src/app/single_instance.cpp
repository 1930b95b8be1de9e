#include "app/single_instance.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <optional>
#include <utility>

#include "app/application_id.h"
#include "util/log.h"

namespace newsbar {

namespace {

const QString kObjectPath = QStringLiteral("/io/github/newsbar/newsbar");
const QString kInterface = QStringLiteral("org.freedesktop.Application");

// org.freedesktop.Application, the part a launcher uses: Activate. The player opens no
// files and has no actions, so Open and ActivateAction are not offered.
class ApplicationAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

 public:
  explicit ApplicationAdaptor(SingleInstance* owner) : QDBusAbstractAdaptor(owner), owner_(owner) {}

 public slots:
  void Activate(const QVariantMap& platform_data) { owner_->Activate(platform_data); }

 private:
  SingleInstance* owner_;
};

// RequestName's flag and answers (the values the D-Bus standard gives them).
constexpr uint kDoNotQueue = 0x4;
constexpr uint kPrimaryOwner = 1;
constexpr uint kExists = 3;
constexpr uint kAlreadyOwner = 4;

// The bus's answer, nothing when it gave none in time.
std::optional<uint> RequestName(QDBusConnection& bus, int timeoutMs) {
  QDBusMessage request = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
  request << QString::fromLatin1(kApplicationId) << kDoNotQueue;
  const QDBusMessage reply = bus.call(request, QDBus::Block, timeoutMs);
  if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1) {
    return reply.arguments().constFirst().toUInt();
  }
  qCWarning(lcDesktop) << "one player per session: no answer from the session bus:"
                       << reply.errorMessage();
  return std::nullopt;
}

bool AskHolderToActivate(QDBusConnection& bus, int timeoutMs) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QString::fromLatin1(kApplicationId), kObjectPath, kInterface, QStringLiteral("Activate"));
  call << QVariantMap();
  const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
  if (reply.type() == QDBusMessage::ReplyMessage) return true;
  qCWarning(lcDesktop) << "the running newsbar did not answer:" << reply.errorMessage();
  return false;
}

}  // namespace

SingleInstance::SingleInstance(BusConnector connect, int timeoutMs) {
  // Made here, on the thread that answers the calls; it is exported on the claim's thread.
  new ApplicationAdaptor(this);
  pending_ = std::async(std::launch::async, [this, connect = std::move(connect), timeoutMs] {
               return MakeClaim(connect, timeoutMs);
             }).share();
}

SingleInstance::~SingleInstance() {
  role();
  if (claim_.role == Role::kFirst)
    claim_.bus.unregisterService(QString::fromLatin1(kApplicationId));
  if (claim_.objectRegistered) claim_.bus.unregisterObject(kObjectPath);
}

SingleInstance::Role SingleInstance::role() {
  if (!claimTaken_ && pending_.valid()) {
    claim_ = pending_.get();
    claimTaken_ = true;
  }
  return claim_.role;
}

bool SingleInstance::WillPlay(std::chrono::milliseconds bound) const {
  // Its own copy of the shared outcome: the window's thread may be taking it meanwhile.
  const std::shared_future<Claim> pending = pending_;
  if (!pending.valid() || pending.wait_for(bound) != std::future_status::ready) return true;
  const Role role = pending.get().role;
  return role == Role::kFirst || role == Role::kAlone;
}

SingleInstance::Claim SingleInstance::MakeClaim(const BusConnector& connect, int timeoutMs) {
  Claim claim;
  claim.bus = connect();
  if (!claim.bus.isConnected()) return claim;
  // The object answers before the name is held, so a launch that sees the name taken
  // always finds someone to ask. Calls reach it on the thread it lives on.
  claim.objectRegistered =
      claim.bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors);
  if (!claim.objectRegistered) {
    qCWarning(lcDesktop) << "one player per session: the object path is taken on this connection";
    return claim;
  }
  // A holder that did not answer may have been ending just then (closed, and at once
  // started again): the name is asked for once more before giving up.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::optional<uint> answer = RequestName(claim.bus, timeoutMs);
    if (answer == kPrimaryOwner || answer == kAlreadyOwner) {
      claim.role = Role::kFirst;
    } else if (answer == kExists) {
      if (attempt == 0 && !AskHolderToActivate(claim.bus, timeoutMs)) continue;
      claim.role = attempt == 0 ? Role::kHandedOver : Role::kHandOverFailed;
    } else if (answer) {
      qCWarning(lcDesktop) << "one player per session: RequestName answered" << *answer;
    }
    break;
  }
  return claim;
}

void SingleInstance::Activate(const QVariantMap&) {
  if (!window_) return;
  window_->setWindowState((window_->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

}  // namespace newsbar

#include "single_instance.moc"
