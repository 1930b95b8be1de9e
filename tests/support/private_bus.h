// D-Bus for tests: a bus daemon of the test's own, standing for the session or the system
// bus, and python-dbusmock services on it (Debian's /usr/bin/python3 with python3-dbusmock).
//
//   PrivateBus system;                        // Address() empty without dbus-daemon
//   BusMock logind(system, BusMock::kLogind);  // dbusmock's logind template
//   QDBusConnection client = system.Client();  // the test's own connection
//
// Every call here waits (the test's thread may); the program's code is handed connectors.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <functional>
#include <memory>

namespace newsbar::test {

class PrivateBus {
 public:
  // Starts dbus-daemon with the session bus's configuration; Address() is empty when it
  // could not be started.
  PrivateBus();
  // Closes the connections made through it, then ends the daemon.
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const QString& Address() const { return address_; }
  // The test's own connection to the bus, made on first use.
  QDBusConnection Client();
  // Connects a new connection of its own to the bus each time it is called, on whatever
  // thread calls it (as QDBusConnection::sessionBus would).
  std::function<QDBusConnection()> Connector();

 private:
  QString NewConnectionName();

  std::unique_ptr<QProcess> daemon_;
  QString address_;
  QStringList connections_;  // names of the connections to close at the end
  QString clientName_;
};

class BusMock {
 public:
  struct Service {
    QString name;           // the bus name it holds once it runs
    QStringList arguments;  // after "python3 -m dbusmock"
  };
  // dbusmock's logind template (org.freedesktop.login1 on what stands for the system bus).
  static const Service kLogind;
  // The portal's idle inhibitor (tests/support/portal_mock.py) on the session bus.
  static const Service kPortal;

  // Whether python-dbusmock can run here.
  static bool Available();

  // Runs the service with `bus` as both its session and its system bus, and waits until it
  // holds its name (Running() then) or has failed (up to 10 s).
  BusMock(PrivateBus& bus, const Service& service);
  ~BusMock();
  BusMock(const BusMock&) = delete;
  BusMock& operator=(const BusMock&) = delete;

  bool Running() const { return running_; }
  // A call to one of the service's objects over the test's connection; gives the reply or
  // the error.
  QDBusMessage Call(const QString& path, const QString& interface, const QString& method,
                    const QVariantList& arguments = {});

 private:
  PrivateBus& bus_;
  QString name_;
  QProcess process_;
  bool running_ = false;
};

}  // namespace newsbar::test
