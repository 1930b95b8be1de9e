#include "support/fault_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>

namespace newsbar::test {
namespace {

constexpr std::size_t kMaxRequestHead = 64 * 1024;
constexpr std::size_t kMaxRequestBody = 1024 * 1024;
constexpr std::size_t kEndlessChunk = 64 * 1024;

constexpr std::string_view kHtmlPage =
    "<!DOCTYPE html>\n<html><head><title>Service unavailable</title></head>\n"
    "<body><h1>Service unavailable</h1><p>Please try again later.</p></body></html>\n";

// What a fault that needs a body sends when the test gave none.
std::string BodyOrFiller(const std::string& body) {
  return body.empty() ? std::string(1000, 'x') : body;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The Content-Length of a request head, 0 when absent or unreadable.
std::size_t ContentLength(std::string_view head) {
  const std::string lower = Lower(head);
  const std::size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return 0;
  std::size_t pos = at + 17;
  while (pos < lower.size() && lower[pos] == ' ') ++pos;
  std::size_t value = 0;
  while (pos < lower.size() && std::isdigit(static_cast<unsigned char>(lower[pos]))) {
    value = std::min<std::size_t>(value * 10 + static_cast<std::size_t>(lower[pos] - '0'),
                                  kMaxRequestBody);
    ++pos;
  }
  return value;
}

}  // namespace

std::string_view FaultName(Fault fault) {
  switch (fault) {
    case Fault::kNone:
      return "None";
    case Fault::kRefuse:
      return "Refuse";
    case Fault::kSilent:
      return "Silent";
    case Fault::kHeadersThenStall:
      return "HeadersThenStall";
    case Fault::kEndlessBody:
      return "EndlessBody";
    case Fault::kEarlyClose:
      return "EarlyClose";
    case Fault::kNotFound:
      return "NotFound";
    case Fault::kServerError:
      return "ServerError";
    case Fault::kHtml:
      return "Html";
    case Fault::kTruncated:
      return "Truncated";
    case Fault::kDrip:
      return "Drip";
    case Fault::kDripBody:
      return "DripBody";
    case Fault::kRedirectLoop:
      return "RedirectLoop";
  }
  return "Unknown";
}

void PrintTo(Fault fault, std::ostream* out) {
  *out << FaultName(fault);
}

FaultServer::FaultServer(Fault fault, std::string body, std::string contentType)
    : fault_(fault), body_(std::move(body)), contentType_(std::move(contentType)) {
  listenSocket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenSocket_ < 0) throw std::runtime_error("fault server: no socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(listenSocket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(listenSocket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listenSocket_);
    throw std::runtime_error("fault server: cannot bind to loopback");
  }
  port_ = ntohs(address.sin_port);
  // Refusing: the port stays bound (so nobody else takes it) but nothing listens, so
  // every connection attempt is answered with a reset.
  if (fault_ == Fault::kRefuse) return;

  int wake[2];
  if (::listen(listenSocket_, 64) != 0 || ::pipe2(wake, O_CLOEXEC) != 0) {
    ::close(listenSocket_);
    throw std::runtime_error("fault server: cannot listen");
  }
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

FaultServer::~FaultServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // Wakes every connection blocked in recv or send.
    for (int socket : openSockets_) ::shutdown(socket, SHUT_RDWR);
  }
  changed_.notify_all();
  if (wakeWrite_ >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, &byte, 1);
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  // No new connection starts once the accept loop has ended.
  for (std::thread& connection : connections_) connection.join();
  ::close(listenSocket_);
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
}

std::string FaultServer::HostPort() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::string FaultServer::Url(std::string_view target) const {
  return "http://" + HostPort() + std::string(target);
}

void FaultServer::SetDateHeader(std::optional<std::string> value) {
  std::lock_guard lock(mutex_);
  dateHeader_ = std::move(value);
}

void FaultServer::SetDripInterval(std::chrono::milliseconds interval) {
  std::lock_guard lock(mutex_);
  dripInterval_ = interval;
}

std::size_t FaultServer::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return connectionCount_;
}

std::size_t FaultServer::RequestCount() const {
  std::lock_guard lock(mutex_);
  return requestLines_.size();
}

std::vector<std::string> FaultServer::RequestLines() const {
  std::lock_guard lock(mutex_);
  return requestLines_;
}

std::uint64_t FaultServer::BodyBytesSent() const {
  std::lock_guard lock(mutex_);
  return bodyBytesSent_;
}

bool FaultServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requestLines_.size() >= count; });
}

void FaultServer::AcceptLoop() {
  for (;;) {
    pollfd waits[2] = {{listenSocket_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (waits[1].revents != 0) return;
    const int socket = ::accept4(listenSocket_, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) continue;
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(socket);
      return;
    }
    ++connectionCount_;
    openSockets_.push_back(socket);
    connections_.emplace_back([this, socket] { Serve(socket); });
  }
}

bool FaultServer::ReadRequest(int socket, std::string& requestLine) {
  std::string data;
  std::size_t headEnd = std::string::npos;
  std::size_t wanted = 0;
  char buffer[4096];
  for (;;) {
    // A TLS client greets first: read its hello as the request, so that the plain reply
    // that follows breaks the handshake at once, as any plain HTTP server would.
    if (data.size() >= 5 && data[0] == '\x16' && data[1] == '\x03') {
      data = "TLS handshake\r\n";
      break;
    }
    if (headEnd == std::string::npos) {
      headEnd = data.find("\r\n\r\n");
      if (headEnd != std::string::npos) {
        headEnd += 4;
        wanted = headEnd + ContentLength(std::string_view(data).substr(0, headEnd));
      } else if (data.size() > kMaxRequestHead) {
        return false;
      }
    }
    if (headEnd != std::string::npos && data.size() >= wanted) break;
    const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data.append(buffer, static_cast<std::size_t>(got));
  }
  requestLine = data.substr(0, data.find("\r\n"));
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    requestLines_.push_back(requestLine);
  }
  changed_.notify_all();
  return true;
}

bool FaultServer::SendAll(int socket, std::string_view bytes, bool countsAsBody) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
    if (countsAsBody) {
      std::lock_guard lock(mutex_);
      bodyBytesSent_ += static_cast<std::uint64_t>(sent);
    }
  }
  return true;
}

bool FaultServer::WaitForStop(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, duration, [&] { return stopping_; });
}

void FaultServer::WaitForStop() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return stopping_; });
}

std::string FaultServer::Head(int status, std::string_view reason, std::string_view contentType,
                              std::optional<std::size_t> contentLength,
                              std::string_view extraLines) const {
  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
  {
    std::lock_guard lock(mutex_);
    if (dateHeader_) head += "Date: " + *dateHeader_ + "\r\n";
  }
  head += "Server: newsbar-fault\r\n";
  if (!contentType.empty()) head += "Content-Type: " + std::string(contentType) + "\r\n";
  if (contentLength) head += "Content-Length: " + std::to_string(*contentLength) + "\r\n";
  head += extraLines;
  head += "Connection: close\r\n\r\n";
  return head;
}

void FaultServer::Serve(int socket) {
  std::string requestLine;
  const bool complete = ReadRequest(socket, requestLine);
  const bool head = requestLine.starts_with("HEAD ");
  if (complete || fault_ == Fault::kSilent) {
    switch (fault_) {
      case Fault::kRefuse:
        break;
      case Fault::kNone:
        if (SendAll(socket, Head(200, "OK", contentType_, body_.size()), false) && !head) {
          SendAll(socket, body_, true);
        }
        break;
      case Fault::kSilent:
        WaitForStop();
        break;
      case Fault::kHeadersThenStall:
        SendAll(socket, Head(200, "OK", contentType_, BodyOrFiller(body_).size()), false);
        WaitForStop();
        break;
      case Fault::kEndlessBody: {
        if (!SendAll(socket, Head(200, "OK", contentType_, std::nullopt), false) || head) break;
        const std::string chunk(kEndlessChunk, 'x');
        while (SendAll(socket, chunk, true)) {
          std::lock_guard lock(mutex_);
          if (stopping_) break;
        }
        break;
      }
      case Fault::kEarlyClose: {
        const std::string body = BodyOrFiller(body_);
        if (SendAll(socket, Head(200, "OK", contentType_, body.size()), false) && !head) {
          SendAll(socket, std::string_view(body).substr(0, body.size() / 2), true);
        }
        break;
      }
      case Fault::kNotFound:
        if (SendAll(socket, Head(404, "Not Found", "text/plain", 10), false) && !head) {
          SendAll(socket, "not found\n", true);
        }
        break;
      case Fault::kServerError:
        if (SendAll(socket, Head(500, "Internal Server Error", "text/plain", 15), false) && !head) {
          SendAll(socket, "internal error\n", true);
        }
        break;
      case Fault::kHtml:
        if (SendAll(socket, Head(200, "OK", "text/html; charset=utf-8", kHtmlPage.size()), false) &&
            !head) {
          SendAll(socket, kHtmlPage, true);
        }
        break;
      case Fault::kTruncated: {
        const std::string_view half = std::string_view(body_).substr(0, body_.size() / 2);
        if (SendAll(socket, Head(200, "OK", contentType_, half.size()), false) && !head) {
          SendAll(socket, half, true);
        }
        break;
      }
      case Fault::kDrip:
      case Fault::kDripBody: {
        std::string reply = Head(200, "OK", contentType_, body_.size());
        const std::size_t headSize = reply.size();
        if (!head) reply += body_;
        std::chrono::milliseconds interval;
        {
          std::lock_guard lock(mutex_);
          interval = dripInterval_;
        }
        std::size_t i = 0;
        if (fault_ == Fault::kDripBody) {
          if (!SendAll(socket, std::string_view(reply).substr(0, headSize), false)) break;
          i = headSize;
        }
        for (; i < reply.size(); ++i) {
          if (!SendAll(socket, std::string_view(reply).substr(i, 1), i >= headSize)) break;
          if (i + 1 < reply.size() && WaitForStop(interval)) break;
        }
        break;
      }
      case Fault::kRedirectLoop: {
        int hop;
        {
          std::lock_guard lock(mutex_);
          hop = ++redirects_;
        }
        const std::string location = "Location: " + Url("/loop/" + std::to_string(hop)) + "\r\n";
        SendAll(socket, Head(302, "Found", "text/plain", 0, location), false);
        break;
      }
    }
  }
  {
    std::lock_guard lock(mutex_);
    std::erase(openSockets_, socket);
  }
  ::shutdown(socket, SHUT_WR);
  ::close(socket);
}

}  // namespace newsbar::test
