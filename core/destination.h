// The recording's destination: a folder that cannot be reached, or a disk
// too small for the recording, is announced when the task is added and again
// when it starts. A warning costs nothing when it is wrong; a refusal would
// lose a recording that might have fitted, so nothing is refused.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/due_events.h"

namespace quorvane {

// The highest broadcast rate, 24 Mbps, in bytes a second.
inline constexpr int64_t kBroadcastBytesPerSecond = 3'000'000;
// A longer recording is judged by its first three hours, which hold the
// longest film or match: a task left "until stopped" warns only on a nearly
// full disk, and the need in MB stays within what %d shows.
inline constexpr int64_t kLongestJudgedSeconds = 3 * 60 * 60;

// The bytes the recording of `line` may still write from `now`: its real
// seconds from the later of its start and now to its end, at most three
// hours; 0 when none are left.
int64_t RecordingNeed(std::string_view line, const LocalTime& now);

// Logs that the folder the recording of `line` goes to cannot be reached,
// or that its disk has less room for this user than the recording may need;
// nothing otherwise.
void CheckDestination(const Surroundings& world, std::string_view line);

}  // namespace quorvane
