// A JSON value held inside a script engine and addressed by JavaScript path expressions.
//
// The document keeps no tree of its own: the value is a global variable (the root name,
// "da") of its engine, and every operation hands the engine a statement built from fixed
// pieces, the root name, a path and the caller's value. Paths ("data.list[0].title",
// "[3]", "['img194_194']") are relative to the root and inserted verbatim; the empty path
// is the root itself.
//
// A document is used only on the thread that constructed it (any thread, as long as the
// process has a QCoreApplication; without one no engine can be made and every operation
// gives its empty value). Copies share the engine. Nothing here throws or reports: a
// failed statement yields false, empty text or 0, and one that runs past the engine's
// time limit (ScriptControl::kTimeLimit) is stopped and fails the same way.
//
// Texts stored by SetValue keep each backslash as U+2400 inside the engine; the
// operations that return text turn it back into a backslash.
#pragma once

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "json/script_error.h"
#include "util/types.h"

namespace newsbar {

class ScriptControl;
class ScriptValue;

class JsonDocument {
 public:
  // Makes the engine a document runs on; null when creation fails. The default one makes
  // a plain JavaScript engine.
  using EngineFactory = std::function<std::shared_ptr<ScriptControl>()>;

  explicit JsonDocument(Text rootName = "da");
  JsonDocument(Text rootName, EngineFactory factory);

  // Copying shares the engine: a change through either copy is seen by both.
  JsonDocument(const JsonDocument& other);
  JsonDocument& operator=(const JsonDocument& other);

  virtual ~JsonDocument();
  virtual std::unique_ptr<JsonDocument> Copy() const;

  // Fresh engine with the helper script, the root set to {} and the backslash substitute.
  virtual void Initialise();

  // Replaces the engine by a fresh one and parses json into the root. Only JSON text is
  // accepted (it is never run as code); plain is kept for callers and parses the same
  // way. False when the text is not JSON or its value is null; the root is null then.
  virtual bool Load(std::string_view json, bool plain = false, ScriptError* error = nullptr);

  virtual bool Clear();
  virtual Text ToText();
  virtual bool SetValue(std::string_view path = {}, std::string_view value = {},
                        bool valueIsJson = false);
  virtual bool SetExpression(std::string_view path = {}, std::string_view value = {});
  // Rewrites path to the absolute form it is read by; true when it holds a value other
  // than null or undefined.
  virtual bool ResolvePath(Text& path);
  virtual bool Exists(std::string_view path = {});
  // 0 null or missing, 1 boolean, 2 number, 4 object, 5 array, 6 string, -1 otherwise.
  virtual int GetType(std::string_view path = {});
  virtual Text GetText(std::string_view path = {}, bool asJson = false);
  virtual int GetMemberNames(std::vector<Text>& names, std::string_view path = {});
  virtual int GetCount(std::string_view path = {});
  // A new, independent document holding a copy of the value at path (nothing when the
  // path is missing).
  virtual JsonDocument GetObject(std::string_view path = {});
  virtual bool ArrayAdd(std::string_view value = {}, std::string_view path = {},
                        bool valueIsJson = false, bool atFront = false);
  virtual JsonDocument GetItemObject(int index = 0, std::string_view path = {});
  virtual Text GetItemText(int index = 0, std::string_view path = {}, bool asJson = false);
  virtual bool SetItem(int index = 0, std::string_view path = {}, std::string_view value = {},
                       bool valueIsJson = false);
  virtual bool RemoveItem(int index = 0, std::string_view path = {});
  virtual bool Delete(std::string_view path = {});
  virtual bool SetNumber(std::string_view path = {}, double number = 0);
  virtual double GetNumber(std::string_view path = {});
  virtual Text GetJson(std::string_view path = {});
  virtual std::shared_ptr<ScriptControl> GetEngine();
  virtual int GetLeafValues(std::vector<Text>& values, std::string_view path = {},
                            bool recursive = false);

 protected:
  Text rootName_;
  std::shared_ptr<ScriptControl> engine_;

 private:
  // Runs one statement on this document's engine; the empty value when there is none.
  ScriptValue Run(const Text& statement);
  // A new document holding the JSON of path + item, through a temporary document.
  JsonDocument ExtractDocument(const Text& path, const Text& item);

  EngineFactory factory_;
  // True while the engine is as Initialise left it: nothing has run on it since. A copy
  // shares the engine, and what runs through the copy is out of this document's sight, so
  // copying clears it on both sides (hence mutable: the source of a copy is const).
  mutable bool untouched_ = false;
};

}  // namespace newsbar
