// A loopback HTTP server that misbehaves on purpose, for the tests that prove the player
// survives bad networks and bad servers.
//
// Plain sockets and threads, no HTTP library: a fault such as "send the headers, then
// nothing" has to be exact on the wire. The server listens on 127.0.0.1 with an
// ephemeral port and treats every request the same way, by its Fault; each connection
// carries one request and is served on its own thread, so one stalled client never
// holds up another. Stalls last until the server is destroyed, which wakes and ends
// every connection at once (the destructor never waits on a client).
//
//   newsbar::test::FaultServer server(newsbar::test::Fault::kHeadersThenStall, body);
//   ... a client fetches server.Url("/cover.png") and must give up on its own ...
//   EXPECT_EQ(server.RequestCount(), 1u);
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace newsbar::test {

enum class Fault {
  kNone,              // 200 with the body (Content-Length, Connection: close)
  kRefuse,            // nothing listens on the port: connections are refused
  kSilent,            // accepts and reads the request, then never answers
  kHeadersThenStall,  // the status line and headers (announcing the whole body), then nothing
  kEndlessBody,       // 200 without a length, then body bytes for as long as the client reads
  kEarlyClose,        // announces the whole body, sends half of it and closes
  kNotFound,          // 404 with a short text body
  kServerError,       // 500 with a short text body
  kHtml,              // 200 with an HTML error page as text/html
  kTruncated,         // 200 with the first half of the body, its length announced correctly
  kDrip,              // the healthy reply, one byte per drip interval (1 s unless set)
  kDripBody,          // the headers at once, then the body one byte per drip interval
  kRedirectLoop,      // 302 to a new path on this server, every time
};

// Printable name of a fault, for test names and messages.
std::string_view FaultName(Fault fault);
// For test failure messages.
void PrintTo(Fault fault, std::ostream* out);

class FaultServer {
 public:
  // body: what a healthy reply would carry (the faults send it, or part of it).
  explicit FaultServer(Fault fault, std::string body = {},
                       std::string contentType = "application/json; charset=utf-8");
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  Fault fault() const { return fault_; }
  int Port() const { return port_; }
  // "127.0.0.1:<port>"
  std::string HostPort() const;
  // "http://127.0.0.1:<port>" + target
  std::string Url(std::string_view target = "/") const;

  // The Date header of every reply that has headers; nothing sends none. The default
  // is none.
  void SetDateHeader(std::optional<std::string> value);
  void SetDripInterval(std::chrono::milliseconds interval);

  // Connections accepted, and requests read in full (request line and headers), so far.
  std::size_t ConnectionCount() const;
  std::size_t RequestCount() const;
  // The request lines ("GET /a HTTP/1.1"), in arrival order.
  std::vector<std::string> RequestLines() const;
  // Body bytes written to clients so far (all connections).
  std::uint64_t BodyBytesSent() const;
  // Waits until at least `count` requests have been read; false when `timeout` passes.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  void AcceptLoop();
  void Serve(int socket);
  // Reads one request head (and a body of announced length); false when the client
  // went away or the server is stopping.
  bool ReadRequest(int socket, std::string& requestLine);
  bool SendAll(int socket, std::string_view bytes, bool countsAsBody);
  // Waits until the server stops or `duration` passes; true when it is stopping.
  bool WaitForStop(std::chrono::milliseconds duration);
  void WaitForStop();
  std::string Head(int status, std::string_view reason, std::string_view contentType,
                   std::optional<std::size_t> contentLength,
                   std::string_view extraLines = {}) const;

  const Fault fault_;
  const std::string body_;
  const std::string contentType_;
  int port_ = 0;
  int listenSocket_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::thread acceptThread_;

  mutable std::mutex mutex_;  // guards everything below
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::optional<std::string> dateHeader_;
  std::chrono::milliseconds dripInterval_{1000};
  std::vector<std::thread> connections_;
  std::vector<int> openSockets_;
  std::size_t connectionCount_ = 0;
  std::vector<std::string> requestLines_;
  std::uint64_t bodyBytesSent_ = 0;
  int redirects_ = 0;
};

}  // namespace newsbar::test
