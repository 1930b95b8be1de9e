#include "support/catalogue_fixture.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <thread>

#include "support/httplib_listen.h"

namespace newsbar::test {
namespace {

// --- a self-signed certificate for 127.0.0.1, made fresh for each fixture -------------

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
  void operator()(X509* cert) const { X509_free(cert); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;

std::pair<KeyPtr, CertPtr> MakeSelfSignedCertificate() {
  KeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  CertPtr cert(X509_new());
  if (!key || !cert) throw std::runtime_error("cannot make a key or certificate");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7L * 24 * 3600);
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert.get(), cert.get(), nullptr, nullptr, 0);
  X509_EXTENSION* san =
      X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, "IP:127.0.0.1");
  if (san != nullptr) {
    X509_add_ext(cert.get(), san, -1);
    X509_EXTENSION_free(san);
  }
  if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
    throw std::runtime_error("cannot sign the certificate");
  }
  return {std::move(key), std::move(cert)};
}

// --- media made here: a short tone and two small cover pictures ----------------------

void PutLe(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutBe32(std::string& out, std::uint32_t value) {
  for (int i = 3; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// `milliseconds` of a sine tone, 8 kHz mono 16-bit PCM.
std::string MakeToneWav(int milliseconds, double frequency) {
  const int rate = 8000;
  const std::uint32_t samples = static_cast<std::uint32_t>(rate) * milliseconds / 1000;
  std::string wav = "RIFF";
  PutLe(wav, 36 + samples * 2, 4);
  wav += "WAVEfmt ";
  PutLe(wav, 16, 4);
  PutLe(wav, 1, 2);  // PCM
  PutLe(wav, 1, 2);  // mono
  PutLe(wav, rate, 4);
  PutLe(wav, rate * 2, 4);
  PutLe(wav, 2, 2);
  PutLe(wav, 16, 2);
  wav += "data";
  PutLe(wav, samples * 2, 4);
  for (std::uint32_t i = 0; i < samples; ++i) {
    const double value = 8000.0 * std::sin(2.0 * 3.14159265358979 * frequency * i / rate);
    PutLe(wav, static_cast<std::uint16_t>(static_cast<std::int16_t>(value)), 2);
  }
  return wav;
}

std::uint32_t Crc32(std::string_view bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

void PutChunk(std::string& png, std::string_view type, std::string_view data) {
  PutBe32(png, static_cast<std::uint32_t>(data.size()));
  std::string typed(type);
  typed += data;
  png += typed;
  PutBe32(png, Crc32(typed));
}

// A size x size RGB PNG: a diagonal two-colour gradient with a light disc, stored
// without compression (a zlib stream of stored blocks) so no library is needed.
std::string MakeCoverPng(int size, std::array<int, 3> from, std::array<int, 3> to) {
  std::string raw;
  for (int y = 0; y < size; ++y) {
    raw += '\0';  // filter: none
    for (int x = 0; x < size; ++x) {
      const double t = (x + y) / (2.0 * (size - 1));
      const double dx = x - size / 2.0;
      const double dy = y - size / 2.0;
      const bool disc = dx * dx + dy * dy < size * size / 16.0;
      for (int c = 0; c < 3; ++c) {
        const int value = static_cast<int>(from[c] + (to[c] - from[c]) * t);
        raw += static_cast<char>(disc ? 255 - (255 - value) / 4 : value);
      }
    }
  }
  std::string zlib = "\x78\x01";
  for (std::size_t pos = 0; pos < raw.size() || pos == 0; pos += 65535) {
    const std::size_t length = std::min<std::size_t>(65535, raw.size() - pos);
    zlib += static_cast<char>(pos + length >= raw.size() ? 1 : 0);
    PutLe(zlib, static_cast<std::uint32_t>(length), 2);
    PutLe(zlib, static_cast<std::uint32_t>(~length & 0xFFFF), 2);
    zlib += raw.substr(pos, length);
  }
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (unsigned char byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBe32(zlib, (b << 16) | a);

  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  PutBe32(header, static_cast<std::uint32_t>(size));
  PutBe32(header, static_cast<std::uint32_t>(size));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", zlib);
  PutChunk(png, "IEND", "");
  return png;
}

// --- one port for both schemes ----------------------------------------------------------

// Accepts on a port of its own and passes each connection on to the https port when it
// opens with a TLS handshake record (first byte 0x16), else to the http port.
class SchemeRelay {
 public:
  SchemeRelay(int port, int httpPort, int httpsPort) : httpPort_(httpPort), httpsPort_(httpsPort) {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address = Loopback(port);
    socklen_t length = sizeof address;
    if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listen_, 16) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      if (listen_ >= 0) close(listen_);
      throw std::runtime_error("cannot listen on port " + std::to_string(port));
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }

  ~SchemeRelay() {
    stopping_ = true;
    shutdown(listen_, SHUT_RDWR);
    acceptor_.join();
    close(listen_);
    for (std::thread& connection : connections_) connection.join();
  }

  int Port() const { return port_; }

  SchemeRelay(const SchemeRelay&) = delete;
  SchemeRelay& operator=(const SchemeRelay&) = delete;

 private:
  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }

  void AcceptLoop() {
    while (!stopping_) {
      const int client = accept(listen_, nullptr, nullptr);
      if (client < 0) {
        if (stopping_) return;
        continue;
      }
      connections_.emplace_back([this, client] { Relay(client); });
    }
  }

  // Waits for fd to become readable, looking at the stop flag every 100 ms.
  bool WaitReadable(pollfd* fds, int count) {
    while (!stopping_) {
      const int ready = poll(fds, static_cast<nfds_t>(count), 100);
      if (ready > 0) return true;
      if (ready < 0) return false;
    }
    return false;
  }

  void Relay(int client) {
    pollfd first{.fd = client, .events = POLLIN, .revents = 0};
    unsigned char byte = 0;
    if (!WaitReadable(&first, 1) || recv(client, &byte, 1, MSG_PEEK) != 1) {
      close(client);
      return;
    }
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(byte == 0x16 ? httpsPort_ : httpPort_);
    if (server < 0 || connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      if (server >= 0) close(server);
      close(client);
      return;
    }
    std::array<pollfd, 2> fds{pollfd{.fd = client, .events = POLLIN, .revents = 0},
                              pollfd{.fd = server, .events = POLLIN, .revents = 0}};
    std::array<char, 16384> buffer{};
    bool open = true;
    while (open && WaitReadable(fds.data(), 2)) {
      for (int i = 0; i < 2 && open; ++i) {
        if (fds[i].revents == 0) continue;
        const ssize_t got = recv(fds[i].fd, buffer.data(), buffer.size(), 0);
        open = got > 0 && send(fds[1 - i].fd, buffer.data(), static_cast<std::size_t>(got),
                               MSG_NOSIGNAL) == got;
      }
    }
    close(server);
    close(client);
  }

  int httpPort_;
  int httpsPort_;
  int port_ = 0;
  int listen_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::vector<std::thread> connections_;  // only touched by the acceptor, joined at the end
};

// --- JSON text ------------------------------------------------------------------------

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          static constexpr char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out += kHex[(c >> 4) & 0xF];
          out += kHex[c & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// Invented, neutral headlines.
constexpr std::array<const char*, 8> kMorningHeadlines = {
    "城东新图书馆今日开放",   "地铁三号线延长段试运行", "本周末气温回升适合出游",
    "社区菜园迎来第一批收获", "青少年科技节下月举行",   "老城区街巷完成路面翻新",
    "湖滨公园新增骑行步道",   "夏季游泳馆开放时间调整"};
constexpr std::array<const char*, 8> kEveningHeadlines = {
    "晚间天气：明日多云转晴", "市民音乐会在广场上演", "夜市延长营业至十一点",
    "今日路况回顾与明日提示", "社区讲座介绍家庭节水", "傍晚雷阵雨已经结束",
    "图书漂流活动征集志愿者", "周末电影放映安排出炉"};

bool IsLeap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysIn(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

constexpr const char* kMorningPid = "367750";
constexpr const char* kEveningPid = "456498";

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

struct CatalogueFixture::Impl {
  // One listening server and the thread that runs it; restartable on the same port.
  struct Listener {
    std::string name;
    bool tls = false;
    int port = 0;
    std::unique_ptr<httplib::Server> server{};
    std::thread thread{};
  };

  struct ProgrammeState {
    std::string body = PageJson({});
    FixtureFailure failure = FixtureFailure::kNone;
  };

  FixtureOptions options;
  KeyPtr key;
  CertPtr cert;
  std::unique_ptr<SchemeRelay> relay;
  mutable std::mutex mutex;  // guards everything below
  std::array<ProgrammeState, 2> programmes;
  std::optional<std::string> dateHeader;
  std::map<std::string, std::pair<std::string, std::string>> media;  // bytes, type
  std::vector<RecordedRequest> requests;
  // Listeners are only started and stopped from the test's thread.
  Listener http{.name = "http"};
  Listener https{.name = "https", .tls = true};
  Listener time{.name = "time"};
  Listener mediaHost{.name = "media"};

  void Record(const std::string& server, const httplib::Request& request) {
    RecordedRequest record;
    record.server = server;
    record.method = request.method;
    record.path = request.path;
    record.target = request.target;
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
    std::lock_guard lock(mutex);
    requests.push_back(std::move(record));
  }

  void AnswerCatalogue(const httplib::Request& request, httplib::Response& response) {
    const std::string pid = request.get_param_value("pid");
    int index = -1;
    if (pid == kMorningPid) index = 0;
    if (pid == kEveningPid) index = 1;
    if (index < 0) {
      response.status = 404;
      return;
    }
    std::lock_guard lock(mutex);
    const ProgrammeState& state = programmes[static_cast<std::size_t>(index)];
    switch (state.failure) {
      case FixtureFailure::kServerError:
        response.status = 500;
        response.set_content("Internal Server Error", "text/plain");
        return;
      case FixtureFailure::kNotJson:
        response.set_content("<html><body>Service temporarily unavailable</body></html>",
                             "text/html; charset=utf-8");
        return;
      case FixtureFailure::kEmptyList:
        response.set_content(R"({"code":0,"data":{"list":[]}})", "application/json");
        return;
      case FixtureFailure::kNoList:
        response.set_content(R"({"code":0})", "application/json");
        return;
      case FixtureFailure::kRefuse:  // not reached: the listener is down
      case FixtureFailure::kNone:
        response.set_content(state.body, "application/json;charset=UTF-8");
        return;
    }
  }

  void Configure(Listener& listener) {
    httplib::Server& server = *listener.server;
    // One request per connection, so stopping never waits for an idle keep-alive.
    server.set_keep_alive_max_count(1);
    const std::string name = listener.name;
    server.set_pre_routing_handler(
        [this, name](const httplib::Request& request, httplib::Response&) {
          Record(name, request);
          return httplib::Server::HandlerResponse::Unhandled;
        });
    if (name == "http" || name == "https") {
      auto catalogue = [this](const httplib::Request& request, httplib::Response& response) {
        AnswerCatalogue(request, response);
      };
      server.Post(".*", catalogue);
      server.Get(".*", catalogue);
    } else if (name == "time") {
      auto answer = [this](const httplib::Request&, httplib::Response& response) {
        std::lock_guard lock(mutex);
        if (dateHeader) response.set_header("Date", *dateHeader);
        response.set_content("<html><body>time</body></html>", "text/html");
      };
      server.Get(".*", answer);  // also answers HEAD
      server.Post(".*", answer);
    } else {
      server.Get("/media/(.*)",
                 [this](const httplib::Request& request, httplib::Response& response) {
                   std::lock_guard lock(mutex);
                   const auto found = media.find(request.matches[1].str());
                   if (found == media.end()) {
                     response.status = 404;
                     return;
                   }
                   response.set_content(found->second.first, found->second.second);
                 });
    }
  }

  void Start(Listener& listener) {
    if (listener.tls) {
      listener.server = std::make_unique<httplib::SSLServer>(cert.get(), key.get());
    } else {
      listener.server = std::make_unique<httplib::Server>();
    }
    Configure(listener);
    if (listener.port == 0) {
      listener.port = listener.server->bind_to_any_port("127.0.0.1");
    } else if (!listener.server->bind_to_port("127.0.0.1", listener.port)) {
      listener.port = -1;
    }
    if (listener.port <= 0) throw std::runtime_error("cannot listen for " + listener.name);
    // Bound and listening now: connections queue until the thread accepts them.
    listener.thread = ListenInThread(*listener.server);
  }

  void Stop(Listener& listener) {
    if (!listener.server) return;
    listener.server->stop();
    if (listener.thread.joinable()) listener.thread.join();
    listener.server.reset();
  }

  Listener& ListenerOf(FixtureProgramme programme) {
    return programme == FixtureProgramme::kMorning ? http : https;
  }
};

CatalogueFixture::CatalogueFixture(FixtureOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = options;
  impl_->time.port = options.timePort;
  auto [key, cert] = MakeSelfSignedCertificate();
  impl_->key = std::move(key);
  impl_->cert = std::move(cert);
  impl_->media["morning.png"] = {MakeCoverPng(64, {230, 140, 40}, {250, 210, 90}), "image/png"};
  impl_->media["evening.png"] = {MakeCoverPng(64, {40, 60, 140}, {120, 90, 200}), "image/png"};
  for (int i = 0; i < 8; ++i) {
    impl_->media["morning-" + std::to_string(i) + ".wav"] = {
        MakeToneWav(options.clipMilliseconds, 440.0 + 40 * i), "audio/wav"};
    impl_->media["evening-" + std::to_string(i) + ".wav"] = {
        MakeToneWav(options.clipMilliseconds, 330.0 + 40 * i), "audio/wav"};
  }
  impl_->Start(impl_->http);
  impl_->Start(impl_->https);
  impl_->Start(impl_->time);
  impl_->Start(impl_->mediaHost);
  if (options.combined) {
    impl_->relay =
        std::make_unique<SchemeRelay>(options.combinedPort, impl_->http.port, impl_->https.port);
  }
}

CatalogueFixture::~CatalogueFixture() {
  impl_->relay.reset();
  impl_->Stop(impl_->http);
  impl_->Stop(impl_->https);
  impl_->Stop(impl_->time);
  impl_->Stop(impl_->mediaHost);
}

newsbar::Endpoints CatalogueFixture::Endpoints() const {
  if (impl_->relay) {
    return {.catalogueHost = "127.0.0.1:" + std::to_string(impl_->relay->Port()),
            .timeUrl = "http://127.0.0.1:" + std::to_string(impl_->time.port) + "/"};
  }
  return {.catalogueHost = "127.0.0.1",
          .timeUrl = "http://127.0.0.1:" + std::to_string(impl_->time.port) + "/",
          .httpPort = impl_->http.port,
          .httpsPort = impl_->https.port};
}

int CatalogueFixture::HttpPort() const {
  return impl_->http.port;
}
int CatalogueFixture::HttpsPort() const {
  return impl_->https.port;
}
int CatalogueFixture::TimePort() const {
  return impl_->time.port;
}
int CatalogueFixture::MediaPort() const {
  return impl_->mediaHost.port;
}
int CatalogueFixture::CombinedPort() const {
  return impl_->relay ? impl_->relay->Port() : 0;
}

void CatalogueFixture::SetEpisodes(FixtureProgramme programme,
                                   std::vector<FixtureEpisode> episodes) {
  SetRawReply(programme, PageJson(episodes));
}

void CatalogueFixture::SetRawReply(FixtureProgramme programme, std::string body) {
  std::lock_guard lock(impl_->mutex);
  impl_->programmes[programme == FixtureProgramme::kMorning ? 0 : 1].body = std::move(body);
}

void CatalogueFixture::SetFailure(FixtureProgramme programme, FixtureFailure failure) {
  Impl::Listener& listener = impl_->ListenerOf(programme);
  if (failure == FixtureFailure::kRefuse) {
    impl_->Stop(listener);
  } else if (!listener.server) {
    impl_->Start(listener);  // the same port again
  }
  std::lock_guard lock(impl_->mutex);
  impl_->programmes[programme == FixtureProgramme::kMorning ? 0 : 1].failure = failure;
}

void CatalogueFixture::SetDateHeader(std::optional<std::string> value) {
  std::lock_guard lock(impl_->mutex);
  impl_->dateHeader = std::move(value);
}

void CatalogueFixture::SetMediaFile(const std::string& name, std::string bytes,
                                    std::string contentType) {
  std::lock_guard lock(impl_->mutex);
  impl_->media[name] = {std::move(bytes), std::move(contentType)};
}

std::string CatalogueFixture::MediaUrl(std::string_view name) const {
  return "http://127.0.0.1:" + std::to_string(impl_->mediaHost.port) + "/media/" +
         std::string(name);
}

std::vector<FixtureEpisode> CatalogueFixture::MakeEpisodes(FixtureProgramme programme, int year,
                                                           int month, int day, int count) const {
  const bool morning = programme == FixtureProgramme::kMorning;
  const std::string name = morning ? "morning" : "evening";
  std::vector<FixtureEpisode> episodes;
  for (int i = 0; i < count; ++i) {
    const auto& headlines = morning ? kMorningHeadlines : kEveningHeadlines;
    FixtureEpisode episode;
    episode.title = std::to_string(month) + "月" + std::to_string(day) + "日" +
                    (morning ? "小涟早报：" : "小涟晚报：") + headlines[i % headlines.size()];
    episode.audioUrl = MediaUrl(name + "-" + std::to_string(i % 8) + ".wav");
    episode.coverUrl = MediaUrl(name + ".png");
    const int seconds = 600 + 37 * i + (morning ? 0 : 300);
    episode.durationJson = std::to_string(seconds);
    // Every other one as a numeric string (quoted by appending: GCC 12 misreads a quote
    // inserted at the front at -O3).
    if (i % 2 != 0) {
      std::string quoted = "\"";
      quoted += episode.durationJson;
      quoted += '"';
      episode.durationJson = std::move(quoted);
    }
    episodes.push_back(std::move(episode));
    if (--day == 0) {
      if (--month == 0) {
        month = 12;
        --year;
      }
      day = DaysIn(year, month);
    }
  }
  return episodes;
}

std::string CatalogueFixture::PageJson(const std::vector<FixtureEpisode>& episodes) {
  // Shaped like the real reply: the members the player reads among others it ignores.
  std::string json = R"({"code":0,"msg":"ok","data":{"total":)" + std::to_string(episodes.size()) +
                     R"(,"pageNum":1,"list":[)";
  for (std::size_t i = 0; i < episodes.size(); ++i) {
    const FixtureEpisode& e = episodes[i];
    if (i > 0) json += ",";
    json += R"({"id":)" + std::to_string(1000 + i) + R"(,"title":)" + JsonString(e.title) +
            R"(,"audiolist":[{"filePath":)" + JsonString(e.audioUrl) +
            R"(,"bitrate":64}],"img194_194":)" + JsonString(e.coverUrl);
    if (!e.durationJson.empty()) json += R"(,"duration":)" + e.durationJson;
    json += "}";
  }
  return json + "]}}";
}

std::vector<RecordedRequest> CatalogueFixture::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

void CatalogueFixture::ClearRequests() {
  std::lock_guard lock(impl_->mutex);
  impl_->requests.clear();
}

}  // namespace newsbar::test
