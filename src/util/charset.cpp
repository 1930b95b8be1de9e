#include "util/charset.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>

#include "util/gbk_text.h"

namespace newsbar {
namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;
// Every conversion passes through UTF-32 in the machine's byte order, which holds any
// character of either end, so nothing is lost between the two charsets.
constexpr const char* kUtf32 = kLittleEndian ? "UTF-32LE" : "UTF-32BE";
constexpr char32_t kReplacement = U'?';

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (Valid()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // Back to the initial shift state, for reuse.
  void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }
  iconv_t Get() const { return cd_; }

 private:
  iconv_t cd_;
};

// How far to step over a byte sequence the source charset rejects.
struct SourceKind {
  std::size_t unit = 1;     // code-unit size: 2 for UTF-16/UCS-2, 4 for UTF-32/UCS-4
  bool doubleByte = false;  // GBK family: a lead byte with a plausible trail is one character
  bool utf8 = false;        // UTF-8: a bad lead byte takes its continuation bytes with it
};

bool IsUtf8Name(std::string_view name) {
  return gbk::EqualsNoCase(name, "UTF-8") || gbk::EqualsNoCase(name, "UTF8");
}

SourceKind SourceKindOf(std::string_view name) {
  SourceKind kind;
  for (std::string_view wide : {"UTF-32", "UTF32", "UCS-4", "UCS4", "WCHAR_T"}) {
    if (gbk::ContainsNoCase(name, wide)) kind.unit = 4;
  }
  for (std::string_view wide : {"UTF-16", "UTF16", "UCS-2", "UCS2", "UNICODE"}) {
    if (gbk::ContainsNoCase(name, wide)) kind.unit = 2;
  }
  for (std::string_view dbcs : {"GBK", "CP936", "GB2312", "GB18030", "EUC-CN"}) {
    if (gbk::EqualsNoCase(name, dbcs)) kind.doubleByte = true;
  }
  kind.utf8 = IsUtf8Name(name);
  return kind;
}

std::size_t BadSequenceLength(std::string_view rest, const SourceKind& kind) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(rest[i]); };
  if (kind.unit > 1) return std::min(kind.unit, rest.size());
  std::size_t n = 1;
  if (kind.doubleByte) {
    if (byte(0) >= 0x81 && byte(0) <= 0xFE && rest.size() > 1 && byte(1) >= 0x40 &&
        byte(1) <= 0xFE && byte(1) != 0x7F) {
      n = 2;
    }
  } else if (kind.utf8) {
    while (n < rest.size() && n < 4 && (byte(n) & 0xC0) == 0x80) ++n;
  }
  return n;
}

// Source bytes to code points; each rejected sequence becomes one '?'.
std::u32string Decode(Iconv& cd, std::string_view in, const SourceKind& kind) {
  std::u32string out;
  out.reserve(in.size());
  std::array<char32_t, 2048> buffer;
  char* inPtr = const_cast<char*>(in.data());  // iconv never writes its input
  std::size_t inLeft = in.size();
  while (inLeft > 0) {
    char* outPtr = reinterpret_cast<char*>(buffer.data());
    std::size_t outLeft = sizeof(buffer);
    std::size_t rc = iconv(cd.Get(), &inPtr, &inLeft, &outPtr, &outLeft);
    int error = errno;
    out.append(buffer.data(), (sizeof(buffer) - outLeft) / sizeof(char32_t));
    if (rc != static_cast<std::size_t>(-1)) break;
    if (error == E2BIG) continue;
    out.push_back(kReplacement);
    if (error != EILSEQ) break;  // EINVAL: the input ends inside a character
    std::size_t skip = BadSequenceLength(std::string_view(inPtr, inLeft), kind);
    inPtr += skip;
    inLeft -= skip;
  }
  return out;
}

// Code points to target bytes; each character the target cannot hold becomes its '?'.
std::string Encode(Iconv& cd, std::u32string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  std::array<char, 8192> buffer;
  char* inPtr = const_cast<char*>(reinterpret_cast<const char*>(text.data()));
  std::size_t inLeft = text.size() * sizeof(char32_t);
  bool flushed = false;
  while (!flushed) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    std::size_t rc;
    if (inLeft > 0) {
      rc = iconv(cd.Get(), &inPtr, &inLeft, &outPtr, &outLeft);
    } else {
      // Return a stateful target to its initial state at the end.
      rc = iconv(cd.Get(), nullptr, nullptr, &outPtr, &outLeft);
      flushed = rc != static_cast<std::size_t>(-1);
    }
    int error = errno;
    out.append(buffer.data(), buffer.size() - outLeft);
    if (rc != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    if (inLeft == 0) break;  // a target that cannot even be reset: keep what we have
    // The character at inPtr has no place in the target: write '?' in its stead.
    char32_t question = kReplacement;
    char* qPtr = reinterpret_cast<char*>(&question);
    std::size_t qLeft = sizeof(question);
    std::array<char, 16> qBuffer;
    char* qOut = qBuffer.data();
    std::size_t qOutLeft = qBuffer.size();
    if (iconv(cd.Get(), &qPtr, &qLeft, &qOut, &qOutLeft) != static_cast<std::size_t>(-1)) {
      out.append(qBuffer.data(), qBuffer.size() - qOutLeft);
    }
    inPtr += sizeof(char32_t);
    inLeft -= sizeof(char32_t);
  }
  return out;
}

// A name that iconv would read as more than a charset ("GBK//IGNORE") is not one.
bool IsCharsetName(std::string_view name) {
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// One pair of converters per thread for the program's own GBK, opened on first use.
struct GbkConverters {
  Iconv gbkDecoder{kUtf32, "GBK"};
  Iconv gbkEncoder{"GBK", kUtf32};
  Iconv utf8Decoder{kUtf32, "UTF-8"};
};

GbkConverters& Converters() {
  thread_local GbkConverters converters;
  return converters;
}

const SourceKind kGbkSource{.unit = 1, .doubleByte = true, .utf8 = false};
const SourceKind kUtf8Source{.unit = 1, .doubleByte = false, .utf8 = true};

// Without the system's GBK tables only ASCII can be read or written.
std::u32string AsciiOnly(std::string_view text) {
  std::u32string out;
  for (char c : text) out.push_back(static_cast<unsigned char>(c) < 0x80 ? c : kReplacement);
  return out;
}

std::u32string DecodeGbk(std::string_view gbk) {
  Iconv& cd = Converters().gbkDecoder;
  if (!cd.Valid()) return AsciiOnly(gbk);
  cd.Reset();
  return Decode(cd, gbk, kGbkSource);
}

Text EncodeGbk(std::u32string_view text) {
  Iconv& cd = Converters().gbkEncoder;
  if (!cd.Valid()) {
    Text out;
    for (char32_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
  }
  cd.Reset();
  return Encode(cd, text);
}

bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

}  // namespace

ByteSet ConvertCharset(const ByteSet& data, ConvertOptions options) {
  std::string from(options.from.empty() ? std::string_view("UTF-8") : options.from);
  std::string to(options.to.empty() ? std::string_view("GBK") : options.to);
  if (!IsCharsetName(from) || !IsCharsetName(to)) return {};
  Iconv decoder(kUtf32, from.c_str());
  Iconv encoder(to.c_str(), kUtf32);
  if (!decoder.Valid() || !encoder.Valid()) return {};

  std::string_view in(reinterpret_cast<const char*>(data.data()), data.size());
  // Text read as UTF-8 does not include its byte-order mark.
  if (IsUtf8Name(from) && in.starts_with("\xEF\xBB\xBF")) in.remove_prefix(3);
  std::string bytes = Encode(encoder, Decode(decoder, in, SourceKindOf(from)));

  // A negative offset is no position: the result starts at the first byte.
  std::size_t offset = 0;
  if (options.start && *options.start > 0) {
    offset = std::min(static_cast<std::size_t>(*options.start), bytes.size());
  }
  return ByteSet(bytes.begin() + static_cast<std::ptrdiff_t>(offset), bytes.end());
}

std::u16string GbkToUtf16(std::string_view gbk) {
  if (IsAscii(gbk)) return std::u16string(gbk.begin(), gbk.end());
  std::u16string out;
  out.reserve(gbk.size());
  for (char32_t c : DecodeGbk(gbk)) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

Text Utf16ToGbk(std::u16string_view utf16) {
  bool ascii = std::all_of(utf16.begin(), utf16.end(), [](char16_t c) { return c < 0x80; });
  if (ascii) return Text(utf16.begin(), utf16.end());
  std::u32string text;
  text.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (IsSurrogate(c)) {
      c = kReplacement;  // half a pair stands for no character
    }
    text.push_back(c);
  }
  return EncodeGbk(text);
}

std::string GbkToUtf8Text(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  std::string out;
  out.reserve(gbk.size() * 3 / 2);
  for (char32_t c : DecodeGbk(gbk)) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

Text Utf8ToGbk(std::string_view utf8) {
  if (IsAscii(utf8)) return Text(utf8);
  Iconv& cd = Converters().utf8Decoder;
  if (!cd.Valid()) return EncodeGbk(AsciiOnly(utf8));
  cd.Reset();
  return EncodeGbk(Decode(cd, utf8, kUtf8Source));
}

}  // namespace newsbar
