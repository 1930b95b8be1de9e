// Hostile catalogue contents, served as the morning programme's reply (the evening
// page empty) and loaded by the real worker into the real window: script in place of
// JSON, absurd nesting and sizes, titles with control characters, characters GBK has
// no place for, markers where they do not belong, absurd durations. Each has one
// defined outcome, checked row by row (or the failure shown when nothing is listed);
// none may crash, hang or run what it carries.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "hardening_harness.h"

namespace newsbar::test {
namespace {

// A listed row as expected: title, and the duration text of columns 3 and 4.
struct Expected {
  std::string title;
  std::string duration;
};

struct HostileCase {
  const char* name;
  // The morning reply's bytes (UTF-8, as a server sends them).
  std::function<std::string(const CatalogueFixture&)> reply;
  std::vector<Expected> rows;  // empty: the failure is shown
  // Instead of `rows`, when the outcome is only counted.
  int rowCount = -1;
};

void PrintTo(const HostileCase& hostile, std::ostream* out) {
  *out << hostile.name;
}

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// An episode object whose URLs point at the fixture's media, so playing it works.
std::string Episode(const CatalogueFixture& fixture, const std::string& titleJson,
                    const std::string& durationJson = "600") {
  return "{\"title\":" + titleJson +
         ",\"audiolist\":[{\"filePath\":" + Json(fixture.MediaUrl("morning-0.wav")) +
         "}],\"img194_194\":" + Json(fixture.MediaUrl("morning.png")) +
         ",\"duration\":" + durationJson + "}";
}

std::string Page(const std::vector<std::string>& episodes, const std::string& extra = {}) {
  std::string list;
  for (const std::string& episode : episodes) list += (list.empty() ? "" : ",") + episode;
  return "{\"code\":0,\"data\":{\"list\":[" + list + "]" + extra + "}}";
}

const std::string kTitle = "7月20日小涟早报：城东新桥今日通车";

// A reply that, if it ran as script, would list an episode titled "ran".
std::string Ran(const CatalogueFixture& fixture) {
  return Page({Episode(fixture, Json("7月20日小涟早报：ran"))});
}

std::string Repeat(const std::string& piece, int count) {
  std::string out;
  out.reserve(piece.size() * static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) out += piece;
  return out;
}

// One good episode and a padding member that makes the reply `bytes` long.
std::string Padded(const CatalogueFixture& fixture, std::size_t bytes) {
  const std::string head = "{\"pad\":\"";
  const std::string tail = "\",\"data\":{\"list\":[" + Episode(fixture, Json(kTitle)) + "]}}";
  return head + std::string(bytes - head.size() - tail.size(), 'x') + tail;
}

const HostileCase kCases[] = {
    // Script in place of JSON: nothing of it may run, so "ran" is never listed.
    {"ScriptCall",
     [](const CatalogueFixture& f) { return "(function(){ return " + Ran(f) + "; })()"; },
     {}},
    {"ScriptAssignment", [](const CatalogueFixture& f) { return "da = " + Ran(f); }, {}},
    {"ScriptEndlessLoop", [](const CatalogueFixture&) { return std::string("while(1){}"); }, {}},
    {"ScriptInsideList",
     [](const CatalogueFixture& f) {
       return Page({Episode(f, Json(kTitle)), "(function(){ return 1; })()"});
     },
     {}},
    // A string that holds code is JSON: it loads as a string, lists nothing, runs nothing.
    {"QuotedScript",
     [](const CatalogueFixture& f) { return Json("(function(){ return " + Ran(f) + "; })()"); },
     {}},
    {"DeepArrays",
     [](const CatalogueFixture&) { return Repeat("[", 10000) + Repeat("]", 10000); },
     {}},
    // The engine's JSON parser refuses nesting past about a thousand levels, so a reply
    // with such a member is refused whole, good episodes and all.
    {"DeepObjectsBesideTheList",
     [](const CatalogueFixture& f) {
       return Page({Episode(f, Json(kTitle))},
                   ",\"deep\":" + Repeat("{\"a\":", 10000) + "1" + Repeat("}", 10000));
     },
     {}},
    {"ModestNestingBesideTheList",
     [](const CatalogueFixture& f) {
       return Page({Episode(f, Json(kTitle))},
                   ",\"deep\":" + Repeat("{\"a\":[", 200) + "1" + Repeat("]}", 200));
     },
     {{kTitle, "10分00秒"}}},
    {"TenThousandEpisodes",
     [](const CatalogueFixture& f) {
       std::vector<std::string> episodes;
       for (int i = 0; i < 10000; ++i) {
         episodes.push_back(Episode(f, Json("7月19日小涟早报：第" + std::to_string(i) + "条")));
       }
       return Page(episodes);
     },
     {},
     10000},
    // Past the transport's 64 MiB cap the reply is dropped as a failed one; below it a
    // big reply is read like any other.
    {"HundredMegabytes", [](const CatalogueFixture& f) { return Padded(f, 100u << 20); }, {}},
    {"TwentyMegabytes",
     [](const CatalogueFixture& f) { return Padded(f, 20u << 20); },
     {{kTitle, "10分00秒"}}},
    {"ControlCharactersInTitle",
     [](const CatalogueFixture& f) {
       return Page(
           {Episode(f, "\"7月20日小涟早报：\\u0001铃\\u0007\\t响\\r\\n\\u001b[31m红\\u007f\"")});
     },
     {{"7月20日小涟早报：\x01铃\x07\t响\r\n\x1b[31m红\x7f", "10分00秒"}}},
    // Characters GBK has no place for arrive as '?'.
    {"CharactersOutsideGbk",
     [](const CatalogueFixture& f) {
       return Page({Episode(f, Json("7月20日小涟早报：😀 한국 ẞ"))});
     },
     {{"7月20日小涟早报：? ?? ?", "10分00秒"}}},
    {"InvalidUtf8",
     [](const CatalogueFixture& f) {
       return Page({Episode(f, Json("7月20日小涟早报：\xFF\xFE坏字节"))});
     },
     {{"7月20日小涟早报：??坏字节", "10分00秒"}}},
    // The date is read in front of the first marker only.
    {"MarkersInHeadlines",
     [](const CatalogueFixture& f) {
       return Page({Episode(f, Json("7月20日小涟早报：回顾小涟早报：十年")),
                    Episode(f, Json("小涟早报：7月25日小涟早报：标记在前")),
                    Episode(f, Json("7月25日小涟早报：未到期")),
                    Episode(f, Json("7月19日小涟晚报：别家标记"))});
     },
     {{"7月20日小涟早报：回顾小涟早报：十年", "10分00秒"},
      {"小涟早报：7月25日小涟早报：标记在前", "10分00秒"},
      {"7月19日小涟晚报：别家标记", "10分00秒"}}},
    // Durations are read as text up to the first non-digit and shown as m分s秒.
    {"AbsurdDurations",
     [](const CatalogueFixture& f) {
       const std::vector<std::string> durations = {
           "-5",   "1e30", "\"abc\"", "99999999999", "\"1234.9\"", "\"１２３\"",
           "null", "true", "{}",      "[]",          "\"  42\"",   "-1e30"};
       std::vector<std::string> episodes;
       for (std::size_t i = 0; i < durations.size(); ++i) {
         episodes.push_back(
             Episode(f, Json("7月19日小涟早报：时长" + std::to_string(i)), durations[i]));
       }
       return Page(episodes);
     },
     {{"7月19日小涟早报：时长0", "00分-5秒"},
      {"7月19日小涟早报：时长1", "00分01秒"},
      {"7月19日小涟早报：时长2", "00分00秒"},
      {"7月19日小涟早报：时长3", "14分07秒"},
      {"7月19日小涟早报：时长4", "20分34秒"},
      {"7月19日小涟早报：时长5", "02分03秒"},
      {"7月19日小涟早报：时长6", "00分00秒"},
      {"7月19日小涟早报：时长7", "00分00秒"},
      {"7月19日小涟早报：时长8", "00分00秒"},
      {"7月19日小涟早报：时长9", "00分00秒"},
      {"7月19日小涟早报：时长10", "00分42秒"},
      {"7月19日小涟早报：时长11", "00分-1秒"}}},
    {"DuplicateKeys",
     [](const CatalogueFixture& f) {
       return "{\"data\":{\"list\":[" + Episode(f, Json(kTitle)) + "]},\"data\":5}";
     },
     {}},
    {"ByteOrderMark",
     [](const CatalogueFixture& f) { return "\xEF\xBB\xBF" + Page({Episode(f, Json(kTitle))}); },
     {{kTitle, "10分00秒"}}},
    {"ZeroByteInside",
     [](const CatalogueFixture& f) {
       std::string page = Page({Episode(f, Json(kTitle))});
       page.insert(page.size() / 2, 1, '\0');
       return page;
     },
     {}},
    {"VeryLongTitle",
     [](const CatalogueFixture& f) {
       return Page({Episode(f, Json("7月20日小涟早报：" + Repeat("长", 300000)))});
     },
     {{"7月20日小涟早报：" + Repeat("长", 300000), "10分00秒"}}},
};

class HostileCatalogue : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileCatalogue, DefinedOutcome) {
  const HostileCase& hostile = GetParam();
  CatalogueFixture fixture;
  fixture.SetRawReply(FixtureProgramme::kMorning, hostile.reply(fixture));
  fixture.SetFailure(FixtureProgramme::kEvening, FixtureFailure::kEmptyList);
  fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");

  // The player's own limits: a large page takes its time to arrive and to read.
  WindowRun run(fixture.Endpoints(), kShippedLimits);
  run.Start();
  ASSERT_TRUE(run.WaitForVerdict(120s)) << run.StatusText();
  EXPECT_LE(run.FreezeBeforeVerdict(), 3s);

  const auto rows = run.Rows();
  if (hostile.rowCount >= 0) {
    EXPECT_EQ(static_cast<int>(rows.size()), hostile.rowCount);
    EXPECT_TRUE(run.ShowsPlaying());
    return;
  }
  if (hostile.rows.empty()) {
    EXPECT_TRUE(run.ShowsFailure()) << run.StatusText();
    EXPECT_TRUE(rows.empty());
    return;
  }
  EXPECT_TRUE(run.ShowsPlaying()) << run.StatusText();
  ASSERT_EQ(rows.size(), hostile.rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][0], hostile.rows[i].title) << "row " << i;
    EXPECT_EQ(rows[i][4], hostile.rows[i].duration) << "row " << i;
    if (i > 0) {
      EXPECT_EQ(rows[i][3], hostile.rows[i].duration) << "row " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Replies, HostileCatalogue, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<HostileCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace newsbar::test
