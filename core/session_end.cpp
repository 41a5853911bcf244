#include "core/session_end.h"

namespace quorvane {

EndOfSessionAnswer AnswerEndOfSession(SchedulerState& state, uint32_t flags) {
  if (state.tasks.anyRunning != 0 && (flags & kEndSessionCritical) == 0) {
    state.endRefused = 1;
    return EndOfSessionAnswer::kRefuse;
  }
  const bool given = state.endRefused != 0;
  state.endRefused = 0;
  return given ? EndOfSessionAnswer::kGrantAndWithdraw : EndOfSessionAnswer::kGrant;
}

bool EndRefusalLapsed(SchedulerState& state) {
  if (state.endRefused == 0 || state.tasks.anyRunning != 0) return false;
  state.endRefused = 0;
  return true;
}

}  // namespace quorvane
