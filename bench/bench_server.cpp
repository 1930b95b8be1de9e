#include "bench_server.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <httplib.h>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace newsbar::bench {

namespace {

using std::chrono::system_clock;

template <auto Free>
struct OpenSslFree {
  template <class T>
  void operator()(T* handle) const {
    Free(handle);
  }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, OpenSslFree<X509_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, OpenSslFree<BN_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, OpenSslFree<X509_EXTENSION_free>>;

constexpr std::string_view kMediaRoute = "/media/";

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string MimeType(std::string_view name) {
  if (EndsWith(name, ".mp3")) return "audio/mpeg";
  if (EndsWith(name, ".jpg")) return "image/jpeg";
  if (EndsWith(name, ".png")) return "image/png";
  return "application/octet-stream";
}

// A self-signed certificate for 127.0.0.1 (the player accepts one for its catalogue).
std::pair<KeyPtr, CertPtr> MakeCertificate() {
  KeyPtr key(EVP_EC_gen("P-256"));
  CertPtr cert(X509_new());
  BignumPtr serial(BN_new());
  if (!key || !cert || !serial) return {};
  X509_NAME* name = X509_get_subject_name(cert.get());
  const bool ok = X509_set_version(cert.get(), X509_VERSION_3) == 1 &&
                  BN_rand(serial.get(), 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
                  BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) != nullptr &&
                  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr &&
                  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400) != nullptr &&
                  X509_set_pubkey(cert.get(), key.get()) == 1 &&
                  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                             reinterpret_cast<const unsigned char*>("127.0.0.1"),
                                             -1, -1, 0) == 1 &&
                  X509_set_issuer_name(cert.get(), name) == 1;
  if (!ok) return {};
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert.get(), cert.get(), nullptr, nullptr, 0);
  ExtensionPtr altName(
      X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, "IP:127.0.0.1"));
  if (!altName || X509_add_ext(cert.get(), altName.get(), -1) != 1) return {};
  if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0) return {};
  return {std::move(key), std::move(cert)};
}

}  // namespace

demo::DemoMedia BenchMedia(demo::DemoMedia demoMedia, std::string clipBytes, int clipSeconds) {
  demo::DemoMedia media;
  for (demo::DemoEpisode episode : demoMedia.episodes) {
    episode.audioFile = kClipName;
    episode.seconds = clipSeconds;
    media.episodes.push_back(std::move(episode));
  }
  // Keep the covers, drop the short clips.
  for (auto& [name, bytes] : demoMedia.files) {
    if (!EndsWith(name, ".mp3")) media.files.emplace(name, std::move(bytes));
  }
  media.files.emplace(std::string(kClipName), std::move(clipBytes));
  return media;
}

struct BenchServer::Impl {
  demo::DemoMedia media;  // its episodes under `mutex`; its files moved into `files`
  std::map<std::string, std::shared_ptr<const std::string>> files;
  KeyPtr key;
  CertPtr cert;
  httplib::Server http;
  std::unique_ptr<httplib::SSLServer> https;
  std::thread httpThread;
  std::thread httpsThread;
  std::atomic<bool> httpEnded{false};
  std::atomic<bool> httpsEnded{false};
  int httpPort = 0;
  int httpsPort = 0;

  mutable std::mutex mutex;
  // Notified on every catalogue, cover and audio request.
  std::condition_variable audioSeen;
  RequestMarks marks;
  BenchFaults faults;
  bool stopping = false;
  // Wakes stalled requests when the faults change or the server stops.
  std::condition_variable faultsChanged;

  // Holds a request while `stalled` says so, until the server stops.
  void StallWhile(bool BenchFaults::*stalled) {
    std::unique_lock lock(mutex);
    faultsChanged.wait(lock, [&] { return stopping || !(faults.*stalled); });
  }
  void DelayRange(const httplib::Request& request) {
    if (!request.has_header("Range")) return;
    std::unique_lock lock(mutex);
    const auto until = Clock::now() + faults.rangeDelay;
    faultsChanged.wait_until(lock, until, [&] { return stopping; });
  }

  std::string MediaBase() const {
    return "http://127.0.0.1:" + std::to_string(httpPort) + std::string(kMediaRoute);
  }

  void AddRoutes(httplib::Server& server) {
    // Without it a reply written in two pieces (the https one) waits for the client's
    // delayed acknowledgement, some 40 ms that no real server would add.
    server.set_tcp_nodelay(true);
    server.Post(std::string(demo::kCataloguePath), [this](const httplib::Request& request,
                                                          httplib::Response& response) {
      const Clock::time_point arrived = Clock::now();
      {
        std::lock_guard lock(mutex);
        ++marks.cataloguePosts;
        if (!marks.firstCatalogue) marks.firstCatalogue = arrived;
      }
      audioSeen.notify_all();
      StallWhile(&BenchFaults::stallCatalogue);
      const std::string pid = request.get_param_value("pid");
      const int programme = pid == demo::kMorningPid ? 1 : pid == demo::kEveningPid ? 2 : 0;
      if (programme == 0) {
        response.status = 404;
        return;
      }
      bool empty = false;
      {
        std::lock_guard lock(mutex);
        empty = faults.emptyCatalogue;
      }
      demo::DemoMedia listed;
      {
        std::lock_guard lock(mutex);
        if (!empty) listed.episodes = media.episodes;
      }
      response.set_content(
          empty ? std::string(R"({"data":{"list":[]}})")
                : demo::CatalogueReply(listed, programme, system_clock::now(), MediaBase()),
          "application/json;charset=UTF-8");
    });
    server.Get("/", [this](const httplib::Request&, httplib::Response& response) {
      {
        std::lock_guard lock(mutex);
        ++marks.timeRequests;
      }
      response.set_content("newsbar bench\n", "text/plain");
    });
    server.Get(std::string(kMediaRoute) + "(.+)",
               [this](const httplib::Request& request, httplib::Response& response) {
                 const Clock::time_point arrived = Clock::now();
                 const std::string& name = request.matches[1];
                 {
                   std::lock_guard lock(mutex);
                   if (EndsWith(name, ".mp3")) {
                     ++marks.audioRequests;
                     if (!marks.firstAudio) marks.firstAudio = arrived;
                   } else {
                     ++marks.coverRequests;
                     if (!marks.firstCover) marks.firstCover = arrived;
                     marks.lastCoverPath = request.path;
                   }
                 }
                 audioSeen.notify_all();
                 if (EndsWith(name, ".mp3")) {
                   StallWhile(&BenchFaults::stallAudio);
                   DelayRange(request);
                 } else {
                   StallWhile(&BenchFaults::stallCovers);
                 }
                 std::shared_ptr<const std::string> bytes;
                 {
                   std::lock_guard lock(mutex);
                   auto found = files.find(name);
                   if (found != files.end()) bytes = found->second;
                 }
                 if (!bytes) {
                   response.status = 404;
                   return;
                 }
                 // Range requests are cut by the library; the bytes stay alive while it
                 // sends them.
                 response.set_content_provider(
                     bytes->size(), MimeType(name).c_str(),
                     [bytes](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                       return sink.write(bytes->data() + offset, length);
                     });
               });
    server.set_post_routing_handler([](const httplib::Request&, httplib::Response& response) {
      response.set_header("Date", demo::HttpDate(system_clock::now()));
    });
  }

  static void StopListener(httplib::Server& server, std::thread& thread,
                           const std::atomic<bool>& ended) {
    if (!thread.joinable()) return;
    // A stop before the listener has begun its loop would be lost.
    while (!server.is_running() && !ended.load()) std::this_thread::yield();
    server.stop();
    thread.join();
  }
};

BenchServer::BenchServer(demo::DemoMedia media) : impl_(std::make_unique<Impl>()) {
  impl_->media = std::move(media);
  for (auto& [name, bytes] : impl_->media.files) {
    impl_->files.emplace(name, std::make_shared<const std::string>(std::move(bytes)));
  }
  impl_->media.files.clear();
}

void BenchServer::AddFile(std::string name, std::string bytes) {
  std::lock_guard lock(impl_->mutex);
  impl_->files[std::move(name)] = std::make_shared<const std::string>(std::move(bytes));
}

void BenchServer::SetEpisodeClip(std::string_view name, int seconds) {
  std::lock_guard lock(impl_->mutex);
  for (demo::DemoEpisode& episode : impl_->media.episodes) {
    episode.audioFile = std::string(name);
    episode.seconds = seconds;
  }
}

BenchServer::~BenchServer() {
  Stop();
}

bool BenchServer::Start() {
  Impl& d = *impl_;
  if (d.httpThread.joinable() || d.httpsThread.joinable()) return false;
  auto [key, cert] = MakeCertificate();
  if (!key || !cert) return false;
  d.key = std::move(key);
  d.cert = std::move(cert);
  d.https = std::make_unique<httplib::SSLServer>(d.cert.get(), d.key.get());
  if (!d.https->is_valid()) return false;
  d.AddRoutes(d.http);
  d.AddRoutes(*d.https);
  d.httpPort = d.http.bind_to_any_port("127.0.0.1");
  d.httpsPort = d.https->bind_to_any_port("127.0.0.1");
  if (d.httpPort <= 0 || d.httpsPort <= 0) return false;
  d.httpThread = std::thread([&d] {
    d.http.listen_after_bind();
    d.httpEnded = true;
  });
  d.httpsThread = std::thread([&d] {
    d.https->listen_after_bind();
    d.httpsEnded = true;
  });
  return true;
}

void BenchServer::SetFaults(const BenchFaults& faults) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->faults = faults;
  }
  impl_->faultsChanged.notify_all();
}

void BenchServer::Stop() {
  Impl& d = *impl_;
  {
    std::lock_guard lock(d.mutex);
    d.stopping = true;
  }
  d.faultsChanged.notify_all();
  Impl::StopListener(d.http, d.httpThread, d.httpEnded);
  if (d.https) Impl::StopListener(*d.https, d.httpsThread, d.httpsEnded);
}

int BenchServer::HttpPort() const {
  return impl_->httpPort;
}

int BenchServer::HttpsPort() const {
  return impl_->httpsPort;
}

Endpoints BenchServer::PlayerEndpoints() const {
  Endpoints endpoints;
  endpoints.catalogueHost = "127.0.0.1";
  endpoints.timeUrl = "http://127.0.0.1:" + std::to_string(impl_->httpPort) + "/";
  endpoints.httpPort = impl_->httpPort;
  endpoints.httpsPort = impl_->httpsPort;
  return endpoints;
}

std::string BenchServer::MediaUrl(std::string_view name) const {
  return impl_->MediaBase() + std::string(name);
}

void BenchServer::ResetMarks() {
  std::lock_guard lock(impl_->mutex);
  impl_->marks = {};
}

RequestMarks BenchServer::Marks() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->marks;
}

std::optional<Clock::time_point> BenchServer::WaitForFirstAudioRequest(
    std::chrono::milliseconds timeout) {
  WaitForMarks([](const RequestMarks& marks) { return marks.firstAudio.has_value(); }, timeout);
  return Marks().firstAudio;
}

bool BenchServer::WaitForMarks(const std::function<bool(const RequestMarks&)>& condition,
                               std::chrono::milliseconds timeout) {
  std::unique_lock lock(impl_->mutex);
  return impl_->audioSeen.wait_for(lock, timeout, [&] { return condition(impl_->marks); });
}

}  // namespace newsbar::bench
