// Soak: back-to-back recordings from one schedule file, up to ten at once,
// timed from the stand-in's journal while the program's memory, handles and
// window objects are measured. QUORVANE_E2E_SOAK_TASKS sets the task count (5,
// about 15 s, by default); QUORVANE_E2E_SOAK_DIR gets the recordings and the
// lateness list (scripts/soak.sh).
#include "tests/e2e/harness.h"
// After windows.h.
#include <winternl.h>

#include <bit>
#include <map>

namespace e2e {
namespace {

// Growth allowed from start to end. Measured: once the first recordings have
// run, Wine keeps some 4 MB more private pages, after 20 tasks as after 200;
// handles come back to the same count.
constexpr int64_t kGrowth[] = {6144, 2, 2, 2};
const Texts kUsage = Split("committed private KB|table handles|USER objects|GDI objects", "|");

// Wine 8 answers 0 for another process's handle count, so its entries in the
// system's handle table are counted instead; and 0 for its window objects.
std::vector<int64_t> Usage(const Process& p) {
  static const auto query = std::bit_cast<decltype(&NtQuerySystemInformation)>(
      GetProcAddress(GetModuleHandleA("ntdll"), "NtQuerySystemInformation"));
  std::vector<char> table(1 << 23);
  const auto* t = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(table.data());
  std::vector<int64_t> u = {0, 0, GetGuiResources(p.pi.hProcess, GR_USEROBJECTS),
                            GetGuiResources(p.pi.hProcess, GR_GDIOBJECTS)};
  for (MEMORY_BASIC_INFORMATION m{};
       VirtualQueryEx(p.pi.hProcess, static_cast<char*>(m.BaseAddress) + m.RegionSize, &m,
                      sizeof m) != 0;)
    u[0] += (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE) * int64_t(m.RegionSize) / 1024;
  if (query(SystemHandleInformation, table.data(), ULONG(table.size()), nullptr) == 0)
    for (ULONG i = 0; i < t->Count; ++i) u[1] += t->Handle[i].OwnerPid == p.pi.dwProcessId;
  return u;
}

TEST(Soak, BackToBackRecordings) {
  const int n = std::atoi(Built("SOAK_TASKS", "5").c_str());
  const int64_t d = std::min(n, 10) * 1000;
  Session s;
  const std::string dir = Built("SOAK_DIR", s.Path(kElsewhere).c_str()) + "\\";
  const int64_t first = (NowMs() / 1000 + 5) * 1000;  // the program is up by then
  std::map<std::string, int> task;                    // by recording name, then by handle
  Texts lines;
  for (int i = 0; i < n; ++i) {
    const std::string file = dir + Said(u8"予約ソ-%04d.ts", i);
    lines.push_back(Line(LocalAt(first + i * 1000), LocalAt(first + i * 1000 + d),
                         Said(u8"@%d", 13 + i % 50), file));
    task[file] = i;
  }
  s.Write(kSchedule, CrLf(lines));
  ASSERT_TRUE(s.Start());
  const std::vector<int64_t> before = Usage(s);
  WaitUntil([&] { return Split(s.Read("journal.txt"), "\tQuorvane_Stop\t").size() > size_t(n); },
            int(first - NowMs() + (n - 1) * 1000 + d + 10000));
  Sleep(1000);  // recording threads end just after their stop
  const std::vector<int64_t> after = Usage(s);

  // Each start and stop against its second, late by at most a period, the
  // tick's own work (counted from its first call; ticks are a second apart)
  // and 100 ms of timer jitter (measured: under 20 ms).
  const std::vector<Call> calls = s.Journal();
  int64_t done[2] = {};  // starts, stops
  std::ostringstream list("kind\ttask\tlateness_ms\twork_ms\n", std::ios::ate);
  for (size_t c = 0, tick = 0, previous = SIZE_MAX; c < calls.size(); ++c) {
    if (c > 0 && calls[c].ms - calls[c - 1].ms > 500) previous = std::exchange(tick, c);
    const Texts f = Split(calls[c].text, "\t");
    const bool stop = f[0] == "Quorvane_Stop";
    if (!stop && f[0] != "Quorvane_SaveFile") continue;
    // Each file is started, and each handle stopped, once.
    const auto node = task.extract(stop ? "handle=" + f[1] : f[5]);
    ASSERT_TRUE(!node.empty() && f[stop ? 2 : 6] == "=1") << "not ours or again: " << calls[c].text;
    const int64_t due = first + node.mapped() * 1000 + (stop ? d : 0), late = calls[c].ms - due;
    const int64_t work = calls[c].ms - calls[tick].ms;
    if (!stop) task[f[7]] = node.mapped();
    // A tick's keep-alives come before it reads the clock: had the previous
    // tick seen the second, it would have acted.
    EXPECT_TRUE(late >= 0 && late <= 1000 + work + 100 &&
                (previous == SIZE_MAX ||
                 !calls[previous].text.starts_with("Quorvane_UpdateTimeout") ||
                 calls[previous].ms < due))
        << late << " ms late: " << calls[c].text;
    ++done[stop];
    list << (stop ? "stop\t" : "start\t") << node.mapped() << '\t' << late << '\t' << work << '\n';
  }
  EXPECT_EQ(task.size(), 0u) << "tasks not started or not stopped";
  std::ofstream(dir + "lateness.tsv") << list.str();

  std::cout << "soak: tasks scheduled " << n << ", started " << done[0] << ", stopped " << done[1]
            << "\n";
  for (size_t k = 0; k < std::size(kUsage); ++k) {
    std::cout << "soak: " << kUsage[k] << " at start, at end: " << before[k] << ' ' << after[k]
              << (before[k] == 0 && after[k] == 0 ? " (always 0: not counted here)\n" : "\n");
    EXPECT_LE(after[k] - before[k], kGrowth[k]) << kUsage[k];
  }
}

}  // namespace
}  // namespace e2e
