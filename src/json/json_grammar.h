// A strict check of JSON text, run before the engine's parser sees a text to load.
//
// The engine's own parser is lenient in places (it takes "2." and ".5" as numbers), and
// the fallback parser of an engine without JSON more so; this check decides what counts
// as JSON. It walks the text once, without recursion, so any depth of nesting is safe.
#pragma once

#include <cstddef>
#include <string_view>

namespace newsbar {

struct JsonGrammarResult {
  bool valid = false;
  std::size_t offset = 0;  // where the first fault is (0-based, UTF-16 units)
  int line = 0;            // 1-based line and column of that fault
  int column = 0;
};

// One JSON value with optional white space (space, tab, LF, CR) around it. Strings may not
// hold raw control characters; numbers are -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?.
JsonGrammarResult CheckJsonText(std::u16string_view text);

}  // namespace newsbar
