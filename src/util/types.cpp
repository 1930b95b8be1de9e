#include "util/types.h"

#include <algorithm>

namespace newsbar {

Text TextFromBytes(const ByteSet& bytes) {
  auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  return Text(bytes.begin(), end);
}

ByteSet BytesFromText(std::string_view text) {
  return ByteSet(text.begin(), text.end());
}

}  // namespace newsbar
