#include "util/gbk_text.h"

#include <gtest/gtest.h>

#include "util/gbk_test_text.h"
#include "util/types.h"

namespace newsbar {
namespace {

using test::Gbk;

// GBK characters whose trail byte is an ASCII letter: 乻 = 81 73 ('s'), 丄 = 81 41 ('A'),
// 乨 = 81 64 ('d'). 啊 = B0 A1 ends in the byte that also begins a full-width space.
const Text kTrailS = "\x81\x73";
const Text kTrailUpperA = "\x81\x41";
const Text kAh = "\xB0\xA1";

TEST(GbkWalk, LeadByteTakesTheNextByteWhateverItIs) {
  EXPECT_EQ(gbk::CharLength("a" + kTrailS, 0), 1u);
  EXPECT_EQ(gbk::CharLength("a" + kTrailS, 1), 2u);
  EXPECT_EQ(gbk::CharLength("a\x81", 1), 1u);  // a lead byte at the end stands alone
  EXPECT_EQ(gbk::CharLength("a", 1), 0u);
  EXPECT_EQ(gbk::CharLength("\x81=", 0), 2u);  // malformed, but stepped over as one

  Text text = "a" + kTrailS + "b";
  EXPECT_TRUE(gbk::IsBoundary(text, 0));
  EXPECT_TRUE(gbk::IsBoundary(text, 1));
  EXPECT_FALSE(gbk::IsBoundary(text, 2));
  EXPECT_TRUE(gbk::IsBoundary(text, 3));
  EXPECT_TRUE(gbk::IsBoundary(text, 4));
  EXPECT_FALSE(gbk::IsBoundary(text, 5));
  // A run of lead bytes: the pairing is decided from the start of the text.
  Text run = "\xB0\xB0\xB0\xB0";
  EXPECT_TRUE(gbk::IsBoundary(run, 2));
  EXPECT_FALSE(gbk::IsBoundary(run, 3));
}

TEST(GbkFind, TrailBytesAreNeverMatched) {
  Text text = kTrailS + "s";
  EXPECT_EQ(gbk::Find(text, "s"), 2u);
  EXPECT_EQ(gbk::FindNoCase(text, "S"), 2u);
  EXPECT_EQ(gbk::FindLast("s" + kTrailS, "s"), 0u);
  EXPECT_EQ(gbk::Find(kTrailS, "s"), gbk::npos);
  EXPECT_EQ(gbk::FindNoCase(kTrailUpperA, "a"), gbk::npos);
  EXPECT_FALSE(gbk::Contains(kTrailS, "s"));
  EXPECT_FALSE(gbk::ContainsNoCase(kTrailUpperA, "A"));
  // Malformed pairs hide '=' and ':' the same way.
  EXPECT_EQ(gbk::Find("\x81=a=", "="), 3u);
  EXPECT_EQ(gbk::Find("\x81:", ":"), gbk::npos);
  // A start offset inside a character moves on to the next boundary.
  EXPECT_EQ(gbk::Find(kTrailS + "s", "s", 1), 2u);
}

TEST(GbkFind, MatchesAlignOnTheTextsCharacters) {
  // "\xB0\xA1\xA1\xA1" is 啊 then a full-width space: the space starts at 2, not at 1.
  Text text = kAh + "\xA1\xA1";
  EXPECT_EQ(gbk::Find(text, "\xA1\xA1"), 2u);
  EXPECT_EQ(gbk::FindLast(text + "\xA1\xA1", "\xA1\xA1"), 4u);
  // A needle ending in a lone lead byte does not cut a character of the text in two...
  EXPECT_EQ(gbk::Find(Gbk("中"), "\xD6"), gbk::npos);
  // ...but may match one that stands alone at the end.
  EXPECT_EQ(gbk::Find("a\xD6", "\xD6"), 1u);
  EXPECT_EQ(gbk::Find(Gbk("新闻中心"), Gbk("中")), 4u);
}

TEST(GbkFind, EmptyNeedleAndOutOfRangeStart) {
  EXPECT_EQ(gbk::Find("abc", ""), 0u);
  EXPECT_EQ(gbk::Find("abc", "", 3), 3u);
  EXPECT_EQ(gbk::Find("abc", "", 4), gbk::npos);
  EXPECT_EQ(gbk::Find("abc", "c", 10), gbk::npos);
  EXPECT_EQ(gbk::FindLast("abc", ""), 3u);
  EXPECT_EQ(gbk::Find("", "a"), gbk::npos);
  EXPECT_EQ(gbk::Find("ab", "abc"), gbk::npos);
}

TEST(GbkFind, NoCaseFoldsAsciiLettersOnly) {
  EXPECT_EQ(gbk::FindNoCase("Content-TYPE: x", "content-type"), 0u);
  EXPECT_EQ(gbk::FindNoCase(Gbk("标题Title"), "TITLE"), 4u);
  EXPECT_EQ(gbk::FindNoCase("[", "{"), gbk::npos);  // 0x5B and 0x7B differ by 0x20 too
  EXPECT_EQ(gbk::FindNoCase("@", "`"), gbk::npos);
}

TEST(GbkReplace, ReplacesWholeCharactersLeftToRight) {
  EXPECT_EQ(gbk::ReplaceAll(kTrailUpperA + "A", "A", "x"), kTrailUpperA + "x");
  EXPECT_EQ(gbk::ReplaceAllNoCase(kTrailUpperA + "a", "A", "x"), kTrailUpperA + "x");
  EXPECT_EQ(gbk::ReplaceAll("aaa", "aa", "b"), "ba");  // non-overlapping
  EXPECT_EQ(gbk::ReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(gbk::ReplaceAll("a-b-", "-", "--"), "a--b--");  // no rescanning of output
  EXPECT_EQ(gbk::ReplaceAllNoCase("Abab", "AB", ""), "");
  const Text wenComma = Gbk("文，");
  const Text wen = Gbk("文");
  EXPECT_EQ(gbk::ReplaceAll(Gbk("中文，中文"), Gbk("中"), "Z"), "Z" + wenComma + "Z" + wen);
}

TEST(GbkSplit, SplitsOnlyBetweenCharacters) {
  using Parts = std::vector<std::string>;
  EXPECT_EQ(gbk::Split(kTrailS + "s" + kTrailS, "s"), (Parts{kTrailS, kTrailS}));
  EXPECT_EQ(gbk::Split("\x81=a=b", "="), (Parts{"\x81=a", "b"}));
  EXPECT_EQ(gbk::Split("a,,b", ","), (Parts{"a", "", "b"}));
  EXPECT_EQ(gbk::Split("", ","), (Parts{""}));
  EXPECT_EQ(gbk::Split("a,", ","), (Parts{"a", ""}));
  EXPECT_EQ(gbk::Split("a; b;c", "; "), (Parts{"a", "b;c"}));
  EXPECT_EQ(gbk::Split("abc", ""), (Parts{"abc"}));
  EXPECT_EQ(gbk::Split(Gbk("甲、乙、丙"), Gbk("、")), (Parts{Gbk("甲"), Gbk("乙"), Gbk("丙")}));
}

TEST(GbkTrim, RemovesSpacesAndFullWidthSpacesOnly) {
  EXPECT_EQ(gbk::Trim(Gbk("　 标题　 ")), Gbk("标题"));
  EXPECT_EQ(gbk::Trim("\t a \r\n"), "\t a \r\n");
  EXPECT_EQ(gbk::Trim("   "), "");
  EXPECT_EQ(gbk::Trim(Gbk("　　")), "");
  EXPECT_EQ(gbk::Trim(""), "");
  EXPECT_EQ(gbk::Trim(" a b "), "a b");
  // 啊 (B0 A1) followed by a lone A1: the last two bytes are A1 A1 but no full-width space.
  EXPECT_EQ(gbk::Trim("a" + kAh + "\xA1"), "a" + kAh + "\xA1");
  // A full-width space inside the text stays.
  EXPECT_EQ(gbk::Trim(Gbk("a　b")), Gbk("a　b"));
}

TEST(GbkCase, ChangesSingleByteLettersOnly) {
  EXPECT_EQ(gbk::AsciiUpper(kTrailS + "s"), kTrailS + "S");
  EXPECT_EQ(gbk::AsciiLower(kTrailUpperA + "A"), kTrailUpperA + "a");
  EXPECT_EQ(gbk::AsciiUpper("a-z[]{}09"), "A-Z[]{}09");
  EXPECT_TRUE(gbk::EqualsNoCase("User-Agent", "user-AGENT"));
  EXPECT_FALSE(gbk::EqualsNoCase(kTrailUpperA, "\x81\x61"));
  EXPECT_FALSE(gbk::EqualsNoCase("ab", "abc"));
  EXPECT_FALSE(gbk::EqualsNoCase("[", "{"));
  EXPECT_TRUE(gbk::EqualsNoCase("", ""));
}

TEST(ByteSets, TextStopsAtTheFirstZeroByte) {
  EXPECT_EQ(TextFromBytes(ByteSet{'a', 'b', 0, 'c'}), "ab");
  EXPECT_EQ(TextFromBytes(ByteSet{}), "");
  EXPECT_EQ(BytesFromText(std::string_view("a\0b", 3)), (ByteSet{'a', 0, 'b'}));
}

}  // namespace
}  // namespace newsbar
