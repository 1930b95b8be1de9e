// The JavaScript every document engine is given before anything else.
#pragma once

#include <string_view>

namespace newsbar {

// Defines get__nodeValue, get__count, get__name_All and get__extend, which the
// document's statements call by name, and JSON.stringify / JSON.parse for an engine that
// has none. Plain ASCII, so it is the same text in GBK.
std::string_view HelperScript();

}  // namespace newsbar
