#include "catalogue_server/catalogue_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "catalogue_server/certificate.h"
#include "catalogue_server/listen_thread.h"

namespace newsbar::loopback {

namespace {

using std::chrono::steady_clock;
using std::chrono::system_clock;

constexpr std::string_view kMediaRoute = "/media/";
constexpr std::string_view kEmptyPage = R"({"code":0,"data":{"list":[]}})";

// Accepts on a port of its own and passes each connection on to a listener: the one
// `upstream` names for the connection's first byte (the scheme relay sends a TLS
// handshake record, first byte 0x16, to the https port and anything else to the http
// one). With a latency, every byte takes that long each way, and a new connection's first
// bytes also wait the round trip its handshake would have taken: a far server.
class Relay {
 public:
  using Upstream = std::function<int(unsigned char firstByte)>;

  Relay(int port, Upstream upstream, std::chrono::milliseconds latency = {})
      : upstream_(std::move(upstream)), latency_(latency) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address = Loopback(port);
    socklen_t length = sizeof address;
    if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listen_, 64) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      if (listen_ >= 0) close(listen_);
      listen_ = -1;
      return;
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }

  ~Relay() {
    stopping_ = true;
    if (listen_ < 0) return;
    shutdown(listen_, SHUT_RDWR);
    acceptor_.join();
    close(listen_);
    for (std::thread& connection : connections_) connection.join();
  }

  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  int Port() const { return port_; }  // 0 when it could not listen

 private:
  using Clock = steady_clock;

  // Bytes on their way in one direction, each chunk with the moment it may go on.
  struct Direction {
    int from = -1;
    int to = -1;
    bool open = true;  // still read from
    std::deque<std::pair<Clock::time_point, std::string>> queue{};
  };

  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }

  void AcceptLoop() {
    while (!stopping_) {
      const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) {
        if (stopping_) return;
        continue;
      }
      const int nodelay = 1;
      setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &nodelay, sizeof nodelay);
      connections_.emplace_back([this, client] { Pass(client); });
    }
  }

  // Waits for one of fds to become readable, looking at the stop flag every 100 ms.
  bool WaitReadable(pollfd* fds, int count) {
    while (!stopping_) {
      const int ready = poll(fds, static_cast<nfds_t>(count), 100);
      if (ready > 0) return true;
      if (ready < 0) return false;
    }
    return false;
  }

  void Pass(int client) {
    const Clock::time_point accepted = Clock::now();
    pollfd first{.fd = client, .events = POLLIN, .revents = 0};
    unsigned char byte = 0;
    if (!WaitReadable(&first, 1) || recv(client, &byte, 1, MSG_PEEK) != 1) {
      close(client);
      return;
    }
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(upstream_(byte));
    if (server < 0 || connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      if (server >= 0) close(server);
      close(client);
      return;
    }
    const int nodelay = 1;
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &nodelay, sizeof nodelay);
    // The client's first bytes would have left once its handshake came back.
    const Clock::time_point connected = accepted + 2 * latency_;
    std::array<Direction, 2> ways{};
    ways[0].from = ways[1].to = client;
    ways[0].to = ways[1].from = server;
    std::array<char, 16384> buffer{};
    while (!stopping_) {
      // The connection ends once a side has closed and what it sent has been passed on.
      bool done = false;
      for (const Direction& way : ways) done = done || (!way.open && way.queue.empty());
      if (done) break;
      Clock::time_point next = Clock::now() + std::chrono::milliseconds(100);
      for (const Direction& way : ways) {
        if (!way.queue.empty()) next = std::min(next, way.queue.front().first);
      }
      std::array<pollfd, 2> fds{};
      for (int i = 0; i < 2; ++i) {
        fds[i] = pollfd{.fd = ways[i].open ? ways[i].from : -1, .events = POLLIN, .revents = 0};
      }
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
      if (poll(fds.data(), 2, static_cast<int>(std::max<long long>(wait, 0))) < 0) break;
      const Clock::time_point now = Clock::now();
      for (int i = 0; i < 2; ++i) {
        if (!ways[i].open || fds[i].revents == 0) continue;
        const ssize_t got = recv(ways[i].from, buffer.data(), buffer.size(), 0);
        if (got <= 0) {
          ways[i].open = false;
          continue;
        }
        Clock::time_point due = now + latency_;
        if (i == 0) due = std::max(due, connected + latency_);
        ways[i].queue.emplace_back(due, std::string(buffer.data(), static_cast<std::size_t>(got)));
      }
      bool broken = false;
      for (Direction& way : ways) {
        while (!way.queue.empty() && way.queue.front().first <= Clock::now()) {
          const std::string& bytes = way.queue.front().second;
          broken = broken || send(way.to, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
                                 static_cast<ssize_t>(bytes.size());
          way.queue.pop_front();
        }
      }
      if (broken) break;
    }
    close(server);
    close(client);
  }

  Upstream upstream_;
  std::chrono::milliseconds latency_;
  int port_ = 0;
  int listen_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::vector<std::thread> connections_;  // only touched by the acceptor, joined at the end
};

struct ServedFile {
  std::shared_ptr<const std::string> bytes;
  std::string contentType;
  std::chrono::milliseconds delay{0};
};

int ProgrammeOfPid(const std::string& pid) {
  return pid == kMorningPid ? 1 : pid == kEveningPid ? 2 : 0;
}

}  // namespace

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() &&
        std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        })) {
      return value;
    }
  }
  return std::nullopt;
}

struct CatalogueServer::Impl {
  // One listening server and the thread that runs it; restartable on the same port.
  struct Listener {
    std::string name;
    bool tls = false;
    int port = 0;
    std::unique_ptr<httplib::Server> server{};
    std::thread thread{};
    // Its relay's port when the server is far (read by the server's threads too).
    std::atomic<int> farPort{0};
  };

  ServerOptions options;
  Certificate certificate;
  std::string certificatePem;
  std::unique_ptr<Relay> relay;
  // With a latency: the relay in front of each listener (the owner's thread only).
  std::vector<std::unique_ptr<Relay>> far;

  // The port a listener is reached at: its relay's when it is far.
  static int PublicPort(const Listener& listener) {
    const int far = listener.farPort.load();
    return far != 0 ? far : listener.port;
  }
  // Listeners are only started and stopped from the owner's thread.
  Listener http{.name = "http"};
  Listener https{.name = "https", .tls = true};
  Listener time{.name = "time"};
  Listener media{.name = "media"};

  mutable std::mutex mutex;  // guards everything below
  // Notified on every request that arrives, and when the faults change or the server stops.
  mutable std::condition_variable changed;
  bool stopping = false;
  WallClock clock = [] { return system_clock::now(); };
  bool dateFollowsClock = true;
  std::optional<std::string> fixedDate;
  std::vector<Episode> episodes;
  std::array<std::optional<std::string>, 2> replies;
  std::array<CatalogueFailure, 2> failures{CatalogueFailure::kNone, CatalogueFailure::kNone};
  ServerFaults faults;
  std::map<std::string, ServedFile, std::less<>> files;
  std::vector<RecordedRequest> requests;
  // The armed outage, whether its cut has come, the silence it keeps, when it began and
  // ended, and the thread that runs it from the cut to its end (joined by the owner).
  std::optional<MediaOutage> outage;
  bool outageCut = false;
  bool silentOutage = false;
  bool refusing = false;  // from the cut until the listener is started again
  bool outageEndAsked = false;
  std::optional<steady_clock::time_point> outageBegan;
  std::optional<steady_clock::time_point> outageEnded;
  std::thread outageThread;

  std::string MediaBase() const {
    return "http://127.0.0.1:" + std::to_string(PublicPort(media)) + std::string(kMediaRoute);
  }

  void Record(const std::string& server, const httplib::Request& request) {
    RecordedRequest record;
    record.server = server;
    record.method = request.method;
    record.path = request.path;
    record.target = request.target;
    record.arrived = steady_clock::now();
    record.remotePort = request.remote_port;
    for (const auto& [name, value] : request.params) record.query[name] = value;
    for (const auto& [name, value] : request.headers) {
      // The library adds the peer's and its own address as pseudo headers.
      if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
          name == "LOCAL_PORT") {
        continue;
      }
      record.headers.emplace_back(name, value);
    }
    record.body = request.body;
    {
      std::lock_guard lock(mutex);
      requests.push_back(std::move(record));
    }
    changed.notify_all();
  }

  // Holds a request while `stalled` says so, until the server stops.
  void StallWhile(bool ServerFaults::*stalled) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return stopping || !(faults.*stalled); });
  }

  // Holds a request for `delay`, or until the server stops.
  void Delay(std::chrono::milliseconds delay) {
    std::unique_lock lock(mutex);
    const auto until = steady_clock::now() + delay;
    changed.wait_until(lock, until, [&] { return stopping; });
  }

  void AnswerCatalogue(const httplib::Request& request, httplib::Response& response) {
    const int programme = ProgrammeOfPid(request.get_param_value("pid"));
    if (programme == 0) {
      response.status = 404;
      return;
    }
    StallWhile(&ServerFaults::stallCatalogue);
    std::unique_lock lock(mutex);
    const auto index = static_cast<std::size_t>(programme - 1);
    switch (failures[index]) {
      case CatalogueFailure::kServerError:
        response.status = 500;
        response.set_content("Internal Server Error", "text/plain");
        return;
      case CatalogueFailure::kNotJson:
        response.set_content("<html><body>Service temporarily unavailable</body></html>",
                             "text/html; charset=utf-8");
        return;
      case CatalogueFailure::kNoList:
        response.set_content(R"({"code":0})", "application/json");
        return;
      case CatalogueFailure::kEmptyList:
        response.set_content(std::string(kEmptyPage), "application/json");
        return;
      case CatalogueFailure::kRefuse:  // not reached: the listener is down
      case CatalogueFailure::kNone:
        break;
    }
    // Only the first page holds episodes; later pages are empty.
    const std::string page = request.get_param_value("pageNum");
    std::string body;
    if (faults.emptyCatalogue || (!page.empty() && page != "1")) {
      body = kEmptyPage;
    } else if (replies[index]) {
      body = *replies[index];
    } else {
      const std::vector<Episode> listed = episodes;
      const WallClock now = clock;
      lock.unlock();
      body = CatalogueReply(listed, programme, now(), MediaBase(), [this](const std::string& name) {
        std::lock_guard sizes(mutex);
        auto found = files.find(name);
        return found == files.end() ? 0LL : static_cast<long long>(found->second.bytes->size());
      });
    }
    response.set_content(std::move(body), "application/json;charset=UTF-8");
  }

  std::chrono::milliseconds RangeDelay() const {
    std::lock_guard lock(mutex);
    return faults.rangeDelay;
  }

  // Where an answer for `name` from `offset` is to break off: the armed outage's cut, while
  // its outage has not begun yet, when the answer reaches it.
  std::optional<std::size_t> CutFor(const std::string& name, std::size_t offset, std::size_t end) {
    std::lock_guard lock(mutex);
    if (!outage || outageCut || outage->name != name || end <= outage->cutAt ||
        offset > outage->cutAt)
      return std::nullopt;
    return outage->cutAt;
  }

  // The pace of the answers for `name` until the outage begins (0: as fast as they go).
  std::size_t PaceFor(const std::string& name) {
    std::lock_guard lock(mutex);
    if (!outage || outageCut || outage->name != name) return 0;
    return outage->pace;
  }

  // An outage that refuses connections is under way.
  bool Refusing() {
    std::lock_guard lock(mutex);
    return refusing;
  }

  // An answer has broken off at the cut (the first one to get there begins the outage).
  void BeginOutage() {
    std::lock_guard lock(mutex);
    if (!outage || outageCut) return;
    outageCut = true;
    outageBegan = steady_clock::now();
    switch (outage->kind) {
      case OutageKind::kNone:
        outageEnded = outageBegan;
        break;
      case OutageKind::kSilent:
        silentOutage = true;
        [[fallthrough]];
      case OutageKind::kRefuse:
        refusing = outage->kind == OutageKind::kRefuse;
        outageThread = std::thread(
            [this, kind = outage->kind, length = outage->length] { RunOutage(kind, length); });
        break;
    }
  }

  void RunOutage(OutageKind kind, std::optional<std::chrono::milliseconds> length) {
    const auto began = steady_clock::now();
    // Joins the listener's threads, the one that has just cut the stream among them.
    if (kind == OutageKind::kRefuse) Stop(media);
    std::unique_lock lock(mutex);
    const auto over = [&] { return stopping || outageEndAsked; };
    if (length) {
      changed.wait_until(lock, began + *length, over);
    } else {
      changed.wait(lock, over);
    }
    refusing = false;
    if (kind == OutageKind::kRefuse && !stopping) {
      lock.unlock();
      Start(media);  // the same port again
      lock.lock();
    }
    silentOutage = false;
    outageEnded = steady_clock::now();
    lock.unlock();
    changed.notify_all();
  }

  void JoinOutage() {
    std::thread running;
    {
      std::lock_guard lock(mutex);
      running = std::move(outageThread);
    }
    if (running.joinable()) running.join();
  }

  void AnswerMedia(const httplib::Request& request, httplib::Response& response) {
    const std::string name = request.matches[1];
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return stopping || !silentOutage; });
    }
    if (IsAudioName(name)) {
      StallWhile(&ServerFaults::stallAudio);
      if (request.has_header("Range")) Delay(RangeDelay());
    } else {
      StallWhile(&ServerFaults::stallCovers);
    }
    ServedFile file;
    {
      std::lock_guard lock(mutex);
      auto found = files.find(name);
      if (found != files.end()) file = found->second;
    }
    if (!file.bytes) {
      response.status = 404;
      return;
    }
    if (file.delay.count() > 0) Delay(file.delay);
    const std::size_t size = file.bytes->size();
    if (Refusing()) {
      // Taken in the moment before the listener stopped: dropped unanswered, as the
      // connection would have been refused a moment later.
      response.set_content_provider(
          size, file.contentType.c_str(),
          [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
      return;
    }
    for (const auto& [first, last] : request.ranges) {
      if (first >= 0 && static_cast<std::size_t>(first) >= size) {
        response.status = 416;  // the library would drop the connection instead
        response.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
      }
    }
    // Range requests (the player seeks with them) are cut by the library; the bytes stay
    // alive while it sends them, even when the file is replaced meanwhile.
    response.set_content_provider(
        size, file.contentType.c_str(),
        [this, name, bytes = file.bytes](std::size_t offset, std::size_t length,
                                         httplib::DataSink& sink) {
          const std::optional<std::size_t> cutAt = CutFor(name, offset, offset + length);
          const std::size_t end = cutAt ? *cutAt : offset + length;
          // Paced in tenths of a second while an outage is armed, so that the cut comes
          // as the sound gets there rather than while the media opens.
          for (std::size_t at = offset; at < end;) {
            const std::size_t pace = PaceFor(name);
            const std::size_t piece = pace ? std::max<std::size_t>(pace / 10, 1) : end - at;
            const std::size_t size = std::min(piece, end - at);
            if (!sink.write(bytes->data() + at, size)) return false;
            at += size;
            if (pace && at < end) Delay(std::chrono::milliseconds(100));
          }
          if (!cutAt) return true;
          // The bytes before the cut are out: the connection drops, the outage begins.
          BeginOutage();
          return false;
        });
  }

  void Configure(Listener& listener) {
    httplib::Server& server = *listener.server;
    // Without it a reply written in two pieces (the https one) waits for the client's
    // delayed acknowledgement, some 40 ms that no real server would add.
    server.set_tcp_nodelay(true);
    if (options.oneRequestPerConnection) server.set_keep_alive_max_count(1);
    const std::string name = listener.name;
    server.set_pre_routing_handler(
        [this, name](const httplib::Request& request, httplib::Response&) {
          Record(name, request);
          return httplib::Server::HandlerResponse::Unhandled;
        });
    auto catalogue = [this](const httplib::Request& request, httplib::Response& response) {
      AnswerCatalogue(request, response);
    };
    server.Post(".*", catalogue);
    server.Get(std::string(kCataloguePath), catalogue);
    server.Get(std::string(kMediaRoute) + "(.*)",
               [this](const httplib::Request& request, httplib::Response& response) {
                 AnswerMedia(request, response);
               });
    // Anything else (the time host's root above all; HEAD too) is a small page.
    server.Get(".*", [](const httplib::Request&, httplib::Response& response) {
      response.set_content("<html><body>newsbar loopback catalogue</body></html>", "text/html");
    });
    // Every reply tells the time, as a public web server's would.
    server.set_post_routing_handler([this](const httplib::Request&, httplib::Response& response) {
      std::unique_lock lock(mutex);
      if (!dateFollowsClock) {
        if (fixedDate) response.set_header("Date", *fixedDate);
        return;
      }
      const WallClock now = clock;
      lock.unlock();
      response.set_header("Date", HttpDate(now()));
    });
  }

  bool Start(Listener& listener) {
    if (listener.tls) {
      listener.server =
          std::make_unique<httplib::SSLServer>(certificate.cert.get(), certificate.key.get());
    } else {
      listener.server = std::make_unique<httplib::Server>();
    }
    if (!listener.server->is_valid()) return false;
    Configure(listener);
    if (listener.port == 0) {
      listener.port = listener.server->bind_to_any_port("127.0.0.1");
    } else if (!listener.server->bind_to_port("127.0.0.1", listener.port)) {
      listener.port = -1;
    }
    if (listener.port <= 0) {
      listener.server.reset();
      return false;
    }
    // Bound and listening now: connections queue until the thread accepts them.
    listener.thread = ListenInThread(*listener.server);
    return true;
  }

  static void Stop(Listener& listener) {
    if (!listener.server) return;
    listener.server->stop();
    if (listener.thread.joinable()) listener.thread.join();
    listener.server.reset();
  }

  Listener& ListenerOf(int programme) { return programme == 1 ? http : https; }
};

CatalogueServer::CatalogueServer(MediaSet media, ServerOptions options)
    : impl_(std::make_unique<Impl>()) {
  impl_->options = options;
  impl_->time.port = options.timePort;
  impl_->episodes = std::move(media.episodes);
  for (auto& [name, bytes] : media.files) {
    impl_->files[name] = {std::make_shared<const std::string>(std::move(bytes)), MimeType(name)};
  }
}

CatalogueServer::~CatalogueServer() {
  Stop();
}

bool CatalogueServer::Start() {
  Impl& d = *impl_;
  if (d.http.server || d.https.server || d.time.server || d.media.server) return false;
  {
    std::lock_guard lock(d.mutex);
    d.stopping = false;
  }
  d.certificate = MakeCertificate();
  if (!d.certificate) return false;
  d.certificatePem = d.certificate.Pem();
  if (!d.Start(d.http) || !d.Start(d.https) || !d.Start(d.time) || !d.Start(d.media)) {
    Stop();
    return false;
  }
  if (d.options.latency > std::chrono::milliseconds(0)) {
    for (Impl::Listener* listener : {&d.http, &d.https, &d.time, &d.media}) {
      const int port = listener->port;
      auto relay = std::make_unique<Relay>(
          0, [port](unsigned char) { return port; }, d.options.latency);
      if (relay->Port() == 0) {
        Stop();
        return false;
      }
      listener->farPort = relay->Port();
      d.far.push_back(std::move(relay));
    }
  }
  if (d.options.combined) {
    const int httpPort = d.PublicPort(d.http);
    const int httpsPort = d.PublicPort(d.https);
    d.relay =
        std::make_unique<Relay>(d.options.combinedPort, [httpPort, httpsPort](unsigned char first) {
          return first == 0x16 ? httpsPort : httpPort;
        });
    if (d.relay->Port() == 0) {
      Stop();
      return false;
    }
  }
  return true;
}

void CatalogueServer::Stop() {
  Impl& d = *impl_;
  {
    std::lock_guard lock(d.mutex);
    d.stopping = true;
  }
  d.changed.notify_all();
  d.JoinOutage();
  d.relay.reset();
  d.far.clear();
  for (Impl::Listener* listener : {&d.http, &d.https, &d.time, &d.media}) listener->farPort = 0;
  Impl::Stop(d.http);
  Impl::Stop(d.https);
  Impl::Stop(d.time);
  Impl::Stop(d.media);
}

Endpoints CatalogueServer::PlayerEndpoints() const {
  const std::string timeUrl = "http://127.0.0.1:" + std::to_string(TimePort()) + "/";
  if (impl_->relay) {
    return {.catalogueHost = "127.0.0.1:" + std::to_string(impl_->relay->Port()),
            .timeUrl = timeUrl};
  }
  return {.catalogueHost = "127.0.0.1",
          .timeUrl = timeUrl,
          .httpPort = HttpPort(),
          .httpsPort = HttpsPort()};
}

int CatalogueServer::HttpPort() const {
  return impl_->PublicPort(impl_->http);
}

int CatalogueServer::HttpsPort() const {
  return impl_->PublicPort(impl_->https);
}

int CatalogueServer::TimePort() const {
  return impl_->PublicPort(impl_->time);
}

int CatalogueServer::MediaPort() const {
  return impl_->PublicPort(impl_->media);
}

int CatalogueServer::CombinedPort() const {
  return impl_->relay ? impl_->relay->Port() : 0;
}

std::string CatalogueServer::CertificatePem() const {
  return impl_->certificatePem;
}

std::string CatalogueServer::MediaUrl(std::string_view name) const {
  return impl_->MediaBase() + std::string(name);
}

void CatalogueServer::SetClock(WallClock clock) {
  std::lock_guard lock(impl_->mutex);
  impl_->clock = clock ? std::move(clock) : WallClock([] { return system_clock::now(); });
}

void CatalogueServer::SetDateHeader(std::optional<std::string> value) {
  std::lock_guard lock(impl_->mutex);
  impl_->dateFollowsClock = false;
  impl_->fixedDate = std::move(value);
}

void CatalogueServer::SetDateFromClock() {
  std::lock_guard lock(impl_->mutex);
  impl_->dateFollowsClock = true;
  impl_->fixedDate.reset();
}

std::vector<Episode> CatalogueServer::Episodes() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->episodes;
}

void CatalogueServer::SetEpisodes(std::vector<Episode> episodes) {
  std::lock_guard lock(impl_->mutex);
  impl_->episodes = std::move(episodes);
}

void CatalogueServer::SetReply(int programme, std::optional<std::string> body) {
  std::lock_guard lock(impl_->mutex);
  impl_->replies[programme == 1 ? 0 : 1] = std::move(body);
}

void CatalogueServer::SetFailure(int programme, CatalogueFailure failure) {
  Impl::Listener& listener = impl_->ListenerOf(programme);
  if (failure == CatalogueFailure::kRefuse) {
    Impl::Stop(listener);
  } else if (!listener.server && listener.port > 0) {
    impl_->Start(listener);  // the same port again
  }
  std::lock_guard lock(impl_->mutex);
  impl_->failures[programme == 1 ? 0 : 1] = failure;
}

void CatalogueServer::SetFaults(const ServerFaults& faults) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->faults = faults;
  }
  impl_->changed.notify_all();
}

void CatalogueServer::AddFile(std::string name, std::string bytes, std::string contentType) {
  if (contentType.empty()) contentType = MimeType(name);
  std::lock_guard lock(impl_->mutex);
  impl_->files[std::move(name)] = {std::make_shared<const std::string>(std::move(bytes)),
                                   std::move(contentType)};
}

void CatalogueServer::SetFileDelay(const std::string& name, std::chrono::milliseconds delay) {
  std::lock_guard lock(impl_->mutex);
  auto found = impl_->files.find(name);
  if (found != impl_->files.end()) found->second.delay = delay;
}

void CatalogueServer::SetMediaOutage(MediaOutage outage) {
  impl_->JoinOutage();
  std::lock_guard lock(impl_->mutex);
  impl_->outage = std::move(outage);
  impl_->outageCut = false;
  impl_->outageEndAsked = false;
  impl_->outageBegan.reset();
  impl_->outageEnded.reset();
}

void CatalogueServer::EndMediaOutage() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->outageEndAsked = true;
  }
  impl_->changed.notify_all();
  impl_->JoinOutage();
}

std::optional<std::chrono::steady_clock::time_point> CatalogueServer::OutageBegan() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->outageBegan;
}

std::optional<std::chrono::steady_clock::time_point> CatalogueServer::OutageEnded() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->outageEnded;
}

std::optional<std::chrono::steady_clock::time_point> CatalogueServer::FirstAnswerAfterOutage()
    const {
  const Impl& d = *impl_;
  std::lock_guard lock(d.mutex);
  if (!d.outage || !d.outageBegan || !d.outageEnded) return std::nullopt;
  const bool held = d.outage->kind == OutageKind::kSilent;
  const std::string path = std::string(kMediaRoute) + d.outage->name;
  std::optional<std::chrono::steady_clock::time_point> first;
  for (const RecordedRequest& request : d.requests) {
    if (request.path != path || request.arrived < (held ? *d.outageBegan : *d.outageEnded))
      continue;
    const auto answered = std::max(request.arrived, *d.outageEnded);
    if (!first || answered < *first) first = answered;
  }
  return first;
}

std::vector<RecordedRequest> CatalogueServer::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

void CatalogueServer::ClearRequests() {
  std::lock_guard lock(impl_->mutex);
  impl_->requests.clear();
}

bool CatalogueServer::WaitForRequests(const RequestCondition& condition,
                                      std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [&] { return condition(impl_->requests); });
}

}  // namespace newsbar::loopback
