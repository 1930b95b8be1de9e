// ComHttpRequest and the libcurl request object against real loopback servers: what
// arrives on the wire and what comes back.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "net/com_http_request.h"
#include "net/curl_request_object.h"
#include "support/http_server.h"

namespace newsbar {
namespace {

using test::HttpServer;
using test::ReceivedRequest;

const Text kDefaultAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

std::string HostLine(const HttpServer& server) {
  return "Host: 127.0.0.1:" + std::to_string(server.Port());
}

void Reply(HttpServer& server, const std::string& path, const std::string& body) {
  server.Handle(path, [body](const httplib::Request&, httplib::Response& response) {
    response.set_content(body, "text/plain");
  });
}

TEST(ComHttpWire, CatalogueStylePostSendsExactlyTheseLines) {
  HttpServer server;
  Reply(server, "/fm/list.html", "{\"data\":1}");
  const std::string url = server.Url("/fm/list.html?pid=367750&isFree=2&userId=&_=15952464");
  const ByteSet body =
      ComHttpRequest({.url = url, .method = 1, .extraHeaders = "User-Agent: Catalogue/1.0"});
  EXPECT_EQ(TextFromBytes(body), "{\"data\":1}");

  const ReceivedRequest got = server.LastRequest();
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.target, "/fm/list.html?pid=367750&isFree=2&userId=&_=15952464");
  const std::vector<std::string> expected = {
      HostLine(server),
      "User-Agent: Catalogue/1.0",
      "Accept: */*",
      "Referer: " + url,
      "Accept-Language: zh-cn",
      "Content-Type: application/x-www-form-urlencoded",
      "Content-Length: 0",
  };
  EXPECT_EQ(got.headerLines, expected);
  EXPECT_EQ(got.body, "");
}

TEST(ComHttpWire, HeadReturnsTheHeaderBlockAndStatus) {
  HttpServer server;
  server.Handle("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Date", "Mon, 20 Jul 2020 18:30:00 GMT");
    response.set_content("ignored body", "text/plain");
  });
  Text headers;
  int status = 0;
  const ByteSet body = ComHttpRequest(
      {.url = server.Url("/"), .method = 2, .responseHeaders = &headers, .statusCode = &status});
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(status, 200);
  EXPECT_EQ(server.LastRequest().method, "HEAD");
  EXPECT_NE(headers.find("Date: Mon, 20 Jul 2020 18:30:00 GMT\r\n"), Text::npos) << headers;
  EXPECT_FALSE(headers.starts_with("HTTP/")) << headers;
  EXPECT_TRUE(headers.ends_with("\r\n")) << headers;
  EXPECT_FALSE(headers.ends_with("\r\n\r\n")) << headers;
}

TEST(ComHttpWire, HeaderNamesAreNormalisedAndKeepAliveIsLeftToTheConnection) {
  HttpServer server;
  Reply(server, "/h", "ok");
  ComHttpRequest({.url = server.Url("/h"),
                  .extraHeaders = "x-custom-thing: v\r\nconnection: keep-alive\r\naccept: text/x"});
  ReceivedRequest got = server.LastRequest();
  EXPECT_TRUE(got.HasLine("X-Custom-Thing: v"));
  EXPECT_TRUE(got.HasLine("Accept: text/x"));
  EXPECT_EQ(got.HeaderCount("Accept"), 1u);
  EXPECT_EQ(got.HeaderCount("Connection"), 0u);
  EXPECT_TRUE(got.HasLine("User-Agent: " + kDefaultAgent));
  EXPECT_EQ(got.HeaderCount("Content-Type"), 0u);    // not a POST
  EXPECT_EQ(got.HeaderCount("Content-Length"), 0u);  // a GET carries no body
  EXPECT_EQ(got.HeaderCount("Expect"), 0u);

  ComHttpRequest({.url = server.Url("/h"), .extraHeaders = "Connection: close"});
  got = server.LastRequest();
  EXPECT_TRUE(got.HasLine("Connection: close"));
}

TEST(ComHttpWire, CookieHeaderForms) {
  HttpServer server;
  Reply(server, "/c", "ok");
  Text cookies = "Cookie: a=1";
  ComHttpRequest({.url = server.Url("/c"), .sendCookies = &cookies});
  EXPECT_TRUE(server.LastRequest().HasLine("Cookie:  a=1"));

  Text empty;
  ComHttpRequest({.url = server.Url("/c"), .sendCookies = &empty});
  EXPECT_EQ(server.LastRequest().Header("Cookie"), "");

  ComHttpRequest({.url = server.Url("/c")});
  EXPECT_EQ(server.LastRequest().HeaderCount("Cookie"), 0u);
}

// A value with a bare line break would smuggle a header line of its own; the request
// object refuses such a header.
TEST(ComHttpWire, HeaderValuesWithLineBreaksAreNotSent) {
  HttpServer server;
  Reply(server, "/i", "ok");
  Text cookies = "a=1\nInjected: yes";
  ComHttpRequest({.url = server.Url("/i"),
                  .sendCookies = &cookies,
                  .extraHeaders = "X-A: 1\nEvil: 1\r\nX-B: 2\r"});
  const ReceivedRequest got = server.LastRequest();
  EXPECT_EQ(got.HeaderCount("Injected"), 0u);
  EXPECT_EQ(got.HeaderCount("Evil"), 0u);
  EXPECT_EQ(got.HeaderCount("X-A"), 0u);
  EXPECT_EQ(got.HeaderCount("Cookie"), 0u);
  EXPECT_EQ(got.HeaderCount("X-B"), 0u);
  EXPECT_TRUE(got.HasLine("Accept: */*"));
}

TEST(ComHttpWire, EveryMethodOfTheTable) {
  HttpServer server;
  Reply(server, "/m", "ok");
  const std::vector<std::pair<int, std::string>> methods = {
      {0, "GET"},   {1, "POST"},    {3, "PUT"}, {4, "OPTIONS"}, {5, "DELETE"},
      {6, "TRACE"}, {7, "CONNECT"}, {9, "GET"}, {-1, "GET"}};
  for (const auto& [index, verb] : methods) {
    ComHttpRequest({.url = server.Url("/m"), .method = index});
    EXPECT_EQ(server.LastRequest().method, verb) << index;
    EXPECT_EQ(server.LastRequest().target, "/m") << index;
  }
}

TEST(ComHttpWire, TextAndByteBodies) {
  HttpServer server;
  Reply(server, "/b", "ok");
  ComHttpRequest({.url = server.Url("/b"), .method = 1, .bodyText = "a=1&b=2"});
  ReceivedRequest got = server.LastRequest();
  EXPECT_EQ(got.body, "a=1&b=2");
  EXPECT_TRUE(got.HasLine("Content-Length: 7"));

  const ByteSet bytes = {0x00, 0xFF, 0x0D, 0x0A, 0x80, 'z', 0x00};
  ComHttpRequest({.url = server.Url("/b"),
                  .method = 3,
                  .bodyText = "ignored",
                  .extraHeaders = "Content-Type: application/octet-stream",
                  .bodyBytes = bytes});
  got = server.LastRequest();
  EXPECT_EQ(got.method, "PUT");
  EXPECT_EQ(ByteSet(got.body.begin(), got.body.end()), bytes);
  EXPECT_EQ(got.HeaderCount("Content-Type"), 1u);
  EXPECT_EQ(got.HeaderCount("Expect"), 0u);

  // A body large enough that libcurl would otherwise ask "Expect: 100-continue".
  // (Not form-encoded: the server library refuses such bodies beyond 8 KiB.)
  const std::string big(3 * 1024 * 1024, 'x');
  ComHttpRequest({.url = server.Url("/b"),
                  .method = 1,
                  .bodyText = big,
                  .extraHeaders = "Content-Type: text/plain"});
  got = server.LastRequest();
  EXPECT_EQ(got.body.size(), big.size());
  EXPECT_EQ(got.HeaderCount("Expect"), 0u);
}

TEST(ComHttpWire, ResponseHeadersStatusAndBodyOfAnErrorStatus) {
  HttpServer server;
  server.Handle("/s", [](const httplib::Request&, httplib::Response& response) {
    response.status = 404;
    response.set_header("X-Reply", "yes");
    response.set_content("missing", "text/plain");
  });
  Text headers;
  int status = 0;
  const ByteSet body =
      ComHttpRequest({.url = server.Url("/s"), .responseHeaders = &headers, .statusCode = &status});
  EXPECT_EQ(status, 404);
  EXPECT_EQ(TextFromBytes(body), "missing");
  EXPECT_NE(headers.find("X-Reply: yes\r\n"), Text::npos);
  EXPECT_NE(headers.find("Content-Length: 7\r\n"), Text::npos);
}

TEST(ComHttpWire, SetCookieLinesAsTheServerWroteThem) {
  HttpServer server;
  server.HandleRaw("/sc",
                   "HTTP/1.1 200 OK\r\n"
                   "Set-Cookie: a=1; path=/; HttpOnly\r\n"
                   "set-cookie: x=3\r\n"
                   "Set-Cookie:y=4\r\n"
                   "Set-Cookie: b=2\r\n"
                   "Set-Cookie: old=deleted; expires=Thu, 01 Jan 1970 00:00:00 GMT\r\n"
                   "Content-Length: 2\r\n"
                   "\r\n"
                   "ok");
  Text received;
  ComHttpRequest({.url = server.Url("/sc"), .receivedCookies = &received});
  EXPECT_EQ(received, "a=1; b=2; old=deleted");

  Text sent = "b=0; old=1; c=9";
  ComHttpRequest({.url = server.Url("/sc"), .sendCookies = &sent, .receivedCookies = &received});
  EXPECT_EQ(received, "a=1; b=2; c=9");
  EXPECT_EQ(sent, received);
}

TEST(ComHttpWire, RedirectsFollowedOrNot) {
  HttpServer server;
  server.Handle("/from", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(server.Url("/to"), 302);
    response.set_content("moved", "text/plain");
  });
  Reply(server, "/to", "arrived");
  int status = 0;
  ByteSet body = ComHttpRequest({.url = server.Url("/from"), .statusCode = &status});
  EXPECT_EQ(TextFromBytes(body), "arrived");
  EXPECT_EQ(status, 200);
  ASSERT_EQ(server.RequestCount(), 2u);
  EXPECT_EQ(server.LastRequest().target, "/to");

  server.ClearRequests();
  Text headers;
  body = ComHttpRequest({.url = server.Url("/from"),
                         .responseHeaders = &headers,
                         .statusCode = &status,
                         .noRedirect = true});
  EXPECT_EQ(status, 302);
  EXPECT_EQ(TextFromBytes(body), "moved");
  EXPECT_NE(headers.find("Location: " + server.Url("/to")), Text::npos);
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST(ComHttpWire, RedirectMethodRules) {
  HttpServer server;
  for (int code : {301, 302, 303, 307, 308}) {
    server.Handle("/r" + std::to_string(code),
                  [&server, code](const httplib::Request&, httplib::Response& response) {
                    response.set_redirect(server.Url("/landing"), code);
                  });
  }
  Reply(server, "/landing", "ok");
  struct Case {
    int code;
    int method;
    std::string verb;
    std::string body;
  };
  const Case cases[] = {
      {301, 1, "GET", ""},    {302, 1, "GET", ""},     {303, 1, "GET", ""},
      {303, 3, "GET", ""},    {307, 1, "POST", "k=v"}, {308, 1, "POST", "k=v"},
      {307, 3, "PUT", "k=v"}, {302, 3, "PUT", "k=v"},  {303, 2, "HEAD", ""},
  };
  for (const Case& c : cases) {
    ComHttpRequest(
        {.url = server.Url("/r" + std::to_string(c.code)), .method = c.method, .bodyText = "k=v"});
    const ReceivedRequest got = server.LastRequest();
    EXPECT_EQ(got.target, "/landing") << c.code;
    EXPECT_EQ(got.method, c.verb) << c.code << " " << c.method;
    EXPECT_EQ(got.body, c.body) << c.code << " " << c.method;
  }
}

// Credentials and cookies meant for one site do not follow a redirect to another; a
// secure page does not hand the request on to a plain one.
TEST(ComHttpWire, RedirectsToAnotherSiteDropCredentialsAndNeverDowngrade) {
  HttpServer first;
  HttpServer second;
  HttpServer secure(HttpServer::Scheme::kHttps);
  first.Handle("/away", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(second.Url("/there"), 302);
  });
  first.Handle("/near", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(first.Url("/here"), 302);
  });
  Reply(first, "/here", "here");
  Reply(second, "/there", "there");
  secure.Handle("/down", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(first.Url("/here"), 302);
    response.set_content("not followed", "text/plain");
  });

  Text cookies = "sid=1";
  const Text authorization = "Authorization: Basic dTpw";
  EXPECT_EQ(
      TextFromBytes(ComHttpRequest(
          {.url = first.Url("/away"), .sendCookies = &cookies, .extraHeaders = authorization})),
      "there");
  EXPECT_EQ(first.LastRequest().Header("Cookie"), "sid=1");
  EXPECT_EQ(second.LastRequest().HeaderCount("Cookie"), 0u);
  EXPECT_EQ(second.LastRequest().HeaderCount("Authorization"), 0u);

  EXPECT_EQ(
      TextFromBytes(ComHttpRequest(
          {.url = first.Url("/near"), .sendCookies = &cookies, .extraHeaders = authorization})),
      "here");
  EXPECT_EQ(first.LastRequest().target, "/here");
  EXPECT_EQ(first.LastRequest().Header("Cookie"), "sid=1");
  EXPECT_EQ(first.LastRequest().Header("Authorization"), "Basic dTpw");

  first.ClearRequests();
  int status = 0;
  EXPECT_EQ(TextFromBytes(ComHttpRequest({.url = secure.Url("/down"), .statusCode = &status})),
            "not followed");
  EXPECT_EQ(status, 302);
  EXPECT_EQ(first.RequestCount(), 0u);
}

// The request object's limits bound a server that never answers.
TEST(ComHttpWire, TimeoutBoundsAStalledServer) {
  HttpServer server;
  server.Stall("/slow");
  int status = -1;
  Text headers = "stale";
  const auto start = std::chrono::steady_clock::now();
  const ByteSet body = ComHttpRequest({.url = server.Url("/slow"),
                                       .responseHeaders = &headers,
                                       .statusCode = &status,
                                       .timeoutSeconds = 1});
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(headers, "");
  EXPECT_GE(elapsed, std::chrono::milliseconds(900));
  EXPECT_LT(elapsed, std::chrono::seconds(4));
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST(ComHttpWire, NoServerAndBadUrlsFailQuietly) {
  const int port = test::FreeLoopbackPort();
  int status = -1;
  EXPECT_TRUE(ComHttpRequest(
                  {.url = "http://127.0.0.1:" + std::to_string(port) + "/", .statusCode = &status})
                  .empty());
  EXPECT_EQ(status, 0);
  for (const std::string url : {"", "ftp://127.0.0.1/", "http://127.0.0.1/a\r\nX: 1", "nonsense"}) {
    status = -1;
    EXPECT_TRUE(ComHttpRequest({.url = url, .statusCode = &status}).empty()) << url;
    EXPECT_EQ(status, 0) << url;
  }
}

TEST(ComHttpWire, SelfSignedHttpsIsAcceptedByTheDefaultOptions) {
  HttpServer server(HttpServer::Scheme::kHttps);
  Reply(server, "/secure", "secret");
  int status = 0;
  const ByteSet body = ComHttpRequest({.url = server.Url("/secure"), .statusCode = &status});
  EXPECT_EQ(TextFromBytes(body), "secret");
  EXPECT_EQ(status, 200);
  EXPECT_TRUE(server.LastRequest().tls);
}

// Each certificate error is ignored only when option 4 names it.
TEST(RequestObjectTls, OnlyTheNamedCertificateErrorsAreIgnored) {
  HttpServer current(HttpServer::Scheme::kHttps);
  HttpServer expired(HttpServer::Scheme::kHttps, HttpServer::Certificate::kExpired);
  Reply(current, "/", "current");
  Reply(expired, "/", "expired");
  struct Case {
    const HttpServer* server;
    int flags;
    int status;
  };
  // 127.0.0.1 is not the certificate's name, and no authority signed it.
  const Case cases[] = {
      {&current, 0, 0},
      {&current, kIgnoreUnknownCa, 0},
      {&current, kIgnoreInvalidName, 0},
      {&current, kIgnoreUnknownCa | kIgnoreInvalidName, 200},
      {&expired, kIgnoreUnknownCa | kIgnoreInvalidName, 0},
      {&expired, kIgnoreUnknownCa | kIgnoreInvalidName | kIgnoreInvalidDate, 200},
      {&expired, 0x3300, 200},
  };
  auto object = std::make_shared<CurlRequestObject>();  // one object: no lax connection reused
  for (const Case& c : cases) {
    object->Option(kOptionSslErrorIgnoreFlags, c.flags);
    object->Open("GET", c.server->Url("/"));
    object->Send();
    EXPECT_EQ(object->Status(), c.status) << std::hex << c.flags << " " << c.server->Port();
    EXPECT_EQ(object->ResponseBody().empty(), c.status == 0);
  }
}

TEST(RequestObject, MembersBeforeOpenOrAfterSendDoNothing) {
  HttpServer server;
  Reply(server, "/", "ok");
  CurlRequestObject object;
  object.SetRequestHeader("X-Early", "1");
  object.Send();
  EXPECT_EQ(object.Status(), 0);
  EXPECT_EQ(server.RequestCount(), 0u);

  object.Open("GET", server.Url("/"), true);  // asynchronous use is not offered
  object.Send();
  EXPECT_EQ(server.RequestCount(), 0u);

  object.Open("GET", server.Url("/"));
  object.SetRequestHeader("X-A", "1");
  object.SetRequestHeader("", "nameless");
  object.SetRequestHeader("Bad:Name", "v");
  object.Send();
  object.SetRequestHeader("X-Late", "1");
  object.Send();  // one Send per Open
  EXPECT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(object.Status(), 200);
  EXPECT_EQ(object.StatusText(), "OK");
  const ReceivedRequest got = server.LastRequest();
  EXPECT_TRUE(got.HasLine("X-A: 1"));
  EXPECT_EQ(got.headerLines.size(), 2u);  // Host and X-A

  object.Open("GET", server.Url("/"));  // a new request forgets the old response
  EXPECT_EQ(object.Status(), 0);
  EXPECT_TRUE(object.GetAllResponseHeaders().empty());
}

TEST(RequestObject, BodiesBeyondTheCapFailTheExchange) {
  HttpServer server;
  // Static: the handlers use it without capturing it.
  static constexpr std::size_t over = 64u * 1024 * 1024 + 1;
  server.Handle("/sized", [](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(over, "application/octet-stream",
                                  [](size_t offset, size_t length, httplib::DataSink& sink) {
                                    static const std::string block(65536, 'b');
                                    (void)offset;
                                    return sink.write(block.data(), std::min(length, block.size()));
                                  });
  });
  server.Handle("/chunked", [](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider(
        "application/octet-stream", [](size_t offset, httplib::DataSink& sink) {
          static const std::string block(65536, 'c');
          if (offset >= over) {
            sink.done();
            return true;
          }
          return sink.write(block.data(), std::min(over - offset, block.size()));
        });
  });
  for (const char* path : {"/sized", "/chunked"}) {
    int status = -1;
    const ByteSet body = ComHttpRequest({.url = server.Url(path), .statusCode = &status});
    EXPECT_TRUE(body.empty()) << path;
    EXPECT_EQ(status, 0) << path;
  }
}

}  // namespace
}  // namespace newsbar
