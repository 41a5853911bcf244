// A small wsprintf-like formatter: %d, %0Nd, %Nd, %s and %% with typed
// arguments, so that a message text can never read an argument it lacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

namespace quorvane {

struct FormatArg {
  FormatArg(int32_t value) : number(value), text(nullptr) {}
  FormatArg(const char* value) : number(0), text(value) {}
  int32_t number;
  const char* text;
};

// Writes at most buffer.size() - 1 bytes and a NUL; returns the length.
std::size_t FormatText(std::span<char> buffer, const char* format,
                       std::initializer_list<FormatArg> args);

}  // namespace quorvane
