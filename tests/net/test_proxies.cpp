// Both requests through proxies: tinyproxy (HTTP, with and without Basic credentials),
// microsocks (SOCKS5), and the recording server standing in for a proxy to show the
// request line and the Proxy-Authorization line a proxy receives.
#include <gtest/gtest.h>

#include <string>

#include "net/com_http_request.h"
#include "net/curl_exchange.h"
#include "net/wininet_http_request.h"
#include "support/http_server.h"
#include "support/proxy_process.h"

namespace newsbar {
namespace {

using test::HttpServer;
using test::ProxyProcess;
using test::ReceivedRequest;

void Reply(HttpServer& server, const std::string& path, const std::string& body) {
  server.Handle(path, [body](const httplib::Request&, httplib::Response& response) {
    response.set_content(body, "text/plain");
  });
}

TEST(ProxyLists, TheEntryForTheSchemeThenSocksThenAPlainOne) {
  EXPECT_EQ(net::SelectProxy("10.0.0.1:8080", false), "http://10.0.0.1:8080");
  EXPECT_EQ(net::SelectProxy("10.0.0.1:8080", true), "http://10.0.0.1:8080");
  EXPECT_EQ(net::SelectProxy("http=a:1", false), "http://a:1");
  EXPECT_EQ(net::SelectProxy("http=a:1", true), "");  // no entry for https: direct
  EXPECT_EQ(net::SelectProxy("HTTP=a:1;https=b:2", true), "http://b:2");
  EXPECT_EQ(net::SelectProxy("SOCKS=s:1080", false), "socks5://s:1080");
  EXPECT_EQ(net::SelectProxy("SOCKS=s:1080 http=a:1", false), "http://a:1");
  EXPECT_EQ(net::SelectProxy("https=b:2 c:3", false), "http://c:3");
  EXPECT_EQ(net::SelectProxy("http=socks5h://s:9", false), "socks5h://s:9");
  EXPECT_EQ(net::SelectProxy("", false), "");
  EXPECT_EQ(net::BypassList("a.example; b.example  c"), "a.example,b.example,c");
}

TEST(ComHttpProxy, WhatTheProxyReceives) {
  HttpServer proxy;  // answers as the proxy, records as it
  Reply(proxy, "/page", "via proxy");
  const std::string url = "http://origin.invalid:8080/page?x=1";
  const ByteSet body = ComHttpRequest({.url = url,
                                       .proxyAddress = "127.0.0.1:" + std::to_string(proxy.Port()),
                                       .proxyUser = "user",
                                       .proxyPassword = "pass"});
  EXPECT_EQ(TextFromBytes(body), "via proxy");
  ReceivedRequest got = proxy.LastRequest();
  EXPECT_EQ(got.target, url);
  EXPECT_TRUE(got.HasLine("Host: origin.invalid:8080"));
  EXPECT_TRUE(got.HasLine("Proxy-Authorization: Basic dXNlcjpwYXNz"));
  EXPECT_EQ(got.HeaderCount("Proxy-Authorization"), 1u);
  EXPECT_EQ(got.HeaderCount("Proxy-Connection"), 0u);

  // Credentials for the server: no Proxy-Authorization line, and none volunteered.
  ComHttpRequest({.url = url,
                  .proxyAddress = "127.0.0.1:" + std::to_string(proxy.Port()),
                  .proxyUser = "user",
                  .proxyPassword = "pass",
                  .credentialTarget = 0});
  got = proxy.LastRequest();
  EXPECT_EQ(got.HeaderCount("Proxy-Authorization"), 0u);
  EXPECT_EQ(got.HeaderCount("Authorization"), 0u);
}

TEST(ComHttpProxy, ThroughTinyproxyWithBasicCredentials) {
  const auto proxy = ProxyProcess::StartTinyproxy("user", "secret");
  HttpServer origin;
  HttpServer secureOrigin(HttpServer::Scheme::kHttps);
  Reply(origin, "/a", "plain page");
  Reply(secureOrigin, "/b", "secure page");

  int status = 0;
  ByteSet body = ComHttpRequest({.url = origin.Url("/a"),
                                 .statusCode = &status,
                                 .proxyAddress = proxy->Address(),
                                 .proxyUser = "user",
                                 .proxyPassword = "secret"});
  EXPECT_EQ(status, 200);
  EXPECT_EQ(TextFromBytes(body), "plain page");
  ReceivedRequest got = origin.LastRequest();
  EXPECT_TRUE(got.Header("Via").has_value());  // it came through the proxy
  EXPECT_EQ(got.HeaderCount("Proxy-Authorization"), 0u);

  // Through the tunnel the site never sees the proxy's credentials.
  body = ComHttpRequest({.url = secureOrigin.Url("/b"),
                         .statusCode = &status,
                         .proxyAddress = proxy->Address(),
                         .proxyUser = "user",
                         .proxyPassword = "secret"});
  EXPECT_EQ(status, 200);
  EXPECT_EQ(TextFromBytes(body), "secure page");
  EXPECT_EQ(secureOrigin.LastRequest().HeaderCount("Proxy-Authorization"), 0u);

  origin.ClearRequests();
  ComHttpRequest({.url = origin.Url("/a"),
                  .statusCode = &status,
                  .proxyAddress = proxy->Address(),
                  .proxyUser = "user",
                  .proxyPassword = "secret",
                  .credentialTarget = 0});
  EXPECT_EQ(status, 407);
  ComHttpRequest(
      {.url = origin.Url("/a"), .statusCode = &status, .proxyAddress = proxy->Address()});
  EXPECT_EQ(status, 407);
  EXPECT_EQ(origin.RequestCount(), 0u);
}

TEST(WinInetProxy, HttpProxyForBothSchemes) {
  const auto proxy = ProxyProcess::StartTinyproxy();
  HttpServer origin;
  HttpServer secureOrigin(HttpServer::Scheme::kHttps);
  Reply(origin, "/cover.png", "png bytes");
  Reply(secureOrigin, "/cover.jpg", "jpg bytes");
  EXPECT_EQ(TextFromBytes(WinInetHttpRequest(
                {.url = origin.Url("/cover.png"), .proxyAddress = proxy->Address()})),
            "png bytes");
  EXPECT_TRUE(origin.LastRequest().Header("Via").has_value());
  EXPECT_EQ(TextFromBytes(WinInetHttpRequest(
                {.url = secureOrigin.Url("/cover.jpg"), .proxyAddress = proxy->Address()})),
            "jpg bytes");
  EXPECT_TRUE(secureOrigin.LastRequest().tls);
}

TEST(WinInetProxy, SocksProxyCarriesTheRequestAndADeadOneFailsIt) {
  HttpServer origin;
  Reply(origin, "/c", "through socks");
  {
    const auto socks = ProxyProcess::StartMicrosocks();
    EXPECT_EQ(TextFromBytes(WinInetHttpRequest(
                  {.url = origin.Url("/c"), .proxyAddress = socks->Address(), .socksProxy = true})),
              "through socks");
    EXPECT_EQ(origin.RequestCount(), 1u);
  }
  // A proxy that is not there: the request does not quietly go direct.
  const std::string dead = "127.0.0.1:" + std::to_string(test::FreeLoopbackPort());
  EXPECT_TRUE(
      WinInetHttpRequest({.url = origin.Url("/c"), .proxyAddress = dead, .socksProxy = true})
          .empty());
  EXPECT_TRUE(WinInetHttpRequest({.url = origin.Url("/c"), .proxyAddress = dead}).empty());
  EXPECT_EQ(origin.RequestCount(), 1u);
}

}  // namespace
}  // namespace newsbar
