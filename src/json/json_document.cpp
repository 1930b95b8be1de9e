#include "json/json_document.h"

#include <charconv>
#include <cmath>
#include <string>
#include <utility>

#include "json/helper_script.h"
#include "json/json_grammar.h"
#include "json/script_control.h"
#include "util/charset.h"
#include "util/gbk_text.h"

namespace newsbar {

namespace {

// Texts put together from the front with append: GCC 12 misreads "x" + text (an insert at
// the front of a temporary) at -O3 as an overlapping copy.
Text Quoted(std::string_view value) {
  Text quoted = "'";
  quoted += value;
  quoted += '\'';
  return quoted;
}

Text Subscript(int index) {
  Text subscript = "[";
  subscript += std::to_string(index);
  subscript += ']';
  return subscript;
}

// Turns every stored backslash substitute back into one backslash. Two backslashes in
// the C++ text are one in the engine's source, which the engine reads as one.
constexpr std::string_view kRestoreBackslash = ".replace(str_reg, '\\\\')";

// The same for JSON text that is parsed again: each substitute becomes an escaped
// backslash, so the value arrives in the new document as the backslash it stood for.
constexpr std::string_view kEscapeBackslash = ".replace(str_reg, '\\\\\\\\')";

// The engine is handed the text to load under this global name, as a string value.
constexpr std::string_view kLoadTextName = "str_Load";

const Text& LeafSeparator() {
  static const Text separator = Utf8ToGbk("[2020年7月20日20时0分0秒]");
  return separator;
}

// Splits an engine's joined list. Nothing joined gives no elements, and an empty last
// element (an empty text collected last) is not returned.
std::vector<Text> SplitList(const Text& joined, std::string_view separator) {
  std::vector<Text> parts;
  if (joined.empty()) return parts;
  parts = gbk::Split(joined, separator);
  if (!parts.empty() && parts.back().empty()) parts.pop_back();
  return parts;
}

int TruncateToInt(double value) {
  if (!std::isfinite(value)) return 0;
  value = std::trunc(value);
  if (value > 2147483647.0) return 2147483647;
  if (value < -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(value);
}

// printf's "%.13g", without depending on the process locale.
Text NumberText(double number) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::general, 13);
  return Text(buffer, result.ptr);
}

Text Stringify(const Text& path) {
  return "JSON.stringify(" + path + ")";
}

std::shared_ptr<ScriptControl> CreateEngine() {
  return ScriptControl::Create();
}

// The record of a text refused by the grammar check, shaped like the parser's own.
ScriptError GrammarError(std::u16string_view text, const JsonGrammarResult& grammar) {
  ScriptError error;
  error.Number = kScriptSyntaxError;
  error.Source = "SyntaxError";
  error.Description = "JSON.parse: not a JSON text";
  error.Line = grammar.line;
  error.Column = grammar.column;
  const std::size_t before =
      grammar.offset == 0 ? std::u16string_view::npos : text.rfind(u'\n', grammar.offset - 1);
  const std::size_t start = before == std::u16string_view::npos ? 0 : before + 1;
  std::size_t end = text.find(u'\n', start);
  if (end == std::u16string_view::npos) end = text.size();
  if (end > start && text[end - 1] == u'\r') --end;
  error.Text = Utf16ToGbk(text.substr(start, end - start));
  return error;
}

}  // namespace

JsonDocument::JsonDocument(Text rootName) : JsonDocument(std::move(rootName), CreateEngine) {}

JsonDocument::JsonDocument(Text rootName, EngineFactory factory)
    : rootName_(std::move(rootName)), factory_(std::move(factory)) {
  Initialise();
}

JsonDocument::JsonDocument(const JsonDocument& other)
    : rootName_(other.rootName_), engine_(other.engine_), factory_(other.factory_) {
  other.untouched_ = false;
}

JsonDocument& JsonDocument::operator=(const JsonDocument& other) {
  if (this != &other) {
    rootName_ = other.rootName_;
    engine_ = other.engine_;
    factory_ = other.factory_;
    untouched_ = false;
    other.untouched_ = false;
  }
  return *this;
}
JsonDocument::~JsonDocument() = default;

std::unique_ptr<JsonDocument> JsonDocument::Copy() const {
  return std::make_unique<JsonDocument>(*this);
}

ScriptValue JsonDocument::Run(const Text& statement) {
  if (!engine_) return {};
  untouched_ = false;
  return engine_->Eval(statement);
}

void JsonDocument::Initialise() {
  engine_.reset();
  if (factory_) {
    try {
      engine_ = factory_();
    } catch (...) {
      engine_.reset();
    }
  }
  if (!engine_) return;
  engine_->Language("JavaScript");
  engine_->AddCode(HelperScript());
  Run("var " + rootName_ +
      " = {}, str_Code = String.fromCharCode(9216), str_reg = new RegExp(str_Code, 'g')");
  untouched_ = true;
}

bool JsonDocument::Load(std::string_view json, bool /*plain*/, ScriptError* error) {
  if (!engine_) return false;
  // A load starts on a fresh engine. The one made by Initialise can serve as that while
  // nothing has run on it and no copy shares it: a document loaded right after it is
  // made then builds one engine, not two (making one is most of a small load's cost).
  if (!untouched_ || engine_.use_count() > 1) Initialise();
  if (!engine_) return false;
  untouched_ = false;
  Run("var " + rootName_ + " = null");
  // The text goes in as a string value and only the engine's JSON parser reads it: a
  // downloaded catalogue never runs as code. Both forms parse the same way. The grammar
  // check first, as the parsers take some texts that are not JSON.
  const std::u16string text = GbkToUtf16(json);
  const JsonGrammarResult grammar = CheckJsonText(text);
  const Text name(kLoadTextName);
  if (!grammar.valid) {
    if (error != nullptr) *error = GrammarError(text, grammar);
  } else if (engine_->SetText(name, std::u16string_view(text))) {
    engine_->AddCode("var " + rootName_ + " = JSON.parse(" + name + ")");
    if (error != nullptr) *error = engine_->Error();
    engine_->AddCode("delete " + name);
  } else if (error != nullptr) {
    *error = engine_->Error();
  }
  return Run(rootName_ + " != null").ToBool();
}

bool JsonDocument::Clear() {
  return Run(rootName_ + " = {}").ToBool();
}

Text JsonDocument::ToText() {
  return Run(Stringify(rootName_) + Text(kRestoreBackslash)).ToText();
}

bool JsonDocument::SetValue(std::string_view path, std::string_view value, bool valueIsJson) {
  Text resolved(path);
  const bool exists = ResolvePath(resolved);
  if (valueIsJson) {
    const Text merge = value.empty() ? Text("{}") : Text(value);
    const Text kind = Run("Object.prototype.toString.call(" + resolved + ")").ToText();
    if (exists && kind == "[object Object]") {
      return Run(resolved + " = get__extend(" + resolved + ", " + merge + ")").ToBool();
    }
    return Run(resolved + " = eval(" + Text(value) + ")").ToBool();
  }
  Text escaped = gbk::ReplaceAll(value, "\\", "\\\\");
  escaped = gbk::ReplaceAll(escaped, "'", "\\'");
  escaped = gbk::ReplaceAll(escaped, "\"", "\\\"");
  escaped = gbk::ReplaceAll(escaped, "\r", "\\r");
  escaped = gbk::ReplaceAll(escaped, "\n", "\\n");
  return Run(resolved + " = '" + escaped + "'.replace(/\\\\/g, str_Code)").ToBool();
}

bool JsonDocument::SetExpression(std::string_view path, std::string_view value) {
  Text resolved(path);
  ResolvePath(resolved);
  return Run(resolved + " = eval(" + Text(value) + ")").ToBool();
}

bool JsonDocument::ResolvePath(Text& path) {
  if (path.starts_with(rootName_) && Run(path + " != null").ToBool()) return true;
  if (path.empty()) {
    path = rootName_;
  } else if (path.front() == '[') {
    path = rootName_ + path;
  } else {
    path = rootName_ + "." + path;
  }
  return Run(path + " != null").ToBool();
}

bool JsonDocument::Exists(std::string_view path) {
  Text resolved(path);
  return ResolvePath(resolved);
}

int JsonDocument::GetType(std::string_view path) {
  Text resolved(path);
  ResolvePath(resolved);
  if (Run(resolved + " == null").ToBool()) return 0;
  const Text kind = Run("Object.prototype.toString.call(" + resolved + ")").ToText();
  if (kind == "[object String]") return 6;
  if (kind == "[object Array]") return 5;
  if (kind == "[object Object]") return 4;
  if (kind == "[object Number]") return 2;
  if (kind == "[object Boolean]") return 1;
  return -1;
}

Text JsonDocument::GetText(std::string_view path, bool asJson) {
  Text resolved(path);
  ResolvePath(resolved);
  if (asJson) return Run(Stringify(resolved) + Text(kRestoreBackslash)).ToText();
  return Run(resolved + ".toString()" + Text(kRestoreBackslash)).ToText();
}

int JsonDocument::GetMemberNames(std::vector<Text>& names, std::string_view path) {
  Text resolved(path);
  ResolvePath(resolved);
  names = SplitList(Run("get__name_All(" + resolved + ")").ToText(), "\r\n");
  return static_cast<int>(names.size());
}

int JsonDocument::GetCount(std::string_view path) {
  Text resolved(path);
  ResolvePath(resolved);
  return TruncateToInt(Run("get__count(" + resolved + ")").ToNumber());
}

JsonDocument JsonDocument::ExtractDocument(const Text& path, const Text& item) {
  JsonDocument temporary("da", factory_);
  Text resolved(path);
  ResolvePath(resolved);
  const Text json = Run(Stringify(resolved + item) + Text(kEscapeBackslash)).ToText();
  temporary.Load(json);
  return temporary;
}

JsonDocument JsonDocument::GetObject(std::string_view path) {
  return ExtractDocument(Text(path), "");
}

bool JsonDocument::ArrayAdd(std::string_view value, std::string_view path, bool valueIsJson,
                            bool atFront) {
  Text resolved(path);
  ResolvePath(resolved);
  // Quoted as given: a value holding a quote fails the statement and changes nothing.
  const Text item = valueIsJson ? Text(value) : Quoted(value);
  return Run("if (Object.prototype.toString.call(" + resolved + ") != '[object Array]') { " +
             resolved + " = new Array() } " + resolved + (atFront ? ".unshift(" : ".push(") + item +
             ")")
      .ToBool();
}

JsonDocument JsonDocument::GetItemObject(int index, std::string_view path) {
  return ExtractDocument(Text(path), Subscript(index));
}

Text JsonDocument::GetItemText(int index, std::string_view path, bool asJson) {
  Text resolved(path);
  ResolvePath(resolved);
  const Text item = resolved + Subscript(index);
  if (asJson) return Run(Stringify(item) + Text(kRestoreBackslash)).ToText();
  return Run(item + Text(kRestoreBackslash)).ToText();
}

bool JsonDocument::SetItem(int index, std::string_view path, std::string_view value,
                           bool valueIsJson) {
  Text resolved(path);
  ResolvePath(resolved);
  const Text item = valueIsJson ? Text(value) : Quoted(value);
  return Run(resolved + Subscript(index) + " = " + item).ToBool();
}

bool JsonDocument::RemoveItem(int index, std::string_view path) {
  Text resolved(path);
  ResolvePath(resolved);
  return Run(resolved + ".splice(" + std::to_string(index) + ", 1)").ToBool();
}

bool JsonDocument::Delete(std::string_view path) {
  Text resolved(path);
  ResolvePath(resolved);
  return Run("delete " + resolved).ToBool();
}

bool JsonDocument::SetNumber(std::string_view path, double number) {
  Text resolved(path);
  ResolvePath(resolved);
  return Run(resolved + " = " + NumberText(number)).ToBool();
}

double JsonDocument::GetNumber(std::string_view path) {
  Text resolved(path);
  ResolvePath(resolved);
  return Run(resolved).ToNumber();
}

Text JsonDocument::GetJson(std::string_view path) {
  Text resolved(path);
  ResolvePath(resolved);
  return Run(Stringify(resolved) + Text(kRestoreBackslash)).ToText();
}

std::shared_ptr<ScriptControl> JsonDocument::GetEngine() {
  untouched_ = false;  // the caller may run anything on it
  return engine_;
}

int JsonDocument::GetLeafValues(std::vector<Text>& values, std::string_view path, bool recursive) {
  Text resolved(path);
  ResolvePath(resolved);
  Run("var str_all = new Array()");
  Run("get__nodeValue(" + resolved + ", " + (recursive ? "true" : "false") + ")");
  // Converted back like every other text that leaves the engine: the substitute itself
  // has no GBK form and would arrive as '?'.
  values =
      SplitList(Run("str_all.join('" + LeafSeparator() + "')" + Text(kRestoreBackslash)).ToText(),
                LeafSeparator());
  return static_cast<int>(values.size());
}

}  // namespace newsbar
