// The script engine a JsonDocument runs on: a JavaScript engine driven by text.
//
// Four members matter to the document: Language, AddCode (run global code), Eval
// (evaluate and return the value) and Error (the last exception's record). Texts cross
// as GBK on our side and UTF-16 in the engine, converted at every call. An engine is
// created, used and destroyed on one thread; calls from any other thread fail. The
// process must have a QCoreApplication (the engine refuses to exist without one), on
// any thread: creation fails quietly when there is none.
//
// Every AddCode and Eval is bounded: a statement still running after the time limit
// (kTimeLimit unless the engine was made with another) is
// interrupted and fails like a rejected one, so a runaway value cannot hang the worker.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include <QString>
#include <QStringList>

#include "json/script_error.h"
#include "util/types.h"

class QJSEngine;
class QJSValue;

namespace newsbar {

// A value that came back from Eval, already converted for its three uses. Undefined
// gives the empty value, null the null value; both read as false, "" and 0. Other
// values read as the engine converts them, except that a text which is not a number
// reads as 0.
class ScriptValue {
 public:
  enum class Kind { Empty, Null, Bool, Number, Text, Object };

  ScriptValue() = default;
  static ScriptValue Null();
  static ScriptValue FromBool(bool value);
  static ScriptValue FromNumber(double value);
  // number is the engine's number for the text (NaN when it is not one).
  static ScriptValue FromText(newsbar::Text value, double number);
  // An object (array, function, ...): true, with the engine's text and number of it.
  static ScriptValue FromObject(newsbar::Text text, double number);

  Kind kind() const { return kind_; }
  bool IsEmpty() const { return kind_ == Kind::Empty; }
  bool IsNull() const { return kind_ == Kind::Null; }

  bool ToBool() const { return bool_; }
  newsbar::Text ToText() const { return text_; }
  double ToNumber() const { return number_; }

 private:
  Kind kind_ = Kind::Empty;
  bool bool_ = false;
  double number_ = 0;
  newsbar::Text text_;
};

// Error numbers: 0 means no exception has happened in this engine yet.
enum ScriptErrorNumber : int {
  kScriptNoError = 0,
  kScriptError = 1,  // Error, or an Error-like object of another kind
  kScriptEvalError = 2,
  kScriptRangeError = 3,
  kScriptReferenceError = 4,
  kScriptSyntaxError = 5,
  kScriptTypeError = 6,
  kScriptUriError = 7,
  kScriptThrownValue = 8,  // a thrown value that is not an error object
  kScriptInterrupted = 9,  // stopped after kTimeLimit
  kScriptNoLanguage = 10,  // code given before Language("JavaScript")
};

class ScriptControl {
 public:
  // How long one AddCode or Eval may run before it is interrupted, unless the engine was
  // made with a limit of its own.
  static constexpr std::chrono::milliseconds kTimeLimit{3000};

  // A fresh engine, or null when none can be made (no QCoreApplication).
  static std::shared_ptr<ScriptControl> Create(std::chrono::milliseconds timeLimit = kTimeLimit);

  ~ScriptControl();
  ScriptControl(const ScriptControl&) = delete;
  ScriptControl& operator=(const ScriptControl&) = delete;

  // Accepts "JavaScript" (any letter case); other names are refused and leave the
  // language unset. Code runs only once the language is set.
  bool Language(std::string_view name);
  newsbar::Text Language() const;

  // Runs code as global code. False when it fails (the exception goes to Error).
  bool AddCode(std::string_view code);

  // Evaluates expression (statements are accepted too; the value of the last counts) as
  // global code. A failed evaluation gives the empty value.
  ScriptValue Eval(std::string_view expression);

  // The record of the last exception; it stays until the next one replaces it.
  ScriptError Error() const;

  // Gives the engine a global variable holding text as a string value. The text is data
  // only: it is never read as source. False when name is empty or the call fails.
  bool SetText(std::string_view name, std::string_view text);
  // The same for text already in the engine's UTF-16.
  bool SetText(std::string_view name, std::u16string_view text);

 private:
  explicit ScriptControl(std::chrono::milliseconds timeLimit);

  // Runs code under the time limit; true with *result set when no exception escaped.
  bool Run(std::string_view code, bool keepSource, QJSValue* result);
  void RecordException(const QJSValue& thrown, const QStringList& trace, bool interrupted,
                       const QString& fileName);
  bool OnOwnThread() const;

  std::unique_ptr<QJSEngine> engine_;
  // Holds one value for the engine's life: the engine keeps the values it hands out on
  // pages that it maps when the first value comes and unmaps when the last one goes, so
  // without this every Eval would map and unmap a page (a third of a catalogue load).
  std::unique_ptr<QJSValue> pageHolder_;
  std::thread::id owner_;
  std::chrono::milliseconds timeLimit_;
  bool languageSet_ = false;
  std::uint64_t runs_ = 0;
  // Global code kept by file name so an error inside one of its functions can show the
  // failing line's text.
  std::map<QString, QString> sources_;
  ScriptError error_;
};

}  // namespace newsbar
