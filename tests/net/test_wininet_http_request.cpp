// WinInetHttpRequest: the calls it makes on the handle layer (recorded around the real
// layer), and what arrives on the wire and comes back from loopback servers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "net/wininet_http_request.h"
#include "support/http_server.h"

namespace newsbar {
namespace {

using test::HttpServer;
using test::ReceivedRequest;
using wininet::RawHandle;

const Text kDefaultAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

std::string Or(const char* text) {
  return text == nullptr ? "null" : text;
}

// Records every call, then lets the real layer do it. Without network the exchange
// itself is skipped (HttpSendRequest fails), so addresses that lead nowhere can be used.
class RecordingApi : public wininet::Api {
 public:
  bool network = true;
  std::vector<std::string> calls;
  std::string sentHeaders;
  std::string sentBody;
  bool sentBodyNull = true;

  RawHandle InternetOpen(const char* agent, int accessType, const char* proxy, const char* bypass,
                         std::uint32_t flags) override {
    RawHandle handle = Api::InternetOpen(agent, accessType, proxy, bypass, flags);
    Name(handle, "internet");
    calls.push_back("InternetOpen(" + Or(agent) + "|" + std::to_string(accessType) + "|" +
                    Or(proxy) + "|" + Or(bypass) + "|" + Hex(flags) + ")");
    return handle;
  }
  RawHandle InternetConnect(RawHandle internet, const char* server, int port, const char* user,
                            const char* password, int service, std::uint32_t flags,
                            std::uintptr_t context) override {
    RawHandle handle =
        Api::InternetConnect(internet, server, port, user, password, service, flags, context);
    Name(handle, "connection");
    calls.push_back("InternetConnect(" + names[internet] + "|" + Or(server) + "|" +
                    std::to_string(port) + "|" + Or(user) + "|" + Or(password) + "|" +
                    std::to_string(service) + "|" + Hex(flags) + "|" + std::to_string(context) +
                    ")");
    return handle;
  }
  RawHandle HttpOpenRequest(RawHandle connection, const char* verb, const char* object,
                            const char* version, const char* referrer,
                            const char* const* acceptTypes, std::uint32_t flags,
                            std::uintptr_t context) override {
    RawHandle handle = Api::HttpOpenRequest(connection, verb, object, version, referrer,
                                            acceptTypes, flags, context);
    Name(handle, "request");
    calls.push_back("HttpOpenRequest(" + names[connection] + "|" + Or(verb) + "|" + Or(object) +
                    "|" + Or(version) + "|" + Or(referrer) + "|" +
                    (acceptTypes == nullptr ? "null" : "types") + "|" + Hex(flags) + "|" +
                    std::to_string(context) + ")");
    return handle;
  }
  bool InternetSetOption(RawHandle handle, std::uint32_t option, const void* buffer,
                         std::uint32_t length) override {
    std::uint32_t value = 0;
    if (buffer != nullptr && length == 4) std::memcpy(&value, buffer, 4);
    calls.push_back("InternetSetOption(" + names[handle] + "|" + std::to_string(option) + "|" +
                    Hex(value) + "|" + std::to_string(length) + ")");
    return Api::InternetSetOption(handle, option, buffer, length);
  }
  bool HttpSendRequest(RawHandle request, const char* headers, std::size_t headersLength,
                       const void* optional, std::size_t optionalLength) override {
    sentHeaders.assign(headers, headersLength);
    sentBodyNull = optional == nullptr;
    sentBody.assign(static_cast<const char*>(optional), optional ? optionalLength : 0);
    calls.push_back("HttpSendRequest(" + names[request] + "|" + std::to_string(headersLength) +
                    "|" + std::to_string(optionalLength) + ")");
    if (!network) return false;
    return Api::HttpSendRequest(request, headers, headersLength, optional, optionalLength);
  }
  bool InternetReadFile(RawHandle request, void* buffer, std::uint32_t toRead,
                        std::uint32_t* read) override {
    const bool ok = Api::InternetReadFile(request, buffer, toRead, read);
    calls.push_back("InternetReadFile(" + names[request] + "|" + std::to_string(toRead) + ")->" +
                    std::to_string(*read));
    return ok;
  }
  bool HttpQueryInfo(RawHandle request, std::uint32_t level, void* buffer, std::uint32_t* length,
                     std::uint32_t* index) override {
    calls.push_back("HttpQueryInfo(" + names[request] + "|" + std::to_string(level) + "|" +
                    std::to_string(*length) + "|" + (index == nullptr ? "null" : "index") + ")");
    return Api::HttpQueryInfo(request, level, buffer, length, index);
  }
  bool InternetCloseHandle(RawHandle handle) override {
    calls.push_back("InternetCloseHandle(" + names[handle] + ")");
    return Api::InternetCloseHandle(handle);
  }

  const std::string& Find(std::string_view prefix) const {
    static const std::string none;
    for (const std::string& call : calls) {
      if (call.starts_with(prefix)) return call;
    }
    return none;
  }

 private:
  void Name(RawHandle handle, const std::string& name) {
    if (handle != nullptr) names[handle] = name;
  }
  std::map<RawHandle, std::string> names;
};

ByteSet SomeBytes(std::size_t count) {
  std::mt19937 generator(20200720);
  ByteSet bytes(count);
  for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  bytes[0] = 0xFF;  // a JPEG's first bytes, and zeros inside
  bytes[1] = 0xD8;
  bytes[2] = 0x00;
  return bytes;
}

TEST(WinInetCalls, CoverDownloadMakesTheseCallsInOrder) {
  HttpServer server;
  const ByteSet cover = SomeBytes(2100);
  server.Handle("/cover.jpg", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::string(cover.begin(), cover.end()), "image/jpeg");
  });
  RecordingApi api;
  const std::string url = server.Url("/cover.jpg");
  const ByteSet body = WinInetHttpRequest({.url = url, .api = &api});
  EXPECT_EQ(body, cover);
  const std::vector<std::string> expected = {
      "InternetOpen(" + kDefaultAgent + "|1|null|null|0x0)",
      "InternetConnect(internet|127.0.0.1|" + std::to_string(server.Port()) + "|null|null|3|0x0|0)",
      "HttpOpenRequest(connection|GET|/cover.jpg|HTTP/1.1|null|null|0x80004010|0)",
      "InternetSetOption(request|31|0x1F380|4)",
      "HttpSendRequest(request|" +
          std::to_string(
              std::string("Accept: */*\r\nReferer: " + url + "\r\nAccept-Language: zh-cn").size()) +
          "|0)",
      "InternetReadFile(request|1024)->1024",
      "InternetReadFile(request|1024)->1024",
      "InternetReadFile(request|1024)->52",
      "InternetReadFile(request|1024)->0",
      "HttpQueryInfo(request|22|5000|null)",
      "InternetCloseHandle(request)",
      "InternetCloseHandle(connection)",
      "InternetCloseHandle(internet)",
  };
  EXPECT_EQ(api.calls, expected);
  EXPECT_EQ(api.sentHeaders, "Accept: */*\r\nReferer: " + url + "\r\nAccept-Language: zh-cn");
  EXPECT_TRUE(api.sentBodyNull);
}

TEST(WinInetCalls, FlagsPortsAndObjectNames) {
  struct Case {
    WinInetHttpRequestOptions options;
    std::string connect;
    std::string open;
  };
  Text noCookies;
  std::vector<Case> cases;
  cases.push_back({{.url = "http://127.0.0.1/cover.jpg"},
                   "InternetConnect(internet|127.0.0.1|80|",
                   "HttpOpenRequest(connection|GET|/cover.jpg|HTTP/1.1|null|null|0x80004010|0)"});
  cases.push_back({{.url = "https://127.0.0.1/x"},
                   "InternetConnect(internet|127.0.0.1|443|",
                   "HttpOpenRequest(connection|GET|/x|HTTP/1.1|null|null|0x80800010|0)"});
  cases.push_back({{.url = "HTTPS://Host.Example:8443/p?q=1"},
                   "InternetConnect(internet|host.example|8443|",
                   "HttpOpenRequest(connection|GET|/p?q=1|HTTP/1.1|null|null|0x80800010|0)"});
  cases.push_back({{.url = "http://h.example", .method = 8, .noRedirect = true},
                   "InternetConnect(internet|h.example|80|",
                   "HttpOpenRequest(connection|GET|/|HTTP/1.1|null|null|0x80204010|0)"});
  cases.push_back({{.url = "http://h.example/a", .method = 5, .sendCookies = &noCookies},
                   "InternetConnect(internet|h.example|80|",
                   "HttpOpenRequest(connection|DELETE|/a|HTTP/1.1|null|null|0x80084010|0)"});
  for (Case& c : cases) {
    RecordingApi api;
    api.network = false;
    c.options.api = &api;
    EXPECT_TRUE(WinInetHttpRequest(c.options).empty());
    EXPECT_TRUE(api.Find("InternetConnect").starts_with(c.connect)) << api.Find("InternetConnect");
    EXPECT_EQ(api.Find("HttpOpenRequest"), c.open);
  }
}

TEST(WinInetCalls, AgentAndProxyStrings) {
  struct Case {
    WinInetHttpRequestOptions options;
    std::string open;
  };
  std::vector<Case> cases;
  cases.push_back({{.url = "http://h.example/", .extraHeaders = "user-agent: X"},
                   "InternetOpen(X|1|null|null|0x0)"});
  cases.push_back({{.url = "http://h.example/", .extraHeaders = "A: 1\r\nUser-Agent:  Y Z "},
                   "InternetOpen(Y Z|1|null|null|0x0)"});
  cases.push_back({{.url = "http://h.example/", .proxyAddress = "10.0.0.1:8080"},
                   "InternetOpen(" + kDefaultAgent + "|3|http=10.0.0.1:8080||0x0)"});
  cases.push_back(
      {{.url = "http://h.example/", .proxyAddress = "10.0.0.1:8080", .socksProxy = true},
       "InternetOpen(" + kDefaultAgent + "|3|SOCKS=10.0.0.1:8080||0x0)"});
  cases.push_back({{.url = "https://h.example/", .proxyAddress = "10.0.0.1:8080"},
                   "InternetOpen(" + kDefaultAgent + "|3|10.0.0.1:8080||0x0)"});
  for (Case& c : cases) {
    RecordingApi api;
    api.network = false;
    c.options.api = &api;
    WinInetHttpRequest(c.options);
    EXPECT_EQ(api.calls.front(), c.open);
  }
}

TEST(WinInetCalls, CookieLinesAndBodies) {
  RecordingApi api;
  api.network = false;
  Text cookies = "a=1";
  WinInetHttpRequest({.url = "http://h.example/", .sendCookies = &cookies, .api = &api});
  EXPECT_TRUE(api.sentHeaders.ends_with("\r\nCookie: a=1")) << api.sentHeaders;
  EXPECT_EQ(cookies, "a=1");  // merged with nothing received

  cookies = "Cookie: a=1";
  WinInetHttpRequest(
      {.url = "http://h.example/", .sendCookies = &cookies, .mergeCookies = false, .api = &api});
  EXPECT_TRUE(api.sentHeaders.ends_with("zh-cn\r\nCookie: a=1")) << api.sentHeaders;

  Text empty;
  WinInetHttpRequest({.url = "http://h.example/", .sendCookies = &empty, .api = &api});
  EXPECT_EQ(api.sentHeaders.find("Cookie"), std::string::npos) << api.sentHeaders;

  ByteSet bytes;
  WinInetHttpRequest({.url = "http://h.example/",
                      .method = 1,
                      .bodyText = "a=1",
                      .bodyBytes = &bytes,
                      .api = &api});
  EXPECT_EQ(api.sentBody, "a=1");
  EXPECT_EQ(bytes, BytesFromText("a=1"));
  EXPECT_TRUE(api.sentHeaders.ends_with("Content-Type: application/x-www-form-urlencoded"));

  bytes = BytesFromText("given");
  WinInetHttpRequest({.url = "http://h.example/",
                      .method = 3,
                      .bodyText = "a=1",
                      .bodyBytes = &bytes,
                      .api = &api});
  EXPECT_EQ(api.sentBody, "given");

  WinInetHttpRequest(
      {.url = "http://h.example/", .bodyText = "a=1", .bodyBytes = &bytes, .api = &api});
  EXPECT_TRUE(api.sentBodyNull);
  EXPECT_EQ(bytes, BytesFromText("given"));

  ByteSet none;
  WinInetHttpRequest({.url = "http://h.example/", .method = 1, .bodyBytes = &none, .api = &api});
  EXPECT_TRUE(api.sentBodyNull);

  // Headers as given, without defaults, and an empty text stays empty.
  WinInetHttpRequest({.url = "http://h.example/",
                      .extraHeaders = "x-a: 1",
                      .addDefaultHeaders = false,
                      .normaliseHeaderNames = false,
                      .api = &api});
  EXPECT_EQ(api.sentHeaders, "x-a: 1");
  WinInetHttpRequest({.url = "http://h.example/", .addDefaultHeaders = false, .api = &api});
  EXPECT_EQ(api.sentHeaders, "");
}

TEST(WinInetCalls, HandlesThatCannotOpenEndTheCallAndCloseOnlyWhatWasOpened) {
  RecordingApi api;
  Text headers = "untouched";
  Text received = "untouched";
  EXPECT_TRUE(WinInetHttpRequest({.url = "http://bad host/x",
                                  .receivedCookies = &received,
                                  .responseHeaders = &headers,
                                  .api = &api})
                  .empty());
  EXPECT_EQ(api.calls.size(), 3u);
  EXPECT_EQ(api.calls.back(), "InternetCloseHandle(internet)");
  EXPECT_EQ(headers, "untouched");
  EXPECT_EQ(received, "untouched");

  api.calls.clear();
  EXPECT_TRUE(WinInetHttpRequest({.url = "http://h.example/a b", .api = &api}).empty());
  const std::vector<std::string> closes(api.calls.end() - 2, api.calls.end());
  EXPECT_EQ(closes, (std::vector<std::string>{"InternetCloseHandle(connection)",
                                              "InternetCloseHandle(internet)"}));
  EXPECT_EQ(api.calls.size(), 5u);

  api.calls.clear();
  EXPECT_TRUE(WinInetHttpRequest({.url = "http://h.example:70000/", .api = &api}).empty());
  EXPECT_EQ(api.calls.size(), 3u);
}

TEST(WinInetLayer, HandlesAreCheckedAndHeaderQueryReportsTheSizeItNeeds) {
  HttpServer server;
  server.Handle("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("X-Long", std::string(6000, 'v'));
    response.set_content("body", "text/plain");
  });
  wininet::Api& api = wininet::DefaultApi();
  wininet::Handle internet(
      api, api.InternetOpen("agent", wininet::kOpenTypeDirect, nullptr, nullptr, 0));
  ASSERT_TRUE(internet);
  // A connection where a request is expected, and the reverse, are refused.
  EXPECT_EQ(api.HttpOpenRequest(internet.get(), "GET", "/", nullptr, nullptr, nullptr, 0, 0),
            nullptr);
  wininet::Handle connection(
      api, api.InternetConnect(internet.get(), "127.0.0.1", server.Port(), nullptr, nullptr,
                               wininet::kServiceHttp, 0, 0));
  ASSERT_TRUE(connection);
  EXPECT_FALSE(api.HttpSendRequest(connection.get(), "", 0, nullptr, 0));
  wininet::Handle request(api, api.HttpOpenRequest(connection.get(), nullptr, nullptr, nullptr,
                                                   nullptr, nullptr, 0, 0));
  ASSERT_TRUE(request);
  std::uint32_t length = 5000;
  std::string buffer(5000, ' ');
  EXPECT_FALSE(api.HttpQueryInfo(request.get(), wininet::kQueryRawHeadersCrLf, buffer.data(),
                                 &length, nullptr));  // nothing sent yet

  // Closing the parents first leaves the request usable.
  const RawHandle closedConnection = connection.get();
  internet.Close();
  connection.Close();
  EXPECT_FALSE(connection);
  EXPECT_FALSE(api.InternetCloseHandle(closedConnection));  // already closed
  ASSERT_TRUE(api.HttpSendRequest(request.get(), "", 0, nullptr, 0));
  EXPECT_FALSE(api.HttpQueryInfo(request.get(), 21, buffer.data(), &length, nullptr));
  EXPECT_FALSE(api.HttpQueryInfo(request.get(), wininet::kQueryRawHeadersCrLf, buffer.data(),
                                 &length, nullptr));
  EXPECT_GT(length, 6000u);
  buffer.assign(length, ' ');
  ASSERT_TRUE(api.HttpQueryInfo(request.get(), wininet::kQueryRawHeadersCrLf, buffer.data(),
                                &length, nullptr));
  EXPECT_EQ(buffer.size(), length + 1);
  EXPECT_TRUE(buffer.starts_with("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(buffer.substr(length - 4, 5), std::string("\r\n\r\n\0", 5));

  char bytes[8] = {};
  std::uint32_t read = 0;
  ASSERT_TRUE(api.InternetReadFile(request.get(), bytes, 3, &read));
  EXPECT_EQ(std::string(bytes, read), "bod");
  ASSERT_TRUE(api.InternetReadFile(request.get(), bytes, 8, &read));
  EXPECT_EQ(std::string(bytes, read), "y");
  ASSERT_TRUE(api.InternetReadFile(request.get(), bytes, 8, &read));
  EXPECT_EQ(read, 0u);

  const RawHandle closedRequest = request.get();
  request.Close();
  read = 7;
  EXPECT_FALSE(api.InternetReadFile(closedRequest, bytes, 1, &read));
  EXPECT_EQ(read, 0u);
}

TEST(WinInetWire, DefaultLinesAndNoBodyOnAGet) {
  HttpServer server;
  server.Handle("/p", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("ok", "text/plain");
  });
  const std::string url = server.Url("/p?x=1");
  ByteSet bytes = BytesFromText("never sent");
  WinInetHttpRequest({.url = url, .bodyText = "nor this", .bodyBytes = &bytes});
  ReceivedRequest got = server.LastRequest();
  EXPECT_EQ(got.method, "GET");
  EXPECT_EQ(got.target, "/p?x=1");
  const std::vector<std::string> expected = {
      "Host: 127.0.0.1:" + std::to_string(server.Port()),
      "User-Agent: " + kDefaultAgent,
      "Accept: */*",
      "Referer: " + url,
      "Accept-Language: zh-cn",
  };
  EXPECT_EQ(got.headerLines, expected);
  EXPECT_EQ(got.body, "");

  // The caller's User-Agent line goes out once; header names are normalised; the Cookie
  // line is sent as given.
  Text cookies = "Cookie: a=1; b=2";
  WinInetHttpRequest({.url = url,
                      .method = 1,
                      .bodyText = "k=v",
                      .sendCookies = &cookies,
                      .extraHeaders = "user-agent: Cover/2\r\nx-trace-id: 9"});
  got = server.LastRequest();
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.body, "k=v");
  EXPECT_EQ(got.HeaderCount("User-Agent"), 1u);
  EXPECT_TRUE(got.HasLine("User-Agent: Cover/2"));
  EXPECT_TRUE(got.HasLine("X-Trace-Id: 9"));
  EXPECT_TRUE(got.HasLine("Cookie: a=1; b=2"));
  EXPECT_TRUE(got.HasLine("Content-Type: application/x-www-form-urlencoded"));
  EXPECT_EQ(got.HeaderCount("Expect"), 0u);
}

TEST(WinInetWire, CoverSizedBinaryBodyArrivesByteForByte) {
  HttpServer server;
  const ByteSet cover = SomeBytes(300 * 1024 + 17);
  server.Handle("/c.jpg", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::string(cover.begin(), cover.end()), "image/jpeg");
  });
  Text headers;
  const ByteSet body =
      WinInetHttpRequest({.url = server.Url("/c.jpg"), .responseHeaders = &headers});
  EXPECT_EQ(body, cover);
  EXPECT_TRUE(headers.starts_with("HTTP/1.1 200 OK\r\n")) << headers;
  EXPECT_TRUE(headers.ends_with("\r\n\r\n")) << headers;
  EXPECT_NE(headers.find("Content-Type: image/jpeg\r\n"), Text::npos);
  EXPECT_NE(headers.find("Content-Length: " + std::to_string(cover.size()) + "\r\n"), Text::npos);
}

TEST(WinInetWire, CookiesFromTheRawBlockAndLongHeaderBlocksComeWhole) {
  HttpServer server;
  const std::string filler(6000, 'f');
  server.HandleRaw("/sc",
                   "HTTP/1.1 200 OK\r\n"
                   "Set-Cookie: a=1; path=/\r\n"
                   "set-cookie: x=3\r\n"
                   "Set-Cookie: b=2\r\n"
                   "X-Filler: " +
                       filler +
                       "\r\n"
                       "Content-Length: 2\r\n"
                       "\r\n"
                       "ok");
  Text headers;
  Text received;
  Text sent = "b=0; c=3";
  const ByteSet body = WinInetHttpRequest({.url = server.Url("/sc"),
                                           .sendCookies = &sent,
                                           .receivedCookies = &received,
                                           .responseHeaders = &headers});
  EXPECT_EQ(TextFromBytes(body), "ok");
  EXPECT_EQ(received, "a=1; b=2; c=3");
  EXPECT_EQ(sent, received);
  EXPECT_NE(headers.find("X-Filler: " + filler + "\r\n"), Text::npos);
  EXPECT_TRUE(headers.ends_with("\r\n\r\n"));
}

TEST(WinInetWire, RedirectsAndHttps) {
  HttpServer server;
  HttpServer secure(HttpServer::Scheme::kHttps);
  server.Handle("/from", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(server.Url("/to"), 302);
    response.set_content("moved", "text/plain");
  });
  server.Handle("/to", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("arrived", "text/plain");
  });
  server.Handle("/up", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(secure.Url("/s?k=1"), 301);
  });
  secure.Handle("/s", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("secure", "text/plain");
  });

  EXPECT_EQ(TextFromBytes(WinInetHttpRequest({.url = server.Url("/from")})), "arrived");
  Text headers;
  EXPECT_EQ(TextFromBytes(WinInetHttpRequest(
                {.url = server.Url("/from"), .responseHeaders = &headers, .noRedirect = true})),
            "moved");
  EXPECT_TRUE(headers.starts_with("HTTP/1.1 302 ")) << headers;

  // Self-signed, for 127.0.0.1 under another name: the security flags allow it, and an
  // http page may move to https.
  EXPECT_EQ(TextFromBytes(WinInetHttpRequest({.url = secure.Url("/s")})), "secure");
  EXPECT_EQ(TextFromBytes(WinInetHttpRequest({.url = server.Url("/up")})), "secure");
  EXPECT_EQ(secure.LastRequest().target, "/s?k=1");
  EXPECT_TRUE(secure.LastRequest().tls);
}

// The layer keeps the cookies a redirect sets for the next hop, unless the caller handles
// cookies itself.
TEST(WinInetWire, CookiesSetOnTheWayAreKeptOnlyWithoutTheCallersCookies) {
  HttpServer server;
  server.Handle("/login", [&](const httplib::Request&, httplib::Response& response) {
    response.set_header("Set-Cookie", "session=42; Path=/");
    response.set_redirect(server.Url("/home"), 302);
  });
  server.Handle("/home", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("home", "text/plain");
  });
  EXPECT_EQ(TextFromBytes(WinInetHttpRequest({.url = server.Url("/login")})), "home");
  EXPECT_EQ(server.LastRequest().Header("Cookie"), "session=42");

  Text cookies;
  EXPECT_EQ(
      TextFromBytes(WinInetHttpRequest({.url = server.Url("/login"), .sendCookies = &cookies})),
      "home");
  EXPECT_EQ(server.LastRequest().HeaderCount("Cookie"), 0u);
}

// The platform call had no limit at all; the window's thread must not wait for ever.
// A request's own exchange limit (the cover download's seam; the shipped 10 s is waited
// out end to end by ShippedLimits in tests/hardening).
TEST(WinInetWire, AnUnansweringServerIsGivenUpWithinTheExchangeLimit) {
  constexpr std::uint32_t kLimitMs = 700;
  HttpServer server;
  server.StallConnections();
  Text headers = "stale";
  const auto start = std::chrono::steady_clock::now();
  const ByteSet body = WinInetHttpRequest(
      {.url = server.Url("/cover.jpg"), .responseHeaders = &headers, .timeoutMs = kLimitMs});
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(headers, "");
  EXPECT_GE(elapsed, std::chrono::milliseconds(kLimitMs - 100));  // the timer may end early
  EXPECT_LT(elapsed, std::chrono::milliseconds(kLimitMs + 3000));
}

TEST(WinInetWire, BodiesBeyondTheCapGiveNothing) {
  HttpServer server;
  // Static: the handlers use it without capturing it.
  static constexpr std::size_t over = 64u * 1024 * 1024 + 1;
  server.Handle("/huge", [](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("image/jpeg", [](size_t offset, httplib::DataSink& sink) {
      static const std::string block(65536, 'j');
      if (offset >= over) {
        sink.done();
        return true;
      }
      return sink.write(block.data(), std::min(over - offset, block.size()));
    });
  });
  EXPECT_TRUE(WinInetHttpRequest({.url = server.Url("/huge")}).empty());
}

}  // namespace
}  // namespace newsbar
