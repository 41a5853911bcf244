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

struct SchedulerState {
  TaskSlotTable tasks;
  TimeKey nextEvent;
  uint32_t busy;  // set while a tick is handled
  // The last save failed: the file lags behind the list until a save works.
  uint32_t scheduleStale;
};

void ResetTaskSlots(TaskSlotTable& tasks);

// Earliest start among listed entries and end among running tasks.
void ComputeNextEvent(SchedulerState& state, ScheduleList& list);

// Stops every running task; results are ignored and slots kept.
void StopAllTasks(const TaskSlotTable& tasks, const TunerLibrary& tuner);

}  // namespace quorvane
