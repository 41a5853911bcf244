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
  TickTimer& tickTimer;
  FrontEnd& frontEnd;
};

// Logs message-table string `id` formatted with `args`, and notifies it
// when it reports a failure or a warning.
void LogMessage(const Surroundings& world, int32_t id, std::initializer_list<FormatArg> args);

// The messages that report a failure or a warning: a table full, no tuner
// manager, a start or stop refused, a save failed, a sleep while recording,
// a wake refused, a recording's folder out of reach or its disk short of
// room. Starts and stops that worked are for the log alone.
bool NotifiesUser(int32_t id);

// The tick's timer has a period of a second. A start or stop waits for the
// first tick after its second, so the ticks are kept in a window just after
// each second turns: early enough to lose nothing of a programme, late
// enough that a timer firing a little early still reads the new second.
inline constexpr int32_t kTickPeriodMs = 1000;
inline constexpr int32_t kTickWindowFirstMs = 20;
inline constexpr int32_t kTickWindowLastMs = 60;
// No two ticks come closer than this: one keep-alive a second, and never a
// second pass within one second.
inline constexpr int32_t kShortestTickGapMs = 500;

// The delay, from a moment `millisecond` into its second, that puts the
// next tick in the middle of the window, or as near it as the shortest gap
// allows (the tick after that then gets there).
int32_t RephaseDelayMs(int32_t millisecond);

// Decided at each tick from where it fell: 0 leaves the timer as it is;
// otherwise the timer is to be set to fire after that many milliseconds.
int32_t NextTickDelayMs(int32_t millisecond, bool rephasing);

// Every tick sets its timer as NextTickDelayMs says, keeps running tasks
// alive, runs the due pass when the next event has come and otherwise
// retries a save that failed, and keeps the system awake as long as needed;
// then it carries out the commands held while it ran.
void OnTick(SchedulerState& state, const Surroundings& world);

// At start-up, after a resume and after the clock was set, where the timer's
// old phase means nothing: the tick's timer is set afresh.
void RephaseTicks(SchedulerState& state, const Surroundings& world);
// False when it ended early: a full task table, a list that could not be
// read, or the program's end inside a library call. The next event then
// stays due, and nothing is saved.
bool RunDueEvents(SchedulerState& state, const Surroundings& world);

// Saves the list. A failure marks the file stale, so that every tick tries
// again, and is logged once for each run of failures.
void SaveSchedule(SchedulerState& state, const Surroundings& world);

}  // namespace quorvane
