// D-Bus for tests: a bus daemon of the test's own, standing for the session or the system
// bus, and python-dbusmock services on it (Debian's /usr/bin/python3 with python3-dbusmock).
//
//   PrivateBus system;                        // Address() empty without dbus-daemon
//   BusMock logind(system, BusMock::kLogind);  // dbusmock's logind template
//   QDBusConnection client = system.Client();  // the test's own connection
//
// Every call here waits (the test's thread may); the program's code is handed connectors.
// The processes are started with posix_spawn (a thread checker does not follow a fork of
// a process with threads, as QProcess makes) and end with the test's thread even when it
// crashes.
#pragma once

#include <sys/types.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QVariantList>
#include <functional>

namespace newsbar::test {

class PrivateBus {
 public:
  // Starts dbus-daemon with the session bus's configuration on a socket of its own;
  // Address() is empty when it could not be started.
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

  QTemporaryDir directory_;  // the bus's socket and the daemon's log
  pid_t daemon_ = -1;
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
  // What it wrote on its error output (why it did not start, a template's exception).
  QString Errors() const;

 private:
  PrivateBus& bus_;
  QString name_;
  QTemporaryFile log_;
  pid_t process_ = -1;
  bool running_ = false;
};

}  // namespace newsbar::test
