// Soak: back-to-back recordings from one schedule file, up to ten at once,
// timed from the stand-in's journal while the program's memory, handles and
// window objects are sampled. QUORVANE_E2E_SOAK_TASKS sets the task count (5,
// about 15 s, by default); QUORVANE_E2E_SOAK_DIR gets the recordings, the
// figures and the lateness list (scripts/soak.sh).
#include "tests/e2e/harness.h"
// After windows.h.
#include <psapi.h>
#include <winternl.h>

#include <map>

namespace e2e {
namespace {

// A tick's calls come within this of each other; ticks are a second apart.
constexpr int64_t kSameTickMs = 500;
// Timer jitter allowed beyond one period plus the tick's own work (measured:
// under 20 ms).
constexpr int64_t kJitterMs = 100;
// Growth allowed from start to end. Measured: once the first recordings have
// run, Wine keeps some 4 MB more private pages and 2 MB more working set,
// after 20 tasks as after 200; handles come back to the same count.
constexpr int64_t kGrowth[] = {6144, 6144, 4096, 2, 2, 2, 2};
const std::vector<std::string> kUsage = Split(
    "PrivateUsage KB|committed private KB (VirtualQueryEx)|working set KB|GetProcessHandleCount|"
    "handles in the system table|USER objects|GDI objects",
    "|");

// Wine 8 answers 0 for another process's PrivateUsage, handle count and USER
// and GDI objects; its committed private pages and its entries in the
// system's handle table stand in for the first two.
std::vector<int64_t> Usage(HANDLE process, DWORD pid) {
  PROCESS_MEMORY_COUNTERS_EX memory{};
  GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
  DWORD handles = 0;
  GetProcessHandleCount(process, &handles);
  int64_t committed = 0, listed = 0;
  MEMORY_BASIC_INFORMATION m;
  for (const char* at = nullptr; VirtualQueryEx(process, at, &m, sizeof m) != 0;
       at = static_cast<const char*>(m.BaseAddress) + m.RegionSize) {
    if (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE) committed += int64_t(m.RegionSize);
  }
  static const auto query =
      reinterpret_cast<decltype(&NtQuerySystemInformation)>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleA("ntdll"), "NtQuerySystemInformation")));
  std::vector<char> table(1 << 23);
  const auto* t = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(table.data());
  if (query(SystemHandleInformation, table.data(), ULONG(table.size()), nullptr) != 0) listed = -1;
  for (ULONG i = 0; listed >= 0 && i < t->Count; ++i) listed += t->Handle[i].OwnerPid == pid;
  const int64_t user = GetGuiResources(process, GR_USEROBJECTS);
  const int64_t gdi = GetGuiResources(process, GR_GDIOBJECTS);
  const int64_t privateKb = int64_t(memory.PrivateUsage) / 1024;
  return {privateKb, committed / 1024, int64_t(memory.WorkingSetSize) / 1024, handles, listed, user,
          gdi};
}

TEST(Soak, BackToBackRecordings) {
  const char* count = std::getenv("QUORVANE_E2E_SOAK_TASKS");
  const int n = count != nullptr ? std::atoi(count) : 5;
  const int64_t d = std::min(n, 10) * 1000;
  Session s;
  const std::string dir = Built("SOAK_DIR", s.Path(kElsewhere).c_str()) + "\\";
  const int64_t first = (NowMs() / 1000 + 5) * 1000;  // the program is up by then
  std::map<std::string, int> task;                    // by recording name, then by handle
  std::vector<std::string> lines;
  for (int i = 0; i < n; ++i) {
    char name[16], channel[8];
    std::snprintf(name, sizeof name, "-%04d.ts", i);
    std::snprintf(channel, sizeof channel, "@%d", 13 + i % 50);
    const std::string file = dir + Cp932(u8"予約ソ") + name;
    lines.push_back(Line(LocalAt(first + i * 1000), LocalAt(first + i * 1000 + d), channel, file));
    task[file] = i;
  }
  s.Write(kSchedule, CrLf(lines));
  ASSERT_TRUE(s.Start());
  ASSERT_LT(NowMs(), first - 500) << "the program came up too late";
  DWORD pid = 0;
  GetWindowThreadProcessId(s.dialog, &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  std::vector<std::vector<int64_t>> usage = {Usage(process, pid)};
  const auto stops = [&] {
    return std::ssize(Split(s.Read("journal.txt"), "\tQuorvane_Stop\t")) - 1;
  };
  for (int tick = 1; stops() < n && NowMs() < first + (n - 1) * 1000 + d + 10000; ++tick) {
    Sleep(1000);
    if (tick % 20 == 0) usage.push_back(Usage(process, pid));
  }
  Sleep(1000);  // recording threads end just after their stop
  usage.push_back(Usage(process, pid));
  CloseHandle(process);

  // Each start and stop against its second; a tick's work is counted from its
  // first call.
  const std::vector<Call> calls = s.Journal();
  std::vector<int> runs(size_t(2 * n));  // starts, then stops, of each task
  std::vector<int64_t> lateness[2];
  std::ostringstream list, out;
  list << "kind\ttask\tlateness_ms\twork_ms\n";
  for (size_t c = 0, tick = 0, previous = SIZE_MAX; c < calls.size(); ++c) {
    if (c > 0 && calls[c].ms - calls[c - 1].ms > kSameTickMs) previous = std::exchange(tick, c);
    const std::vector<std::string> f = Split(calls[c].text, "\t");
    const bool stop = f[0] == "Quorvane_Stop";
    if (!stop && f[0] != "Quorvane_SaveFile") continue;
    const auto named = task.find(stop ? "handle=" + f[1] : f[5]);
    const bool known = named != task.end() && f[stop ? 2 : 6] == "=1";
    EXPECT_TRUE(known) << calls[c].text;
    if (!known) continue;
    const int i = named->second;
    const int64_t due = first + i * 1000 + (stop ? d : 0), late = calls[c].ms - due;
    const int64_t work = calls[c].ms - calls[tick].ms;
    if (!stop) task[f[7]] = i;
    ++runs[size_t(i + (stop ? n : 0))];
    EXPECT_GE(late, 0) << calls[c].text;
    EXPECT_LE(late, 1000 + work + kJitterMs) << calls[c].text;
    // A tick's keep-alives come before it reads the clock: had the previous
    // tick seen the second, it would have acted.
    if (previous != SIZE_MAX && calls[previous].text.starts_with("Quorvane_UpdateTimeout")) {
      EXPECT_LT(calls[previous].ms, due) << calls[c].text;
    }
    lateness[stop].push_back(late);
    list << (stop ? "stop\t" : "start\t") << i << '\t' << late << '\t' << work << '\n';
  }
  EXPECT_EQ(runs, std::vector<int>(size_t(2 * n), 1)) << "each task starts and stops once";

  // One start and one stop line per task, nothing else, while the log's 32767
  // bytes hold them (some 330 tasks).
  const std::vector<std::string> log = s.Log();
  const auto ending = [&](const char8_t* text) {
    return std::count_if(log.begin(), log.end(),
                         [&](const std::string& l) { return l.ends_with(Cp932(text)); });
  };
  const auto full = std::count(log.begin(), log.end(), Cp932(u8"タスクが多すぎます。"));
  const auto logStarts = ending(u8"を開始しました。"), logStops = ending(u8"を停止しました。");
  EXPECT_EQ(full, 0);
  EXPECT_EQ(logStarts + logStops, std::ssize(log) - (n > 300));
  EXPECT_TRUE(n > 300 || (logStarts == n && logStops == n)) << logStarts << " " << logStops;

  out << "soak: tasks scheduled " << n << ", started " << lateness[0].size() << ", stopped "
      << lateness[1].size() << "; log lines: " << logStarts << " started, " << logStops
      << " stopped, " << full << " table full\n";
  for (int stop = 0; stop < 2; ++stop) {
    std::vector<int64_t>& v = lateness[stop];
    std::sort(v.begin(), v.end());
    if (v.empty()) continue;
    out << "soak: " << (stop ? "stop" : "start") << " lateness ms: median " << v[v.size() / 2]
        << ", p95 " << v[(v.size() * 95 + 99) / 100 - 1] << ", largest " << v.back() << "\n";
  }
  for (size_t k = 0; k < std::size(kUsage); ++k) {
    out << "soak: " << kUsage[k] << " at start, in between, at end:";
    for (const auto& u : usage) out << ' ' << u[k];
    const bool zero = std::all_of(usage.begin(), usage.end(), [&](auto& u) { return !u[k]; });
    out << (zero ? " (always 0: not counted here)\n" : "\n");
    EXPECT_LE(usage.back()[k] - usage[0][k], kGrowth[k]) << kUsage[k];
  }
  std::cout << out.str() << std::flush;
  std::ofstream(dir + "figures.txt") << out.str();
  std::ofstream(dir + "lateness.tsv") << list.str();
}

}  // namespace
}  // namespace e2e
