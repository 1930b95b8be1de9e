#include "net/curl_exchange.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "net/request_object.h"
#include "util/gbk_text.h"
#include "util/log.h"

namespace newsbar::net {
namespace {

using Clock = std::chrono::steady_clock;

struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistFree>;

bool Append(Slist& list, const std::string& line) {
  curl_slist* extended = curl_slist_append(list.get(), line.c_str());
  if (extended == nullptr) return false;
  list.release();
  list.reset(extended);
  return true;
}

bool HasHeader(const std::vector<std::string>& lines, std::string_view name) {
  for (const std::string& line : lines) {
    if (HeaderLineNamed(line, name)) return true;
  }
  return false;
}

// libcurl reads "Name:" as "drop your own Name header"; "Name;" sends it empty.
std::string ForCurl(const std::string& line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) return line;
  const std::size_t value = line.find_first_not_of(" \t", colon + 1);
  if (value != std::string::npos) return line;
  return line.substr(0, colon) + ";";
}

struct UrlFree {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct PartFree {
  void operator()(char* part) const { curl_free(part); }
};

std::string UrlPart(CURLU* url, CURLUPart which, unsigned flags = 0) {
  char* raw = nullptr;
  curl_url_get(url, which, &raw, flags);
  const std::unique_ptr<char, PartFree> part(raw);
  return part ? std::string(part.get()) : std::string();
}

// scheme://host:port of a URL, lower case; what decides whether a hop leaves the origin.
std::string Origin(const std::string& url) {
  const std::unique_ptr<CURLU, UrlFree> parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return {};
  return gbk::AsciiLower(UrlPart(parsed.get(), CURLUPART_SCHEME) + "://" +
                         UrlPart(parsed.get(), CURLUPART_HOST) + ":" +
                         UrlPart(parsed.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT));
}

bool IsHttps(std::string_view url) {
  return gbk::AsciiLower(url.substr(0, 8)) == "https://";
}
bool IsHttp(std::string_view url) {
  return gbk::AsciiLower(url.substr(0, 7)) == "http://";
}

// --- certificate errors the caller chose to ignore ---------------------------------------

int TlsIgnoreIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

bool Ignorable(int error, int ignored) {
  switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      return (ignored & kIgnoreUnknownCa) != 0;
    case X509_V_ERR_INVALID_PURPOSE:
      return (ignored & kIgnoreWrongUsage) != 0;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return (ignored & kIgnoreInvalidDate) != 0;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return (ignored & kIgnoreInvalidName) != 0;
    default:
      return false;
  }
}

int VerifyCertificate(int preverified, X509_STORE_CTX* store) {
  if (preverified == 1) return 1;
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  if (ssl == nullptr) return 0;
  const auto ignored = static_cast<int>(
      reinterpret_cast<std::intptr_t>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), TlsIgnoreIndex())));
  if (!Ignorable(X509_STORE_CTX_get_error(store), ignored)) return 0;
  X509_STORE_CTX_set_error(store, X509_V_OK);
  return 1;
}

CURLcode SetUpTls(CURL*, void* context, void* data) {
  auto* tls = static_cast<SSL_CTX*>(context);
  const int ignored = *static_cast<const int*>(data);
  SSL_CTX_set_ex_data(tls, TlsIgnoreIndex(),
                      reinterpret_cast<void*>(static_cast<std::intptr_t>(ignored)));
  SSL_CTX_set_verify(tls, SSL_VERIFY_PEER, VerifyCertificate);
  return CURLE_OK;
}

// Cookies set by the responses of one exchange, sent back on its later hops to the
// origin that set them.
class CookieJar {
 public:
  void Take(const std::string& origin, const std::vector<std::string>& headerLines) {
    for (const std::string& line : headerLines) {
      if (!HeaderLineNamed(line, "Set-Cookie")) continue;
      std::string_view value = std::string_view(line).substr(line.find(':') + 1);
      value = value.substr(0, value.find(';'));
      const std::string cookie = gbk::Trim(value);
      const std::size_t equals = cookie.find('=');
      if (cookie.empty() || equals == 0) continue;
      const std::string name = cookie.substr(0, equals);
      std::erase_if(cookies_, [&](const Entry& entry) {
        return entry.origin == origin && entry.name == name;
      });
      cookies_.push_back({origin, name, cookie});
    }
  }

  std::string LineFor(const std::string& origin) const {
    std::string line;
    for (const Entry& entry : cookies_) {
      if (entry.origin != origin) continue;
      line += line.empty() ? "Cookie: " : "; ";
      line += entry.cookie;
    }
    return line;
  }

 private:
  struct Entry {
    std::string origin;
    std::string name;
    std::string cookie;
  };
  std::vector<Entry> cookies_;
};

}  // namespace

// --- one hop ---------------------------------------------------------------------------

struct ExchangeRun {
  ExchangeRun(const ExchangeRequest& request, CurlEasy& easy) : request(request), easy(easy) {}

  const ExchangeRequest& request;
  CurlEasy& easy;
  ExchangeResponse response;
  std::size_t headerBytes = 0;
  std::string limitHit;  // which of our limits ended the hop, if one did
  bool inHead = false;
  bool connected = false;
  Clock::time_point lastProgress = Clock::now();
  bool receiving = false;
  Clock::time_point receiveStart{};
  curl_off_t lastDown = -1;
  curl_off_t lastUp = -1;

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto& run = *static_cast<ExchangeRun*>(self);
    const std::size_t length = size * count;
    run.lastProgress = Clock::now();
    run.headerBytes += length;
    if (run.headerBytes > kMaxHeaderBytes) {
      run.limitHit = "response headers over the limit";
      return 0;
    }
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {
      // Each response of the exchange (interim, redirected, final) starts afresh.
      run.response.statusLine = line;
      run.response.headerLines.clear();
      run.inHead = true;
    } else if (run.inHead) {
      if (line.empty()) {
        run.inHead = false;
      } else {
        run.response.headerLines.emplace_back(line);
      }
    }
    return length;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto& run = *static_cast<ExchangeRun*>(self);
    const std::size_t length = size * count;
    run.lastProgress = Clock::now();
    if (run.response.body.size() + length > kMaxBodyBytes) {
      run.limitHit = "response body over the limit";
      return 0;
    }
    run.response.body.insert(run.response.body.end(), data, data + length);
    return length;
  }

  static int OnConnected(void* self, char*, char*, int, int) {
    auto& run = *static_cast<ExchangeRun*>(self);
    run.connected = true;
    run.lastProgress = Clock::now();
    return CURL_PREREQFUNC_OK;
  }

  // Once connected, the send limit counts time without progress while sending; the
  // receive limit bounds the whole wait for the response, so a server that drips its
  // reply a byte at a time cannot hold the caller longer than that.
  static int OnProgress(void* self, curl_off_t, curl_off_t down, curl_off_t upTotal,
                        curl_off_t up) {
    auto& run = *static_cast<ExchangeRun*>(self);
    const Clock::time_point now = Clock::now();
    if (down != run.lastDown || up != run.lastUp) {
      run.lastDown = down;
      run.lastUp = up;
      run.lastProgress = now;
    }
    if (!run.connected) return 0;
    if (upTotal > 0 && up < upTotal) {
      const long limit = run.request.sendIdleMs;
      return limit > 0 && now - run.lastProgress > std::chrono::milliseconds(limit) ? 1 : 0;
    }
    if (!run.receiving) {
      run.receiving = true;
      run.receiveStart = now;
    }
    const long limit = run.request.receiveMs;
    return limit > 0 && now - run.receiveStart > std::chrono::milliseconds(limit) ? 1 : 0;
  }
};

namespace {

// What outlives an exchange: where the connections it leaves are kept, and the TLS
// sessions (only with a multi handle).
struct KeptState {
  int* keptTlsIgnore = nullptr;
  CURLSH* share = nullptr;  // holds the TLS sessions; null: none kept
  int* sessionTlsIgnore = nullptr;
};

// Sets every option of one hop on a freshly reset handle. The header lists must live
// until the hop has been performed.
bool SetUpHop(ExchangeRun& run, const std::string& url, const std::string& verb,
              std::string_view body, bool sameOrigin, const std::string& cookieLine,
              long timeLeftMs, const KeptState& kept, Slist& headers, Slist& proxyHeaders) {
  const ExchangeRequest& request = run.request;
  CURL* curl = run.easy.get();
  curl_easy_reset(curl);
  headers.reset();
  proxyHeaders.reset();

  std::vector<std::string> lines;
  for (const std::string& line : request.headerLines) {
    // Credentials and cookies meant for one site do not follow a redirect to another.
    if (!sameOrigin &&
        (HeaderLineNamed(line, "Authorization") || HeaderLineNamed(line, "Cookie"))) {
      continue;
    }
    lines.push_back(line);
  }
  if (!cookieLine.empty()) lines.push_back(cookieLine);
  for (const std::string& line : lines) {
    if (!Append(headers, ForCurl(line))) return false;
  }
  const bool postFields = !(verb == "HEAD" || (verb == "GET" && body.empty()) ||
                            (body.empty() && verb != "POST" && verb != "PUT"));
  bool ok = true;
  if (!HasHeader(lines, "Accept")) ok = ok && Append(headers, "Accept:");
  if (!HasHeader(lines, "Expect")) ok = ok && Append(headers, "Expect:");
  if (postFields && !HasHeader(lines, "Content-Type")) ok = ok && Append(headers, "Content-Type:");
  for (const std::string& line : request.proxyHeaderLines) {
    ok = ok && Append(proxyHeaders, ForCurl(line));
  }
  if (!HasHeader(request.proxyHeaderLines, "Proxy-Connection")) {
    ok = ok && Append(proxyHeaders, "Proxy-Connection:");
  }
  if (!ok) return false;

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(
      curl, CURLOPT_HTTP_VERSION,
      static_cast<long>(request.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_HEADEROPT, static_cast<long>(CURLHEADER_SEPARATE));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_PROXYHEADER, proxyHeaders.get());
  curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

  if (verb == "HEAD") {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else if (!postFields) {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    if (verb != "GET") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, verb.c_str());
  } else {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.empty() ? "" : body.data());
    if (verb != "POST") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, verb.c_str());
  }

  curl_easy_setopt(curl, CURLOPT_PROXY, request.proxy.c_str());
  if (!request.noProxy.empty()) curl_easy_setopt(curl, CURLOPT_NOPROXY, request.noProxy.c_str());
  if (request.proxyCredentials) {
    curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, request.proxyUser.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, request.proxyPassword.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
  }
  if (request.serverCredentials && sameOrigin) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, request.serverUser.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, request.serverPassword.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
  }

  // Certificates: verified, less the errors the caller ignores.
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST,
                   (request.ignoredTlsErrors & kIgnoreInvalidName) != 0 ? 0L : 2L);
  // A resumed session skips the certificate check: only exchanges with the same
  // settings share them.
  const bool sessions =
      kept.share != nullptr && IsHttps(url) &&
      (*kept.sessionTlsIgnore == -1 || *kept.sessionTlsIgnore == request.ignoredTlsErrors);
  if (sessions) {
    *kept.sessionTlsIgnore = request.ignoredTlsErrors;
    curl_easy_setopt(curl, CURLOPT_SHARE, kept.share);
  }
  curl_easy_setopt(curl, CURLOPT_SSL_SESSIONID_CACHE, sessions ? 1L : 0L);
  // Accepting an unknown issuer leaves the trust store nothing to decide: any chain the
  // store would reject for its root passes all the same. Reading the system's store
  // (some 140 roots, parsed anew for each connection) is then skipped; every other check
  // of the chain (dates, use, names, signatures within it) is made as before.
  const bool anyIssuer = (request.ignoredTlsErrors & kIgnoreUnknownCa) != 0;
  const std::string& caFile = run.easy.DefaultCaFile();
  const std::string& caPath = run.easy.DefaultCaPath();
  curl_easy_setopt(curl, CURLOPT_CAINFO, anyIssuer || caFile.empty() ? nullptr : caFile.c_str());
  curl_easy_setopt(curl, CURLOPT_CAPATH, anyIssuer || caPath.empty() ? nullptr : caPath.c_str());
  curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, const_cast<int*>(&request.ignoredTlsErrors));
  if (curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, SetUpTls) != CURLE_OK) {
    // A TLS library without that hook: give up checking only when every chain error the
    // flags can name is ignored.
    const int chain = kIgnoreUnknownCa | kIgnoreWrongUsage | kIgnoreInvalidDate;
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER,
                     (request.ignoredTlsErrors & chain) == chain ? 0L : 1L);
  }
  if (*kept.keptTlsIgnore != -1 && *kept.keptTlsIgnore != request.ignoredTlsErrors) {
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
  }
  *kept.keptTlsIgnore = request.ignoredTlsErrors;

  if (request.connectMs > 0) curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, request.connectMs);
  if (timeLeftMs > 0) curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeLeftMs);
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBodyBytes));

  run.connected = false;
  run.limitHit.clear();
  run.inHead = false;
  run.headerBytes = 0;
  run.lastDown = run.lastUp = -1;
  run.lastProgress = Clock::now();
  run.receiving = false;
  run.response = ExchangeResponse{};
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &ExchangeRun::OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &run);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &ExchangeRun::OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &run);
  curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, &ExchangeRun::OnConnected);
  curl_easy_setopt(curl, CURLOPT_PREREQDATA, &run);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &ExchangeRun::OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &run);

  return true;
}

// Reads the outcome of a performed hop; false when it failed.
bool FinishHop(ExchangeRun& run, CURLcode result) {
  CURL* curl = run.easy.get();
  if (result != CURLE_OK) {
    run.response = ExchangeResponse{};
    run.response.error = run.limitHit.empty() ? curl_easy_strerror(result) : run.limitHit;
    return false;
  }
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  run.response.status = static_cast<int>(status);
  run.response.ok = true;
  return true;
}

ExchangeResponse Failed(std::string why) {
  ExchangeResponse response;
  response.error = std::move(why);
  return response;
}

// An exchange, hop by hop: sets each hop up on the easy handle and reads its outcome.
// Who performs a hop (curl_easy_perform, or a multi handle) is the caller's business.
class HopSequence {
 public:
  HopSequence(CurlEasy& easy, const ExchangeRequest& request, KeptState kept)
      : run_(request, easy),
        kept_(kept),
        deadline_(Clock::now() + std::chrono::milliseconds(request.totalMs)),
        firstOrigin_(Origin(request.url)),
        callerCookies_(HasHeader(request.headerLines, "Cookie")),
        url_(request.url),
        verb_(request.verb),
        body_(request.body) {}
  ~HopSequence() { ReleaseLists(); }
  HopSequence(const HopSequence&) = delete;
  HopSequence& operator=(const HopSequence&) = delete;

  // Sets up the first hop: true when there is one to perform, false when the exchange
  // has already ended (Response() holds the outcome).
  bool Begin() { return SetUpNext(); }
  // The hop was performed with this result: sets up the next hop (true) or ends (false).
  bool Next(CURLcode result) {
    ReleaseLists();
    if (!FinishHop(run_, result)) return End(Failed(std::move(run_.response.error)));
    const ExchangeRequest& request = run_.request;
    const int status = run_.response.status;
    const bool redirect =
        status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    if (!request.followRedirects || !redirect) return End(std::move(run_.response));
    char* location = nullptr;
    curl_easy_getinfo(run_.easy.get(), CURLINFO_REDIRECT_URL, &location);
    if (location == nullptr) return End(std::move(run_.response));
    const std::string next = location;
    // A redirect this exchange may not take leaves the redirect response as the answer.
    if (!IsHttp(next) && !IsHttps(next)) return End(std::move(run_.response));
    if (IsHttps(url_) && IsHttp(next) && !request.allowHttpsToHttp) {
      return End(std::move(run_.response));
    }
    if (IsHttp(url_) && IsHttps(next) && !request.allowHttpToHttps) {
      return End(std::move(run_.response));
    }
    if (hop_ >= request.maxRedirects) return End(Failed("too many redirects"));
    ++hop_;
    if (request.cookieEngine) jar_.Take(origin_, run_.response.headerLines);
    if ((status == 303 && verb_ != "HEAD") ||
        ((status == 301 || status == 302) && verb_ == "POST")) {
      verb_ = "GET";
      body_ = {};
    }
    url_ = next;
    return SetUpNext();
  }

  ExchangeResponse& Response() { return response_; }
  CURL* Handle() const { return run_.easy.get(); }

 private:
  bool SetUpNext() {
    if (!run_.easy) return End({});
    const ExchangeRequest& request = run_.request;
    long timeLeftMs = 0;
    if (request.totalMs > 0) {
      timeLeftMs = static_cast<long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count());
      if (timeLeftMs <= 0) return End(Failed("Timeout was reached"));
    }
    origin_ = Origin(url_);
    const std::string cookieLine =
        request.cookieEngine && !callerCookies_ ? jar_.LineFor(origin_) : std::string();
    if (!SetUpHop(run_, url_, verb_, body_, origin_ == firstOrigin_, cookieLine, timeLeftMs, kept_,
                  headers_, proxyHeaders_)) {
      return End(Failed("out of memory"));
    }
    return true;
  }

  bool End(ExchangeResponse response) {
    response_ = std::move(response);
    return false;
  }

  // The lists die with the hop: leave no pointer to them in the handle.
  void ReleaseLists() {
    if (run_.easy) {
      curl_easy_setopt(run_.easy.get(), CURLOPT_HTTPHEADER, nullptr);
      curl_easy_setopt(run_.easy.get(), CURLOPT_PROXYHEADER, nullptr);
    }
    headers_.reset();
    proxyHeaders_.reset();
  }

  ExchangeRun run_;
  const KeptState kept_;
  const Clock::time_point deadline_;
  const std::string firstOrigin_;
  const bool callerCookies_;
  CookieJar jar_;
  std::string url_;
  std::string verb_;
  std::string_view body_;
  std::string origin_;
  int hop_ = 0;
  Slist headers_;
  Slist proxyHeaders_;
  ExchangeResponse response_;
};

void LogOutcome(const ExchangeRequest& request, ExchangeResponse& response,
                Clock::time_point start) {
  response.ended = Clock::now();
  if (!lcNet().isDebugEnabled()) return;
  const double seconds = std::chrono::duration<double>(response.ended - start).count();
  if (response.ok) {
    qCDebug(lcNet, "%s %s: HTTP %d, %zu bytes in %.2f s", request.verb.c_str(), request.url.c_str(),
            response.status, response.body.size(), seconds);
  } else {
    qCDebug(lcNet, "%s %s: no response (%s) after %.2f s", request.verb.c_str(),
            request.url.c_str(), response.error.c_str(), seconds);
  }
}

bool GlobalInit() {
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return initialised;
}

}  // namespace

CurlEasy::CurlEasy() {
  if (!GlobalInit()) return;
  handle_ = curl_easy_init();
  if (handle_ == nullptr) return;
  // The built-in places of the trust store, to restore after an exchange that needs none.
  char* text = nullptr;
  if (curl_easy_getinfo(handle_, CURLINFO_CAINFO, &text) == CURLE_OK && text != nullptr)
    defaultCaFile_ = text;
  text = nullptr;
  if (curl_easy_getinfo(handle_, CURLINFO_CAPATH, &text) == CURLE_OK && text != nullptr)
    defaultCaPath_ = text;
}

CurlEasy::~CurlEasy() {
  if (handle_ != nullptr) curl_easy_cleanup(handle_);
}

ExchangeResponse PerformExchange(CurlEasy& easy, const ExchangeRequest& request) {
  const Clock::time_point start = Clock::now();
  HopSequence hops(easy, request, {.keptTlsIgnore = &easy.keptTlsIgnore});
  for (bool more = hops.Begin(); more; more = hops.Next(curl_easy_perform(easy.get()))) {
  }
  LogOutcome(request, hops.Response(), start);
  return std::move(hops.Response());
}

// --- exchanges performed together ---------------------------------------------------------

struct RunningExchange {
  RunningExchange(CurlEasy& easy, const ExchangeRequest& request, KeptState kept,
                  ExchangeResponse* out)
      : request(request), hops(easy, request, kept), out(out) {}

  const ExchangeRequest& request;
  HopSequence hops;
  ExchangeResponse* out;
  Clock::time_point start = Clock::now();
};

CurlMulti::CurlMulti() {
  if (!GlobalInit()) return;
  multi_ = curl_multi_init();
  // Room for the connections of a few hosts between uses (by default the room shrinks
  // with the exchanges under way, to none once they have ended).
  if (multi_ != nullptr) curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, 8L);
  share_ = curl_share_init();
  if (share_ != nullptr &&
      curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK) {
    curl_share_cleanup(share_);
    share_ = nullptr;
  }
}

CurlMulti::~CurlMulti() {
  // Exchanges still registered would point at callers' objects that are gone.
  for (const auto& exchange : running_) curl_multi_remove_handle(multi_, exchange->hops.Handle());
  running_.clear();
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
  if (share_ != nullptr) curl_share_cleanup(share_);
}

void CurlMulti::Start(CurlEasy& easy, const ExchangeRequest& request, ExchangeResponse* response) {
  auto exchange =
      std::make_unique<RunningExchange>(easy, request,
                                        KeptState{.keptTlsIgnore = &keptTlsIgnore_,
                                                  .share = share_,
                                                  .sessionTlsIgnore = &sessionTlsIgnore_},
                                        response);
  if (multi_ == nullptr || !exchange->hops.Begin()) {
    if (multi_ == nullptr) exchange->hops.Response() = Failed("no multi handle");
    LogOutcome(request, exchange->hops.Response(), exchange->start);
    *response = std::move(exchange->hops.Response());
    return;
  }
  qCDebug(lcNet, "%s %s: issued", request.verb.c_str(), request.url.c_str());
  curl_multi_add_handle(multi_, exchange->hops.Handle());
  running_.push_back(std::move(exchange));
  // Under way now (name, connection, first bytes), not only once the last is issued.
  Perform();
}

void CurlMulti::Run() {
  while (!running_.empty()) {
    curl_multi_poll(multi_, nullptr, 0, 50, nullptr);
    Perform();
  }
}

void CurlMulti::Perform() {
  int stillRunning = 0;
  curl_multi_perform(multi_, &stillRunning);
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
    if (message->msg != CURLMSG_DONE) continue;
    CURL* const handle = message->easy_handle;
    const CURLcode result = message->data.result;
    const auto found = std::find_if(running_.begin(), running_.end(),
                                    [handle](const auto& e) { return e->hops.Handle() == handle; });
    if (found == running_.end()) continue;
    Finish(**found, result);
  }
}

void CurlMulti::Finish(RunningExchange& exchange, CURLcode result) {
  CURL* const handle = exchange.hops.Handle();
  curl_multi_remove_handle(multi_, handle);
  if (exchange.hops.Next(result)) {
    curl_multi_add_handle(multi_, handle);
    return;
  }
  // The handle may outlive this object: it keeps no tie to the shared sessions.
  curl_easy_setopt(handle, CURLOPT_SHARE, nullptr);
  LogOutcome(exchange.request, exchange.hops.Response(), exchange.start);
  *exchange.out = std::move(exchange.hops.Response());
  std::erase_if(running_, [&exchange](const auto& e) { return e.get() == &exchange; });
}

std::string SelectProxy(std::string_view list, bool https) {
  std::string plain;
  std::string socks;
  std::string forScheme;
  std::size_t at = 0;
  while (at < list.size()) {
    const std::size_t end = list.find_first_of("; \t", at);
    const std::string_view entry =
        list.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    at = end == std::string_view::npos ? list.size() : end + 1;
    if (entry.empty()) continue;
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos) {
      if (plain.empty()) plain = entry;
      continue;
    }
    const std::string key = gbk::AsciiLower(entry.substr(0, equals));
    const std::string_view address = entry.substr(equals + 1);
    if (address.empty()) continue;
    if (key == (https ? "https" : "http") && forScheme.empty()) forScheme = address;
    if (key == "socks" && socks.empty()) socks = address;
  }
  auto withScheme = [](const std::string& address, std::string_view scheme) {
    return address.find("://") == std::string::npos ? std::string(scheme) + "://" + address
                                                    : address;
  };
  if (!forScheme.empty()) return withScheme(forScheme, "http");
  if (!socks.empty()) return withScheme(socks, "socks5");
  if (!plain.empty()) return withScheme(plain, "http");
  return {};
}

std::string BypassList(std::string_view list) {
  std::string result;
  std::size_t at = 0;
  while (at < list.size()) {
    const std::size_t end = list.find_first_of("; \t,", at);
    const std::string_view entry =
        list.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    at = end == std::string_view::npos ? list.size() : end + 1;
    if (entry.empty()) continue;
    if (!result.empty()) result += ",";
    result += entry;
  }
  return result;
}

bool HeaderLineNamed(std::string_view line, std::string_view name) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view lineName = line.substr(0, colon);
  while (!lineName.empty() && (lineName.back() == ' ' || lineName.back() == '\t')) {
    lineName.remove_suffix(1);
  }
  return gbk::EqualsNoCase(lineName, name);
}

}  // namespace newsbar::net
