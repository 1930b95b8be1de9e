// GBK bytes from UTF-8 literals, so tests can be written with readable Chinese text.
#pragma once

#include <string_view>

#include "util/charset.h"

namespace newsbar::test {

inline Text Gbk(std::string_view utf8) {
  return Utf8ToGbk(utf8);
}

}  // namespace newsbar::test
