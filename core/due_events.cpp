#include "core/due_events.h"

#include "core/activity_log.h"
#include "core/destination.h"
#include "core/power.h"
#include "core/schedule_entry.h"
#include "core/schedule_file.h"
#include "resources/resource_ids.h"

namespace quorvane {

void LogMessage(const Surroundings& world, int32_t id, std::initializer_list<FormatArg> args) {
  char format[kTextCapacity];
  char message[kTextCapacity];
  world.messages.Load(id, format);
  FormatText(message, format, args);
  AppendLog(world.log, world.clock, world.nextChar, message);
  if (NotifiesUser(id)) world.log.Notify(message);
}

bool NotifiesUser(int32_t id) {
  switch (id) {
    case IDS_TOO_MANY_TASKS:
    case IDS_MANAGER_NOT_FOUND:
    case IDS_START_FAILED:
    case IDS_STOP_FAILED:
    case IDS_SAVE_FAILED:
    case IDS_SLEEP_WHILE_RECORDING:
    case IDS_WAKE_REFUSED:
    case IDS_DESTINATION_SMALL:
    case IDS_DESTINATION_UNREACHABLE:
      return true;
    default:
      return false;
  }
}

namespace {

// Holds back the notices of a due pass, which may log several failures at
// once, and passes on only the newest when the pass is over.
class NewestNotice final : public LogPane {
 public:
  explicit NewestNotice(LogPane& pane) : pane_(pane) {}
  void ReadText(std::span<char> buffer) override { pane_.ReadText(buffer); }
  void ReplaceText(const char* text) override { pane_.ReplaceText(text); }
  void Notify(const char* message) override { FormatText(newest_, "%s", {message}); }
  void Show() {
    if (newest_[0] != '\0') pane_.Notify(newest_);
  }

 private:
  LogPane& pane_;
  char newest_[kTextCapacity] = {};
};

void StopEndedTasks(TaskSlotTable& tasks, TimeKey now, const Surroundings& world) {
  for (int32_t i = 0; i < kTaskSlotCount; ++i) {
    TaskSlot& slot = tasks.slots[i];
    if (slot.handle == 0 || !IsDue({slot.endKey, slot.endSecond}, now)) continue;
    const int32_t stopped = world.tuner.stop(slot.handle);
    // A task whose stop failed is forgotten all the same.
    slot.handle = 0;
    LogMessage(world, stopped != 0 ? IDS_STOPPED : IDS_STOP_FAILED, {i});
  }
  tasks.anyRunning = 0;
  for (const TaskSlot& slot : tasks.slots) tasks.anyRunning |= slot.handle;
}

int32_t LowestFreeSlot(const TaskSlotTable& tasks) {
  for (int32_t i = 0; i < kTaskSlotCount; ++i) {
    if (tasks.slots[i].handle == 0) return i;
  }
  return -1;
}

void StartTask(TaskSlotTable& tasks, int32_t index, const char* line, const Surroundings& world) {
  TaskSlot& slot = tasks.slots[index];
  const TimeKey end = EntryEndKey(line);
  slot.endKey = end.key;
  slot.endSecond = end.second;
  const ChannelChoice choice = ParseChannelField(GetField(line, kChannelField), world.nextChar);
  char fileName[kTextCapacity];
  CopyField(line, kFileNameField, fileName);
  if (fileName[0] == '\0') DefaultRecordingName(line, fileName);

  if (world.tuner.managerPing() == 0) {
    LogMessage(world, IDS_MANAGER_NOT_FOUND, {});
    return;
  }
  const uint32_t frequency = world.tuner.channelToFreq(static_cast<uint16_t>(choice.channel),
                                                       static_cast<uint32_t>(choice.catvFlag));
  const int32_t started = world.tuner.saveFile(frequency, 0, 1, 5, fileName, &slot.handle);
  if (started != 0) {
    tasks.anyRunning |= slot.handle;
  } else {
    // A refusing library may have left garbage in the handle; a nonzero
    // value would be kept alive and stopped as a phantom task.
    slot.handle = 0;
  }
  LogMessage(world, started != 0 ? IDS_STARTED : IDS_START_FAILED,
             {index, choice.channel, choice.catvFlag});
  // Only after the start, which a slow network folder must never delay.
  if (started != 0) CheckDestination(world, line);
}

}  // namespace

int32_t RephaseDelayMs(int32_t millisecond) {
  constexpr int32_t kMiddle = (kTickWindowFirstMs + kTickWindowLastMs) / 2;
  const int32_t delay = kTickPeriodMs - millisecond + kMiddle;
  return delay < kShortestTickGapMs ? kShortestTickGapMs : delay;
}

int32_t NextTickDelayMs(int32_t millisecond, bool rephasing) {
  if (millisecond < kTickWindowFirstMs || millisecond > kTickWindowLastMs) {
    return RephaseDelayMs(millisecond);
  }
  return rephasing ? kTickPeriodMs : 0;
}

void RephaseTicks(SchedulerState& state, const Surroundings& world) {
  state.tickRephasing = 1;
  world.tickTimer.SetTickTimer(RephaseDelayMs(world.clock.Now().millisecond));
}

void OnTick(SchedulerState& state, const Surroundings& world) {
  if (state.busy != 0) return;
  state.busy = 1;
  if (state.tasks.anyRunning != 0) {
    for (const TaskSlot& slot : state.tasks.slots) {
      if (slot.handle != 0) world.tuner.updateTimeout(slot.handle);
    }
  }
  const LocalTime tickTime = world.clock.Now();
  state.lastTick = TimeKeyOf(tickTime);
  state.lastTickMillisecond = tickTime.millisecond;
  // Set before the tick's work, which would otherwise shift the period.
  const int32_t delay = NextTickDelayMs(tickTime.millisecond, state.tickRephasing != 0);
  if (delay != 0) {
    state.tickRephasing = delay != kTickPeriodMs ? 1 : 0;
    world.tickTimer.SetTickTimer(delay);
  }
  const TimeKey now = state.lastTick;
  if (IsDue(state.nextEvent, now)) {
    NewestNotice notices(world.log);
    const Surroundings pass = {world.list,  notices,        world.clock, world.messages,
                               world.files, world.nextChar, world.tuner, world.schedulePath,
                               world.power, world.tickTimer};
    RunDueEvents(state, pass);
    PlanPower(state, pass);
    notices.Show();
  } else {
    if (state.scheduleStale != 0) SaveSchedule(state, world);
    KeepAwakeAsNeeded(state, world, now);
  }
  state.busy = 0;
}

void RunDueEvents(SchedulerState& state, const Surroundings& world) {
  const TimeKey now = TimeKeyOf(world.clock.Now());
  TaskSlotTable& tasks = state.tasks;
  if (tasks.anyRunning != 0) StopEndedTasks(tasks, now, world);

  char line[kTextCapacity];
  // From the last line down, so that deleting a line never moves one still
  // to be visited.
  for (int32_t i = world.list.Count() - 1; i >= 0; --i) {
    world.list.GetLine(i, line);
    if (!IsDue(EntryStartKey(line), now)) continue;
    world.list.DeleteLine(i);
    const int32_t slot = LowestFreeSlot(tasks);
    if (slot < 0) {
      // The next event stays due, so the next tick tries again.
      LogMessage(world, IDS_TOO_MANY_TASKS, {});
      return;
    }
    StartTask(tasks, slot, line, world);
  }
  ComputeNextEvent(state, world.list);
  SaveSchedule(state, world);
}

void SaveSchedule(SchedulerState& state, const Surroundings& world) {
  if (SaveScheduleFile(world.list, world.files, world.schedulePath)) {
    state.scheduleStale = 0;
    return;
  }
  if (state.scheduleStale == 0) LogMessage(world, IDS_SAVE_FAILED, {});
  state.scheduleStale = 1;
}

}  // namespace quorvane
