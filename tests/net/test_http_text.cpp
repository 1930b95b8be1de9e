#include <gtest/gtest.h>

#include "net/http_text.h"

namespace newsbar {
namespace {

TEST(UrlParts, HostPortAndPathOfFullUrls) {
  EXPECT_EQ(UrlHost("HTTPS://Host:8443/x?y"), "host");
  EXPECT_EQ(UrlHost("HTTPS://Host:8443/x?y", true), "host:8443");
  EXPECT_EQ(UrlPort("HTTPS://Host:8443/x?y"), 8443);
  EXPECT_EQ(UrlPath("HTTPS://Host:8443/x?Y=Z#F"), "/x?Y=Z#F");

  EXPECT_EQ(UrlPort("https://host"), 443);
  EXPECT_EQ(UrlPath("https://host"), "/");
  EXPECT_EQ(UrlPort("http://host/p"), 80);
  EXPECT_EQ(UrlPath("https://host:8443/p?q=1"), "/p?q=1");
  EXPECT_EQ(UrlPort("http://127.0.0.1:5000/a"), 5000);
  EXPECT_EQ(UrlHost("http://127.0.0.1:5000/a"), "127.0.0.1");
}

TEST(UrlParts, UrlWithoutSchemeIsReadAsHttp) {
  EXPECT_EQ(UrlHost("host/a"), "host");
  EXPECT_EQ(UrlPort("host/a"), 80);
  EXPECT_EQ(UrlPath("host/a"), "/a");
  EXPECT_EQ(UrlHost("Host:81"), "host");
  EXPECT_EQ(UrlPort("Host:81"), 81);
}

TEST(UrlParts, OddPortsGiveDefinedNumbers) {
  EXPECT_EQ(UrlPort("http://host:/x"), 0);       // no digits
  EXPECT_EQ(UrlPort("http://host:12ab/x"), 12);  // leading digits only
  // A run of digits far beyond any port must not overflow.
  EXPECT_EQ(UrlPort("http://host:99999999999999999999/x"), 1000000);
}

// Mended: the original rules took a host that also occurs in the scheme ("s" in "https")
// for the place the path starts, read "http://" anywhere as the scheme, and let a query
// right after the host become part of the host name.
TEST(UrlParts, HostAndPathAreFoundAfterTheScheme) {
  EXPECT_EQ(UrlPath("https://s/x"), "/x");
  EXPECT_EQ(UrlPath("http://t/p?q"), "/p?q");
  EXPECT_EQ(UrlHost("a.example/go?to=http://b.example/"), "a.example");
  EXPECT_EQ(UrlHost("http://host?x=1"), "host");
  EXPECT_EQ(UrlPath("http://host?x=1"), "/?x=1");
  EXPECT_EQ(UrlPath("http://host#frag/x"), "/");
  EXPECT_EQ(UrlHost("http://[::1]:8080/a"), "[::1]");
  EXPECT_EQ(UrlPort("http://[::1]:8080/a"), 8080);
  EXPECT_EQ(UrlPort("http://[::1]/a"), 80);
  // The port is the number after the last colon of the host part.
  EXPECT_EQ(UrlPort("http://a:1:2/"), 2);
  EXPECT_EQ(UrlPort("http://[::1]:1:2/a"), 2);
}

TEST(UrlParts, DoubleByteCharactersKeepTheirBytes) {
  // "/新闻?a=啊" in GBK, letter case of the path kept; a trail byte 0x41 ("A") in the
  // host is not lowered with the ASCII letters.
  const std::string path = "/\xD0\xC2\xCE\xC5?A=\xB0\xA1";
  EXPECT_EQ(UrlPath("http://HOST" + path), path);
  EXPECT_EQ(UrlHost("http://X\x81\x41.cn/"), "x\x81\x41.cn");
}

TEST(HeaderText, NameAndValueOfALine) {
  EXPECT_EQ(HeaderName("Referer: http://x/y"), "Referer");
  EXPECT_EQ(HeaderValue("Referer: http://x/y"), "http://x/y");
  EXPECT_EQ(HeaderName("  X-A  :  1 "), "X-A");
  EXPECT_EQ(HeaderValue("  X-A  :  1 "), "1");
  EXPECT_EQ(HeaderName("no colon"), "");
  EXPECT_EQ(HeaderValue("no colon"), "");
  // The full-width space trims too.
  EXPECT_EQ(HeaderValue("A:\xA1\xA1v\xA1\xA1"), "v");
}

TEST(HeaderText, NormalisedNamesCapitaliseEachWordAndKeepTheRest) {
  EXPECT_EQ(CapitaliseFirst("abc"), "Abc");
  EXPECT_EQ(CapitaliseFirst("aBC"), "ABC");
  EXPECT_EQ(CapitaliseFirst("1a"), "1a");
  EXPECT_EQ(NormaliseHeaderNames("content-type: text/html"), "Content-Type: text/html");
  EXPECT_EQ(NormaliseHeaderNames("x-REQUESTED-with: a"), "X-REQUESTED-With: a");
  EXPECT_EQ(NormaliseHeaderNames("\r\naccept: */*\r\nbroken line\r\nuser-agent:x  "),
            "Accept: */*\r\nUser-Agent:x  ");
  EXPECT_EQ(NormaliseHeaderNames(""), "");
  EXPECT_EQ(NormaliseHeaderNames("\r\n"), "");
}

TEST(CookieText, NamesAndDuplicates) {
  EXPECT_EQ(CookieName(" a =1"), "a");
  EXPECT_EQ(CookieName("flag"), "flag");
  EXPECT_EQ(RemoveDuplicateItems("a=1; b=2; a=1; A=1", "; "), "a=1; b=2; A=1");
  EXPECT_EQ(RemoveDuplicateItems("x", ", "), "x");
}

TEST(CookieText, MergeLetsNewerWinAndDropsDeleted) {
  Text old = "a=1; b=2";
  EXPECT_EQ(MergeCookies(old, "b=3; x=deleted; d=4"), "b=3; d=4; a=1");
  EXPECT_EQ(old, "b=3; d=4; a=1");

  old = "a=1;";
  EXPECT_EQ(MergeCookies(old, ""), "a=1");
  old = "";
  EXPECT_EQ(MergeCookies(old, "a=1; a=1"), "a=1");
  old = "";
  EXPECT_EQ(MergeCookies(old, "a=1; a=2"), "a=1; a=2");
  // The first of several old items with one name wins; a deleted one removes the old.
  old = "k=1; k=2; gone=1";
  EXPECT_EQ(MergeCookies(old, "gone=deleted"), "k=1");
  old = "";
  EXPECT_EQ(MergeCookies(old, ""), "");
  EXPECT_EQ(old, "");
}

TEST(CookieText, ReceivedCookiesComeOnlyFromExactSetCookieLines) {
  EXPECT_EQ(ReceivedCookies("Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\nX: y\r\n"), "a=1; b=2");
  EXPECT_EQ(ReceivedCookies("set-cookie: x=3\r\nSet-Cookie:x=4\r\n"), "");
  EXPECT_EQ(ReceivedCookies(""), "");
  EXPECT_EQ(ReceivedCookies("Set-Cookie:  spaced=1  \r\n"), "spaced=1");
}

TEST(Base64, StandardAlphabetWithPadding) {
  EXPECT_EQ(Base64Encode(BytesFromText("abc")), "YWJj");
  EXPECT_EQ(Base64Encode(BytesFromText("ab")), "YWI=");
  EXPECT_EQ(Base64Encode(BytesFromText("a")), "YQ==");
  EXPECT_EQ(Base64Encode({}), "");
  EXPECT_EQ(Base64Encode(ByteSet{0xFB, 0xFF, 0xBF}), "+/+/");
  EXPECT_EQ(Base64Encode(BytesFromText("user:pass")), "dXNlcjpwYXNz");
}

TEST(MethodTable, IndexesOutsideTheTableMeanGet) {
  EXPECT_EQ(MethodVerb(0), "GET");
  EXPECT_EQ(MethodVerb(1), "POST");
  EXPECT_EQ(MethodVerb(2), "HEAD");
  EXPECT_EQ(MethodVerb(7), "CONNECT");
  EXPECT_EQ(MethodVerb(8), "GET");
  EXPECT_EQ(MethodVerb(-1), "GET");
}

}  // namespace
}  // namespace newsbar
