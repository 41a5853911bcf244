// The user's commands and the program's end. A library call of a tick may
// run the program's messages, a command among them: carried out there it
// would move the list's lines under the due pass, start what nobody asked
// or end the program beneath it. So commands wait for the tick to end,
// while the end of the Windows session, which cannot wait, stops and saves
// at once and leaves the pass nothing more to do.
#pragma once

#include "core/due_events.h"
#include "core/task_slots.h"

namespace quorvane {

// Carries a command out, or holds it while a tick runs. `line`: the line an
// Add adds, the text of the line a Delete deletes (nullptr: none selected).
// False when it can be neither: too many are held already. Once the program
// is ending, anything but a quit is let go.
bool GiveCommand(SchedulerState& state, const Surroundings& world, CommandKind kind,
                 const char* line);

// After a tick: the commands held while it ran, in the order they came.
void CarryOutHeldCommands(SchedulerState& state, const Surroundings& world);

// After the list changed (load, Add, Delete): the next event, the file and
// the wake follow.
void ListEdited(SchedulerState& state, const Surroundings& world);

// However the program ends: every task stopped, no hold on sleep or wake
// left, the list saved for the last time; from then on nothing starts,
// saves or asks the system anything. Safe to run again, also from inside
// itself (a stop that runs messages).
void EndScheduling(SchedulerState& state, const Surroundings& world);

// Windows ends the process soon after it says the session ends: the
// scheduling ends at once, inside a tick too, and the window closes once
// no tick runs.
void EndWindowsSession(SchedulerState& state, const Surroundings& world);

}  // namespace quorvane
