// Test texts are written in UTF-8 here and handed to the code as GBK, as the program does.
#pragma once

#include <memory>
#include <string_view>

#include "json/script_control.h"
#include "util/charset.h"
#include "util/types.h"

namespace newsbar::testing {

inline Text Gbk(std::string_view utf8) {
  return Utf8ToGbk(utf8);
}

// An engine whose own JSON object is gone before the helper script arrives, so the
// script's JSON.stringify / JSON.parse are the ones in use.
inline std::shared_ptr<ScriptControl> EngineWithoutJson() {
  auto engine = ScriptControl::Create();
  if (engine && engine->Language("JavaScript")) engine->AddCode("delete JSON");
  return engine;
}

}  // namespace newsbar::testing
