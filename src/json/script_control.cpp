#include "json/script_control.h"

#include <QCoreApplication>
#include <QJSEngine>
#include <QJSValue>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <vector>

#include "util/charset.h"
#include "util/gbk_text.h"

namespace newsbar {

namespace {

// One process-wide timer thread that interrupts engines whose statement has run past its
// deadline. Arm before a statement, Disarm after it; once Disarm returns the engine is
// never touched again, so the engine may be destroyed right after.
class Watchdog {
 public:
  static Watchdog& Instance() {
    static Watchdog watchdog;
    return watchdog;
  }

  std::uint64_t Arm(QJSEngine* engine, std::chrono::steady_clock::time_point deadline) {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([this] { Watch(); });
      } catch (const std::system_error&) {
        return 0;  // no timer thread: the statement runs unbounded rather than not at all
      }
    }
    const std::uint64_t id = ++lastId_;
    entries_.push_back({id, engine, deadline});
    // Wake the timer thread only when this deadline comes before the one it sleeps until;
    // as every deadline lies the same span ahead, that is mostly when it has none.
    if (deadline < sleepsUntil_) wake_.notify_one();
    return id;
  }

  void Disarm(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [id](const Entry& entry) { return entry.id == id; });
  }

  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      wake_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
  }

 private:
  struct Entry {
    std::uint64_t id;
    QJSEngine* engine;
    std::chrono::steady_clock::time_point deadline;
    bool fired = false;
  };

  Watchdog() = default;

  void Watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      auto next = std::chrono::steady_clock::time_point::max();
      const auto now = std::chrono::steady_clock::now();
      for (Entry& entry : entries_) {
        if (entry.fired) continue;
        if (entry.deadline <= now) {
          entry.engine->setInterrupted(true);  // thread-safe by Qt's contract
          entry.fired = true;
        } else {
          next = std::min(next, entry.deadline);
        }
      }
      sleepsUntil_ = next;
      if (next == std::chrono::steady_clock::time_point::max()) {
        wake_.wait(lock);
      } else {
        wake_.wait_until(lock, next);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Entry> entries_;
  std::uint64_t lastId_ = 0;
  std::chrono::steady_clock::time_point sleepsUntil_ = std::chrono::steady_clock::time_point::max();
  bool stopping_ = false;
  std::thread thread_;
};

QString ToEngine(std::string_view gbk) {
  const std::u16string utf16 = GbkToUtf16(gbk);
  return QString(reinterpret_cast<const QChar*>(utf16.data()),
                 static_cast<qsizetype>(utf16.size()));
}

Text FromEngine(const QString& text) {
  return Utf16ToGbk(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                        static_cast<std::size_t>(text.size())));
}

int NumberForName(const QString& name) {
  if (name == u"EvalError") return kScriptEvalError;
  if (name == u"RangeError") return kScriptRangeError;
  if (name == u"ReferenceError") return kScriptReferenceError;
  if (name == u"SyntaxError") return kScriptSyntaxError;
  if (name == u"TypeError") return kScriptTypeError;
  if (name == u"URIError") return kScriptUriError;
  return kScriptError;
}

int Truncate(double value) {
  if (!std::isfinite(value)) return 0;
  value = std::trunc(value);
  if (value > 2147483647.0) return 2147483647;
  if (value < -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(value);
}

// A frame of the engine's stack trace: "function:line:column:file".
struct Frame {
  int line = 0;
  int column = 0;
  QString file;
};

Frame ParseFrame(const QString& frame) {
  Frame result;
  const qsizetype first = frame.indexOf(u':');
  const qsizetype second = first < 0 ? -1 : frame.indexOf(u':', first + 1);
  const qsizetype third = second < 0 ? -1 : frame.indexOf(u':', second + 1);
  if (third < 0) return result;
  result.line = frame.mid(first + 1, second - first - 1).toInt();
  result.column = std::max(0, frame.mid(second + 1, third - second - 1).toInt());
  result.file = frame.mid(third + 1);
  // The engine reports the file name given to it as a URL.
  if (result.file.startsWith(u"file:")) result.file.remove(0, 5);
  return result;
}

ScriptValue Convert(const QJSValue& value) {
  if (value.isUndefined()) return {};
  if (value.isNull()) return ScriptValue::Null();
  if (value.isBool()) return ScriptValue::FromBool(value.toBool());
  if (value.isNumber()) return ScriptValue::FromNumber(value.toNumber());
  if (value.isString())
    return ScriptValue::FromText(FromEngine(value.toString()), value.toNumber());
  return ScriptValue::FromObject(FromEngine(value.toString()), value.toNumber());
}

}  // namespace

ScriptValue ScriptValue::Null() {
  ScriptValue value;
  value.kind_ = Kind::Null;
  return value;
}

ScriptValue ScriptValue::FromBool(bool value) {
  ScriptValue result;
  result.kind_ = Kind::Bool;
  result.bool_ = value;
  result.number_ = value ? 1 : 0;
  result.text_ = value ? "true" : "false";
  return result;
}

ScriptValue ScriptValue::FromNumber(double value) {
  ScriptValue result;
  result.kind_ = Kind::Number;
  result.bool_ = value != 0 && !std::isnan(value);
  result.number_ = value;
  // The engine's own decimal form, so that 0.1 reads "0.1" and 1e21 "1e+21".
  result.text_ = FromEngine(QJSValue(value).toString());
  return result;
}

ScriptValue ScriptValue::FromText(newsbar::Text value, double number) {
  ScriptValue result;
  result.kind_ = Kind::Text;
  result.bool_ = !value.empty();
  result.number_ = std::isnan(number) ? 0 : number;
  result.text_ = std::move(value);
  return result;
}

ScriptValue ScriptValue::FromObject(newsbar::Text text, double number) {
  ScriptValue result;
  result.kind_ = Kind::Object;
  result.bool_ = true;
  result.number_ = std::isnan(number) ? 0 : number;
  result.text_ = std::move(text);
  return result;
}

std::shared_ptr<ScriptControl> ScriptControl::Create(std::chrono::milliseconds timeLimit) {
  // Without an application object the engine aborts the process instead of failing.
  if (QCoreApplication::instance() == nullptr) return nullptr;
  return std::shared_ptr<ScriptControl>(new ScriptControl(timeLimit));
}

ScriptControl::ScriptControl(std::chrono::milliseconds timeLimit)
    : engine_(std::make_unique<QJSEngine>()),
      pageHolder_(std::make_unique<QJSValue>(engine_->globalObject())),
      owner_(std::this_thread::get_id()),
      timeLimit_(timeLimit) {}

ScriptControl::~ScriptControl() {
  // The value goes before its engine.
  pageHolder_.reset();
}

bool ScriptControl::OnOwnThread() const {
  return std::this_thread::get_id() == owner_;
}

bool ScriptControl::Language(std::string_view name) {
  if (!OnOwnThread() || !gbk::EqualsNoCase(name, "JavaScript")) return false;
  languageSet_ = true;
  return true;
}

Text ScriptControl::Language() const {
  return languageSet_ ? "JavaScript" : "";
}

bool ScriptControl::AddCode(std::string_view code) {
  QJSValue result;
  return Run(code, true, &result);
}

ScriptValue ScriptControl::Eval(std::string_view expression) {
  QJSValue result;
  if (!Run(expression, false, &result)) return {};
  return Convert(result);
}

ScriptError ScriptControl::Error() const {
  return error_;
}

bool ScriptControl::SetText(std::string_view name, std::string_view text) {
  return SetText(name, std::u16string_view(GbkToUtf16(text)));
}

bool ScriptControl::SetText(std::string_view name, std::u16string_view text) {
  if (!OnOwnThread() || name.empty()) return false;
  QJSValue global = engine_->globalObject();
  const QString key = ToEngine(name);
  global.setProperty(key, QJSValue(QString(reinterpret_cast<const QChar*>(text.data()),
                                           static_cast<qsizetype>(text.size()))));
  return global.hasOwnProperty(key);
}

bool ScriptControl::Run(std::string_view code, bool keepSource, QJSValue* result) {
  if (!OnOwnThread()) return false;
  if (!languageSet_) {
    error_ = ScriptError{};
    error_.Number = kScriptNoLanguage;
    error_.Description = "no script language set";
    return false;
  }
  const QString source = ToEngine(code);
  const QString fileName = QStringLiteral("code%1").arg(++runs_);
  if (keepSource) sources_[fileName] = source;

  QStringList trace;
  Watchdog& watchdog = Watchdog::Instance();
  const std::uint64_t ticket =
      watchdog.Arm(engine_.get(), std::chrono::steady_clock::now() + timeLimit_);
  *result = engine_->evaluate(source, fileName, 1, &trace);
  watchdog.Disarm(ticket);
  // Read before clearing: the flag is how an interrupted statement shows (it leaves no
  // stack trace). A flag set just after the statement finished counts as an overrun.
  const bool interrupted = engine_->isInterrupted();
  engine_->setInterrupted(false);

  if (trace.isEmpty() && !interrupted) return true;
  if (keepSource) {
    RecordException(*result, trace, interrupted, fileName);
  } else {
    sources_.emplace(fileName, source);
    RecordException(*result, trace, interrupted, fileName);
    sources_.erase(fileName);
  }
  *result = QJSValue();
  return false;
}

void ScriptControl::RecordException(const QJSValue& thrown, const QStringList& trace,
                                    bool interrupted, const QString& fileName) {
  ScriptError record;
  if (interrupted) {
    record.Number = kScriptInterrupted;
    record.Source = "Error";
    record.Description = "statement interrupted after the time limit";
  } else if (thrown.isError()) {
    const QString name = thrown.property(QStringLiteral("name")).toString();
    record.Number = NumberForName(name);
    record.Source = FromEngine(name);
    record.Description = FromEngine(thrown.property(QStringLiteral("message")).toString());
  } else {
    record.Number = kScriptThrownValue;
    record.Source = "throw";
    record.Description = FromEngine(thrown.toString());
  }

  // The innermost frame in code we gave the engine names the failing line.
  for (const QString& text : trace) {
    const Frame frame = ParseFrame(text);
    const auto found = sources_.find(frame.file.isEmpty() ? fileName : frame.file);
    if (found == sources_.end()) continue;
    record.Line = frame.line;
    record.Column = frame.column;
    const QStringList lines = found->second.split(u'\n');
    if (frame.line >= 1 && frame.line <= lines.size()) {
      QString line = lines[frame.line - 1];
      if (line.endsWith(u'\r')) line.chop(1);
      record.Text = FromEngine(line);
    }
    break;
  }
  if (record.Line == 0 && thrown.isError()) {
    record.Line = Truncate(thrown.property(QStringLiteral("lineNumber")).toNumber());
  }
  error_ = std::move(record);
}

}  // namespace newsbar
