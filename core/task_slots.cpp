#include "core/task_slots.h"

namespace quorvane {

void ResetTaskSlots(TaskSlotTable& tasks) {
  tasks.anyRunning = 0;
  for (TaskSlot& slot : tasks.slots) slot.handle = 0;
}

TimeKey EarliestListedStart(ScheduleList& list, const TimeKey* notDueAt) {
  TimeKey best = kNothingPending;
  char line[kTextCapacity];
  const int32_t count = list.Count();
  for (int32_t i = 0; i < count; ++i) {
    if (!list.GetLine(i, line)) break;
    const TimeKey start = EntryStartKey(line);
    if (IsEarlier(start, best) && (notDueAt == nullptr || !IsDue(start, *notDueAt))) best = start;
  }
  return best;
}

void ComputeNextEvent(SchedulerState& state, ScheduleList& list) {
  TimeKey best = EarliestListedStart(list, nullptr);
  state.earliestStart = best;
  if (state.tasks.anyRunning != 0) {
    for (const TaskSlot& slot : state.tasks.slots) {
      if (slot.handle == 0) continue;
      const TimeKey end = {slot.endKey, slot.endSecond};
      if (IsEarlier(end, best)) best = end;
    }
  }
  state.nextEvent = best;
}

void StopAllTasks(TaskSlotTable& tasks, const TunerLibrary& tuner) {
  if (tasks.anyRunning == 0) return;
  for (TaskSlot& slot : tasks.slots) {
    const uint32_t handle = slot.handle;
    slot.handle = 0;
    if (handle != 0) tuner.stop(handle);
  }
  tasks.anyRunning = 0;
}

}  // namespace quorvane
