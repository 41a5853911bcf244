// The one-second tick: keep-alive for running tasks and, when the next event
// is due, the pass that stops ended tasks and starts due entries.
#pragma once

#include "core/surroundings.h"
#include "core/task_slots.h"

namespace quorvane {

struct Surroundings {
  ScheduleList& list;
  LogPane& log;
  Clock& clock;
  MessageTable& messages;
  Files& files;
  NextCharRule nextChar;
  const TunerLibrary& tuner;
  const char* schedulePath;
};

void OnTick(SchedulerState& state, const Surroundings& world);
void RunDueEvents(SchedulerState& state, const Surroundings& world);

}  // namespace quorvane
