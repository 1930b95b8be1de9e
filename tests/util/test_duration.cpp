#include "util/duration.h"

#include <gtest/gtest.h>

#include <climits>

#include "util/gbk_test_text.h"

namespace newsbar {
namespace {

using test::Gbk;

TEST(FormatDuration, MinutesAndSecondsAsThePlayerShowsThem) {
  const Text pattern = Gbk("m分s秒");
  EXPECT_EQ(FormatDuration(0, pattern), Gbk("00分00秒"));
  EXPECT_EQ(FormatDuration(1234, pattern), Gbk("20分34秒"));
  EXPECT_EQ(FormatDuration(59, pattern), Gbk("00分59秒"));
  EXPECT_EQ(FormatDuration(60, pattern), Gbk("01分00秒"));
  // Hours have no letter here and are dropped, not folded into the minutes.
  EXPECT_EQ(FormatDuration(3725, pattern), Gbk("02分05秒"));
  EXPECT_EQ(FormatDuration(86400 + 59, pattern), Gbk("00分59秒"));
}

TEST(FormatDuration, DefaultPatternAndWideValues) {
  EXPECT_EQ(FormatDuration(90061), Gbk("01天01小时01分01秒"));
  EXPECT_EQ(FormatDuration(8640000), Gbk("100天00小时00分00秒"));
  EXPECT_EQ(FormatDuration(INT_MAX), Gbk("24855天03小时14分07秒"));
  // Negative counts keep their signs unit by unit (remainders take the dividend's sign).
  EXPECT_EQ(FormatDuration(INT_MIN), Gbk("-24855天-3小时-14分-8秒"));
  EXPECT_EQ(FormatDuration(-61, "m:s"), "-1:-1");
  EXPECT_EQ(FormatDuration(-59, "m:s"), "00:-59");
}

TEST(FormatDuration, PatternIsFilledInPlace) {
  Text pattern = "h:m:s";
  Text result = FormatDuration(3661, {.pattern = &pattern});
  EXPECT_EQ(result, "01:01:01");
  EXPECT_EQ(pattern, result);

  // Not using the pattern, or an empty one, means the default, which the caller receives.
  Text ignored = "m:s";
  EXPECT_EQ(FormatDuration(61, {.pattern = &ignored, .usePattern = false}),
            Gbk("00天00小时01分01秒"));
  EXPECT_EQ(ignored, Gbk("00天00小时01分01秒"));
  Text empty;
  FormatDuration(1, {.pattern = &empty});
  EXPECT_EQ(empty, Gbk("00天00小时00分01秒"));
}

TEST(FormatDuration, PaddingAndRepeatedLetters) {
  EXPECT_EQ(FormatDuration(65, {.pattern = nullptr, .usePattern = true, .pad = false}),
            Gbk("0天0小时1分5秒"));
  Text pattern = "m:s";
  EXPECT_EQ(FormatDuration(65, {.pattern = &pattern, .pad = false}), "1:5");
  // Only the last occurrence of a letter is filled.
  EXPECT_EQ(FormatDuration(5, "s s"), "s 05");
  EXPECT_EQ(FormatDuration(125, "ms:ms"), "ms:0205");
  // Capitals are not letters of the pattern.
  EXPECT_EQ(FormatDuration(5, "S s"), "S 05");
  EXPECT_EQ(FormatDuration(5, "none"), "none");
}

TEST(FormatDuration, TrailBytesAreNotPatternLetters) {
  // 乻 = 81 73 ends in 's', 乨 = 81 64 in 'd', 乵 = 81 6D in 'm'.
  EXPECT_EQ(FormatDuration(65, "m:s\x81\x73"), "01:05\x81\x73");
  EXPECT_EQ(FormatDuration(65, "\x81\x64m\x81\x6D"),
            "\x81\x64"
            "01\x81\x6D");
}

TEST(ZeroPad, PadsToWidthAndNeverShortens) {
  EXPECT_EQ(ZeroPad("5", 2), "05");
  EXPECT_EQ(ZeroPad("", 2), "00");
  EXPECT_EQ(ZeroPad("123", 2), "123");
  EXPECT_EQ(ZeroPad("12", 2), "12");
  EXPECT_EQ(ZeroPad("7", 0), "7");
  EXPECT_EQ(ZeroPad("7", -4), "7");
  const Text zhong = Gbk("中");
  EXPECT_EQ(ZeroPad(zhong, 3), "0" + zhong);  // widths count bytes
}

}  // namespace
}  // namespace newsbar
