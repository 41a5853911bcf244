// Sleep and wake under Wine, which never sleeps but shows what a program
// asks: its own debug channels (the execution state, the power-request stub,
// the timer's resume flag) in the standard error it shares with this driver,
// and the server's timer requests with their expiry, a FILETIME in UTC.
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

// The wake of a start at `unixMs`, as the server has it: a FILETIME in UTC,
// two minutes before. New York's starts of the schedule file, as Unix times:
// 1 March 2030 0:00 EST (for 31 February), 10 March 2030 3:01 EDT (a minute
// after the change), 1 June 2031 12:00 EDT.
uint64_t WakeOf(int64_t unixMs) {
  return (uint64_t(unixMs) - 120000) * 10000 + 116444736000000000ULL;
}
constexpr int64_t kMarch1 = 1898571600000, kMarch10 = 1899356460000, kJune1 = 1938096000000;
constexpr uint64_t kCancel = 0;

// The earliest start 31 February (1 March), one just after New York's change
// to daylight saving time (2:00 to 3:00 on 10 March 2030), then a later one,
// each deleted in turn; a recording coming in seconds, slept through; a start
// two minutes ahead; quit. Every wake asks to resume the system; a power
// request is tried first; the display is never asked for.
TEST(Power, HeldNearAndDuringRecordingsAndWokenTwoMinutesBeforeTheEarliestStart) {
  TIME_ZONE_INFORMATION zone;
  ASSERT_EQ((GetTimeZoneInformation(&zone), zone.Bias), 300) << "not TZ=America/New_York";
  Session s;
  const auto later = [](const Time& start) { return Line(start, start, "@13", "later.ts2"); };
  s.Write(kSchedule, CrLf({later({2030, 2, 31, 12, 0, 0}), later({2030, 3, 10, 3, 1, 0}),
                           later({2031, 6, 1, 12, 0, 0})}));
  ASSERT_TRUE(s.Start({"WINEDEBUG=warn+ntdll,fixme+powermgnt,trace+sync"}));
  const auto wakes = [&] {
    std::vector<uint64_t> asked;
    for (const std::string& a : s.Printed(true, "_timer( handle="))
      asked.push_back(a.find("expire=") == std::string::npos
                          ? kCancel
                          : std::stoull(a.substr(a.find("expire=") + 7), nullptr, 16));
    return asked;
  };
  const auto holds = [&] {
    Texts flags = s.Printed(false, "NtSetThreadExecutionState (");
    for (std::string& a : flags) a = a.substr(a.find("State (") + 7, 10);
    return flags;
  };
  std::vector<uint64_t> expected;
  const auto then = [&](uint64_t wake) {
    expected.push_back(wake);
    EXPECT_TRUE(WaitUntil([&] { return wakes() == expected; }, 3000))
        << ::testing::PrintToString(wakes());
  };
  then(WakeOf(kMarch1));
  for (const int64_t next : {kMarch10, kJune1})
    s.Select(0), s.Click(IDC_DELETE), then(WakeOf(next));

  const int64_t startMs = (NowMs() / 1000 + 3) * 1000;
  s.Add({Line(LocalAt(startMs), LocalAt(startMs + 10000), "@20", "r.ts2")});
  then(WakeOf(startMs));
  EXPECT_TRUE(WaitUntil([&] { return holds() == Texts{"0x80000001"}; }, 1500));
  ASSERT_TRUE(WaitUntil([&] { return s.Has("Quorvane_SaveFile"); }, 6000));
  then(WakeOf(kJune1));
  for (const int event : {PBT_APMQUERYSUSPEND, PBT_APMSUSPEND})
    EXPECT_TRUE(SendMessageA(s.dialog, WM_POWERBROADCAST, WPARAM(event), 0) == TRUE &&
                (s.Log().at(0) == Cp932(u8"録画中にスリープに入ります。")) ==
                    (event == PBT_APMSUSPEND));
  // Windows' two resume events, timed from the last tick in the journal
  // (each tick journals a keep-alive, the start's its start): a resume more
  // than half a second after a tick ticks at once, the second event moments
  // later does not tick again. Sent too late to tell (the next tick close),
  // they are sent again after the next tick.
  const auto ticks = [&](int64_t first, int64_t last) {
    std::vector<int64_t> at;
    for (const Call& call : s.Journal())
      if (call.ms >= first && call.ms <= last) at.push_back(call.ms);
    return at;
  };
  for (int tries = 0;; ++tries) {
    ASSERT_LT(tries, 5) << "never more than half a second after a tick and well before the next";
    Sleep(DWORD(std::max<int64_t>(0, ticks(0, INT64_MAX).back() + 600 - NowMs())));
    const int64_t sent = NowMs();
    for (const int event : {PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND})
      EXPECT_EQ(SendMessageA(s.dialog, WM_POWERBROADCAST, WPARAM(event), 0), TRUE);
    const int64_t answered = NowMs(), tick = ticks(0, sent - 1).back();
    expected.push_back(WakeOf(kJune1)), then(WakeOf(kJune1));  // set again at each
    Progress(Said(u8"power: resumes sent %d to %d ms after a tick", int(sent - tick),
                  int(answered - tick)));
    if (sent - tick < 550 || answered - tick > 900) continue;
    EXPECT_EQ(ticks(sent, answered).size(), 1u) << "not one tick at once for both resumes";
    break;
  }
  ASSERT_TRUE(WaitUntil([&] { return s.Has("Quorvane_Stop"); }, 12000));
  EXPECT_GE(s.Journal().back().ms, startMs + 10000) << "stopped early";
  EXPECT_TRUE(WaitUntil([&] { return holds() == Texts{"0x80000001", "0x80000000"}; }, 1500));
  s.Select(0), s.Click(IDC_DELETE), then(kCancel);

  const int64_t nearMs = (NowMs() / 1000 + 123) * 1000;
  s.Add({Line(LocalAt(nearMs), LocalAt(nearMs + 60000), "@21", "n.ts2")});
  then(WakeOf(nearMs));
  EXPECT_TRUE(WaitUntil([&] { return holds().size() == 3; }, 5000));
  EXPECT_TRUE(NowMs() >= nearMs - 120000 && NowMs() <= nearMs - 118500) << "held early or late";
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);
  then(kCancel);
  EXPECT_EQ(holds(), (Texts{"0x80000001", "0x80000000", "0x80000001", "0x80000000"}));
  EXPECT_EQ(s.Printed(false, ",00000001,0x00000000,(nil))").size(), 8u) << "NtSetTimer resuming";
  EXPECT_EQ(s.Printed(false, "fixme:powermgnt:PowerCreateRequest").size(), 1u);
}

}  // namespace
}  // namespace e2e
