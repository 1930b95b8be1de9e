// HTTP and SOCKS proxies for tests: tinyproxy and microsocks, each started as a child
// process on a free loopback port and killed when the object goes away.
//
//   auto proxy = newsbar::test::ProxyProcess::StartTinyproxy();
//   ... request with proxy address proxy->Address() ("127.0.0.1:<port>") ...
//
// Start* throws std::runtime_error when the program is missing or never starts
// listening; the port accepts connections by the time it returns.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace newsbar::test {

class ProxyProcess {
 public:
  // An HTTP proxy (plain requests and CONNECT tunnels to any port) that adds its "Via"
  // header to what it forwards. With a user name it demands Basic proxy credentials
  // (407 without them).
  static std::unique_ptr<ProxyProcess> StartTinyproxy(const std::string& user = {},
                                                      const std::string& password = {});
  // A SOCKS5 proxy without authentication.
  static std::unique_ptr<ProxyProcess> StartMicrosocks();

  ~ProxyProcess();
  ProxyProcess(const ProxyProcess&) = delete;
  ProxyProcess& operator=(const ProxyProcess&) = delete;

  int Port() const { return port_; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  ProxyProcess() = default;
  static std::unique_ptr<ProxyProcess> Launch(const std::string& program,
                                              const std::string& configText,
                                              const std::string& portArgument);

  pid_t pid_ = -1;
  int port_ = 0;
  std::string directory_;  // holds the configuration file, removed at the end
};

}  // namespace newsbar::test
