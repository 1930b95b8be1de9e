// The loopback catalogue server: everything the player talks to at start-up, on
// 127.0.0.1, for the demo, the benchmarks and the tests alike.
//
//   - the catalogue over plain http (where the morning programme is asked for) and over
//     https with a certificate made at start (where the evening one is asked for); both
//     answer either programme, chosen by the "pid" query key;
//   - a time host, whose replies carry the Date header at the caller's clock (or a fixed
//     text, or none);
//   - a media host serving covers and clips under /media/<name>, with byte ranges.
//
// Each of the four listens on an ephemeral port of its own (so that refusing one scheme
// leaves the time and the media up); every one answers every route and every reply
// carries the same Date. PlayerEndpoints() points the player's code at them.
//
// A programme's page is made from the episodes at the clock's moment (dated so many days
// back at UTC+8) unless a fixed reply is set. Every request is recorded on arrival, before
// any fault holds it, with its header lines as sent and the moment it came. Failures and
// stalls can be switched at any time; a stall lasts until it is switched off or the
// server stops.
//
// Typical use:
//   loopback::CatalogueServer server(loopback::BuiltInMedia());
//   if (!server.Start()) ...;
//   CatalogueWorker(server.PlayerEndpoints(), targets);
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue/endpoints.h"
#include "catalogue_server/catalogue_media.h"

namespace newsbar::loopback {

// How a programme's catalogue request is answered.
enum class CatalogueFailure {
  kNone,         // 200 with the programme's page
  kRefuse,       // nothing listens: the connection is refused (the server of that scheme is down)
  kServerError,  // 500 with a short text body
  kNotJson,      // 200 with an HTML body
  kEmptyList,    // 200 with {"data":{"list":[]}}
  kNoList,       // 200 with {"code":0} (no data.list at all)
};

// Faults of the whole server, for the responsiveness measures and the tests that close
// the player in each phase.
struct ServerFaults {
  bool emptyCatalogue = false;  // both programmes answer with an empty list
  bool stallCatalogue = false;  // catalogue requests are never answered
  bool stallCovers = false;     // cover requests are never answered
  bool stallAudio = false;      // clip requests are never answered
  // Every clip request that asks for a byte range waits this long before its answer.
  std::chrono::milliseconds rangeDelay{0};
};

// How the media host behaves once a clip's stream has been cut (MediaOutage).
enum class OutageKind {
  kNone,    // back at once
  kRefuse,  // nothing listens: connections to the media host are refused
  kSilent,  // connections are taken and requests read, but nothing is answered
};

// A network loss in the middle of an episode: every answer for `name` that would reach
// byte `cutAt` of the file sends the bytes before it and drops the connection; the first
// to get there begins the outage, and from then on, for `length` (or until
// EndMediaOutage without one), the media host behaves as `kind` says; then it serves
// every request again, byte ranges and all (a request held by a silent host is answered
// then). Until the outage begins, answers for `name` go out at `pace` bytes a second
// when it is set: over loopback the whole stream would otherwise be read, and the cut
// come, while the media is still opening.
struct MediaOutage {
  std::string name;
  std::size_t cutAt = 0;
  OutageKind kind = OutageKind::kNone;
  std::optional<std::chrono::milliseconds> length;
  std::size_t pace = 0;
};

struct ServerOptions {
  // A fixed port for the time host instead of an ephemeral one (0).
  int timePort = 0;
  // When set, one more port on which both schemes are answered: a connection that opens
  // with a TLS handshake is passed to the https listener, any other to the http one. The
  // endpoints then name the host as "127.0.0.1:<port>", the form of the build setting
  // NEWSBAR_CATALOGUE_HOST that serves both schemes. (A refused programme then shows as
  // a connection closed without a reply.)
  bool combined = false;
  int combinedPort = 0;  // 0 = ephemeral
  // One request per connection, so that stopping a listener never waits for a client's
  // idle keep-alive connection.
  bool oneRequestPerConnection = false;
  // A far server: every listener is reached through a loopback relay that holds each
  // byte this long each way, and a new connection's first bytes the round trip of its
  // handshake besides. The ports and URLs given out are the relays'.
  std::chrono::milliseconds latency{0};
};

struct RecordedRequest {
  std::string server;  // the listener: "http", "https", "time" or "media"
  std::string method;  // "POST", "HEAD", ...
  std::string path;    // without the query
  std::string target;  // path and query as sent
  std::map<std::string, std::string> query;
  // Header lines in the received spelling of their names (order not kept).
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::chrono::steady_clock::time_point arrived;
  // The client's port: requests that came on one connection share it.
  int remotePort = 0;

  // The value of a header (name compared without case); nothing when absent.
  std::optional<std::string> Header(std::string_view name) const;
};

class CatalogueServer {
 public:
  using WallClock = std::function<std::chrono::system_clock::time_point()>;
  using RequestCondition = std::function<bool(const std::vector<RecordedRequest>&)>;

  // The episodes are listed, the files served. Nothing listens before Start.
  explicit CatalogueServer(MediaSet media = {}, ServerOptions options = {});
  virtual ~CatalogueServer();
  CatalogueServer(const CatalogueServer&) = delete;
  CatalogueServer& operator=(const CatalogueServer&) = delete;

  // Makes the certificate and starts every listener; false when one cannot start.
  bool Start();
  // Ends every stall and stops every listener (also done by the destructor).
  void Stop();

  // catalogueHost "127.0.0.1" with the two ports (or "127.0.0.1:<combined port>"),
  // timeUrl "http://127.0.0.1:<time port>/".
  Endpoints PlayerEndpoints() const;
  int HttpPort() const;
  int HttpsPort() const;
  int TimePort() const;
  int MediaPort() const;
  int CombinedPort() const;  // 0 without the combined port
  // The https listener's certificate, PEM.
  std::string CertificatePem() const;
  // "http://127.0.0.1:<media port>/media/<name>"
  std::string MediaUrl(std::string_view name) const;

  // The moment the pages are dated at and, unless SetDateHeader fixed it, the Date
  // header tells. The real clock until set.
  void SetClock(WallClock clock);
  // A fixed Date header text from now on (e.g. "Mon, 20 Jul 2020 18:30:00 GMT"); nothing
  // sends none.
  void SetDateHeader(std::optional<std::string> value);
  // The Date header tells the clock's moment again, as before SetDateHeader.
  void SetDateFromClock();

  std::vector<Episode> Episodes() const;
  void SetEpisodes(std::vector<Episode> episodes);
  // A programme's (1 or 2) page body as it is to be sent (UTF-8 bytes, status 200)
  // instead of the one made from the episodes; nothing goes back to that.
  void SetReply(int programme, std::optional<std::string> body);
  // Refusing stops the listener of the programme's scheme; any other failure starts it
  // again on the same port.
  void SetFailure(int programme, CatalogueFailure failure);
  void SetFaults(const ServerFaults& faults);
  // Serves bytes under /media/<name>, replacing a file of that name; the content type
  // follows the name unless given.
  void AddFile(std::string name, std::string bytes, std::string contentType = {});
  // Every answer for that file waits `delay` first (until the server stops).
  void SetFileDelay(const std::string& name, std::chrono::milliseconds delay);
  // Arms one outage, replacing one armed before (one under way runs its course first).
  void SetMediaOutage(MediaOutage outage);
  // Ends the outage under way now (returns once the host serves again).
  void EndMediaOutage();
  // When the armed outage's cut came, and when the host served again (nothing before).
  std::optional<std::chrono::steady_clock::time_point> OutageBegan() const;
  std::optional<std::chrono::steady_clock::time_point> OutageEnded() const;
  // When the host first answered for the outage's file once it had ended: a request held
  // by a silent host as it ended, else the first that came after (a connection taken just
  // as the host began refusing is never answered); nothing before the end or without one.
  std::optional<std::chrono::steady_clock::time_point> FirstAnswerAfterOutage() const;

  std::vector<RecordedRequest> Requests() const;
  void ClearRequests();
  // Waits at most `timeout` for the recorded requests to satisfy `condition`; whether
  // they did.
  bool WaitForRequests(const RequestCondition& condition, std::chrono::milliseconds timeout) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace newsbar::loopback
