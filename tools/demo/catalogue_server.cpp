#include "demo/catalogue_server.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <httplib.h>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <thread>

namespace newsbar::demo {

namespace {

using std::chrono::system_clock;

// unique_ptr deleters for the OpenSSL handles.
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
using BioPtr = std::unique_ptr<BIO, OpenSslFree<BIO_free_all>>;

constexpr std::string_view kMediaRoute = "/media/";

bool ParseInt(std::string_view text, int& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

// Clip and cover names stay plain so that they make safe URL paths.
bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name.front() == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

std::string_view CoverFile(int programme) {
  return programme == 1 ? "morning.jpg" : "evening.png";
}

// 20201207 for 7 December 2020.
std::string DateDigits(CalendarDate date) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d%02d%02d", date.year, date.month, date.day);
  return digits;
}

std::string_view PidOf(int programme) {
  return programme == 1 ? kMorningPid : kEveningPid;
}

std::string MimeType(std::string_view name) {
  auto endsWith = [name](std::string_view suffix) {
    return name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
  };
  if (endsWith(".mp3")) return "audio/mpeg";
  if (endsWith(".jpg")) return "image/jpeg";
  if (endsWith(".png")) return "image/png";
  return "application/octet-stream";
}

bool ReadResource(const QString& path, std::string& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  QByteArray data = file.readAll();
  bytes.assign(data.constData(), static_cast<std::size_t>(data.size()));
  return true;
}

// A key pair and a self-signed certificate for 127.0.0.1, valid from an hour ago for
// thirty days. Null pointers when OpenSSL fails at any step.
std::pair<KeyPtr, CertPtr> MakeCertificate() {
  KeyPtr key(EVP_EC_gen("P-256"));
  CertPtr cert(X509_new());
  BignumPtr serial(BN_new());
  if (!key || !cert || !serial) return {};

  bool ok = X509_set_version(cert.get(), X509_VERSION_3) == 1 &&
            BN_rand(serial.get(), 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
            BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) != nullptr &&
            X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr &&
            X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 86400) != nullptr &&
            X509_set_pubkey(cert.get(), key.get()) == 1;
  X509_NAME* name = X509_get_subject_name(cert.get());
  auto addName = [name](const char* field, const char* value) {
    return X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char*>(value), -1, -1,
                                      0) == 1;
  };
  ok = ok && addName("O", "newsbar demo") && addName("CN", "127.0.0.1") &&
       X509_set_issuer_name(cert.get(), name) == 1;
  if (!ok) return {};

  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert.get(), cert.get(), nullptr, nullptr, 0);
  const std::pair<int, const char*> extensions[] = {
      {NID_basic_constraints, "critical,CA:FALSE"},
      {NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
  };
  for (const auto& [nid, value] : extensions) {
    ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    if (!extension || X509_add_ext(cert.get(), extension.get(), -1) != 1) return {};
  }
  if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0) return {};
  return {std::move(key), std::move(cert)};
}

std::string CertificateToPem(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1) return {};
  char* data = nullptr;
  long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

}  // namespace

std::vector<DemoEpisode> ParseEpisodeTable(std::string_view table) {
  std::vector<DemoEpisode> episodes;
  while (!table.empty()) {
    std::size_t end = table.find('\n');
    std::string_view line = table.substr(0, end);
    table.remove_prefix(end == std::string_view::npos ? table.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;

    std::vector<std::string_view> fields;
    for (std::size_t tab; (tab = line.find('\t')) != std::string_view::npos;) {
      fields.push_back(line.substr(0, tab));
      line.remove_prefix(tab + 1);
    }
    fields.push_back(line);
    if (fields.size() != 5) continue;

    DemoEpisode episode;
    if (!ParseInt(fields[0], episode.programme) || !ParseInt(fields[1], episode.daysAgo) ||
        !ParseInt(fields[3], episode.seconds))
      continue;
    if (episode.programme < 1 || episode.programme > 2 || episode.daysAgo < 0 ||
        episode.seconds <= 0 || !IsPlainFileName(fields[2]) || fields[4].empty())
      continue;
    episode.audioFile = fields[2];
    episode.headline = fields[4];
    episodes.push_back(std::move(episode));
  }
  return episodes;
}

DemoMedia BuiltInMedia() {
  const QString root = QStringLiteral(":/demo/media/");
  DemoMedia media;
  std::string table;
  if (!ReadResource(root + QStringLiteral("episodes.tsv"), table)) return {};
  media.episodes = ParseEpisodeTable(table);

  std::vector<std::string> needed = {std::string(CoverFile(1)), std::string(CoverFile(2))};
  for (const DemoEpisode& episode : media.episodes) needed.push_back(episode.audioFile);
  for (const std::string& name : needed) {
    std::string bytes;
    if (!ReadResource(root + QString::fromStdString(name), bytes)) return {};
    media.files.emplace(name, std::move(bytes));
  }
  return media;
}

CalendarDate DateAtUtc8(system_clock::time_point t, int daysBack) {
  using namespace std::chrono;
  const sys_days day = floor<days>(t + hours(8)) - days(daysBack);
  const year_month_day date(day);
  return {static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day()))};
}

std::string EpisodeTitle(int programme, CalendarDate date, std::string_view headline) {
  std::string title = std::to_string(date.month) + "月" + std::to_string(date.day) + "日";
  title += programme == 1 ? "小涟早报：" : "小涟晚报：";
  title += headline;
  return title;
}

std::string HttpDate(system_clock::time_point t) {
  using namespace std::chrono;
  // strftime would follow the locale (the window's toolkit sets it from the environment).
  static constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const sys_seconds seconds = floor<std::chrono::seconds>(t);
  const sys_days day = floor<days>(seconds);
  const year_month_day date(day);
  const hh_mm_ss<std::chrono::seconds> time(seconds - day);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d GMT",
                kWeekdays[weekday(day).c_encoding()], static_cast<unsigned>(date.day()),
                kMonths[static_cast<unsigned>(date.month()) - 1], static_cast<int>(date.year()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

std::string CatalogueReply(const DemoMedia& media, int programme, system_clock::time_point now,
                           std::string_view mediaBase) {
  std::vector<const DemoEpisode*> chosen;
  for (const DemoEpisode& episode : media.episodes)
    if (episode.programme == programme) chosen.push_back(&episode);
  std::stable_sort(chosen.begin(), chosen.end(), [](const DemoEpisode* a, const DemoEpisode* b) {
    return a->daysAgo < b->daysAgo;
  });

  const QString base =
      QString::fromUtf8(mediaBase.data(), static_cast<qsizetype>(mediaBase.size()));
  const QString cover = base + QString::fromUtf8(CoverFile(programme).data());
  QJsonArray list;
  for (const DemoEpisode* episode : chosen) {
    const CalendarDate date = DateAtUtc8(now, episode->daysAgo);
    const std::string title = EpisodeTitle(programme, date, episode->headline);
    const auto fileSize = [&] {
      auto found = media.files.find(episode->audioFile);
      return found == media.files.end() ? 0 : static_cast<qint64>(found->second.size());
    }();
    QJsonObject audio{{"filePath", base + QString::fromStdString(episode->audioFile)},
                      {"size", fileSize}};
    list.append(QJsonObject{
        {"id", QString::fromStdString(std::string(PidOf(programme)) + DateDigits(date))},
        {"title", QString::fromStdString(title)},
        {"duration", episode->seconds},
        {"img194_194", cover},
        {"audiolist", QJsonArray{audio}},
    });
  }
  QJsonObject reply{{"code", 0}, {"data", QJsonObject{{"list", list}}}};
  const QByteArray json = QJsonDocument(reply).toJson(QJsonDocument::Compact);
  return std::string(json.constData(), static_cast<std::size_t>(json.size()));
}

struct CatalogueServer::Impl {
  DemoMedia media;
  Clock clock;
  KeyPtr key;
  CertPtr cert;
  std::string certPem;
  httplib::Server http;
  std::unique_ptr<httplib::SSLServer> https;
  std::thread httpThread;
  std::thread httpsThread;
  std::atomic<bool> httpEnded{false};
  std::atomic<bool> httpsEnded{false};
  int httpPort = 0;
  int httpsPort = 0;

  std::string MediaBase() const {
    return "http://127.0.0.1:" + std::to_string(httpPort) + std::string(kMediaRoute);
  }

  void AddRoutes(httplib::Server& server) {
    // Without it a reply written in two pieces (the https one) waits for the client's
    // delayed acknowledgement, some 40 ms that no real server would add.
    server.set_tcp_nodelay(true);
    server.Post(std::string(kCataloguePath),
                [this](const httplib::Request& request, httplib::Response& response) {
                  const std::string pid = request.get_param_value("pid");
                  int programme = pid == kMorningPid ? 1 : pid == kEveningPid ? 2 : 0;
                  if (programme == 0) {
                    response.status = 404;
                    return;
                  }
                  // Only the first page holds episodes; later pages are empty.
                  const std::string page = request.get_param_value("pageNum");
                  std::string body = page.empty() || page == "1"
                                         ? CatalogueReply(media, programme, clock(), MediaBase())
                                         : std::string(R"({"code":0,"data":{"list":[]}})");
                  response.set_content(std::move(body), "application/json;charset=UTF-8");
                });
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
      response.set_content("newsbar demo catalogue\n", "text/plain");
    });
    server.Get(std::string(kMediaRoute) + "(.+)",
               [this](const httplib::Request& request, httplib::Response& response) {
                 const std::string& name = request.matches[1];
                 auto found = media.files.find(name);
                 if (found == media.files.end()) {
                   response.status = 404;
                   return;
                 }
                 // Range requests (the player seeks with them) are cut by the library.
                 response.set_content(found->second, MimeType(name).c_str());
               });
    // Every reply tells the time, as a public web server's would.
    server.set_post_routing_handler([this](const httplib::Request&, httplib::Response& response) {
      response.set_header("Date", HttpDate(clock()));
    });
  }

  static void StopListener(httplib::Server& server, std::thread& thread,
                           const std::atomic<bool>& ended) {
    if (!thread.joinable()) return;
    // A stop before the listener has begun its loop would be lost, so wait for the loop
    // (or for the listener to have given up) first.
    while (!server.is_running() && !ended.load()) std::this_thread::yield();
    server.stop();
    thread.join();
  }
};

CatalogueServer::CatalogueServer(DemoMedia media, Clock clock) : impl_(std::make_unique<Impl>()) {
  impl_->media = std::move(media);
  impl_->clock = clock ? std::move(clock) : Clock([] { return system_clock::now(); });
}

CatalogueServer::~CatalogueServer() {
  Stop();
}

bool CatalogueServer::Start() {
  Impl& d = *impl_;
  if (d.httpThread.joinable() || d.httpsThread.joinable()) return false;
  auto [key, cert] = MakeCertificate();
  if (!key || !cert) return false;
  d.key = std::move(key);
  d.cert = std::move(cert);
  d.certPem = CertificateToPem(d.cert.get());
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

void CatalogueServer::Stop() {
  Impl& d = *impl_;
  Impl::StopListener(d.http, d.httpThread, d.httpEnded);
  if (d.https) Impl::StopListener(*d.https, d.httpsThread, d.httpsEnded);
}

int CatalogueServer::HttpPort() const {
  return impl_->httpPort;
}

int CatalogueServer::HttpsPort() const {
  return impl_->httpsPort;
}

std::string CatalogueServer::CertificatePem() const {
  return impl_->certPem;
}

Endpoints CatalogueServer::PlayerEndpoints() const {
  Endpoints endpoints;
  endpoints.catalogueHost = "127.0.0.1";
  endpoints.timeUrl = "http://127.0.0.1:" + std::to_string(impl_->httpPort) + "/";
  endpoints.httpPort = impl_->httpPort;
  endpoints.httpsPort = impl_->httpsPort;
  return endpoints;
}

}  // namespace newsbar::demo
