#include "support/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <limits>
#include <stdexcept>
#include <utility>

#include "catalogue_server/certificate.h"

namespace newsbar::test {
namespace {

constexpr int kReadTimeoutMs = 5000;       // a client that stops mid-request
constexpr int kKeepAliveTimeoutMs = 5000;  // an idle kept-alive connection
constexpr int kKeepAliveMaxRequests = 20;

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

SSL_CTX* MakeTlsContext(HttpServer::Certificate kind) {
  // Named for localhost only: a client that checks names rejects https://127.0.0.1.
  loopback::CertificateTerms terms{.commonName = "localhost", .altNames = "DNS:localhost"};
  if (kind == HttpServer::Certificate::kExpired) {
    terms.notBefore = -std::chrono::hours(10 * 24);
    terms.notAfter = -std::chrono::hours(24);
  } else {
    terms.notAfter = std::chrono::hours(7 * 24);
  }
  const loopback::Certificate made = loopback::MakeCertificate(terms);
  if (!made) throw std::runtime_error("cannot make a test certificate");
  SSL_CTX* tls = SSL_CTX_new(TLS_server_method());
  if (tls == nullptr || SSL_CTX_use_certificate(tls, made.cert.get()) != 1 ||
      SSL_CTX_use_PrivateKey(tls, made.key.get()) != 1) {
    SSL_CTX_free(tls);
    throw std::runtime_error("cannot set up the test TLS context");
  }
  return tls;
}

}  // namespace

// --- the parts of a request as received --------------------------------------------------

std::optional<std::string> ReceivedRequest::Header(std::string_view name) const {
  for (const std::string& line : headerLines) {
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && EqualsNoCase(line.substr(0, colon), name)) {
      return std::string(TrimBlanks(std::string_view(line).substr(colon + 1)));
    }
  }
  return std::nullopt;
}

std::size_t ReceivedRequest::HeaderCount(std::string_view name) const {
  return static_cast<std::size_t>(
      std::count_if(headerLines.begin(), headerLines.end(), [&](const std::string& line) {
        const std::size_t colon = line.find(':');
        return colon != std::string::npos && EqualsNoCase(line.substr(0, colon), name);
      }));
}

bool ReceivedRequest::HasLine(std::string_view line) const {
  return std::find(headerLines.begin(), headerLines.end(), line) != headerLines.end();
}

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

// --- the request parser and router, fed through our own streams ------------------------

class HttpServer::Engine : public httplib::Server {
 public:
  using httplib::Server::process_request;
  // The library streams provider-made replies only while it believes its listening socket
  // is open; ours stands in for it (it never touches the socket otherwise).
  void SetListening(int socket) { svr_sock_ = socket; }
};

struct HttpServer::Connection {
  HttpServer* server = nullptr;
  int fd = -1;
  SSL* ssl = nullptr;
  std::string raw;           // every byte read so far
  std::size_t consumed = 0;  // bytes of `raw` that belong to requests already recorded
  httplib::Stream* stream = nullptr;
  bool muted = false;  // the reply was written by hand; drop the library's
  bool closeAfter = false;

  // Waits until the socket is ready for `events`; false on timeout or when stopping.
  bool Wait(short events, int timeoutMs) const {
    pollfd fds[2] = {{fd, events, 0}, {server->wakeRead_.get(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, timeoutMs);
    return ready > 0 && fds[1].revents == 0 && fds[0].revents != 0;
  }
};

namespace {

thread_local HttpServer::Connection* tCurrent = nullptr;

}  // namespace

class ConnectionStream : public httplib::Stream {
 public:
  explicit ConnectionStream(HttpServer::Connection& connection) : c_(connection) {}

  bool is_readable() const override {
    if (c_.ssl != nullptr && SSL_pending(c_.ssl) > 0) return true;
    return c_.Wait(POLLIN, kReadTimeoutMs);
  }
  bool is_writable() const override { return c_.Wait(POLLOUT, kReadTimeoutMs); }

  ssize_t read(char* data, size_t size) override {
    const ssize_t got = ReadSome(data, size);
    if (got > 0) c_.raw.append(data, static_cast<std::size_t>(got));
    return got;
  }

  ssize_t write(const char* data, size_t size) override {
    if (c_.muted) return static_cast<ssize_t>(size);
    return WriteSome(data, size);
  }

  ssize_t WriteAll(const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
      const ssize_t put = WriteSome(data + done, size - done);
      if (put <= 0) return -1;
      done += static_cast<size_t>(put);
    }
    return static_cast<ssize_t>(done);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    Address(false, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Address(true, ip, port); }
  socket_t socket() const override { return c_.fd; }

 private:
  ssize_t ReadSome(char* data, size_t size) {
    if (c_.ssl == nullptr) {
      for (;;) {
        const ssize_t got = ::recv(c_.fd, data, size, 0);
        if (got >= 0) return got;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
        if (!c_.Wait(POLLIN, kReadTimeoutMs)) return -1;
      }
    }
    for (;;) {
      const int got = SSL_read(c_.ssl, data, static_cast<int>(std::min<size_t>(size, 1 << 20)));
      if (got > 0) return got;
      const int error = SSL_get_error(c_.ssl, got);
      if (error == SSL_ERROR_ZERO_RETURN) return 0;
      if (error == SSL_ERROR_WANT_READ) {
        if (!c_.Wait(POLLIN, kReadTimeoutMs)) return -1;
      } else if (error == SSL_ERROR_WANT_WRITE) {
        if (!c_.Wait(POLLOUT, kReadTimeoutMs)) return -1;
      } else {
        return -1;
      }
    }
  }

  ssize_t WriteSome(const char* data, size_t size) {
    if (size == 0) return 0;
    if (c_.ssl == nullptr) {
      for (;;) {
        const ssize_t put = ::send(c_.fd, data, size, MSG_NOSIGNAL);
        if (put >= 0) return put;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
        if (!c_.Wait(POLLOUT, kReadTimeoutMs)) return -1;
      }
    }
    for (;;) {
      const int put = SSL_write(c_.ssl, data, static_cast<int>(std::min<size_t>(size, 1 << 20)));
      if (put > 0) return put;
      const int error = SSL_get_error(c_.ssl, put);
      if (error == SSL_ERROR_WANT_WRITE) {
        if (!c_.Wait(POLLOUT, kReadTimeoutMs)) return -1;
      } else if (error == SSL_ERROR_WANT_READ) {
        if (!c_.Wait(POLLIN, kReadTimeoutMs)) return -1;
      } else {
        return -1;
      }
    }
  }

  void Address(bool local, std::string& ip, int& port) const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    const int rc = local ? ::getsockname(c_.fd, reinterpret_cast<sockaddr*>(&address), &length)
                         : ::getpeername(c_.fd, reinterpret_cast<sockaddr*>(&address), &length);
    if (rc != 0) return;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    ip = text;
    port = ntohs(address.sin_port);
  }

  HttpServer::Connection& c_;
};

// --- the server --------------------------------------------------------------------------

HttpServer::HttpServer(Scheme scheme, Certificate certificate)
    : scheme_(scheme), engine_(std::make_unique<Engine>()) {
  // A peer that hangs up while we write must not end the test process.
  std::signal(SIGPIPE, SIG_IGN);
  if (scheme_ == Scheme::kHttps) tlsContext_.reset(MakeTlsContext(certificate));

  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  wakeRead_.Reset(pipeEnds[0]);
  wakeWrite_.Reset(pipeEnds[1]);

  listenSocket_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int listening = listenSocket_.get();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listening < 0 ||
      ::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listening, 64) != 0 ||
      ::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  engine_->SetListening(listening);

  // No limit of our own on request bodies.
  engine_->set_payload_max_length(std::numeric_limits<std::size_t>::max());

  const std::vector<std::string> routed = {"GET",   "HEAD",   "POST",   "PUT",
                                           "PATCH", "DELETE", "OPTIONS"};
  // Methods the router has no table for are answered before routing (they carry no body).
  engine_->set_pre_routing_handler(
      [this, routed](const httplib::Request& request, httplib::Response& response) {
        if (std::find(routed.begin(), routed.end(), request.method) != routed.end()) {
          return httplib::Server::HandlerResponse::Unhandled;
        }
        Dispatch(request, response);
        return httplib::Server::HandlerResponse::Handled;
      });
  auto dispatch = [this](const httplib::Request& request, httplib::Response& response) {
    Dispatch(request, response);
  };
  engine_->Get(".*", dispatch);
  engine_->Post(".*", dispatch);
  engine_->Put(".*", dispatch);
  engine_->Patch(".*", dispatch);
  engine_->Delete(".*", dispatch);
  engine_->Options(".*", dispatch);

  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

HttpServer::~HttpServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  const char wake = 'x';
  [[maybe_unused]] const ssize_t written = ::write(wakeWrite_.get(), &wake, 1);
  acceptThread_.join();
  std::vector<std::thread> connections;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
  }
  for (std::thread& connection : connections) connection.join();
  engine_->SetListening(-1);
}

void HttpServer::TlsContextFree::operator()(ssl_ctx_st* context) const {
  SSL_CTX_free(context);
}

HttpServer::Descriptor::~Descriptor() {
  Reset(-1);
}

void HttpServer::Descriptor::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

std::string HttpServer::Origin() const {
  return std::string(scheme_ == Scheme::kHttps ? "https" : "http") +
         "://127.0.0.1:" + std::to_string(port_);
}

std::string HttpServer::Url(std::string_view target) const {
  return Origin() + std::string(target);
}

void HttpServer::Handle(const std::string& path, Handler handler) {
  std::lock_guard lock(mutex_);
  handlers_[path] = std::move(handler);
}

void HttpServer::HandleRaw(const std::string& path, std::string reply) {
  std::lock_guard lock(mutex_);
  rawReplies_[path] = std::move(reply);
}

void HttpServer::Stall(const std::string& path) {
  std::lock_guard lock(mutex_);
  stalled_[path] = true;
}

void HttpServer::StallConnections() {
  std::lock_guard lock(mutex_);
  stallConnections_ = true;
}

std::vector<ReceivedRequest> HttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t HttpServer::RequestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

ReceivedRequest HttpServer::LastRequest() const {
  std::lock_guard lock(mutex_);
  return requests_.empty() ? ReceivedRequest{} : requests_.back();
}

void HttpServer::ClearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

bool HttpServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

bool HttpServer::Stopping() const {
  std::lock_guard lock(mutex_);
  return stopping_;
}

void HttpServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenSocket_.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    const int socket = ::accept4(listenSocket_.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) continue;
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(socket);
      return;
    }
    connections_.emplace_back([this, socket] { Serve(socket); });
  }
}

void HttpServer::Serve(int socket) {
  Descriptor owned;
  owned.Reset(socket);
  {
    std::unique_lock lock(mutex_);
    if (stallConnections_) {
      changed_.wait(lock, [this] { return stopping_; });
      return;
    }
  }
  ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK);
  Connection connection;
  connection.server = this;
  connection.fd = socket;

  bool ready = true;
  std::unique_ptr<SSL, SslFree> ssl;
  if (tlsContext_) {
    ssl.reset(SSL_new(tlsContext_.get()));
    connection.ssl = ssl.get();
    ready = ssl && SSL_set_fd(ssl.get(), socket) == 1;
    while (ready) {
      const int rc = SSL_accept(ssl.get());
      if (rc == 1) break;
      const int error = SSL_get_error(ssl.get(), rc);
      if (error == SSL_ERROR_WANT_READ) {
        ready = connection.Wait(POLLIN, kReadTimeoutMs);
      } else if (error == SSL_ERROR_WANT_WRITE) {
        ready = connection.Wait(POLLOUT, kReadTimeoutMs);
      } else {
        ready = false;  // a client that rejected our certificate, for instance
      }
    }
    ERR_clear_error();
  }

  ConnectionStream stream(connection);
  connection.stream = &stream;
  tCurrent = &connection;
  for (int left = kKeepAliveMaxRequests; ready && left > 0; --left) {
    const bool buffered = ssl && SSL_pending(ssl.get()) > 0;
    if (!buffered && !connection.Wait(POLLIN, kKeepAliveTimeoutMs)) break;
    bool closed = false;
    const bool ok = engine_->process_request(stream, left == 1, closed, nullptr);
    if (!ok || closed || connection.closeAfter || Stopping()) break;
  }
  tCurrent = nullptr;

  if (ssl) {
    if (ready && !connection.muted) SSL_shutdown(ssl.get());
    ssl.reset();
    ERR_clear_error();
  }
}

void HttpServer::Record(const httplib::Request& request) {
  ReceivedRequest record;
  record.method = request.method;
  record.target = request.target;
  record.path = request.path;
  record.version = request.version;
  record.body = request.body;
  Connection* connection = tCurrent;
  if (connection != nullptr) {
    record.tls = connection->ssl != nullptr;
    const std::string_view unread = std::string_view(connection->raw).substr(connection->consumed);
    const std::size_t headEnd = unread.find("\r\n\r\n");
    std::string_view head = unread.substr(0, headEnd);
    std::size_t lineEnd = head.find("\r\n");  // skip the request line
    while (lineEnd != std::string_view::npos) {
      head.remove_prefix(lineEnd + 2);
      lineEnd = head.find("\r\n");
      record.headerLines.emplace_back(head.substr(0, lineEnd));
    }
    connection->consumed = connection->raw.size();
  }
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(record));
  }
  changed_.notify_all();
}

void HttpServer::Dispatch(const httplib::Request& request, httplib::Response& response) {
  Record(request);
  // Through a proxy the target is absolute: look the handler up by its path.
  std::string path = request.path;
  if (const std::size_t scheme = path.find("://"); !path.starts_with("/") && scheme != path.npos) {
    const std::size_t slash = path.find('/', scheme + 3);
    path = slash == path.npos ? "/" : path.substr(slash);
  }

  Handler handler;
  std::optional<std::string> raw;
  {
    std::unique_lock lock(mutex_);
    if (stalled_.contains(path)) {
      changed_.wait(lock, [this] { return stopping_; });
      if (tCurrent != nullptr) {
        tCurrent->muted = true;
        tCurrent->closeAfter = true;
      }
      return;
    }
    if (auto found = rawReplies_.find(path); found != rawReplies_.end()) raw = found->second;
    if (auto found = handlers_.find(path); found != handlers_.end()) handler = found->second;
  }
  if (raw) {
    if (tCurrent != nullptr) {
      static_cast<ConnectionStream*>(tCurrent->stream)->WriteAll(raw->data(), raw->size());
      tCurrent->muted = true;
      tCurrent->closeAfter = true;
    }
    return;
  }
  if (handler) {
    handler(request, response);
  } else {
    response.status = 404;
    response.set_content("not found", "text/plain");
  }
}

}  // namespace newsbar::test
