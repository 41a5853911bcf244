// Soak: back-to-back recordings from one schedule file, up to ten at once,
// timed from the stand-in's journal while the program's memory, handles and
// window objects are measured; in launches of the program at points spread
// over a second, as the moment of launch used to set how late every start
// of a run was. QUORVANE_E2E_SOAK_TASKS sets the task count, and
// QUORVANE_E2E_SOAK_LAUNCHES the launches (5 and 5 by default: a task a
// launch, about 40 s); QUORVANE_E2E_SOAK_DIR gets the recordings and the
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
constexpr int64_t kGrowth[] = {6144, 2};
const Texts kUsage = {"committed private KB", "table handles"};

// Wine 8 answers 0 for another process's handle count, so its entries in the
// system's handle table are counted instead. It answers 0 for its USER and
// GDI objects too, which are therefore not measured here.
std::vector<int64_t> Usage(const Process& p) {
  static const auto query = std::bit_cast<decltype(&NtQuerySystemInformation)>(
      GetProcAddress(GetModuleHandleA("ntdll"), "NtQuerySystemInformation"));
  std::vector<char> table(1 << 23);
  const auto* t = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(table.data());
  std::vector<int64_t> u = {0, 0};
  for (MEMORY_BASIC_INFORMATION m{};
       VirtualQueryEx(p.pi.hProcess, static_cast<char*>(m.BaseAddress) + m.RegionSize, &m,
                      sizeof m) != 0;)
    u[0] += (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE) * int64_t(m.RegionSize) / 1024;
  if (query(SystemHandleInformation, table.data(), ULONG(table.size()), nullptr) == 0)
    for (ULONG i = 0; i < t->Count; ++i) u[1] += t->Handle[i].OwnerPid == p.pi.dwProcessId;
  return u;
}

// One launch of the program, `phase` ms into a second, recording `n` tasks
// whose recordings are numbered from `first` on, each lasting `d` ms; each
// start and stop goes to the lateness list behind the launch's phase. Judged
// only when the program was up, its list read, a second before the first
// start: its ticks have then found their place in the second. `late` says
// it came up later, and the launch is to be made again.
void Launch(int phase, int first, int n, int64_t d, std::ostream& list, bool& late) {
  Session s(Said(u8"-%d", first));
  const std::string dir = Built("SOAK_DIR", s.Path(kElsewhere).c_str()) + "\\";
  const int64_t launchMs = NowMs() + 1000 + (phase - NowMs() % 1000 + 1000) % 1000;
  const int64_t start = (launchMs / 1000 + 5) * 1000;
  std::map<std::string, int> task;  // by recording name, then by handle
  Texts lines;
  for (int i = 0; i < n; ++i) {
    const std::string file = dir + Said(u8"予約ソ-%04d.ts", first + i);
    lines.push_back(Line(LocalAt(start + i * 1000), LocalAt(start + i * 1000 + d),
                         Said(u8"@%d", 13 + i % 50), file));
    task[file] = i;
  }
  s.Write(kSchedule, CrLf(lines));
  Sleep(DWORD(launchMs - NowMs()));
  ASSERT_TRUE(s.Start());
  ASSERT_EQ(SendMessageA(s.Control(IDC_SCHEDULE_LIST), LB_GETCOUNT, 0, 0), n);
  const int64_t upMs = NowMs();
  late = upMs > start - 1000;
  Progress(
      Said(u8"soak: launched %d ms into a second, up %d ms later", phase, int(upMs - launchMs)) +
      (late ? ": too late, launched again" : ""));
  if (late) return;
  const std::vector<int64_t> before = Usage(s);
  WaitUntil([&] { return Split(s.Read("journal.txt"), "\tQuorvane_Stop\t").size() > size_t(n); },
            int(start - NowMs() + (n - 1) * 1000 + d + 10000));
  Sleep(1000);  // recording threads end just after their stop
  const std::vector<int64_t> after = Usage(s);

  // Each start and stop against its second: never early and within 350 ms,
  // which a tick a second too late would miss. The tick's work is the time
  // since its first call (calls less than 500 ms apart belong to one tick).
  const std::vector<Call> calls = s.Journal();
  bool explained = false;
  for (size_t c = 0, tick = 0; c < calls.size(); ++c) {
    if (c > 0 && calls[c].ms - calls[c - 1].ms > 500) tick = c;
    const Texts f = Split(calls[c].text, "\t");
    const bool stop = f[0] == "Quorvane_Stop";
    if (!stop && f[0] != "Quorvane_SaveFile") continue;
    // Each file is started, and each handle stopped, once.
    const auto node = task.extract(stop ? "handle=" + f[1] : f[5]);
    ASSERT_TRUE(!node.empty() && f[stop ? 2 : 6] == "=1") << "not ours or again: " << calls[c].text;
    const int64_t due = start + node.mapped() * 1000 + (stop ? d : 0), ms = calls[c].ms - due;
    if (!stop) task[f[7]] = node.mapped();
    EXPECT_TRUE(ms >= 0 && ms < 350) << ms << " ms late: " << calls[c].text;
    if ((ms < 0 || ms >= 350) && !explained) s.Explain(due - 2000, due + 1500), explained = true;
    list << phase << (stop ? "\tstop\t" : "\tstart\t") << first + node.mapped() << '\t' << ms
         << '\t' << calls[c].ms - calls[tick].ms << '\n';
  }
  EXPECT_EQ(task.size(), 0u) << "tasks not started or not stopped";
  std::cout << "soak: launched " << phase << " ms into a second: " << n - int(task.size()) << " of "
            << n << " tasks started and stopped\n";
  for (size_t k = 0; k < std::size(kUsage); ++k) {
    std::cout << "soak: " << kUsage[k] << " at start, at end: " << before[k] << ' ' << after[k]
              << "\n";
    EXPECT_LE(after[k] - before[k], kGrowth[k]) << kUsage[k];
  }
}

// The tasks in launches spread over a second, one after the other.
TEST(Soak, BackToBackRecordings) {
  const int n = std::atoi(Built("SOAK_TASKS", "5").c_str());
  const int launches = std::max(1, std::atoi(Built("SOAK_LAUNCHES", "5").c_str()));
  const int64_t d = std::clamp(n / launches, 1, 10) * 1000;
  std::ostringstream list("launch_ms\tkind\ttask\tlateness_ms\twork_ms\n", std::ios::ate);
  for (int k = 0, first = 0; k < launches; first += n / launches + (k < n % launches), ++k) {
    bool late = true;
    for (int tries = 0; late && !HasFatalFailure(); ++tries) {
      ASSERT_LT(tries, 5) << "the program never came up a second before its first start";
      Launch(50 + k * 1000 / launches, first, n / launches + (k < n % launches), d, list, late);
    }
  }
  std::ofstream(Built("SOAK_DIR", "work") + "\\lateness.tsv") << list.str();
}

}  // namespace
}  // namespace e2e
