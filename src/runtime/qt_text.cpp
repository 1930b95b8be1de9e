#include "runtime/qt_text.h"

#include "util/charset.h"

namespace newsbar {

QString ToQString(std::string_view gbk) {
  if (gbk.empty()) return {};
  return QString::fromStdU16String(GbkToUtf16(gbk));
}

Text FromQString(const QString& text) {
  if (text.isEmpty()) return {};
  return Utf16ToGbk(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), text.size()));
}

}  // namespace newsbar
