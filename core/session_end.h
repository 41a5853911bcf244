// The end of the Windows session (shutdown, restart, sign-out) and an
// installer closing the program: refused while a task records, with a reason
// Windows shows beside the program's name, which stays only as long as the
// refusal has a cause.
#pragma once

#include <cstdint>

#include "core/task_slots.h"

namespace quorvane {

// The request's flags, as Windows passes them (ENDSESSION_CLOSEAPP,
// ENDSESSION_CRITICAL, ENDSESSION_LOGOFF).
inline constexpr uint32_t kEndSessionCloseApp = 0x1;
inline constexpr uint32_t kEndSessionCritical = 0x40000000;
inline constexpr uint32_t kEndSessionLogoff = 0x80000000;

enum class EndOfSessionAnswer : uint8_t {
  kGrant,
  // Granted, and the reason of an earlier refusal is to be withdrawn.
  kGrantAndWithdraw,
  // Refused: the reason is to be given while the question is handled.
  kRefuse,
};

// The question alone stops nothing. A critical end is granted while
// recording too: Windows ends the session then whatever the answer, and the
// user had no choice to make.
EndOfSessionAnswer AnswerEndOfSession(SchedulerState& state, uint32_t flags);

// After a tick: true, once, when a reason given is to be withdrawn because
// nothing records any more.
bool EndRefusalLapsed(SchedulerState& state);

}  // namespace quorvane
