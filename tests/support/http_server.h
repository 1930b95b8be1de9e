// A recording HTTP/HTTPS server on 127.0.0.1 for tests.
//
// Each server listens on an ephemeral loopback port, over plain HTTP or over TLS with a
// self-signed certificate made at run time (subject "localhost", DNS name "localhost",
// no IP address: a client that checks names rejects https://127.0.0.1, as it should).
// Requests are parsed and answered by cpp-httplib; this class owns the sockets, so it can
// record every request exactly as it arrived on the wire: the request line, the raw
// header lines in their order and spelling, and the body.
//
//   newsbar::test::HttpServer server;                         // or HttpServer(kHttps)
//   server.Handle("/a", [](const httplib::Request& request, httplib::Response& response) {
//     response.set_content("hello", "text/plain");
//   });
//   ... client fetches server.Url("/a?x=1") ...
//   ReceivedRequest got = server.LastRequest();
//   EXPECT_EQ(got.target, "/a?x=1");
//   EXPECT_TRUE(got.HasLine("Accept: */*"));
//
// Paths without a handler answer 404. cpp-httplib answers 413 to a form-encoded
// (application/x-www-form-urlencoded) request body beyond 8 KiB; use another type there. Handlers
// run on the connection's thread; a request is recorded before its handler runs, so once a client
// call has returned, the request it sent is in Requests(). Through a proxy the request target is an
// absolute URL; handlers are then looked up by its path, so the server can stand in for a proxy.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct ssl_ctx_st;

namespace newsbar::test {

// One request as it arrived.
struct ReceivedRequest {
  std::string method;   // "GET", "POST", ...
  std::string target;   // as on the request line: path and query (absolute URL via a proxy)
  std::string path;     // the target without its query, percent-decoding undone
  std::string version;  // "HTTP/1.1"
  // Header lines exactly as received, in order, without their CR LF.
  std::vector<std::string> headerLines;
  std::string body;  // transfer coding removed
  bool tls = false;

  // Value of the first header of that name (ASCII case ignored), without the blanks
  // around it; nothing when absent.
  std::optional<std::string> Header(std::string_view name) const;
  // Number of header lines with that name (ASCII case ignored).
  std::size_t HeaderCount(std::string_view name) const;
  // True when one header line is byte for byte equal to `line`.
  bool HasLine(std::string_view line) const;
};

// A loopback port on which nothing listens at the moment of the call.
int FreeLoopbackPort();

class HttpServer {
 public:
  enum class Scheme { kHttp, kHttps };
  enum class Certificate {
    kCurrent,  // valid from an hour ago for a week
    kExpired,  // ended yesterday
  };
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
  struct Connection;  // one accepted connection (internal)

  explicit HttpServer(Scheme scheme = Scheme::kHttp,
                      Certificate certificate = Certificate::kCurrent);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  int Port() const { return port_; }
  // "http://127.0.0.1:<port>" (or https).
  std::string Origin() const;
  // Origin() + target, e.g. Url("/a?x=1").
  std::string Url(std::string_view target = "/") const;

  // Answers requests of any method for `path` (exact, without the query). HEAD requests
  // use the handler too and get its headers without the body. A later call for the same
  // path replaces the earlier one.
  void Handle(const std::string& path, Handler handler);
  // Answers `path` with these bytes exactly (status line, headers, blank line, body, all
  // written by the test) and closes the connection.
  void HandleRaw(const std::string& path, std::string reply);
  // Requests for `path` are recorded and then never answered while the server lives.
  void Stall(const std::string& path);
  // From now on connections are accepted and then neither read nor answered (no TLS
  // handshake either) while the server lives.
  void StallConnections();

  std::vector<ReceivedRequest> Requests() const;
  std::size_t RequestCount() const;
  // The newest request; an empty record when there is none.
  ReceivedRequest LastRequest() const;
  void ClearRequests();
  // Waits until at least `count` requests have been recorded; false when `timeout`
  // passes first.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  class Engine;

  void AcceptLoop();
  void Serve(int socket);
  bool Stopping() const;
  void Dispatch(const httplib::Request& request, httplib::Response& response);
  void Record(const httplib::Request& request);

  struct TlsContextFree {
    void operator()(ssl_ctx_st* context) const;
  };
  class Descriptor {  // a file descriptor, closed with the object
   public:
    Descriptor() = default;
    ~Descriptor();
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void Reset(int fd);
    int get() const { return fd_; }

   private:
    int fd_ = -1;
  };

  Scheme scheme_;
  int port_ = 0;
  Descriptor listenSocket_;
  Descriptor wakeRead_;  // readable once the server is stopping
  Descriptor wakeWrite_;
  std::unique_ptr<ssl_ctx_st, TlsContextFree> tlsContext_;
  std::unique_ptr<Engine> engine_;
  std::thread acceptThread_;

  mutable std::mutex mutex_;  // guards everything below
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  bool stallConnections_ = false;
  std::vector<std::thread> connections_;
  std::map<std::string, Handler> handlers_;
  std::map<std::string, std::string> rawReplies_;
  std::map<std::string, bool> stalled_;
  std::vector<ReceivedRequest> requests_;
};

}  // namespace newsbar::test
