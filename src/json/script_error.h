// The engine's error record, as Load hands it to a caller that asks for it.
#pragma once

#include "util/types.h"

namespace newsbar {

// Fields qualified with the namespace: the member named Text would otherwise change what
// the unqualified type name means inside the struct.
struct ScriptError {
  int Number = 0;             // 0 when no error has happened in the engine
  newsbar::Text Source;       // the error's kind, "SyntaxError", "TypeError", ...
  newsbar::Text Description;  // the engine's message
  newsbar::Text HelpFile;
  int HelpContext = 0;
  newsbar::Text Text;  // source text of the failing line, when the engine knows it
  int Line = 0;
  int Column = 0;
};

}  // namespace newsbar
