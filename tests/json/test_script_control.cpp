#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "json/helper_script.h"
#include "json/script_control.h"
#include "json_test_text.h"

namespace newsbar {
namespace {

using testing::Gbk;

std::shared_ptr<ScriptControl> JavaScript() {
  auto engine = ScriptControl::Create();
  EXPECT_TRUE(engine);
  EXPECT_TRUE(engine->Language("JavaScript"));
  return engine;
}

TEST(ScriptControl, LanguageMustBeJavaScriptBeforeCodeRuns) {
  auto engine = ScriptControl::Create();
  ASSERT_TRUE(engine);
  EXPECT_FALSE(engine->AddCode("var x = 1"));
  EXPECT_EQ(engine->Error().Number, kScriptNoLanguage);
  EXPECT_FALSE(engine->Language("VBScript"));
  EXPECT_EQ(engine->Language(), "");
  EXPECT_TRUE(engine->Eval("1 + 1").IsEmpty());
  EXPECT_TRUE(engine->Language("javascript"));
  EXPECT_EQ(engine->Language(), "JavaScript");
  EXPECT_EQ(engine->Eval("1 + 1").ToNumber(), 2);
}

TEST(ScriptControl, EvalConvertsEachKindOfValue) {
  auto engine = JavaScript();
  ASSERT_TRUE(engine->AddCode("var answer = 42, half = 0.5, word = 'abc', none = null;"));

  const ScriptValue undefinedValue = engine->Eval("undefined");
  EXPECT_EQ(undefinedValue.kind(), ScriptValue::Kind::Empty);
  const ScriptValue nullValue = engine->Eval("none");
  EXPECT_EQ(nullValue.kind(), ScriptValue::Kind::Null);
  for (const ScriptValue& nothing : {undefinedValue, nullValue}) {
    EXPECT_FALSE(nothing.ToBool());
    EXPECT_EQ(nothing.ToText(), "");
    EXPECT_EQ(nothing.ToNumber(), 0);
  }

  EXPECT_EQ(engine->Eval("answer").ToText(), "42");
  EXPECT_EQ(engine->Eval("half").ToText(), "0.5");
  EXPECT_EQ(engine->Eval("1e21").ToText(), "1e+21");
  EXPECT_TRUE(engine->Eval("answer").ToBool());
  EXPECT_FALSE(engine->Eval("answer - 42").ToBool());
  EXPECT_EQ(engine->Eval("true").ToText(), "true");
  EXPECT_EQ(engine->Eval("true").ToNumber(), 1);
  EXPECT_EQ(engine->Eval("'12.5'").ToNumber(), 12.5);
  EXPECT_EQ(engine->Eval("word").ToNumber(), 0);  // not a number: 0, never NaN
  EXPECT_FALSE(engine->Eval("''").ToBool());
  EXPECT_TRUE(engine->Eval("word").ToBool());
  EXPECT_EQ(engine->Eval("[1, 2]").kind(), ScriptValue::Kind::Object);
  EXPECT_EQ(engine->Eval("[1, 2]").ToText(), "1,2");
  EXPECT_TRUE(engine->Eval("({})").ToBool());
  // Statements are accepted; the last value counts.
  EXPECT_EQ(engine->Eval("var y = 3; y * 2").ToNumber(), 6);
}

TEST(ScriptControl, FailedEvaluationGivesEmptyValueAndKeepsTheError) {
  auto engine = JavaScript();
  const ScriptValue failed = engine->Eval("nothingHere.member");
  EXPECT_TRUE(failed.IsEmpty());
  EXPECT_FALSE(failed.ToBool());
  ScriptError error = engine->Error();
  EXPECT_EQ(error.Number, kScriptReferenceError);
  EXPECT_EQ(error.Source, "ReferenceError");
  EXPECT_NE(error.Description.find("nothingHere"), Text::npos);
  EXPECT_EQ(error.Text, "nothingHere.member");
  EXPECT_EQ(error.Line, 1);

  // A later success does not clear the record.
  EXPECT_EQ(engine->Eval("2").ToNumber(), 2);
  EXPECT_EQ(engine->Error().Number, kScriptReferenceError);

  // A thrown value that is not an error object still counts as a failure.
  EXPECT_TRUE(engine->Eval("throw 5").IsEmpty());
  EXPECT_EQ(engine->Error().Number, kScriptThrownValue);
  EXPECT_EQ(engine->Error().Description, "5");
}

TEST(ScriptControl, ErrorNamesTheFailingLineAndColumn) {
  auto engine = JavaScript();
  EXPECT_FALSE(engine->AddCode("var a = 1;\r\nvar b = ;\r\nvar c = 3;"));
  ScriptError error = engine->Error();
  EXPECT_EQ(error.Number, kScriptSyntaxError);
  EXPECT_EQ(error.Source, "SyntaxError");
  EXPECT_EQ(error.Line, 2);
  EXPECT_EQ(error.Text, "var b = ;");
  EXPECT_GT(error.Column, 0);
  EXPECT_EQ(engine->Eval("typeof a").ToText(), "undefined");  // nothing of it ran

  // An error inside a function from earlier code points into that code.
  ASSERT_TRUE(engine->AddCode("function fails(v) {\n  return v.member.inner;\n}"));
  EXPECT_TRUE(engine->Eval("fails({})").IsEmpty());
  error = engine->Error();
  EXPECT_EQ(error.Number, kScriptTypeError);
  EXPECT_EQ(error.Line, 2);
  EXPECT_EQ(error.Text, "  return v.member.inner;");
}

TEST(ScriptControl, TextsCrossAsGbk) {
  auto engine = JavaScript();
  const Text title = Gbk("7月20日小涟早报：全城降温，江面起雾");
  ASSERT_TRUE(engine->AddCode("var title = '" + title + "';"));
  EXPECT_EQ(engine->Eval("title").ToText(), title);
  EXPECT_EQ(engine->Eval("title.length").ToNumber(), 19);             // characters, not bytes
  EXPECT_EQ(engine->Eval("title.charCodeAt(1)").ToNumber(), 0x6708);  // 月
  EXPECT_EQ(engine->Eval("String.fromCharCode(0x5C0F, 0x6D9F)").ToText(), Gbk("小涟"));
}

TEST(ScriptControl, SetTextHandsOverDataNeverCode) {
  auto engine = JavaScript();
  const Text code = "(function () { this.ran = 1; return 'x'; })()";
  ASSERT_TRUE(engine->SetText("held", code));
  EXPECT_EQ(engine->Eval("held").ToText(), code);
  EXPECT_EQ(engine->Eval("typeof ran").ToText(), "undefined");
  const Text quoted = Gbk("it's \"quoted\"\\ 中文\r\n");
  ASSERT_TRUE(engine->SetText("held", quoted));
  EXPECT_EQ(engine->Eval("held").ToText(), quoted);
  EXPECT_FALSE(engine->SetText("", "x"));
}

TEST(ScriptControl, RunawayStatementIsInterruptedAndTheEngineRecovers) {
  auto engine = JavaScript();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(engine->AddCode("while (true) {}"));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, ScriptControl::kTimeLimit);
  EXPECT_LT(elapsed, ScriptControl::kTimeLimit + std::chrono::seconds(2));
  EXPECT_EQ(engine->Error().Number, kScriptInterrupted);
  // The next statement runs normally (the interruption does not stick).
  EXPECT_EQ(engine->Eval("6 * 7").ToNumber(), 42);
  EXPECT_EQ(engine->Error().Number, kScriptInterrupted);  // the record stays
}

TEST(ScriptControl, DeepRecursionFailsCleanly) {
  auto engine = JavaScript();
  EXPECT_TRUE(engine->Eval("function down(n) { return n ? down(n - 1) : 0 } down(1e7)").IsEmpty());
  EXPECT_EQ(engine->Error().Number, kScriptRangeError);
  EXPECT_EQ(engine->Eval("down(10)").ToNumber(), 0);
}

TEST(ScriptControl, LivesOnItsOwnThreadOnly) {
  auto engine = JavaScript();
  std::thread other([&engine] {
    EXPECT_FALSE(engine->AddCode("var fromOther = 1"));
    EXPECT_TRUE(engine->Eval("1").IsEmpty());
    EXPECT_FALSE(engine->SetText("t", "x"));
    EXPECT_FALSE(engine->Language("JavaScript"));
  });
  other.join();
  EXPECT_EQ(engine->Eval("typeof fromOther").ToText(), "undefined");

  // A worker thread makes, uses and drops engines of its own.
  Text seen;
  std::thread worker([&seen] {
    auto mine = ScriptControl::Create();
    if (mine && mine->Language("JavaScript") && mine->AddCode(HelperScript())) {
      seen = mine->Eval("get__count([1, 2, 3]) + ':' + get__name_All({a: 1})").ToText();
    }
  });
  worker.join();
  EXPECT_EQ(seen, "3:a");
}

}  // namespace
}  // namespace newsbar
