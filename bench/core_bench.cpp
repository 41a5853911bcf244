// The core's operations timed over lists of growing length. Each benchmark
// reports the time per operation, the time per line where a line count
// applies, and its fit to the expected growth (the _BigO row: constant or
// linear; the _RMS row says how far the runs stray from that fit).
#include <benchmark/benchmark.h>

#include "bench/bench_world.h"
#include "core/activity_log.h"
#include "core/schedule_file.h"

namespace {

using bench::World;
using benchmark::Counter;

// Seconds per line: the counter is shown as time, e.g. "25ns".
void PerLine(benchmark::State& state, int64_t lines) {
  state.counters["per_line"] =
      Counter(static_cast<double>(lines), Counter::kIsIterationInvariantRate | Counter::kInvert);
  state.SetComplexityN(lines);
}

// A tick with nothing due never reads the list: flat in its length.
void TickIdle(benchmark::State& state) {
  World w;
  w.Fill(static_cast<int>(state.range(0)), 0);
  ComputeNextEvent(w.state, w);
  for (auto _ : state) OnTick(w.state, w.world);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(TickIdle)->RangeMultiplier(10)->Range(100, 10000)->Complexity(benchmark::o1);

void TickTenRunning(benchmark::State& state) {
  World w;
  w.Fill(static_cast<int>(state.range(0)), 0);
  w.RunTen();
  for (auto _ : state) OnTick(w.state, w.world);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(TickTenRunning)->RangeMultiplier(10)->Range(100, 10000)->Complexity(benchmark::o1);

// Ten due lines at the head of a list of N: ten starts, ten log lines on a
// full pane, the next event over the rest and its save.
void DuePassTenStarts(benchmark::State& state) {
  World w;
  const auto n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    w.Fill(n, 10);
    w.FillPane();
    ResetTaskSlots(w.state.tasks);
    state.ResumeTiming();
    RunDueEvents(w.state, w.world);
  }
  if (w.state.tasks.anyRunning == 0 || w.Count() != n - 10) state.SkipWithError("no ten starts");
  PerLine(state, n);
}
BENCHMARK(DuePassTenStarts)->RangeMultiplier(10)->Range(100, 10000)->Complexity(benchmark::oN);

void ComputeNextEventOverList(benchmark::State& state) {
  World w;
  w.Fill(static_cast<int>(state.range(0)), 0);
  for (auto _ : state) ComputeNextEvent(w.state, w);
  PerLine(state, state.range(0));
}
BENCHMARK(ComputeNextEventOverList)
    ->RangeMultiplier(10)
    ->Range(100, 10000)
    ->Complexity(benchmark::oN);

void LoadScheduleFileOfLines(benchmark::State& state) {
  World w;
  w.Fill(static_cast<int>(state.range(0)), 0);
  SaveScheduleFile(w, w, "s.ini");
  for (auto _ : state) {
    state.PauseTiming();
    w.lines.clear();
    state.ResumeTiming();
    LoadScheduleFile(w, w, "s.ini");
  }
  if (w.Count() != state.range(0)) state.SkipWithError("lines lost");
  PerLine(state, state.range(0));
}
BENCHMARK(LoadScheduleFileOfLines)->Arg(1000)->Arg(10000)->Complexity(benchmark::oN);

void SaveScheduleFileOfLines(benchmark::State& state) {
  World w;
  w.Fill(static_cast<int>(state.range(0)), 0);
  for (auto _ : state) SaveScheduleFile(w, w, "s.ini");
  PerLine(state, state.range(0));
}
BENCHMARK(SaveScheduleFileOfLines)->Arg(1000)->Arg(10000)->Complexity(benchmark::oN);

void AppendLogOnFullPane(benchmark::State& state) {
  World w;
  w.FillPane();
  for (auto _ : state)
    AppendLog(w, w, w.world.nextChar,
              "\x83^\x83X\x83N"
              "3");
  if (w.pane.size() > 32766) state.SkipWithError("pane overfull");
}
BENCHMARK(AppendLogOnFullPane);

}  // namespace

BENCHMARK_MAIN();
