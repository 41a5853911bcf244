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

// The user's commands. An Add carries the line the form made, a Delete the
// text of the line selected when the user asked (`withLine` 0: none was).
enum class CommandKind : uint32_t { kAdd, kDelete, kBrowse, kQuit };

struct HeldCommand {
  CommandKind kind;
  uint32_t withLine;
  char line[kTextCapacity];
};

// Commands that came while a tick ran, first to last: a ring of
// kHeldCommandCapacity. A quit comes last and is kept apart (no command is
// held after it), so that no number of clicks can crowd it out.
inline constexpr uint32_t kHeldCommandCapacity = 16;
struct HeldCommands {
  HeldCommand ring[kHeldCommandCapacity];
  uint32_t first;
  uint32_t count;
  uint32_t quit;  // 0 none, else kQuitByUser or kQuitForSessionEnd
};
inline constexpr uint32_t kQuitByUser = 1;
inline constexpr uint32_t kQuitForSessionEnd = 2;

// How far the program's end has come.
enum class Ending : uint32_t {
  kRunning,
  // Every task stopped, no hold on sleep or wake, the list saved for the
  // last time: nothing starts, saves or asks the system anything any more.
  kScheduleEnded,
  kWindowClosed,
};

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
  HeldCommands held;
  Ending ending;
  uint32_t savedForGood;  // the last save is done: the list may go
};

inline bool HasEnded(const SchedulerState& state) {
  return state.ending != Ending::kRunning;
}

void ResetTaskSlots(TaskSlotTable& tasks);

// The earliest start among the listed entries, leaving out those due at
// `*notDueAt` if given; kNothingPending if none is left.
TimeKey EarliestListedStart(ScheduleList& list, const TimeKey* notDueAt);

// Earliest start among listed entries and end among running tasks; also
// keeps the earliest listed start alone.
void ComputeNextEvent(SchedulerState& state, ScheduleList& list);

// Stops every running task, results ignored. Each slot is freed before its
// stop, which may run the program's messages: a stop asked for meanwhile
// goes on with the tasks left, and none is stopped twice.
void StopAllTasks(TaskSlotTable& tasks, const TunerLibrary& tuner);

}  // namespace quorvane
