// The ten running-task slots, the next pending instant and the tick's busy
// flag: the scheduler's whole state while the program runs.
#pragma once

#include <cstdint>

#include "core/schedule_entry.h"
#include "core/surroundings.h"
#include "core/tuner_library.h"

namespace quorvane {

inline constexpr int kTaskSlotCount = 10;

struct TaskSlot {
  uint32_t handle;  // from the tuner library; 0 means free
  int32_t endKey;
  int32_t endSecond;
};

struct TaskSlotTable {
  TaskSlot slots[kTaskSlotCount];
  // OR of all handles: nonzero exactly when a slot is busy.
  uint32_t anyRunning;
};

// Never a start that gets a wake: the timer must be set or cancelled anew.
inline constexpr TimeKey kWakeUnknown = {INT32_MIN, INT32_MIN};

// What the scheduler has asked of the system's power management.
struct PowerPlan {
  // From this instant on the earliest listed start is near: hold the
  // system awake.
  TimeKey awakeFrom;
  // The start the wake timer is armed for, kNothingPending when none is.
  TimeKey wakeFor;
  uint32_t awake;  // the hold is taken
  // The last arming was refused: logged once, tried again at each change.
  uint32_t wakeRefused;
};

// Nothing asked: how the program starts and how it leaves the system.
inline constexpr PowerPlan kPowerAtRest = {kNothingPending, kNothingPending, 0, 0};

struct SchedulerState {
  TaskSlotTable tasks;
  TimeKey nextEvent;
  // The earliest start among the listed entries, kNothingPending if none.
  TimeKey earliestStart;
  PowerPlan power;
  uint32_t busy;  // set while a tick is handled
  // The tick's timer was set to one delay to bring the ticks back into their
  // window; the next tick sets the period again.
  uint32_t tickRephasing;
  // When the last tick read the clock.
  TimeKey lastTick;
  int32_t lastTickMillisecond;
  // The last save failed: the file lags behind the list until a save works.
  uint32_t scheduleStale;
  // The end of the session was refused with a reason not yet withdrawn.
  uint32_t endRefused;
};

void ResetTaskSlots(TaskSlotTable& tasks);

// The earliest start among the listed entries, leaving out those due at
// `*notDueAt` if given; kNothingPending if none is left.
TimeKey EarliestListedStart(ScheduleList& list, const TimeKey* notDueAt);

// Earliest start among listed entries and end among running tasks; also
// keeps the earliest listed start alone.
void ComputeNextEvent(SchedulerState& state, ScheduleList& list);

// Stops every running task; results are ignored and slots kept.
void StopAllTasks(const TaskSlotTable& tasks, const TunerLibrary& tuner);

}  // namespace quorvane
