// Runs one core operation `count` times, for callgrind to count the
// instructions of that function alone (scripts/callgrind.sh):
//   tick_probe tick-idle|tick-ten|due-pass|next-event|append-log LINES COUNT
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench_world.h"
#include "core/activity_log.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(
        stderr,
        "usage: tick_probe tick-idle|tick-ten|due-pass|next-event|append-log LINES COUNT\n");
    return 2;
  }
  const char* what = argv[1];
  const int lines = std::atoi(argv[2]);
  const int count = std::atoi(argv[3]);
  bench::World w;
  w.Fill(lines, 0);
  w.FillPane();
  quorvane::ComputeNextEvent(w.state, w);
  if (std::strcmp(what, "tick-ten") == 0) w.RunTen();
  for (int i = 0; i < count; ++i) {
    if (std::strcmp(what, "due-pass") == 0) {
      // Ten due lines ahead of the rest, all slots free, a full pane.
      w.Fill(lines, 10);
      w.FillPane();
      quorvane::ResetTaskSlots(w.state.tasks);
      quorvane::RunDueEvents(w.state, w.world);
    } else if (std::strcmp(what, "append-log") == 0) {
      quorvane::AppendLog(w, w, w.world.nextChar, "\x83^\x83X\x83N3");
    } else if (std::strcmp(what, "next-event") == 0) {
      quorvane::ComputeNextEvent(w.state, w);
    } else {
      quorvane::OnTick(w.state, w.world);
    }
  }
  // Nothing due must have stayed so (no log line); the pass must have
  // started tasks; the log must have stayed within its bounds.
  const bool ok =
      std::strcmp(what, "due-pass") == 0 ? w.state.tasks.anyRunning != 0 : w.pane.size() == 32766;
  if (!ok) std::fprintf(stderr, "tick_probe: %s did not do what it measures\n", what);
  return ok ? 0 : 1;
}
