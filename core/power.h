// Sleep and the schedule: the system is held awake while a task records or
// the earliest start is near, and a wake timer brings it out of sleep before
// the next start. The core decides; the platform's Power seam applies.
#pragma once

#include "core/due_events.h"
#include "core/schedule_entry.h"
#include "core/task_slots.h"

namespace quorvane {

// How long before a start the system is woken, and from when it is held.
inline constexpr int32_t kWakeLeadSeconds = 120;

// The first real local second at which `start` is due. Keys count twelve
// 31-day months, so a day its month lacks is 00:00:00 on the first of the
// next month, and a second of 60 or more is second 0 of the next minute.
// False for kNothingPending and a key before the first day of the key's
// calendar (year 0), wrapped (negative) ones among them.
bool RealStartOf(TimeKey start, LocalTime& instant);

// Real seconds from `from` to `to`, local instants with every field in its
// range (a clock reading, or what RealStartOf gives); negative when `to`
// comes first. Wall-clock seconds: a change to or from daylight saving time
// in between is not counted.
int64_t RealSecondsBetween(const LocalTime& from, const LocalTime& to);

// The start the system is woken for, unless it is due at `now` already or
// has no real start. (Keys end in the year 4008, well within what Windows
// can represent.)
bool WakeStartOf(TimeKey start, TimeKey now, LocalTime& instant);

// The key from which the system is held awake for `start`: its real start
// less the lead, in the local calendar; `start` itself when it has none.
TimeKey AwakeFromKey(TimeKey start);

// Held while a task records or from `awakeFrom` on: one comparison a tick.
inline bool WantsSystemAwake(const TaskSlotTable& tasks, TimeKey awakeFrom, TimeKey now) {
  return tasks.anyRunning != 0 || IsDue(awakeFrom, now);
}

// After the list or the tasks changed (loading, Add, Delete, a due pass):
// sets the wake timer for the earliest start not yet due, cancels it when
// there is none, and takes or releases the hold.
void PlanPower(SchedulerState& state, const Surroundings& world);

// Takes the hold when `awake`, releases it otherwise.
void HoldSystemAwake(SchedulerState& state, const Surroundings& world, bool awake);

// Takes or releases the hold when what is wanted at `now` changed: on the
// tick's path, so the system is called only on a change.
inline void KeepAwakeAsNeeded(SchedulerState& state, const Surroundings& world, TimeKey now) {
  const bool wanted = WantsSystemAwake(state.tasks, state.power.awakeFrom, now);
  if (wanted != (state.power.awake != 0)) HoldSystemAwake(state, world, wanted);
}

// At quit and at the end of the session: no hold and no wake are left.
void ReleasePower(SchedulerState& state, const Surroundings& world);

// No program may refuse a sleep; a recording then has a gap, which the log
// explains.
void OnSuspend(SchedulerState& state, const Surroundings& world);

// A start that fell due while asleep does not wait for the next tick; the
// wake timer and the ticks' phase are set again.
void OnResume(SchedulerState& state, const Surroundings& world);

// The clock was set, perhaps with the time zone: the wake timer and the
// ticks' phase are set again.
void OnClockChanged(SchedulerState& state, const Surroundings& world);

}  // namespace quorvane
