#include "core/due_events.h"

#include "core/activity_log.h"
#include "core/commands.h"
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

// Every library call may run the program's messages, and the Windows
// session may end inside it: then every task is stopped and the list saved
// at once, and the pass ends as soon as the call returns.

// False when the pass is to end.
bool StopEndedTasks(SchedulerState& state, TimeKey now, const Surroundings& world) {
  TaskSlotTable& tasks = state.tasks;
  for (int32_t i = 0; i < kTaskSlotCount; ++i) {
    TaskSlot& slot = tasks.slots[i];
    if (slot.handle == 0 || !IsDue({slot.endKey, slot.endSecond}, now)) continue;
    // Freed first, so that nothing meanwhile stops it again; a task whose
    // stop failed is forgotten all the same.
    const uint32_t handle = slot.handle;
    slot.handle = 0;
    const int32_t stopped = world.tuner.stop(handle);
    if (HasEnded(state)) return false;
    LogMessage(world, stopped != 0 ? IDS_STOPPED : IDS_STOP_FAILED, {i});
  }
  tasks.anyRunning = 0;
  for (const TaskSlot& slot : tasks.slots) tasks.anyRunning |= slot.handle;
  return true;
}

int32_t LowestFreeSlot(const TaskSlotTable& tasks) {
  for (int32_t i = 0; i < kTaskSlotCount; ++i) {
    if (tasks.slots[i].handle == 0) return i;
  }
  return -1;
}

// The line of a start the program's end came before: back into the list,
// which the end saved without it, and into the file. (The list stays while
// a tick runs; the window closes after.) False: the pass is to end.
bool PutBack(SchedulerState& state, const char* line, const Surroundings& world) {
  world.list.AddLine(line);
  SaveSchedule(state, world);
  return false;
}

// False when the pass is to end.
bool StartTask(SchedulerState& state, int32_t index, const char* line, const Surroundings& world) {
  TaskSlotTable& tasks = state.tasks;
  TaskSlot& slot = tasks.slots[index];
  const TimeKey end = EntryEndKey(line);
  slot.endKey = end.key;
  slot.endSecond = end.second;
  const ChannelChoice choice = ParseChannelField(GetField(line, kChannelField), world.nextChar);
  char fileName[kTextCapacity];
  CopyField(line, kFileNameField, fileName);
  if (fileName[0] == '\0') DefaultRecordingName(line, fileName);

  const int32_t present = world.tuner.managerPing();
  if (HasEnded(state)) return PutBack(state, line, world);
  if (present == 0) {
    LogMessage(world, IDS_MANAGER_NOT_FOUND, {});
    return true;
  }
  const uint32_t frequency = world.tuner.channelToFreq(static_cast<uint16_t>(choice.channel),
                                                       static_cast<uint32_t>(choice.catvFlag));
  if (HasEnded(state)) return PutBack(state, line, world);
  const int32_t started = world.tuner.saveFile(frequency, 0, 1, 5, fileName, &slot.handle);
  if (HasEnded(state)) {
    // Every other task was stopped while this one started: none may run on.
    const uint32_t handle = slot.handle;
    slot.handle = 0;
    if (started != 0 && handle != 0) world.tuner.stop(handle);
    return false;
  }
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
  return true;
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
  if (state.busy != 0 || HasEnded(state)) return;
  state.busy = 1;
  if (state.tasks.anyRunning != 0) {
    for (const TaskSlot& slot : state.tasks.slots) {
      if (slot.handle != 0) world.tuner.updateTimeout(slot.handle);
    }
  }
  if (!HasEnded(state)) {
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
      const Surroundings pass = {world.list,  notices,         world.clock,   world.messages,
                                 world.files, world.nextChar,  world.tuner,   world.schedulePath,
                                 world.power, world.tickTimer, world.frontEnd};
      RunDueEvents(state, pass);
      if (!HasEnded(state)) {
        PlanPower(state, pass);
        notices.Show();
      }
    } else {
      if (state.scheduleStale != 0) SaveSchedule(state, world);
      KeepAwakeAsNeeded(state, world, now);
    }
  }
  state.busy = 0;
  CarryOutHeldCommands(state, world);
}

bool RunDueEvents(SchedulerState& state, const Surroundings& world) {
  const TimeKey now = TimeKeyOf(world.clock.Now());
  TaskSlotTable& tasks = state.tasks;
  if (tasks.anyRunning != 0 && !StopEndedTasks(state, now, world)) return false;

  char line[kTextCapacity];
  // From the last line down, so that deleting a line never moves one still
  // to be visited. The user's commands wait for the pass to end: nothing
  // else moves the lines under it.
  for (int32_t i = world.list.Count() - 1; i >= 0; --i) {
    if (!world.list.GetLine(i, line)) return false;
    if (!IsDue(EntryStartKey(line), now)) continue;
    world.list.DeleteLine(i);
    const int32_t slot = LowestFreeSlot(tasks);
    if (slot < 0) {
      // The next event stays due, so the next tick tries again.
      LogMessage(world, IDS_TOO_MANY_TASKS, {});
      return false;
    }
    if (!StartTask(state, slot, line, world)) return false;
  }
  ComputeNextEvent(state, world.list);
  SaveSchedule(state, world);
  return true;
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
