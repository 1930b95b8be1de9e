#include "util/text_cut.h"

#include <gtest/gtest.h>

#include "util/gbk_test_text.h"

namespace newsbar {
namespace {

using test::Gbk;

TEST(TextBetween, CutsBetweenTheFirstMarkersUntrimmed) {
  EXPECT_EQ(TextBetween("Set-Cookie: a=1; path=/", "Set-Cookie:", ";"), " a=1");
  EXPECT_EQ(TextBetween("<a>1</a><a>2</a>", "<a>", "</a>"), "1");
  EXPECT_EQ(TextBetween("x]y[z", "[", "]"), "");  // right marker only looked for after left
  EXPECT_EQ(TextBetween("[abc", "[", "]"), "");
  EXPECT_EQ(TextBetween("abc]", "[", "]"), "");
  EXPECT_EQ(TextBetween("[]", "[", "]"), "");
  EXPECT_EQ(TextBetween("abc", "", "c"), "ab");
  EXPECT_EQ(TextBetween("abc", "a", ""), "");
}

TEST(TextBetween, QuotePlaceholderStandsForADoubleQuote) {
  Text json = R"({"title":"Morning news","url":"http://x/a.mp3"})";
  EXPECT_EQ(TextBetween(json, Gbk("#引号title#引号:#引号"), Gbk("#引号")), "Morning news");
  EXPECT_EQ(TextBetween(json, Gbk("url#引号:#引号"), Gbk("#引号}")), "http://x/a.mp3");
  // Without the placeholder the marker is taken literally.
  EXPECT_EQ(TextBetween(json, Gbk("#引号title"), "\""), "");
}

TEST(TextBetween, StartPositionCountsFromOne) {
  EXPECT_EQ(TextBetween("[1][2]", "[", "]", 1), "1");
  EXPECT_EQ(TextBetween("[1][2]", "[", "]", 2), "2");
  EXPECT_EQ(TextBetween("[1][2]", "[", "]", 4), "2");
  EXPECT_EQ(TextBetween("[1][2]", "[", "]", 5), "");
  EXPECT_EQ(TextBetween("[1][2]", "[", "]", 0), "1");
  EXPECT_EQ(TextBetween("[1][2]", "[", "]", -7), "1");
  EXPECT_EQ(TextBetween("[1][2]", "[", "]", 1000), "");
}

TEST(TextBetween, MarkersMatchWholeCharactersOnly) {
  // 乻 (81 73) ends in 's'; 丄 (81 41) in 'A'.
  EXPECT_EQ(TextBetween("\x81\x73s1;", "s", ";"), "1");
  EXPECT_EQ(TextBetween("=\x81\x41x\x81\x41"
                        "A",
                        "=", "A"),
            "\x81\x41x\x81\x41");
  EXPECT_EQ(TextBetween(Gbk("标题：新闻联播。"), Gbk("："), Gbk("。")), Gbk("新闻联播"));
}

TEST(TextLeftOf, CutsBeforeTheFirstMarker) {
  EXPECT_EQ(TextLeftOf("Set-Cookie: a=1", ": "), "Set-Cookie");
  EXPECT_EQ(TextLeftOf("Set-Cookie:a=1", ": "), "");
  EXPECT_EQ(TextLeftOf("a=1=2", "="), "a");
  EXPECT_EQ(TextLeftOf("=1", "="), "");
  EXPECT_EQ(TextLeftOf("abc", ""), "");
  EXPECT_EQ(TextLeftOf("\x81=x=1", "="), "\x81=x");
}

}  // namespace
}  // namespace newsbar
