#include "support/private_bus.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "support/wait_until.h"

extern char** environ;

namespace newsbar::test {

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");

// Starts a program with stdin and stdout on /dev/null and stderr into `log` (a child that
// kept the test's own output open would hold up the test runner after a crash). Through
// setpriv, where there is one, it is ended with SIGTERM when the test's thread ends,
// however that happens. Gives -1 when it cannot be started.
pid_t Spawn(const QStringList& arguments, const QString& log,
            const std::vector<std::string>& environment = {}) {
  std::vector<std::string> words;
  const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
  if (!setpriv.isEmpty()) words = {setpriv.toStdString(), "--pdeathsig", "SIGTERM", "--"};
  for (const QString& argument : arguments) words.push_back(argument.toStdString());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  std::vector<std::string> variables = environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string entry = *variable;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& given : environment) replaced = replaced || given.starts_with(name);
    if (!replaced) variables.push_back(entry);
  }
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const std::string logPath = log.toStdString();
  posix_spawn_file_actions_addopen(&actions, 2, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

bool StillRunning(pid_t& pid) {
  if (pid <= 0) return false;
  int status = 0;
  if (::waitpid(pid, &status, WNOHANG) != pid) return true;
  pid = -1;
  return false;
}

// Asked first, then made to.
void End(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  if (!WaitUntil([&] { return !StillRunning(pid); }, std::chrono::seconds(5))) {
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  pid = -1;
}

bool Accepts(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  const bool accepts = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return accepts;
}

}  // namespace

PrivateBus::PrivateBus() {
  if (!directory_.isValid()) return;
  const std::string path = directory_.filePath(QStringLiteral("bus")).toStdString();
  const QString address = QStringLiteral("unix:path=") + QString::fromStdString(path);
  daemon_ = Spawn({QStringLiteral("dbus-daemon"), QStringLiteral("--session"),
                   QStringLiteral("--nofork"), QStringLiteral("--address=") + address},
                  directory_.filePath(QStringLiteral("dbus-daemon.log")));
  if (WaitUntil([&] { return !StillRunning(daemon_) || Accepts(path); }, std::chrono::seconds(5)) &&
      StillRunning(daemon_))
    address_ = address;
}

PrivateBus::~PrivateBus() {
  for (const QString& name : std::as_const(connections_)) QDBusConnection::disconnectFromBus(name);
  End(daemon_);
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
    pid_t probe = Spawn({kPython, QStringLiteral("-c"), QStringLiteral("import dbusmock")},
                        QStringLiteral("/dev/null"));
    int status = 0;
    while (probe > 0 && ::waitpid(probe, &status, 0) < 0 && errno == EINTR) {
    }
    return probe > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }();
  return available;
}

BusMock::BusMock(PrivateBus& bus, const Service& service) : bus_(bus), name_(service.name) {
  if (bus.Address().isEmpty() || !log_.open()) return;
  const std::string address = bus.Address().toStdString();
  process_ = Spawn(
      QStringList{kPython, QStringLiteral("-m"), QStringLiteral("dbusmock")} + service.arguments,
      log_.fileName(),
      {"DBUS_SESSION_BUS_ADDRESS=" + address, "DBUS_SYSTEM_BUS_ADDRESS=" + address});
  QDBusConnectionInterface* daemon = bus.Client().interface();
  running_ = WaitUntil([&] {
               return !StillRunning(process_) || daemon->isServiceRegistered(name_).value();
             }) &&
             StillRunning(process_);
}

BusMock::~BusMock() {
  End(process_);
}

QString BusMock::Errors() const {
  QFile log(log_.fileName());
  return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

QDBusMessage BusMock::Call(const QString& path, const QString& interface, const QString& method,
                           const QVariantList& arguments) {
  QDBusMessage call = QDBusMessage::createMethodCall(name_, path, interface, method);
  call.setArguments(arguments);
  return bus_.Client().call(call, QDBus::Block, 10000);
}

}  // namespace newsbar::test
