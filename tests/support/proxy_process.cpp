#include "support/proxy_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/http_server.h"

extern char** environ;

namespace newsbar::test {
namespace {

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

std::unique_ptr<ProxyProcess> ProxyProcess::StartTinyproxy(const std::string& user,
                                                           const std::string& password) {
  std::string config =
      "Listen 127.0.0.1\n"
      "Timeout 30\n"
      "MaxClients 50\n"
      "Allow 127.0.0.1\n"
      "LogLevel Critical\n";
  if (!user.empty()) config += "BasicAuth " + user + " " + password + "\n";
  return Launch("tinyproxy", config, {});
}

std::unique_ptr<ProxyProcess> ProxyProcess::StartMicrosocks() {
  return Launch("microsocks", {}, "-p");
}

std::unique_ptr<ProxyProcess> ProxyProcess::Launch(const std::string& program,
                                                   const std::string& configText,
                                                   const std::string& portArgument) {
  // The free port may be taken between our check and the child's bind: try a few.
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::unique_ptr<ProxyProcess> proxy(new ProxyProcess());
    proxy->port_ = FreeLoopbackPort();
    const std::string port = std::to_string(proxy->port_);
    std::vector<std::string> arguments = {program};
    if (portArgument.empty()) {
      char pattern[] = "/tmp/newsbar-proxy-XXXXXX";
      if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
      proxy->directory_ = pattern;
      const std::string path = proxy->directory_ + "/proxy.conf";
      std::ofstream(path) << "Port " << port << "\n" << configText;
      arguments.insert(arguments.end(), {"-d", "-c", path});
    } else {
      arguments.insert(arguments.end(), {"-i", "127.0.0.1", portArgument, port});
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int rc =
        ::posix_spawnp(&proxy->pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error(program + " cannot be started");

    // Nothing tells us when the child listens; try to connect until it does or exits.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Accepts(proxy->port_)) return proxy;
      int status = 0;
      if (::waitpid(proxy->pid_, &status, WNOHANG) == proxy->pid_) {
        proxy->pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  throw std::runtime_error(program + " did not start listening");
}

ProxyProcess::~ProxyProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (!directory_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
}

}  // namespace newsbar::test
