#include "util/charset.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace newsbar {
namespace {

ByteSet Bytes(std::string_view text) {
  return ByteSet(text.begin(), text.end());
}

std::string Str(const ByteSet& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Runs the system's iconv command over input; exit status and output.
struct CommandResult {
  int status = -1;
  std::string output;
};

CommandResult RunIconv(const std::string& from, const std::string& to, std::string_view input,
                       const std::string& flags = "") {
  auto path = std::filesystem::temp_directory_path() /
              ("newsbar-iconv-" + std::to_string(::getpid()) + ".in");
  {
    std::ofstream file(path, std::ios::binary);
    file.write(input.data(), static_cast<std::streamsize>(input.size()));
  }
  std::string command =
      "iconv " + flags + " -f " + from + " -t " + to + " '" + path.string() + "' 2>/dev/null";
  CommandResult result;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) result.output.append(buffer, n);
    result.status = ::pclose(pipe);
  }
  std::filesystem::remove(path);
  return result;
}

// Every double-byte GBK code (lead 81..FE, trail 40..FE without 7F).
std::string AllDoubleByteCodes() {
  std::string codes;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      codes += static_cast<char>(lead);
      codes += static_cast<char>(trail);
    }
  }
  return codes;
}

const std::string kChineseUtf8 = "今日早间新闻：天气晴，气温二十度。「头条」";

TEST(ConvertCharset, Utf8ChineseGivesTheSameBytesAsTheIconvCommand) {
  CommandResult expected = RunIconv("UTF-8", "GBK", kChineseUtf8);
  ASSERT_EQ(expected.status, 0);
  ASSERT_FALSE(expected.output.empty());
  EXPECT_EQ(Str(ConvertCharset(Bytes(kChineseUtf8))), expected.output);
  // "中" spelled out, in case the command and the library agree on something odd.
  EXPECT_EQ(Str(ConvertCharset(Bytes("\xE4\xB8\xAD"))), "\xD6\xD0");
}

TEST(ConvertCharset, WholeGbkRepertoireMatchesTheIconvCommand) {
  // Every character GBK has, as UTF-8, converted back by both.
  CommandResult utf8 = RunIconv("GBK", "UTF-8", AllDoubleByteCodes(), "-c");
  ASSERT_GT(utf8.output.size(), 60000u);
  CommandResult gbk = RunIconv("UTF-8", "GBK", utf8.output);
  ASSERT_EQ(gbk.status, 0);
  EXPECT_EQ(Str(ConvertCharset(Bytes(utf8.output))), gbk.output);
}

TEST(ConvertCharset, EmptyNamesMeanTheDefaults) {
  ByteSet data = Bytes(kChineseUtf8);
  ByteSet byDefault = ConvertCharset(data);
  EXPECT_EQ(ConvertCharset(data, {.from = "", .to = ""}), byDefault);
  EXPECT_EQ(ConvertCharset(data, {.from = "", .to = "GBK"}), byDefault);
  EXPECT_EQ(ConvertCharset(data, {.from = "UTF-8", .to = ""}), byDefault);
  EXPECT_EQ(ConvertCharset(data, {.from = "utf-8", .to = "gbk"}), byDefault);
  EXPECT_TRUE(ConvertCharset({}).empty());
}

TEST(ConvertCharset, StartOffsetDropsLeadingBytesOfTheResult) {
  ByteSet data = Bytes("ab\xE4\xB8\xAD");  // "ab中" -> 61 62 D6 D0
  EXPECT_EQ(Str(ConvertCharset(data, {.start = 2})), "\xD6\xD0");
  EXPECT_EQ(Str(ConvertCharset(data, {.start = 3})), "\xD0");
  EXPECT_EQ(Str(ConvertCharset(data, {.start = 0})), "ab\xD6\xD0");
  EXPECT_TRUE(ConvertCharset(data, {.start = 4}).empty());
  EXPECT_TRUE(ConvertCharset(data, {.start = 1 << 30}).empty());
  EXPECT_EQ(Str(ConvertCharset(data, {.start = -1})), "ab\xD6\xD0");
  // The offset counts bytes of the output, not of the input.
  EXPECT_EQ(Str(ConvertCharset(Bytes("\xE4\xB8\xAD\xE6\x96\x87"), {.start = 2})), "\xCE\xC4");
}

TEST(ConvertCharset, UnknownCharsetNameGivesNothing) {
  ByteSet data = Bytes("plain ascii");
  EXPECT_TRUE(ConvertCharset(data, {.from = "NO-SUCH-CHARSET"}).empty());
  EXPECT_TRUE(ConvertCharset(data, {.to = "NO-SUCH-CHARSET"}).empty());
  // Converter options smuggled into a name are not charset names.
  EXPECT_TRUE(ConvertCharset(data, {.to = "GBK//IGNORE"}).empty());
  EXPECT_TRUE(ConvertCharset(data, {.from = std::string_view("GBK\0x", 5)}).empty());
}

TEST(ConvertCharset, CharactersGbkCannotHoldSurviveBetweenOtherCharsets) {
  // Korean, the euro sign and an emoji: none is in GBK, all are in UTF-16.
  std::string text = "\xED\x95\x9C \xE2\x82\xAC \xF0\x9F\x98\x80";
  ByteSet utf16 = ConvertCharset(Bytes(text), {.to = "UTF-16LE"});
  EXPECT_EQ(Str(utf16), std::string("\x5C\xD5 \0\xAC\x20 \0\x3D\xD8\x00\xDE", 12));
  EXPECT_EQ(Str(ConvertCharset(utf16, {.from = "UTF-16LE", .to = "UTF-8"})), text);
}

TEST(ConvertCharset, BadBytesAreReplacedNotFatal) {
  // An invalid byte in the middle of a catalogue must not empty it.
  EXPECT_EQ(Str(ConvertCharset(Bytes("ab\xFF"
                                     "cd"))),
            "ab?cd");
  // A broken sequence (lead byte with its continuations) gives one '?'.
  EXPECT_EQ(Str(ConvertCharset(Bytes("a\xE4\xB8"
                                     "b"))),
            "a?b");
  // Input that ends inside a character.
  EXPECT_EQ(Str(ConvertCharset(Bytes("a\xE4\xB8"))), "a?");
  // Characters the target cannot hold become '?' and the rest converts.
  EXPECT_EQ(Str(ConvertCharset(Bytes("a\xED\x95\x9C\xE4\xB8\xAD"))), "a?\xD6\xD0");
  // '?' is written in the target's own encoding.
  EXPECT_EQ(
      Str(ConvertCharset(Bytes("\xE4\xB8\xAD\xED\x95\x9C"), {.from = "UTF-8", .to = "ASCII"})),
      "??");
  EXPECT_EQ(Str(ConvertCharset(Bytes("\xD6\xD0\xFF"), {.from = "GBK", .to = "UTF-16LE"})),
            std::string("\x2D\x4E?\0", 4));
}

TEST(ConvertCharset, BadUnitsKeepWideInputAligned) {
  // UTF-16LE: 'a', a lone high surrogate, 'b'.
  ByteSet utf16 =
      Bytes(std::string("a\0\x00\xD8"
                        "b\0",
                        6));
  EXPECT_EQ(Str(ConvertCharset(utf16, {.from = "UTF-16LE", .to = "UTF-8"})), "a?b");
}

TEST(ConvertCharset, Utf8ByteOrderMarkIsNotText) {
  EXPECT_EQ(Str(ConvertCharset(Bytes("\xEF\xBB\xBF{\"a\":1}"))), "{\"a\":1}");
  // Only at the very start.
  EXPECT_EQ(Str(ConvertCharset(Bytes("x\xEF\xBB\xBF"), {.to = "UTF-8"})), "x\xEF\xBB\xBF");
}

TEST(ConvertCharset, OtherNamedCharsets) {
  EXPECT_EQ(Str(ConvertCharset(Bytes("\xD6\xD0\xCE\xC4"), {.from = "GBK", .to = "UTF-8"})),
            "\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_EQ(Str(ConvertCharset(Bytes("caf\xC3\xA9"), {.to = "ISO-8859-1"})), "caf\xE9");
  EXPECT_EQ(Str(ConvertCharset(Bytes("\xE4\xB8\xAD"), {.to = "GB2312"})), "\xD6\xD0");
}

TEST(GbkUtf16, ConvertsBothWays) {
  EXPECT_EQ(GbkToUtf16("\xD6\xD0\xCE\xC4"
                       "ab"),
            u"\u4E2D\u6587ab");
  EXPECT_EQ(Utf16ToGbk(u"\u4E2D\u6587ab"),
            "\xD6\xD0\xCE\xC4"
            "ab");
  EXPECT_EQ(GbkToUtf16(""), u"");
  EXPECT_EQ(Utf16ToGbk(u""), "");
  EXPECT_EQ(GbkToUtf16(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(GbkUtf16, UnmappableBecomesQuestionMark) {
  // A lone lead byte at the end and 0xFF have no GBK meaning.
  EXPECT_EQ(GbkToUtf16("a\x81"), u"a?");
  EXPECT_EQ(GbkToUtf16("\xFF"
                       "a"),
            u"?a");
  // A lead byte before a quote must not swallow the quote (it would break the JSON).
  EXPECT_EQ(GbkToUtf16("\"\x81\""), u"\"?\"");
  EXPECT_EQ(Utf16ToGbk(u"a\uD55Cb"), "a?b");      // Korean
  EXPECT_EQ(Utf16ToGbk(u"a\U0001F600b"), "a?b");  // one character, one '?'
  EXPECT_EQ(Utf16ToGbk(std::u16string(u"a\xD800"
                                      u"b")),
            "a?b");  // lone surrogate
  EXPECT_EQ(Utf16ToGbk(std::u16string(u"\xDC00")), "?");
}

TEST(GbkUtf8, ConvertsBothWays) {
  EXPECT_EQ(GbkToUtf8Text("\xD6\xD0"
                          "a"),
            "\xE4\xB8\xAD"
            "a");
  EXPECT_EQ(Utf8ToGbk("\xE4\xB8\xAD"
                      "a"),
            "\xD6\xD0"
            "a");
  EXPECT_EQ(Utf8ToGbk("a\xFF"
                      "b"),
            "a?b");
  EXPECT_EQ(GbkToUtf8Text("a\xFF"), "a?");
  EXPECT_EQ(Utf8ToGbk("\xF0\x9F\x98\x80"), "?");
}

TEST(GbkRoundTrip, EveryGbkCharacterSurvivesBothRoads) {
  std::string codes = AllDoubleByteCodes();
  // Keep the codes GBK maps (the others decode to '?').
  std::string mapped;
  for (std::size_t i = 0; i < codes.size(); i += 2) {
    std::string code = codes.substr(i, 2);
    if (GbkToUtf16(code) != u"?") mapped += code;
  }
  EXPECT_GT(mapped.size(), 2u * 21000);
  EXPECT_EQ(Utf16ToGbk(GbkToUtf16(mapped)), mapped);
  EXPECT_EQ(Utf8ToGbk(GbkToUtf8Text(mapped)), mapped);
  EXPECT_EQ(GbkToUtf8Text(mapped), RunIconv("GBK", "UTF-8", mapped).output);
}

TEST(GbkRoundTrip, ThreadsConvertIndependently) {
  // Each thread keeps its own converters; interleaved use must not mix their states.
  const std::string gbk =
      "\xD6\xD0\xCE\xC4"
      "abc"
      "\xB0\xA1";
  const std::u16string utf16 = GbkToUtf16(gbk);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        if (GbkToUtf16(gbk) != utf16 || Utf16ToGbk(utf16) != gbk) ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace newsbar
