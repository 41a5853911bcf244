#include "core/commands.h"

#include <cstring>

#include "core/destination.h"
#include "core/power.h"

namespace quorvane {
namespace {

void CloseWindow(SchedulerState& state, const Surroundings& world, uint32_t quit) {
  EndScheduling(state, world);
  if (state.ending == Ending::kWindowClosed) return;
  state.ending = Ending::kWindowClosed;
  world.frontEnd.CloseWindow(quit == kQuitByUser);
}

// The line the user selected, wherever it stands now; -1 once it is gone.
int32_t IndexOfLine(ScheduleList& list, const char* text) {
  char line[kTextCapacity];
  const int32_t count = list.Count();
  for (int32_t i = 0; i < count; ++i) {
    if (list.GetLine(i, line) && std::strcmp(line, text) == 0) return i;
  }
  return -1;
}

void CarryOut(SchedulerState& state, const Surroundings& world, const HeldCommand& command) {
  switch (command.kind) {
    case CommandKind::kAdd:
      world.list.AddLine(command.line);
      ListEdited(state, world);
      // The user is here to fix a folder or a disk; nothing is refused.
      CheckDestination(world, command.line);
      break;
    case CommandKind::kDelete:
      if (command.withLine != 0) {
        const int32_t index = IndexOfLine(world.list, command.line);
        if (index >= 0) world.list.DeleteLine(index);
      }
      ListEdited(state, world);
      break;
    case CommandKind::kBrowse:
      world.frontEnd.BrowseForFile();
      break;
    case CommandKind::kQuit:
      CloseWindow(state, world, kQuitByUser);
      break;
  }
}

HeldCommand CommandOf(CommandKind kind, const char* line) {
  HeldCommand command = {kind, line != nullptr ? 1u : 0u, {}};
  if (line != nullptr) {
    std::strncpy(command.line, line, kTextCapacity - 1);
  }
  return command;
}

}  // namespace

bool GiveCommand(SchedulerState& state, const Surroundings& world, CommandKind kind,
                 const char* line) {
  HeldCommands& held = state.held;
  if (HasEnded(state) && kind != CommandKind::kQuit) return true;
  if (state.busy == 0) {
    CarryOut(state, world, CommandOf(kind, line));
    return true;
  }
  if (held.quit != 0) return true;
  if (kind == CommandKind::kQuit) {
    held.quit = kQuitByUser;
    return true;
  }
  if (held.count == kHeldCommandCapacity) return false;
  held.ring[(held.first + held.count++) % kHeldCommandCapacity] = CommandOf(kind, line);
  return true;
}

void CarryOutHeldCommands(SchedulerState& state, const Surroundings& world) {
  HeldCommands& held = state.held;
  // Taken off the ring before it is carried out: Browse's dialog runs ticks,
  // whose own ends carry out the commands after it.
  while (held.count != 0 && state.busy == 0) {
    const HeldCommand command = held.ring[held.first];
    held.first = (held.first + 1) % kHeldCommandCapacity;
    --held.count;
    if (!HasEnded(state)) CarryOut(state, world, command);
  }
  if (held.quit != 0 && held.count == 0 && state.busy == 0) {
    const uint32_t quit = held.quit;
    held.quit = 0;
    CloseWindow(state, world, quit);
  }
}

void ListEdited(SchedulerState& state, const Surroundings& world) {
  ComputeNextEvent(state, world.list);
  SaveSchedule(state, world);
  PlanPower(state, world);
}

void EndScheduling(SchedulerState& state, const Surroundings& world) {
  if (state.ending == Ending::kRunning) state.ending = Ending::kScheduleEnded;
  StopAllTasks(state.tasks, world.tuner);
  ReleasePower(state, world);
  if (state.savedForGood != 0) return;
  // Once only: after it the list may be gone with its window, and a save
  // then would write an empty file.
  state.savedForGood = 1;
  SaveSchedule(state, world);
}

void EndWindowsSession(SchedulerState& state, const Surroundings& world) {
  EndScheduling(state, world);
  if (state.busy != 0) {
    state.held.quit = kQuitForSessionEnd;
  } else {
    CloseWindow(state, world, kQuitForSessionEnd);
  }
}

}  // namespace quorvane
