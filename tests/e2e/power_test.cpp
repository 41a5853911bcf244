// Sleep and wake under Wine, which never sleeps but shows what a program
// asks: its own debug channels (the execution state, the power-request stub,
// the timer's resume flag) in the standard error it shares with this driver,
// and the server's timer requests with their expiry, a FILETIME in UTC.
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

// The lines of the file at the Unix path in `variable` (plus `suffix`) that
// `thread` wrote after its first `from` bytes and that hold `what`.
struct Printed {
  Printed(const char* variable, const char* suffix) {
    const char* unixPath = std::getenv(variable);
    path = unixPath == nullptr ? "" : "Z:" + std::string(unixPath) + suffix;
    from = ReadAll(path).size();
  }
  Texts Lines(DWORD thread, const std::string& what) const {
    Texts found;
    for (const std::string& line : Split(ReadAll(path).substr(from), "\n"))
      if (line.starts_with(Said(u8"%04x:", int(thread))) && line.find(what) != std::string::npos)
        found.push_back(line);
    return found;
  }
  std::string path;
  size_t from;
};

std::string UtcText(uint64_t fileTime) {
  const FILETIME f{DWORD(fileTime), DWORD(fileTime >> 32)};
  SYSTEMTIME t;
  FileTimeToSystemTime(&f, &t);
  return Said(u8"set %d-%02d-", t.wYear, t.wMonth) + Said(u8"%02d %02d:", t.wDay, t.wHour) +
         Said(u8"%02d:%02d", t.wMinute, t.wSecond);
}
// The wake of a start at unixMs: two minutes before, in UTC.
std::string WakeOf(int64_t unixMs) {
  return UtcText((uint64_t(unixMs) - 120000) * 10000 + 116444736000000000ULL);
}
std::string Utc(WORD y, WORD mo, WORD d, WORD h, WORD mi) {
  const SYSTEMTIME t{y, mo, 0, d, h, mi, 0, 0};
  FILETIME f;
  SystemTimeToFileTime(&t, &f);
  return UtcText(uint64_t(f.dwHighDateTime) << 32 | f.dwLowDateTime);
}

// The earliest start 31 February (1 March), one just after New York's change
// to daylight saving time (2:00 to 3:00 on 10 March 2030), then a later one,
// each deleted in turn; a recording coming in seconds, slept through; a start
// two minutes ahead; quit.
TEST(Power, HeldNearAndDuringRecordingsAndWokenTwoMinutesBeforeTheEarliestStart) {
  TIME_ZONE_INFORMATION zone;
  GetTimeZoneInformation(&zone);
  ASSERT_EQ(zone.Bias, 300) << "run in New York's time zone (TZ=America/New_York)";
  const Printed wine("QUORVANE_WINE_STDERR", ""), server("WINEPREFIX", ".trace");
  ASSERT_TRUE(std::filesystem::exists(wine.path) && std::filesystem::exists(server.path))
      << "run through scripts/wine-run.sh, whose Wine server traces timers";
  Session s;
  const auto later = [](const Time& start) { return Line(start, start, "@13", "later.ts2"); };
  s.Write(kSchedule, CrLf({later({2030, 2, 31, 12, 0, 0}), later({2030, 3, 10, 3, 1, 0}),
                           later({2031, 6, 1, 12, 0, 0})}));
  ASSERT_TRUE(s.Start({"WINEDEBUG=warn+ntdll,fixme+powermgnt,trace+sync"}));
  const DWORD ui = GetWindowThreadProcessId(s.dialog, nullptr);
  const auto wakes = [&] {
    Texts asked;
    for (const std::string& line : server.Lines(ui, "_timer( "))
      asked.push_back(
          line.find(": cancel") != std::string::npos
              ? "cancel"
              : UtcText(std::stoull(line.substr(line.find("expire=") + 7), nullptr, 16)));
    return asked;
  };
  const auto holds = [&] {
    Texts flags;
    for (const std::string& line : wine.Lines(ui, "NtSetThreadExecutionState ("))
      flags.push_back(line.substr(line.find('(') + 1, 10));
    return flags;
  };
  Texts expected;
  const auto then = [&](const std::string& wake) {
    expected.push_back(wake);
    EXPECT_TRUE(WaitUntil([&] { return wakes() == expected; }, 3000)) << Join(wakes(), ", ");
  };
  then(Utc(2030, 3, 1, 4, 58));
  for (const std::string& next : {Utc(2030, 3, 10, 6, 59), Utc(2031, 6, 1, 15, 58)})
    s.Select(0), s.Click(IDC_DELETE), then(next);

  const int64_t startMs = (NowMs() / 1000 + 3) * 1000;
  s.Add({Line(LocalAt(startMs), LocalAt(startMs + 6000), "@20", "r.ts2")});
  then(WakeOf(startMs));
  EXPECT_TRUE(WaitUntil([&] { return holds() == Texts{"0x80000001"}; }, 1500));
  ASSERT_TRUE(WaitUntil([&] { return s.Has("Quorvane_SaveFile"); }, 6000));
  then(Utc(2031, 6, 1, 15, 58));
  EXPECT_EQ(SendMessageA(s.dialog, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0), TRUE);
  EXPECT_EQ(SendMessageA(s.dialog, WM_POWERBROADCAST, PBT_APMSUSPEND, 0), TRUE);
  EXPECT_EQ(s.Log().at(0), Cp932(u8"録画中にスリープに入ります。"));
  const int64_t resumedMs = NowMs();
  EXPECT_EQ(SendMessageA(s.dialog, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0), TRUE);
  EXPECT_TRUE(s.Journal().back().text.starts_with("Quorvane_UpdateTimeout") &&
              s.Journal().back().ms >= resumedMs)
      << "no tick at once";
  then(Utc(2031, 6, 1, 15, 58));
  ASSERT_TRUE(WaitUntil([&] { return s.Has("Quorvane_Stop"); }, 8000));
  EXPECT_GE(s.Journal().back().ms, startMs + 6000) << "stopped early";
  EXPECT_TRUE(WaitUntil([&] { return holds() == Texts{"0x80000001", "0x80000000"}; }, 1500));
  s.Select(0), s.Click(IDC_DELETE), then("cancel");

  const int64_t nearMs = (NowMs() / 1000 + 123) * 1000;
  s.Add({Line(LocalAt(nearMs), LocalAt(nearMs + 60000), "@21", "n.ts2")});
  then(WakeOf(nearMs));
  EXPECT_TRUE(WaitUntil([&] { return holds().size() == 3; }, 5000));
  EXPECT_GE(NowMs(), nearMs - 120000) << "held early";
  EXPECT_LE(NowMs(), nearMs - 120000 + 1500) << "held late";
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);
  then("cancel");
  EXPECT_EQ(holds(), (Texts{"0x80000001", "0x80000000", "0x80000001", "0x80000000"}));
  // Every wake set asks to resume the system; a power request was tried first.
  const Texts sets = wine.Lines(ui, "NtSetTimer (");
  EXPECT_EQ(sets.size(), 7u);
  for (const std::string& set : sets) EXPECT_EQ(Split(set, ",").at(4), "00000001") << set;
  EXPECT_EQ(wine.Lines(ui, "fixme:powermgnt:PowerCreateRequest").size(), 1u);
}

}  // namespace
}  // namespace e2e
