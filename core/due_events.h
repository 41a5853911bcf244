// The one-second tick: keep-alive for running tasks and, when the next event
// is due, the pass that stops ended tasks and starts due entries.
#pragma once

#include <initializer_list>

#include "core/surroundings.h"
#include "core/task_slots.h"
#include "core/text_format.h"

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
  Power& power;
};

// Logs message-table string `id` formatted with `args`.
void LogMessage(const Surroundings& world, int32_t id, std::initializer_list<FormatArg> args);

// Every tick keeps running tasks alive, runs the due pass when the next event
// has come and otherwise retries a save that failed, and keeps the system
// awake as long as needed.
void OnTick(SchedulerState& state, const Surroundings& world);
void RunDueEvents(SchedulerState& state, const Surroundings& world);

// Saves the list. A failure marks the file stale, so that every tick tries
// again, and is logged once for each run of failures.
void SaveSchedule(SchedulerState& state, const Surroundings& world);

}  // namespace quorvane
