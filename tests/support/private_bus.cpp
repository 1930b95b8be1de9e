#include "support/private_bus.h"

#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <atomic>

#include "support/wait_until.h"

namespace newsbar::test {

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");

// Ends a child process: asked first, then made to.
void End(QProcess& process) {
  if (process.state() == QProcess::NotRunning) return;
  process.terminate();
  if (!process.waitForFinished(5000)) {
    process.kill();
    process.waitForFinished(5000);
  }
}

}  // namespace

PrivateBus::PrivateBus() {
  if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) return;
  daemon_ = std::make_unique<QProcess>();
  daemon_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  daemon_->start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address=1")});
  if (!daemon_->waitForStarted(5000)) return;
  while (!daemon_->canReadLine() && daemon_->waitForReadyRead(5000)) {
  }
  address_ = QString::fromUtf8(daemon_->readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
  for (const QString& name : std::as_const(connections_)) QDBusConnection::disconnectFromBus(name);
  if (daemon_) End(*daemon_);
}

QString PrivateBus::NewConnectionName() {
  static std::atomic<int> made{0};
  QString name = QStringLiteral("newsbar-test-bus-%1").arg(++made);
  connections_.push_back(name);
  return name;
}

QDBusConnection PrivateBus::Client() {
  if (!clientName_.isEmpty()) return QDBusConnection(clientName_);
  clientName_ = NewConnectionName();
  return QDBusConnection::connectToBus(address_, clientName_);
}

std::function<QDBusConnection()> PrivateBus::Connector() {
  return [address = address_, name = NewConnectionName()] {
    return QDBusConnection::connectToBus(address, name);
  };
}

const BusMock::Service BusMock::kLogind = {
    QStringLiteral("org.freedesktop.login1"),
    {QStringLiteral("--system"), QStringLiteral("--template"), QStringLiteral("logind")}};

const BusMock::Service BusMock::kPortal = {
    QStringLiteral("org.freedesktop.portal.Desktop"),
    {QStringLiteral("--session"), QStringLiteral("--template"),
     QStringLiteral(NEWSBAR_TEST_SUPPORT_DIR "/portal_mock.py")}};

bool BusMock::Available() {
  static const bool available = [] {
    if (!QFileInfo(kPython).isExecutable()) return false;
    QProcess probe;
    probe.start(kPython, {QStringLiteral("-c"), QStringLiteral("import dbusmock")});
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
  }();
  return available;
}

BusMock::BusMock(PrivateBus& bus, const Service& service) : bus_(bus), name_(service.name) {
  if (bus.Address().isEmpty()) return;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.Address());
  environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), bus.Address());
  process_.setProcessEnvironment(environment);
  // It logs every call on its output, which nobody reads; its errors go to the test's.
  process_.setStandardOutputFile(QProcess::nullDevice());
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_.start(kPython,
                 QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock")} + service.arguments);
  if (!process_.waitForStarted(5000)) return;
  QDBusConnectionInterface* daemon = bus.Client().interface();
  running_ =
      WaitUntil([&] {
        return process_.state() != QProcess::Running || daemon->isServiceRegistered(name_).value();
      }) &&
      process_.state() == QProcess::Running;
}

BusMock::~BusMock() {
  End(process_);
}

QDBusMessage BusMock::Call(const QString& path, const QString& interface, const QString& method,
                           const QVariantList& arguments) {
  QDBusMessage call = QDBusMessage::createMethodCall(name_, path, interface, method);
  call.setArguments(arguments);
  return bus_.Client().call(call, QDBus::Block, 10000);
}

}  // namespace newsbar::test
