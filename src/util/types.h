// Basic value types shared by every layer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace newsbar {

// A text: GBK (code page 936) bytes, no terminator inside. Positions count bytes.
using Text = std::string;

// An owned run of bytes (bodies, pictures, converted text). Empty means absent or failed.
using ByteSet = std::vector<std::uint8_t>;

// The bytes of a byte set up to its first zero byte, as a text.
Text TextFromBytes(const ByteSet& bytes);

// The bytes of a text, without a terminator.
ByteSet BytesFromText(std::string_view text);

}  // namespace newsbar
