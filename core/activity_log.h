// The activity log: time-stamped lines, newest first, in a pane that never
// holds more than 32767 bytes.
#pragma once

#include <cstddef>

#include "core/surroundings.h"

namespace quorvane {

inline constexpr std::size_t kLogCapacity = 32768;

void AppendLog(LogPane& pane, Clock& clock, NextCharRule nextChar, const char* message);

}  // namespace quorvane
