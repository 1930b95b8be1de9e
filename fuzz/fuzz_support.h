// Helpers shared by the fuzz targets: texts cut out of one input, and checks that stop
// the run (libFuzzer then keeps the input as a crash artifact).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace newsbar::fuzz {

// The input as `count` texts: the parts between its NUL bytes, the last one taking the
// rest (NULs included); parts the input does not reach are empty. Seeds are written
// the same way, e.g. printf 'text\0needle\0replacement'.
inline std::vector<std::string_view> SplitInput(const std::uint8_t* data, std::size_t size,
                                                std::size_t count) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < count) {
    const std::size_t nul = rest.find('\0');
    if (nul == std::string_view::npos) break;
    parts.push_back(rest.substr(0, nul));
    rest.remove_prefix(nul + 1);
  }
  parts.push_back(rest);
  parts.resize(count);
  return parts;
}

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
  std::abort();
}

}  // namespace newsbar::fuzz

// An invariant of the routine under test; a broken one aborts like a crash would.
#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::newsbar::fuzz::Fail(#condition, __FILE__, __LINE__))
