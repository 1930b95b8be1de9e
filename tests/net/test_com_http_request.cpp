// ComHttpRequest against a request object that records the member calls it receives.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "net/com_http_request.h"

namespace newsbar {
namespace {

const Text kCatalogueAgent =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/50.0.2661.87 Safari/537.36";
const Text kDefaultAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

class RecordingRequest : public HttpRequestObject {
 public:
  std::vector<std::string> calls;
  ByteSet body;
  Text headers;
  int status = 0;

  void SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) override {
    calls.push_back("SetTimeouts(" + std::to_string(resolveMs) + "," + std::to_string(connectMs) +
                    "," + std::to_string(sendMs) + "," + std::to_string(receiveMs) + ")");
  }
  void SetProxy(int setting, const Text& proxy, const Text& bypass) override {
    calls.push_back("SetProxy(" + std::to_string(setting) + "," + proxy + "," + bypass + ")");
  }
  void Open(const Text& verb, const Text& url, bool async) override {
    calls.push_back("Open(" + verb + "," + url + "," + (async ? "true" : "false") + ")");
  }
  void Option(int index, int value) override {
    calls.push_back("Option(" + std::to_string(index) + "," + std::to_string(value) + ")");
  }
  void SetCredentials(const Text& user, const Text& password, int flags) override {
    calls.push_back("SetCredentials(" + user + "," + password + "," + std::to_string(flags) + ")");
  }
  void SetRequestHeader(const Text& name, const Text& value) override {
    calls.push_back("SetRequestHeader(" + name + "|" + value + ")");
  }
  void Send(const Text& text) override { calls.push_back("Send(text:" + text + ")"); }
  void Send(const ByteSet& bytes) override {
    calls.push_back("Send(bytes:" + std::string(bytes.begin(), bytes.end()) + ")");
  }
  ByteSet ResponseBody() override {
    calls.push_back("ResponseBody");
    return body;
  }
  Text GetAllResponseHeaders() override {
    calls.push_back("GetAllResponseHeaders");
    return headers;
  }
  int Status() override {
    calls.push_back("Status");
    return status;
  }
  Text StatusText() override {
    calls.push_back("StatusText");
    return "OK";
  }

  std::vector<std::string> HeaderCalls() const {
    std::vector<std::string> found;
    for (const std::string& call : calls) {
      if (call.starts_with("SetRequestHeader(")) found.push_back(call);
    }
    return found;
  }
};

TEST(ComHttpRequestCalls, CatalogueRequestMakesExactlyTheseCalls) {
  auto recorder = std::make_shared<RecordingRequest>();
  recorder->body = BytesFromText("{\"data\":{}}");
  const std::string url =
      "http://cat.example/fm/read/fmd/h5/getPayResourceList_714.html?pid=367750&isFree=2&"
      "pageNum=1&userId=&_=1595246400123";
  const ByteSet body = ComHttpRequest({.url = url,
                                       .method = 1,
                                       .extraHeaders = "User-Agent: " + kCatalogueAgent,
                                       .requestObject = recorder});
  EXPECT_EQ(body, recorder->body);
  const std::vector<std::string> expected = {
      "SetTimeouts(15000,15000,15000,15000)",
      "Open(POST," + url + ",false)",
      "Option(4,13056)",
      "SetRequestHeader(User-Agent|" + kCatalogueAgent + ")",
      "SetRequestHeader(Accept|*/*)",
      "SetRequestHeader(Referer|" + url + ")",
      "SetRequestHeader(Accept-Language|zh-cn)",
      "SetRequestHeader(Content-Type|application/x-www-form-urlencoded)",
      "Send(text:)",
      "ResponseBody",
      "GetAllResponseHeaders",
      "Status",
      "StatusText",
  };
  EXPECT_EQ(recorder->calls, expected);
}

TEST(ComHttpRequestCalls, NetworkTimeHeadMakesExactlyTheseCallsAndHandsBackTheHeaders) {
  auto recorder = std::make_shared<RecordingRequest>();
  recorder->headers = "Date: Mon, 20 Jul 2020 18:30:00 GMT\r\nServer: t\r\n";
  recorder->status = 200;
  Text headers = "stale";
  ComHttpRequest({.url = "http://time.example/",
                  .method = 2,
                  .responseHeaders = &headers,
                  .requestObject = recorder});
  EXPECT_EQ(headers, recorder->headers);
  const std::vector<std::string> expected = {
      "SetTimeouts(15000,15000,15000,15000)",
      "Open(HEAD,http://time.example/,false)",
      "Option(4,13056)",
      "SetRequestHeader(Accept|*/*)",
      "SetRequestHeader(Referer|http://time.example/)",
      "SetRequestHeader(Accept-Language|zh-cn)",
      "SetRequestHeader(User-Agent|" + kDefaultAgent + ")",
      "Send(text:)",
      "ResponseBody",
      "GetAllResponseHeaders",
      "Status",
      "StatusText",
  };
  EXPECT_EQ(recorder->calls, expected);
}

TEST(ComHttpRequestCalls, TimeoutsMethodsAndRedirectOption) {
  struct Case {
    int timeoutSeconds;
    std::string firstCall;
  };
  const Case cases[] = {
      {0, "SetTimeouts(15000,15000,15000,15000)"},
      {30, "SetTimeouts(30000,30000,30000,30000)"},
      {-5, "SetTimeouts(15000,15000,15000,15000)"},
      {-1, "Open(GET,http://h/,false)"},
      // Far beyond what milliseconds in an int hold: held at the limit, not wrapped round.
      {INT_MAX, "SetTimeouts(2147483000,2147483000,2147483000,2147483000)"},
  };
  for (const Case& c : cases) {
    auto recorder = std::make_shared<RecordingRequest>();
    ComHttpRequest(
        {.url = "http://h/", .timeoutSeconds = c.timeoutSeconds, .requestObject = recorder});
    EXPECT_EQ(recorder->calls.front(), c.firstCall) << c.timeoutSeconds;
  }
  for (int method : {9, -1}) {
    auto recorder = std::make_shared<RecordingRequest>();
    ComHttpRequest({.url = "http://h/", .method = method, .requestObject = recorder});
    EXPECT_EQ(recorder->calls[1], "Open(GET,http://h/,false)");
  }
  auto recorder = std::make_shared<RecordingRequest>();
  ComHttpRequest({.url = "http://h/", .method = 6, .noRedirect = true, .requestObject = recorder});
  EXPECT_EQ(recorder->calls[1], "Open(TRACE,http://h/,false)");
  EXPECT_EQ(recorder->calls[2], "Option(6,0)");
  EXPECT_EQ(recorder->calls[3], "Option(4,13056)");
}

TEST(ComHttpRequestCalls, DefaultHeadersAreSkippedWhenTheirNameAppearsAnywhere) {
  auto recorder = std::make_shared<RecordingRequest>();
  ComHttpRequest({.url = "http://h/",
                  .extraHeaders = "X-Note: say accept: maybe\r\nconnection: keep-alive\r\n"
                                  "x-request-id: 7\r\nConnection: close",
                  .requestObject = recorder});
  const std::vector<std::string> expected = {
      "SetRequestHeader(X-Note|say accept: maybe)",
      "SetRequestHeader(X-Request-Id|7)",
      "SetRequestHeader(Connection|close)",
      "SetRequestHeader(Referer|http://h/)",
      "SetRequestHeader(Accept-Language|zh-cn)",
      "SetRequestHeader(User-Agent|" + kDefaultAgent + ")",
  };
  EXPECT_EQ(recorder->HeaderCalls(), expected);
}

TEST(ComHttpRequestCalls, SingleHeaderLineWithoutDefaultsIsSetOnceEvenWhenEmpty) {
  auto recorder = std::make_shared<RecordingRequest>();
  ComHttpRequest({.url = "http://h/",
                  .extraHeaders = "x-a: 1",
                  .requestObject = recorder,
                  .addDefaultHeaders = false,
                  .normaliseHeaderNames = false});
  EXPECT_EQ(recorder->HeaderCalls(), std::vector<std::string>{"SetRequestHeader(x-a|1)"});

  recorder = std::make_shared<RecordingRequest>();
  ComHttpRequest({.url = "http://h/", .requestObject = recorder, .addDefaultHeaders = false});
  EXPECT_EQ(recorder->HeaderCalls(), std::vector<std::string>{"SetRequestHeader(|)"});
}

TEST(ComHttpRequestCalls, ProxyCredentialsAndTheirHeader) {
  auto recorder = std::make_shared<RecordingRequest>();
  ComHttpRequest({.url = "http://h/",
                  .proxyAddress = "10.0.0.1:8080",
                  .proxyUser = "user",
                  .proxyPassword = "pass",
                  .requestObject = recorder,
                  .addDefaultHeaders = false});
  std::vector<std::string> expected = {
      "SetTimeouts(15000,15000,15000,15000)",
      "SetProxy(2,10.0.0.1:8080,)",
      "Open(GET,http://h/,false)",
      "Option(4,13056)",
      "SetCredentials(user,pass,1)",
      "SetRequestHeader(Proxy-Authorization|Basic dXNlcjpwYXNz)",
      "SetRequestHeader(|)",
      "Send(text:)",
  };
  recorder->calls.resize(expected.size());
  EXPECT_EQ(recorder->calls, expected);

  recorder = std::make_shared<RecordingRequest>();
  ComHttpRequest({.url = "http://h/",
                  .proxyAddress = "10.0.0.1:8080",
                  .proxyUser = "user",
                  .proxyPassword = "pass",
                  .credentialTarget = 0,
                  .requestObject = recorder,
                  .addDefaultHeaders = false});
  EXPECT_EQ(recorder->calls[4], "SetCredentials(user,pass,0)");
  EXPECT_EQ(recorder->HeaderCalls(), std::vector<std::string>{"SetRequestHeader(|)"});

  // Without a proxy the user name means nothing.
  recorder = std::make_shared<RecordingRequest>();
  ComHttpRequest({.url = "http://h/", .proxyUser = "user", .requestObject = recorder});
  for (const std::string& call : recorder->calls) {
    EXPECT_FALSE(call.starts_with("SetCredentials")) << call;
    EXPECT_FALSE(call.starts_with("SetProxy")) << call;
  }
}

TEST(ComHttpRequestCalls, CookiesSentWithTheCookiePrefixRemovedAndWrittenBack) {
  auto recorder = std::make_shared<RecordingRequest>();
  Text cookies = "Cookie: a=1";
  ComHttpRequest({.url = "http://h/",
                  .sendCookies = &cookies,
                  .requestObject = recorder,
                  .mergeCookies = false,
                  .addDefaultHeaders = false});
  EXPECT_EQ(recorder->HeaderCalls()[0], "SetRequestHeader(Cookie| a=1)");
  EXPECT_EQ(cookies, " a=1");

  // Every spelling of the prefix goes; a supplied empty text still sends the header.
  recorder = std::make_shared<RecordingRequest>();
  cookies = "COOKIE: a=1; cookie:b=2";
  ComHttpRequest({.url = "http://h/",
                  .sendCookies = &cookies,
                  .requestObject = recorder,
                  .mergeCookies = false});
  EXPECT_EQ(cookies, " a=1; b=2");
  recorder = std::make_shared<RecordingRequest>();
  Text empty;
  ComHttpRequest({.url = "http://h/", .sendCookies = &empty, .requestObject = recorder});
  EXPECT_EQ(recorder->HeaderCalls()[0], "SetRequestHeader(Cookie|)");

  // Not supplied: no Cookie header at all.
  recorder = std::make_shared<RecordingRequest>();
  ComHttpRequest({.url = "http://h/", .requestObject = recorder});
  for (const std::string& call : recorder->HeaderCalls()) {
    EXPECT_FALSE(call.starts_with("SetRequestHeader(Cookie")) << call;
  }
}

TEST(ComHttpRequestCalls, ReceivedCookiesAreParsedAndMergedIntoBothVariables) {
  auto recorder = std::make_shared<RecordingRequest>();
  recorder->headers =
      "Set-Cookie: a=1; path=/\r\nset-cookie: x=3\r\nSet-Cookie:y=4\r\nSet-Cookie: b=2\r\n";
  Text received = "stale";
  ComHttpRequest({.url = "http://h/", .receivedCookies = &received, .requestObject = recorder});
  EXPECT_EQ(received, "a=1; b=2");

  Text sent = "b=0; c=3";
  ComHttpRequest({.url = "http://h/",
                  .sendCookies = &sent,
                  .receivedCookies = &received,
                  .requestObject = recorder});
  EXPECT_EQ(received, "a=1; b=2; c=3");
  EXPECT_EQ(sent, received);

  sent = "b=0; c=3";
  ComHttpRequest({.url = "http://h/",
                  .sendCookies = &sent,
                  .receivedCookies = &received,
                  .requestObject = recorder,
                  .mergeCookies = false});
  EXPECT_EQ(received, "a=1; b=2");
  EXPECT_EQ(sent, "b=0; c=3");
}

TEST(ComHttpRequestCalls, FailedExchangeGivesEmptyOutputsAndTheSentCookiesAlone) {
  auto recorder = std::make_shared<RecordingRequest>();  // answers nothing
  Text headers = "stale";
  int status = 99;
  Text received = "stale";
  Text sent = "k=v;";
  const ByteSet body = ComHttpRequest({.url = "http://h/",
                                       .sendCookies = &sent,
                                       .receivedCookies = &received,
                                       .responseHeaders = &headers,
                                       .statusCode = &status,
                                       .requestObject = recorder});
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(headers, "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(received, "k=v");
  EXPECT_EQ(sent, "k=v");
}

TEST(ComHttpRequestCalls, BodyBytesWinOverTextAndTheCallerKeepsItsObject) {
  auto recorder = std::make_shared<RecordingRequest>();
  const long before = recorder.use_count();
  ComHttpRequest({.url = "http://h/",
                  .method = 3,
                  .bodyText = "text",
                  .bodyBytes = BytesFromText("bytes"),
                  .requestObject = recorder});
  EXPECT_EQ(recorder.use_count(), before);
  EXPECT_NE(std::find(recorder->calls.begin(), recorder->calls.end(), "Send(bytes:bytes)"),
            recorder->calls.end());
  recorder->calls.clear();
  ComHttpRequest({.url = "http://h/", .method = 1, .bodyText = "a=1", .requestObject = recorder});
  EXPECT_NE(std::find(recorder->calls.begin(), recorder->calls.end(), "Send(text:a=1)"),
            recorder->calls.end());
}

}  // namespace
}  // namespace newsbar
