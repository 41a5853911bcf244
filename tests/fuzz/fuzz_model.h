// What the fuzz targets share: the property check and a reference line
// reader written the plain way, for differential testing against the core.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "tests/fakes/fakes.h"

// A failed property aborts, so libFuzzer keeps the input as a crash.
#define PROPERTY(holds)                                                                          \
  ((holds) ? (void)0                                                                             \
           : (std::fprintf(stderr, "property failed: %s (%s:%d)\n", #holds, __FILE__, __LINE__), \
              std::abort()))

namespace quorvane::fuzz {

inline std::string_view Bytes(const uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The lines of a file: a leading UTF-8 byte-order mark is skipped, a NUL ends
// the data, and each line is what a 1023-byte read holds up to its first
// CR LF, which is consumed with it.
inline std::vector<std::string> ModelLines(std::string_view data) {
  if (data.starts_with("\xEF\xBB\xBF")) data.remove_prefix(3);
  data = data.substr(0, data.find('\0'));
  std::vector<std::string> lines;
  while (!data.empty()) {
    const std::string_view piece = data.substr(0, 1023);
    const std::size_t end = piece.find("\r\n");
    lines.emplace_back(piece.substr(0, end));
    data.remove_prefix(end == std::string_view::npos ? piece.size() : end + 2);
  }
  return lines;
}

}  // namespace quorvane::fuzz
