// Cutting text between or before markers; used by the HTTP, catalogue and field-set code.
#pragma once

#include <string_view>

#include "util/types.h"

namespace newsbar {

// The text after the first leftMarker found at or after `start` (1-based), up to the next
// rightMarker; empty when either marker is missing. In both markers every "#引号" (GBK)
// stands for one double-quote character.
Text TextBetween(std::string_view text, std::string_view leftMarker, std::string_view rightMarker,
                 int start = 1);

// The text before the first occurrence of marker; empty when it is absent.
Text TextLeftOf(std::string_view text, std::string_view marker);

}  // namespace newsbar
