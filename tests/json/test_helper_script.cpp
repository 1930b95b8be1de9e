#include <gtest/gtest.h>

#include "json/helper_script.h"
#include "json/script_control.h"
#include "json_test_text.h"

namespace newsbar {
namespace {

using testing::Gbk;

class HelperScript_ : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = ScriptControl::Create();
    ASSERT_TRUE(engine_);
    ASSERT_TRUE(engine_->Language("JavaScript"));
    ASSERT_TRUE(engine_->AddCode(HelperScript()));
  }
  Text Text_(std::string_view expression) { return engine_->Eval(expression).ToText(); }

  std::shared_ptr<ScriptControl> engine_;
};

TEST_F(HelperScript_, CountIsTheLengthOfArraysOnly) {
  EXPECT_EQ(Text_("get__count([1, [2, 3], {}])"), "3");
  EXPECT_EQ(Text_("get__count([])"), "0");
  EXPECT_EQ(Text_("get__count({length: 4})"), "0");
  EXPECT_EQ(Text_("get__count('abcd')"), "0");
  EXPECT_EQ(Text_("get__count(null)"), "0");
  EXPECT_EQ(Text_("get__count(undefined)"), "0");
}

TEST_F(HelperScript_, NameListSkipsFunctionsAndTheAddedPrototypeMethods) {
  // The helper's methods on Object.prototype are enumerable: every for-in meets them.
  EXPECT_EQ(Text_("var seen = []; for (var k in {}) seen.push(k); seen.join()"),
            "toJSONString,parseJSON");
  EXPECT_EQ(Text_("get__name_All({a: 1, b: {c: 2}, f: function () {}})"), "a\r\nb");
  EXPECT_EQ(Text_("get__name_All({})"), "");
  EXPECT_EQ(Text_("get__name_All([1, 2])"), "");
  EXPECT_EQ(Text_("get__name_All('ab')"), "");
  EXPECT_EQ(Text_("get__name_All(null)"), "");
}

TEST_F(HelperScript_, NodeValuesCollectScalarsDepthFirst) {
  ASSERT_TRUE(engine_->AddCode(
      "var str_all = [];"
      "var sample = {s: 'one', o: {t: 'two', a: [3, false]}, n: 4, b: true, z: null,"
      "              f: function () {}, d: new Date(0)};"));
  EXPECT_EQ(Text_("get__nodeValue(sample, false).join('|')"), "one|4|true");
  EXPECT_EQ(Text_("str_all = []; get__nodeValue(sample, true).join('|')"),
            "one|two|3|false|4|true");
  // Appends to whatever str_all holds.
  EXPECT_EQ(Text_("str_all = ['x']; get__nodeValue({v: 1}, true).join('|')"), "x|1");
}

TEST_F(HelperScript_, ExtendMergesIntoTheTarget) {
  ASSERT_TRUE(engine_->AddCode(
      "var keep = function () { return 'kept' };"
      "var target = {s: 'old', n: 1, b: false, o: {x: 1, deep: {p: 1}}, a: [1], f: keep,"
      "              nothing: null};"
      "var result = get__extend(target, {s: 'new', n: 2, b: true, o: {y: 2, deep: {q: 2}},"
      "                                  a: [2, 3], f: 'replaced?', added: 'yes',"
      "                                  nothing: {now: 'something'}});"));
  EXPECT_EQ(Text_("result === target"), "true");
  EXPECT_EQ(Text_("JSON.stringify(target)"),
            R"({"s":"new","n":2,"b":true,"o":{"x":1,"deep":{"p":1,"q":2},"y":2},)"
            R"("a":[1,2,3],"nothing":{"now":"something"},"added":"yes"})");
  EXPECT_EQ(Text_("target.f()"), "kept");
  // An array target appends the source's items; a source without a length appends none.
  EXPECT_EQ(Text_("get__extend([1], [2, 3]).join()"), "1,2,3");
  EXPECT_EQ(Text_("get__extend([1], {a: 2}).join()"), "1");
  EXPECT_EQ(Text_("get__extend([1], null).join()"), "1");
}

class FallbackJson : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = testing::EngineWithoutJson();
    ASSERT_TRUE(engine_);
    ASSERT_EQ(engine_->Eval("typeof JSON").ToText(), "undefined");
    ASSERT_TRUE(engine_->AddCode(HelperScript()));
    ASSERT_EQ(engine_->Eval("typeof JSON.stringify + typeof JSON.parse").ToText(),
              "functionfunction");
  }
  Text Text_(std::string_view expression) { return engine_->Eval(expression).ToText(); }

  std::shared_ptr<ScriptControl> engine_;
};

TEST_F(FallbackJson, StringifyWritesValuesAndQuotesStrings) {
  EXPECT_EQ(Text_("JSON.stringify({a: [1, 'x', true, null], b: {}, c: []})"),
            R"({"a":[1,"x",true,null],"b":{},"c":[]})");
  EXPECT_EQ(Text_("JSON.stringify([NaN, Infinity, -Infinity, 0.5])"), "[null,null,null,0.5]");
  EXPECT_EQ(Text_("JSON.stringify({u: undefined, f: function () {}, k: 1})"), R"({"k":1})");
  EXPECT_EQ(Text_("JSON.stringify([undefined, function () {}])"), "[null,null]");
  EXPECT_EQ(Text_("typeof JSON.stringify(undefined)"), "undefined");
  // Short escapes, lowercase \u escapes for the rest of the set, everything else raw.
  EXPECT_EQ(Text_(R"(JSON.stringify('q"b\\\b\t\n\f\r\x01\x7f\u00ad\u2028\ufeff'))"),
            R"("q\"b\\\b\t\n\f\r\u0001\u007f\u00ad\u2028\ufeff")");
  EXPECT_EQ(Text_(R"(JSON.stringify('\u4e2d\u2400').length)"), "4");
  EXPECT_EQ(Text_(R"(JSON.stringify('\u4e2d'))"), Gbk("\"中\""));
  // Own members only: the prototype methods never appear.
  EXPECT_EQ(Text_("function P() { this.own = 1 } P.prototype.inherited = 2;"
                  "JSON.stringify(new P())"),
            R"({"own":1})");
  EXPECT_EQ(Text_("JSON.stringify([new String('s'), new Number(2), new Boolean(false)])"),
            R"(["s",2,false])");
  EXPECT_EQ(Text_("JSON.stringify(new Date(Date.UTC(2020, 6, 20, 12, 0, 5)))"),
            R"("2020-07-20T12:00:05.000Z")");  // the engine's own Date.prototype.toJSON
}

TEST_F(FallbackJson, StringifyIndentsAndFilters) {
  EXPECT_EQ(Text_("JSON.stringify({a: [1, {}], b: 2}, null, 2)"),
            "{\n  \"a\": [\n    1,\n    {}\n  ],\n  \"b\": 2\n}");
  EXPECT_EQ(Text_("JSON.stringify([1], null, '--')"), "[\n--1\n]");
  EXPECT_EQ(Text_("JSON.stringify({a: 1, b: 2, c: 3}, ['c', 'a', 7])"), R"({"c":3,"a":1})");
  EXPECT_EQ(Text_("JSON.stringify({a: 1, b: 'x'}, function (k, v) {"
                  "  return typeof v == 'number' ? v * 10 : v })"),
            R"({"a":10,"b":"x"})");
  EXPECT_TRUE(engine_->Eval("JSON.stringify({}, 5)").IsEmpty());
  EXPECT_EQ(engine_->Error().Description, "JSON.stringify");
}

TEST_F(FallbackJson, DateWithoutItsOwnToJsonIsWrittenInUtc) {
  ASSERT_TRUE(engine_->AddCode("delete Date.prototype.toJSON"));
  ASSERT_TRUE(engine_->AddCode(HelperScript()));
  EXPECT_EQ(Text_("JSON.stringify([new Date(Date.UTC(2020, 6, 2, 3, 4, 5)), new Date(NaN)])"),
            R"(["2020-07-02T03:04:05Z",null])");
}

TEST_F(FallbackJson, ParseReadsJsonAndRefusesCode) {
  EXPECT_EQ(
      Text_(R"(JSON.stringify(JSON.parse(' {"a": [1, -2.5e1, true, null, "x\\u0041\\n"]} ')))"),
      R"({"a":[1,-25,true,null,"xA\n"]})");
  EXPECT_EQ(Text_(R"(JSON.parse('"\u2028"').charCodeAt(0))"), "8232");
  for (const char* code :
       {"JSON.parse('alert(1)')", "JSON.parse('{\"a\": x = 1}')",
        "JSON.parse('[1, (function () { return 2 })()]')", "JSON.parse('{\"a\": 1} + this.ran')"}) {
    SCOPED_TRACE(code);
    EXPECT_TRUE(engine_->Eval(code).IsEmpty());
    EXPECT_EQ(engine_->Error().Source, "SyntaxError");
    EXPECT_EQ(engine_->Error().Description, "JSON.parse");
  }
  EXPECT_EQ(Text_("typeof ran + typeof x"), "undefinedundefined");
  EXPECT_TRUE(engine_->Eval("JSON.parse('')").IsEmpty());
}

TEST_F(FallbackJson, ParseRevivesMembersBeforeTheirHolder) {
  ASSERT_TRUE(engine_->AddCode(
      "var order = [];"
      "var revived = JSON.parse('{\"a\": 1, \"b\": {\"c\": 2}, \"gone\": 3}', function (k, v) {"
      "  order.push(k);"
      "  if (k == 'gone') return undefined;"
      "  return typeof v == 'number' ? v + 100 : v;"
      "});"));
  EXPECT_EQ(Text_("order.join('|')"), "a|c|b|gone|");
  EXPECT_EQ(Text_("JSON.stringify(revived)"), R"({"a":101,"b":{"c":102}})");
}

TEST_F(FallbackJson, ObjectMethodsUseTheFallback) {
  EXPECT_EQ(Text_("({a: [1]}).toJSONString()"), R"({"a":[1]})");
  EXPECT_EQ(Text_("new String('[1,2]').parseJSON().length"), "2");
}

}  // namespace
}  // namespace newsbar
