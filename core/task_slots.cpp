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
    list.GetLine(i, line);
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

void StopAllTasks(const TaskSlotTable& tasks, const TunerLibrary& tuner) {
  if (tasks.anyRunning == 0) return;
  for (const TaskSlot& slot : tasks.slots) {
    if (slot.handle != 0) tuner.stop(slot.handle);
  }
}

}  // namespace quorvane
