#include <gtest/gtest.h>

#include <thread>

#include "json/json_document.h"
#include "json/script_control.h"
#include "json_test_text.h"

namespace newsbar {
namespace {

using testing::Gbk;

constexpr std::string_view kSample =
    R"({"data": {"list": [{"title": "first", "duration": 1234}, {"title": "second"}]},)"
    R"( "n": 12.5, "s": "text", "b": true, "z": null, "arr": [1, "two", 3]})";

class Document : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(doc_.Load(kSample)); }
  JsonDocument doc_;
};

// ---- construction, Clear, ToText, GetJson ----

TEST(DocumentLifecycle, NewAndClearedDocumentsHoldAnEmptyObject) {
  JsonDocument doc;
  EXPECT_EQ(doc.ToText(), "{}");
  EXPECT_TRUE(doc.Exists());
  EXPECT_EQ(doc.GetType(), 4);
  ASSERT_TRUE(doc.SetValue("a", "x"));
  EXPECT_EQ(doc.ToText(), R"({"a":"x"})");
  EXPECT_EQ(doc.GetJson(), doc.ToText());
  EXPECT_TRUE(doc.Clear());
  EXPECT_EQ(doc.ToText(), "{}");
}

TEST(DocumentLifecycle, CopiesShareTheEngine) {
  JsonDocument doc;
  std::unique_ptr<JsonDocument> copy = doc.Copy();
  JsonDocument second(doc);
  ASSERT_TRUE(copy->SetValue("from", "copy"));
  EXPECT_EQ(doc.GetText("from"), "copy");
  EXPECT_EQ(second.GetText("from"), "copy");
  EXPECT_EQ(doc.GetEngine(), copy->GetEngine());
  EXPECT_EQ(doc.GetEngine()->Eval("da.from").ToText(), "copy");

  // Loading gives the loader a fresh engine; the copies keep the old one.
  ASSERT_TRUE(doc.Load(R"({"fresh": 1})"));
  EXPECT_NE(doc.GetEngine(), copy->GetEngine());
  EXPECT_EQ(copy->GetText("from"), "copy");
  EXPECT_FALSE(doc.Exists("from"));
}

TEST(DocumentLifecycle, LoadReusesOnlyAnEngineThatNothingHasTouched) {
  int made = 0;
  const JsonDocument::EngineFactory counting = [&made] {
    ++made;
    return ScriptControl::Create();
  };

  // Made and loaded at once, as the catalogue worker does: one engine, not two.
  JsonDocument fresh("da", counting);
  ASSERT_TRUE(fresh.Load(R"({"a": 1})"));
  EXPECT_EQ(made, 1);
  EXPECT_EQ(fresh.GetNumber("a"), 1);
  // A second load starts over on a new engine: nothing of the first is left.
  ASSERT_TRUE(fresh.Load(R"({"b": 2})"));
  EXPECT_EQ(made, 2);
  EXPECT_FALSE(fresh.Exists("a"));

  // Something ran on the engine: the load must not see what it left behind.
  made = 0;
  JsonDocument used("da", counting);
  ASSERT_TRUE(used.SetValue("left", "behind"));
  used.GetEngine()->AddCode("var stray = 1");
  ASSERT_TRUE(used.Load(R"({"c": 3})"));
  EXPECT_EQ(made, 2);
  EXPECT_FALSE(used.Exists("left"));
  EXPECT_EQ(used.GetEngine()->Eval("typeof stray").ToText(), "undefined");

  // A copy shares the untouched engine: the load takes a new one and the copy keeps {}.
  made = 0;
  JsonDocument original("da", counting);
  JsonDocument copy(original);
  ASSERT_TRUE(original.Load(R"({"d": 4})"));
  EXPECT_EQ(made, 2);
  EXPECT_EQ(copy.ToText(), "{}");

  // Nor may a copy that has gone leave its doings behind: what ran through it stays out
  // of the original's next load.
  JsonDocument first("da");
  {
    JsonDocument through(first);
    through.GetEngine()->AddCode("Object.prototype.stray = 1");
  }
  ASSERT_TRUE(first.Load(R"({"k": 1})"));
  std::vector<Text> names;
  first.GetMemberNames(names);
  EXPECT_EQ(names, std::vector<Text>{"k"});
  // A refused text leaves a null root on the engine it was given, also a reused one.
  made = 0;
  JsonDocument refused("da", counting);
  EXPECT_FALSE(refused.Load("{oops"));
  EXPECT_EQ(made, 1);
  EXPECT_FALSE(refused.Exists());
  ASSERT_TRUE(refused.Load("[1]"));
  EXPECT_EQ(made, 2);
}

TEST(DocumentLifecycle, WithoutAnEngineEverythingIsEmpty) {
  int made = 0;
  JsonDocument doc("da", [&made] {
    ++made;
    return std::shared_ptr<ScriptControl>();
  });
  EXPECT_FALSE(doc.GetEngine());
  ScriptError error;
  error.Description = "untouched";
  EXPECT_FALSE(doc.Load(R"({"a": 1})", false, &error));
  EXPECT_EQ(error.Description, "untouched");
  EXPECT_EQ(made, 1);  // a failed creation is not tried again by Load
  EXPECT_FALSE(doc.Clear());
  EXPECT_EQ(doc.ToText(), "");
  EXPECT_FALSE(doc.Exists());
  EXPECT_EQ(doc.GetType("a"), -1);
  EXPECT_EQ(doc.GetCount("a"), 0);
  EXPECT_FALSE(doc.SetValue("a", "x"));
  EXPECT_FALSE(doc.ArrayAdd("x", "a"));
  EXPECT_EQ(doc.GetNumber("a"), 0);
  std::vector<Text> names{"stale"};
  EXPECT_EQ(doc.GetMemberNames(names), 0);
  EXPECT_TRUE(names.empty());
  EXPECT_FALSE(doc.GetObject("a").Exists());
}

TEST(DocumentLifecycle, WorksOnAWorkerThread) {
  Text title;
  int count = -1;
  std::thread worker([&] {
    JsonDocument doc;
    doc.Load(R"({"data": {"list": [{"title": "on the worker"}]}})");
    count = doc.GetCount("data.list");
    title = doc.GetText("data.list[0].title");
  });
  worker.join();
  EXPECT_EQ(count, 1);
  EXPECT_EQ(title, "on the worker");
}

// ---- Load ----

TEST(DocumentLoad, RejectsTextThatIsNotJson) {
  JsonDocument doc;
  for (std::string_view bad :
       {"", "{", "{'a': 1}", "[1, 2,]", "{\"a\": 1} x", "undefined", "NaN", "{a: 1}", "[0x10]"}) {
    SCOPED_TRACE(bad);
    ScriptError error;
    EXPECT_FALSE(doc.Load(bad, false, &error));
    EXPECT_EQ(error.Number, kScriptSyntaxError);
    EXPECT_FALSE(error.Description.empty());
    EXPECT_FALSE(doc.Exists());
    EXPECT_EQ(doc.ToText(), "null");
    EXPECT_EQ(doc.GetCount("data.list"), 0);
  }
}

TEST(DocumentLoad, RefusalRecordPointsAtTheFault) {
  JsonDocument doc;
  ScriptError error;
  // The engine's own parser would take "2." as a number.
  EXPECT_FALSE(doc.Load("{\r\n  \"a\": [1,\r\n  2.],\r\n  \"b\": 0}", false, &error));
  EXPECT_EQ(error.Number, kScriptSyntaxError);
  EXPECT_EQ(error.Source, "SyntaxError");
  EXPECT_EQ(error.Line, 3);
  EXPECT_EQ(error.Column, 5);
  EXPECT_EQ(error.Text, "  2.],");

  // Nesting far beyond any catalogue: refused cleanly, whether well formed or not.
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_FALSE(doc.Load(deep, false, &error));
  EXPECT_EQ(error.Number, kScriptSyntaxError);
  EXPECT_FALSE(doc.Load(deep.substr(0, 150000), false, &error));
  EXPECT_EQ(error.Number, kScriptSyntaxError);
  EXPECT_TRUE(doc.Load(std::string(200, '[') + std::string(200, ']')));
}

TEST(DocumentLoad, AcceptsEveryKindOfJsonRoot) {
  JsonDocument doc;
  ScriptError error;
  EXPECT_TRUE(doc.Load(" [1, 2] ", false, &error));
  EXPECT_EQ(error.Number, 0);
  EXPECT_EQ(doc.GetCount(), 2);
  EXPECT_TRUE(doc.Load("\"just text\"", true));
  EXPECT_EQ(doc.GetText(), "just text");
  EXPECT_TRUE(doc.Load("0"));  // the root holds a value, even a false one
  EXPECT_EQ(doc.GetType(), 2);
  // null parses, but a null root is what a failed load leaves: false, with no error.
  EXPECT_FALSE(doc.Load("null", false, &error));
  EXPECT_EQ(error.Number, 0);
}

TEST(DocumentLoad, NeverRunsTheTextAsCode) {
  // Each would have a side effect if it were evaluated.
  const std::string_view attacks[] = {
      "(function () { this.sideEffect = 1; return {} })()",
      R"({"a": (function () { this.sideEffect = 1; return 1 })()})",
      "1); this.sideEffect = 1; (1",
      "{\"a\": 1}; this.sideEffect = 1",
      "this.sideEffect = 1",
  };
  for (bool plain : {false, true}) {
    for (std::string_view attack : attacks) {
      SCOPED_TRACE(attack);
      JsonDocument doc;
      EXPECT_FALSE(doc.Load(attack, plain));
      EXPECT_FALSE(doc.Exists());
      EXPECT_EQ(doc.GetEngine()->Eval("typeof sideEffect").ToText(), "undefined");
    }
  }
}

TEST(DocumentLoad, AQuotedStringHoldingCodeIsJustAString) {
  const Text code = "(function () { this.sideEffect = 1; return 'ran' })()";
  for (bool plain : {false, true}) {
    JsonDocument doc;
    EXPECT_TRUE(doc.Load(R"(")" + code + R"(")", plain));
    EXPECT_EQ(doc.GetType(), 6);
    EXPECT_EQ(doc.GetText(), code);
    EXPECT_EQ(doc.GetEngine()->Eval("typeof sideEffect").ToText(), "undefined");
  }
}

TEST(DocumentLoad, ChineseTextAndTheBackslashSubstituteComeBack) {
  JsonDocument doc;
  ASSERT_TRUE(doc.Load(Gbk(R"({"t": "早报：晴", "sub": "a\u2400b", "list": ["x\u2400"]})")));
  EXPECT_EQ(doc.GetText("t"), Gbk("早报：晴"));
  EXPECT_EQ(doc.GetText("sub"), "a\\b");
  EXPECT_EQ(doc.GetJson("sub"), "\"a\\b\"");
  EXPECT_EQ(doc.GetItemText(0, "list"), "x\\");
  EXPECT_EQ(doc.ToText(), Gbk(R"({"t":"早报：晴","sub":"a\b","list":["x\"]})"));
}

// ---- ResolvePath, Exists ----

TEST_F(Document, ResolvePathPrefixesTheRootOnlyWhenNeeded) {
  Text path = "data.list";  // begins with "da", is tried as a global first, then prefixed
  EXPECT_TRUE(doc_.ResolvePath(path));
  EXPECT_EQ(path, "da.data.list");
  EXPECT_TRUE(doc_.ResolvePath(path));  // absolute and holding a value: unchanged
  EXPECT_EQ(path, "da.data.list");

  path = "";
  EXPECT_TRUE(doc_.ResolvePath(path));
  EXPECT_EQ(path, "da");
  path = "['arr'][1]";
  EXPECT_TRUE(doc_.ResolvePath(path));
  EXPECT_EQ(path, "da['arr'][1]");
  path = "z";
  EXPECT_FALSE(doc_.ResolvePath(path));  // null counts as no value
  EXPECT_EQ(path, "da.z");

  // An absolute path to a member not there yet is prefixed once more and addresses nothing.
  path = "da.fresh";
  EXPECT_FALSE(doc_.ResolvePath(path));
  EXPECT_EQ(path, "da.da.fresh");
  EXPECT_FALSE(doc_.SetValue("da.fresh", "x"));
  EXPECT_FALSE(doc_.Exists("fresh"));
  EXPECT_TRUE(doc_.SetValue("fresh", "x"));
  EXPECT_EQ(doc_.GetText("da.fresh"), "x");
}

TEST_F(Document, ExistsLeavesTheCallersPathAlone) {
  EXPECT_TRUE(doc_.Exists("data.list[1].title"));
  EXPECT_TRUE(doc_.Exists("da.data"));
  EXPECT_FALSE(doc_.Exists("data.list[2].title"));
  EXPECT_FALSE(doc_.Exists("missing.below"));
  EXPECT_FALSE(doc_.Exists("z"));
}

// ---- GetType ----

TEST_F(Document, GetTypeCodes) {
  EXPECT_EQ(doc_.GetType("s"), 6);
  EXPECT_EQ(doc_.GetType("arr"), 5);
  EXPECT_EQ(doc_.GetType("data"), 4);
  EXPECT_EQ(doc_.GetType(), 4);
  EXPECT_EQ(doc_.GetType("n"), 2);
  EXPECT_EQ(doc_.GetType("b"), 1);
  EXPECT_EQ(doc_.GetType("z"), 0);
  EXPECT_EQ(doc_.GetType("missing"), 0);
  EXPECT_EQ(doc_.GetType("missing.below"), -1);  // the evaluation itself fails
  ASSERT_TRUE(doc_.SetExpression("f", "(function () { return function () {} })()"));
  EXPECT_EQ(doc_.GetType("f"), -1);
}

// ---- GetText, GetItemText, GetJson ----

TEST_F(Document, GetTextReadsNumbersButGetItemTextDoesNot) {
  EXPECT_EQ(doc_.GetText("n"), "12.5");
  EXPECT_EQ(doc_.GetText("data.list[0].duration"), "1234");
  EXPECT_EQ(doc_.GetText("b"), "true");
  EXPECT_EQ(doc_.GetText("arr"), "1,two,3");
  EXPECT_EQ(doc_.GetText(), "[object Object]");
  EXPECT_EQ(doc_.GetText("missing"), "");
  EXPECT_EQ(doc_.GetText("z"), "");
  EXPECT_EQ(doc_.GetText("s", true), "\"text\"");
  EXPECT_EQ(doc_.GetText("arr", true), R"([1,"two",3])");

  EXPECT_EQ(doc_.GetItemText(1, "arr"), "two");
  EXPECT_EQ(doc_.GetItemText(0, "arr"), "");  // a number item is not made text first
  EXPECT_EQ(doc_.GetItemText(0, "arr", true), "1");
  EXPECT_EQ(doc_.GetItemText(1, "data.list", true), R"({"title":"second"})");
  EXPECT_EQ(doc_.GetItemText(5, "arr"), "");
  EXPECT_EQ(doc_.GetJson("data.list[1]"), R"({"title":"second"})");
  EXPECT_EQ(doc_.GetJson("missing"), "");
}

// ---- SetValue ----

TEST(DocumentSetValue, TextModeStoresTheTextExactly) {
  JsonDocument doc;
  // Quotes, a backslash, CR LF, and a GBK character whose second byte is '\' (0x5C).
  const Text trail = "\xD8\x5C";
  ASSERT_EQ(GbkToUtf16(trail).size(), 1u);
  const Text value = "it's \"q\" C:\\dir\r\n" + Gbk("中文") + trail + "'";
  ASSERT_TRUE(doc.SetValue("v", value));
  EXPECT_EQ(doc.GetText("v"), value);
  EXPECT_EQ(doc.GetEngine()->Eval("da.v.length").ToNumber(), 21);
  // As JSON the backslash stands bare, the rest is escaped by the engine.
  EXPECT_EQ(doc.GetText("v", true), "\"it's \\\"q\\\" C:\\dir\\r\\n" + Gbk("中文") + trail + "'\"");
  EXPECT_EQ(doc.GetJson(), R"({"v":)" + doc.GetText("v", true) + "}");

  EXPECT_FALSE(doc.SetValue("a.b", "no parent"));  // the parent is missing
  EXPECT_FALSE(doc.Exists("a"));
  EXPECT_FALSE(doc.SetValue("empty", ""));  // stored, but the stored value reads false
  EXPECT_EQ(doc.GetType("empty"), 6);
}

TEST(DocumentSetValue, JsonModeMergesIntoObjectsAndReplacesTheRest) {
  JsonDocument doc;
  ASSERT_TRUE(doc.Load(R"({"o": {"x": 1, "in": {"p": 1}, "n": null}, "s": "str", "a": [1]})"));
  EXPECT_TRUE(doc.SetValue("o", R"({"y": 2, "in": {"q": 2}, "x": 3, "n": {"k": 1}})", true));
  EXPECT_EQ(doc.GetJson("o"), R"({"x":3,"in":{"p":1,"q":2},"n":{"k":1},"y":2})");
  EXPECT_TRUE(doc.SetValue("s", R"({"now": "object"})", true));  // not an object: replaced
  EXPECT_EQ(doc.GetJson("s"), R"({"now":"object"})");
  EXPECT_TRUE(doc.SetValue("a", "[2]", true));  // an array is replaced too
  EXPECT_EQ(doc.GetJson("a"), "[2]");
  EXPECT_TRUE(doc.SetValue("fresh", "[1, 2]", true));
  EXPECT_EQ(doc.GetCount("fresh"), 2);
  EXPECT_TRUE(doc.SetValue("o", "", true));  // merging nothing
  EXPECT_EQ(doc.GetJson("o"), R"({"x":3,"in":{"p":1,"q":2},"n":{"k":1},"y":2})");
  EXPECT_FALSE(doc.SetValue("gone", "", true));  // replace with eval(): undefined
  EXPECT_FALSE(doc.Exists("gone"));
  EXPECT_FALSE(doc.SetValue("o", "{broken", true));
  EXPECT_EQ(doc.GetJson("o"), R"({"x":3,"in":{"p":1,"q":2},"n":{"k":1},"y":2})");
}

// ---- SetExpression ----

TEST(DocumentSetExpression, StoresTheValueOfAnExpression) {
  JsonDocument doc;
  EXPECT_TRUE(doc.SetExpression("sum", "'1 + 2'"));
  EXPECT_EQ(doc.GetNumber("sum"), 3);
  EXPECT_FALSE(doc.SetExpression("zero", "'0'"));  // stored, but reads false
  EXPECT_EQ(doc.GetType("zero"), 2);
  EXPECT_FALSE(doc.SetExpression("bad", "'1 +'"));
  EXPECT_FALSE(doc.Exists("bad"));
}

TEST(DocumentSetExpression, RunawayValueIsStoppedWithinTheBound) {
  // The engine's limit shortened (ScriptControl's own test waits the shipped one).
  constexpr std::chrono::milliseconds kLimit{300};
  JsonDocument doc("da", [] { return ScriptControl::Create(kLimit); });
  EXPECT_FALSE(doc.SetExpression("x", "while(1){}"));  // not an expression at all
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(doc.SetExpression("x", "'while(1){}'"));  // eval runs the loop
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, kLimit);
  EXPECT_LT(elapsed, kLimit + std::chrono::seconds(2));
  EXPECT_FALSE(doc.Exists("x"));
  EXPECT_TRUE(doc.SetValue("after", "still works"));
  EXPECT_EQ(doc.GetText("after"), "still works");
}

// ---- GetMemberNames, GetCount ----

TEST_F(Document, MemberNamesOfObjectsOnly) {
  std::vector<Text> names{"stale", "entries"};
  EXPECT_EQ(doc_.GetMemberNames(names), 6);
  EXPECT_EQ(names, (std::vector<Text>{"data", "n", "s", "b", "z", "arr"}));
  EXPECT_EQ(doc_.GetMemberNames(names, "data.list[1]"), 1);
  EXPECT_EQ(names, std::vector<Text>{"title"});
  EXPECT_EQ(doc_.GetMemberNames(names, "arr"), 0);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(doc_.GetMemberNames(names, "s"), 0);
  EXPECT_EQ(doc_.GetMemberNames(names, "missing"), 0);
  ASSERT_TRUE(doc_.Load(Gbk(R"({"标题": 1, "": 2})")));
  EXPECT_EQ(doc_.GetMemberNames(names), 1);  // an empty last name is not returned
  EXPECT_EQ(names, std::vector<Text>{Gbk("标题")});
}

TEST_F(Document, CountOfArraysOnly) {
  EXPECT_EQ(doc_.GetCount("data.list"), 2);
  EXPECT_EQ(doc_.GetCount("da.data.list"), 2);
  EXPECT_EQ(doc_.GetCount("arr"), 3);
  EXPECT_EQ(doc_.GetCount("data"), 0);
  EXPECT_EQ(doc_.GetCount("s"), 0);
  EXPECT_EQ(doc_.GetCount("missing"), 0);
  EXPECT_EQ(doc_.GetCount("missing.below"), 0);
}

// ---- GetObject, GetItemObject ----

TEST_F(Document, ExtractedDocumentsAreIndependent) {
  JsonDocument first = doc_.GetItemObject(0, "data.list");
  EXPECT_EQ(first.ToText(), R"({"title":"first","duration":1234})");
  ASSERT_TRUE(first.SetValue("title", "changed"));
  EXPECT_EQ(doc_.GetText("data.list[0].title"), "first");
  EXPECT_NE(first.GetEngine(), doc_.GetEngine());

  JsonDocument data = doc_.GetObject("data");
  EXPECT_EQ(data.GetCount("list"), 2);
  ASSERT_TRUE(doc_.SetValue("data.list[1].title", "source changed"));
  EXPECT_EQ(data.GetText("list[1].title"), "second");

  JsonDocument missing = doc_.GetObject("missing");
  EXPECT_FALSE(missing.Exists());
  EXPECT_FALSE(doc_.GetItemObject(9, "data.list").Exists());
  EXPECT_EQ(doc_.GetObject("s").GetText(), "text");
}

TEST(DocumentGetObject, StoredBackslashesSurviveExtraction) {
  JsonDocument doc;
  ASSERT_TRUE(doc.SetValue("p", "C:\\new\\quiet"));
  ASSERT_TRUE(doc.SetValue("q", "a\\qb"));
  JsonDocument copy = doc.GetObject();
  EXPECT_EQ(copy.GetText("p"), "C:\\new\\quiet");
  EXPECT_EQ(copy.GetText("q"), "a\\qb");
  ASSERT_TRUE(doc.ArrayAdd("x\\y", "list"));  // not converted: the engine reads \y as an escape
  EXPECT_EQ(doc.GetItemText(0, "list"), "xy");
  ASSERT_TRUE(doc.SetValue("list[1]", "x\\y"));
  EXPECT_EQ(doc.GetItemObject(1, "list").GetText(), "x\\y");
}

// ---- ArrayAdd, SetItem, RemoveItem, Delete ----

TEST_F(Document, ArrayAddAppendsOrPrependsAndMakesArrays) {
  EXPECT_TRUE(doc_.ArrayAdd("end", "arr"));
  EXPECT_TRUE(doc_.ArrayAdd(R"({"k": 0})", "arr", true, true));
  EXPECT_EQ(doc_.GetJson("arr"), R"([{"k":0},1,"two",3,"end"])");
  EXPECT_TRUE(doc_.ArrayAdd("x", "s"));  // a string is replaced by a one-element array
  EXPECT_EQ(doc_.GetJson("s"), R"(["x"])");
  EXPECT_TRUE(doc_.ArrayAdd(Gbk("新"), "fresh"));
  EXPECT_EQ(doc_.GetItemText(0, "fresh"), Gbk("新"));

  // The text is quoted without escaping: a quote in it fails and changes nothing.
  EXPECT_FALSE(doc_.ArrayAdd("it's", "arr"));
  EXPECT_FALSE(doc_.ArrayAdd("it's", "s2"));
  EXPECT_EQ(doc_.GetCount("arr"), 5);
  EXPECT_FALSE(doc_.Exists("s2"));
}

TEST_F(Document, SetItemRemoveItemAndDelete) {
  EXPECT_TRUE(doc_.SetItem(1, "arr", "zwei"));
  EXPECT_TRUE(doc_.SetItem(3, "arr", R"({"at": 3})", true));
  EXPECT_EQ(doc_.GetJson("arr"), R"([1,"zwei",3,{"at":3}])");
  EXPECT_FALSE(doc_.SetItem(0, "arr", "it's"));
  EXPECT_EQ(doc_.GetJson("arr"), R"([1,"zwei",3,{"at":3}])");

  EXPECT_TRUE(doc_.RemoveItem(0, "arr"));
  EXPECT_EQ(doc_.GetJson("arr"), R"(["zwei",3,{"at":3}])");
  EXPECT_FALSE(doc_.RemoveItem(0, "s"));  // a string has no splice

  EXPECT_TRUE(doc_.Delete("data.list[0].duration"));
  EXPECT_EQ(doc_.GetJson("data.list[0]"), R"({"title":"first"})");
  EXPECT_FALSE(doc_.Delete("missing.below"));
}

// ---- SetNumber, GetNumber ----

TEST_F(Document, NumbersAreWrittenWithThirteenSignificantDigits) {
  EXPECT_TRUE(doc_.SetNumber("x", 0.1 + 0.2));
  EXPECT_EQ(doc_.GetNumber("x"), 0.3);
  EXPECT_TRUE(doc_.SetNumber("big", 123456789012345.0));
  EXPECT_EQ(doc_.GetText("big"), "123456789012300");
  EXPECT_TRUE(doc_.SetNumber("neg", -2.5e-7));
  EXPECT_EQ(doc_.GetNumber("neg"), -2.5e-7);
  EXPECT_FALSE(doc_.SetNumber("zero", 0));  // stored, but reads false
  EXPECT_EQ(doc_.GetType("zero"), 2);
  EXPECT_FALSE(doc_.SetNumber("nan", std::nan("")));
  EXPECT_FALSE(doc_.Exists("nan"));

  EXPECT_EQ(doc_.GetNumber("n"), 12.5);
  EXPECT_EQ(doc_.GetNumber("b"), 1);
  EXPECT_EQ(doc_.GetNumber("s"), 0);
  EXPECT_EQ(doc_.GetNumber("missing"), 0);
  ASSERT_TRUE(doc_.SetValue("numeric", "42"));
  EXPECT_EQ(doc_.GetNumber("numeric"), 42);
}

// ---- GetLeafValues ----

TEST(DocumentLeafValues, CollectsScalarsAndDropsAnEmptyLastOne) {
  JsonDocument doc;
  ASSERT_TRUE(doc.Load(Gbk(R"({"s": "一", "o": {"t": "two", "u": [3]}, "n": 4, "b": false})")));
  std::vector<Text> values{"stale"};
  EXPECT_EQ(doc.GetLeafValues(values), 3);
  EXPECT_EQ(values, (std::vector<Text>{Gbk("一"), "4", "false"}));
  EXPECT_EQ(doc.GetLeafValues(values, "", true), 5);
  EXPECT_EQ(values, (std::vector<Text>{Gbk("一"), "two", "3", "4", "false"}));
  EXPECT_EQ(doc.GetLeafValues(values, "o.u"), 1);

  ASSERT_TRUE(doc.Load(R"({"a": "", "b": "x", "c": ""})"));
  EXPECT_EQ(doc.GetLeafValues(values), 2);
  EXPECT_EQ(values, (std::vector<Text>{"", "x"}));
  EXPECT_EQ(doc.GetLeafValues(values, "missing"), 0);

  ASSERT_TRUE(doc.SetValue("path", "C:\\x"));
  EXPECT_EQ(doc.GetLeafValues(values), 4);
  EXPECT_EQ(values.back(), "C:\\x");
}

// ---- the fallback JSON behind a whole document ----

TEST(DocumentOnFallbackJson, LoadsReadsAndExtracts) {
  JsonDocument doc("da", testing::EngineWithoutJson);
  // The engine's own stringify ignores a number as replacer; the fallback refuses it.
  ASSERT_TRUE(doc.GetEngine()->Eval("JSON.stringify({}, 5)").IsEmpty());
  ASSERT_EQ(doc.GetEngine()->Error().Description, "JSON.stringify");
  EXPECT_EQ(doc.ToText(), "{}");
  ASSERT_TRUE(doc.Load(Gbk(R"({"data": {"list": [{"title": "七月", "d": 5}]}, "u": "\u00ad"})")));
  EXPECT_EQ(doc.GetCount("data.list"), 1);
  EXPECT_EQ(doc.GetText("data.list[0].title"), Gbk("七月"));
  EXPECT_EQ(doc.GetJson("u"), "\"\\u00ad\"");
  ASSERT_TRUE(doc.SetValue("p", "a\\b"));
  JsonDocument item = doc.GetItemObject(0, "data.list");
  EXPECT_EQ(item.ToText(), Gbk(R"({"title":"七月","d":5})"));
  EXPECT_EQ(doc.GetObject().GetText("p"), "a\\b");
  EXPECT_FALSE(doc.Load("(function () { this.sideEffect = 1; return {} })()"));
  EXPECT_EQ(doc.GetEngine()->Eval("typeof sideEffect").ToText(), "undefined");
}

}  // namespace
}  // namespace newsbar
