// The core against a fake world: time keys, the formatter, the schedule
// file's paths and save, and the tick with its due-event pass, second by
// second. Fields, names, composed lines, the line reader, loading and the log
// are held to reference models by the fuzz targets.
#include <gtest/gtest.h>

#include <utility>

#include "core/commands.h"
#include "core/destination.h"
#include "core/due_events.h"
#include "core/power.h"
#include "core/schedule_file.h"
#include "core/session_end.h"
#include "core/text_format.h"
#include "tests/fakes/fakes.h"

namespace quorvane {
namespace {

using fakes::Printf;
using Disk = std::map<std::string, std::string>;

// A line on 5 January 2009 from hhmmss to hhmmss, then channel and file.
std::string Entry(int start, int end, const char* rest) {
  return Printf("2009\t01\t05\t%02d\t%02d\t%02d\t2009\t01\t05\t%02d\t%02d\t%02d\t%s", start / 10000,
                start / 100 % 100, start % 100, end / 10000, end / 100 % 100, end % 100, rest);
}

TEST(FormatText, LikeWsprintf) {
  char text[64];
  FormatText(text, "%d|%02d|%02d|%04d|%s|%d %02d|%d(%d,%d)",
             {-7, 5, -5, -5, "abc", INT32_MIN, INT32_MIN, 1});
  EXPECT_STREQ(text, "-7|05|-5|-005|abc|-2147483648 -2147483648|1(,)");
  EXPECT_EQ(FormatText(std::span(text, 5), "ab%dcd", {123}), 4u);
  EXPECT_EQ(std::string(text, 6), std::string("ab12\0|", 6));  // '|' is left from before
  // A width that would overflow an int is capped, not undefined.
  EXPECT_EQ(FormatText(text, "%99999999999d", {7}), sizeof text - 1);
}

TEST(ScheduleFile, PathsStepOverDoubleByteCharacters) {
  const auto path = [](auto rule, const char* exe) {
    char text[kTextCapacity];
    return rule(exe, fakes::Cp932Next, std::span(text)) ? std::string(text) : "(refused)";
  };
  EXPECT_EQ(path(ScheduleFilePath, "C:\\my.dir\\sched.exe"), "C:\\my.dir\\sched.ini");
  EXPECT_EQ(path(ScheduleFilePath, "C:\\my.dir\\sched"), "C:\\my.ini");
  // 0x83 '\' is one katakana.
  EXPECT_EQ(path(ChannelFilePath, "C:\\\x83\\\\d\\\x83\\x.exe"), "C:\\\x83\\\\d\\CHANNEL.TXT");
}

TEST(ScheduleFile, AFailedSaveLeavesTheOldFileAsItWas) {
  // Create, each of the three 64 KiB blocks, flush and replace fail in turn;
  // with nothing failing (step 7) the blocks make the whole file.
  std::string whole;
  for (int i = 0; i < 140; ++i) whole += std::string(1000, 'x') + "\r\n";
  for (int step = 1; step <= 7; ++step) {
    fakes::FakeWorld w;
    w.lines.assign(140, std::string(1000, 'x'));
    w.disk["s.ini"] = "old";
    w.failStep = step;
    EXPECT_EQ(SaveScheduleFile(w, w, "s.ini"), step == 7) << step;
    EXPECT_EQ(w.disk, (Disk{{"s.ini", step == 7 ? whole : "old"}})) << step;
    EXPECT_EQ(w.openCount, 0) << step;
  }
}

struct DueEvents : ::testing::Test, fakes::FakeWorld {
  DueEvents() { state.power = kPowerAtRest; }
  // Adds a line, recomputes the next event and the wake and checks where the
  // recording goes, as the dialog does.
  void Add(const std::string& line) {
    AddLine(line.c_str());
    ComputeNextEvent(state, *this);
    PlanPower(state, world);
    CheckDestination(world, line);
  }
  // Puts a task ending at hhmmss in `slot`; returns the keep-alive call it gets at every tick.
  std::string Occupy(int slot, int handle, int end) {
    state.tasks.slots[slot] = {uint32_t(handle),
                               MinuteKey(2009, 1, 5, end / 10000, end / 100 % 100), end % 100};
    state.tasks.anyRunning |= uint32_t(handle);
    return Printf("keep %d|", handle);
  }
  // Ticks at hhmmss on 5 January 2009; returns the calls made and lines logged.
  std::string TickAt(int hhmmss) {
    now = {2009, 1, 5, hhmmss / 10000, hhmmss / 100 % 100, hhmmss % 100};
    OnTick(state, world);
    return std::exchange(journal, "");
  }
  std::string PowerSince() { return std::exchange(power, ""); }
  // The calls and lines of a tick at hhmmss, then its power calls.
  std::string TickWithPower(int hhmmss) {
    const std::string calls = TickAt(hhmmss);
    return calls + PowerSince();
  }
  const Surroundings world{*this,    *this,   *this, *this, *this, &fakes::Cp932Next,
                           kLibrary, "s.ini", *this, *this, *this};
  SchedulerState state{};
};

// A pass first stops the running tasks whose end has passed, then starts
// every due line from the last up, ended ones too, which stop at the next
// tick; so after the clock jumps forward. After it jumps back, nothing starts
// twice and a running task waits for its end to come round.
TEST_F(DueEvents, StartsDueLinesFromTheLastUpAndStopsThemAtTheirEndWhereverTheClockGoes) {
  const std::string keep = Occupy(0, 500, 203000);
  Add(Entry(100059, 110000, "@8\told.ts2"));  // from the last second of a minute
  Add(Entry(210000, 215430, "NHK@65563\t"));  // the library gets the low 16 bits
  for (const char* channel : {"@1\tf", "@2\tf"}) Add(Entry(210000, 220000, channel));
  Add(Entry(220000, 230000, "@C5\tlater.ts2"));
  EXPECT_EQ(TickAt(210000),
            keep +
                "stop 500|106(0,,)|ping|freq 2 0|save 20 0 1 5 f|104(0,2,0)|ping|freq 1 0|save "
                "10 0 1 5 f|104(1,1,0)|ping|freq 27 0|save 270 0 1 5 "
                "2009_01_05_21_00_00_2009_01_05_21_54_30_NHK@65563_.ts2|104(2,65563,0)|ping|"
                "freq 8 0|save 80 0 1 5 old.ts2|104(3,8,0)|");
  EXPECT_EQ(disk, (Disk{{"s.ini", Entry(220000, 230000, "@C5\tlater.ts2\r\n")}}));
  EXPECT_EQ(TickAt(210001), "keep 20|keep 10|keep 270|keep 80|stop 80|106(3,,)|");
  EXPECT_EQ(TickAt(215429), "keep 20|keep 10|keep 270|");  // nothing due
  EXPECT_EQ(TickAt(215430), "keep 20|keep 10|keep 270|stop 270|106(2,,)|");
  Add(Entry(205000, 205001, "@4\td"));
  EXPECT_EQ(TickAt(201500), "keep 20|keep 10|");
  EXPECT_EQ(TickAt(205000), "keep 20|keep 10|ping|freq 4 0|save 40 0 1 5 d|104(2,4,0)|");
  EXPECT_EQ(TickAt(205001), "keep 20|keep 10|keep 40|stop 40|106(2,,)|");
  EXPECT_EQ(TickAt(220000),
            "keep 20|keep 10|stop 20|106(0,,)|stop 10|106(1,,)|ping|freq 5 1|"
            "save 51 0 1 5 later.ts2|104(0,5,1)|");
  EXPECT_EQ(notices, "") << "starts and stops that worked are for the log alone";
}

// A full table drops one due line a tick and saves nothing (a pass with
// nothing to start saves again); a start refused, a stop refused, no tuner
// manager are logged; none leaves a task behind.
TEST_F(DueEvents, AFullTableAndRefusalsAreLoggedAndLeaveNoTaskBehind) {
  std::string keepAll;
  for (int i = 0; i < kTaskSlotCount; ++i) keepAll += Occupy(i, 900 + i, 230000);
  Add(Entry(210000, 220000, "@1\ta"));
  Add(Entry(210001, 220000, "@1\tb"));
  disk["s.ini"] = "old";
  for (int second = 1; second <= 2; ++second)
    EXPECT_EQ(TickAt(210000 + second), keepAll + "101(,,)|");
  EXPECT_EQ(disk["s.ini"], "old");
  EXPECT_EQ(TickAt(210003), keepAll);
  EXPECT_EQ(disk["s.ini"], "");
  ResetTaskSlots(state.tasks);
  refuse = "ping";
  for (int i = 1; i <= 2; ++i) Add(Entry(210000 + i, 220000, "@1\tf"));
  EXPECT_EQ(TickAt(210005), "ping|102(,,)|ping|102(,,)|");
  refuse = "save stop";
  Occupy(3, 77, 210000);
  Occupy(4, 88, 230000);
  space[".\\"] = -1;  // said at Add, not again after the refused start
  Add(Entry(210000, 220000, "CATV@C27\trec.ts2"));
  EXPECT_EQ(TickAt(210006),
            "113(,,)|keep 77|keep 88|stop 77|105(3,,)|ping|freq 27 1|save 271 0 1 5 "
            "rec.ts2|103(0,27,1)|");
  EXPECT_EQ(TickAt(220000), "keep 88|");  // nothing for the refused start's handle
  EXPECT_EQ(notices, "101(,,)|101(,,)|102(,,)|113(,,)|103(0,27,1)|")
      << "one notice a pass, with the newest failure";
  for (int id : {105, 108, 112, 113}) EXPECT_TRUE(NotifiesUser(id)) << id;
}

TEST_F(DueEvents, NextEventIsTheEarliestStartOrEnd) {
  ComputeNextEvent(state, *this);
  EXPECT_EQ(state.nextEvent, kNothingPending);
  Occupy(7, 501, 210000);  // the free slots' zero ends count for nothing
  Add(Entry(210030, 230000, "@1\t"));
  EXPECT_EQ(state.nextEvent, (TimeKey{MinuteKey(2009, 1, 5, 21, 0), 0}));
  Add("not an entry");
  EXPECT_EQ(state.nextEvent, (TimeKey{0, 0}));
  // Year 4100 takes the key past INT32_MAX: it wraps negative and is due at once.
  EXPECT_TRUE(IsDue(EntryStartKey("4100\t12\t31\t23\t59\t59"), TimeKeyOf(now)));
}

// A library call that runs the program's messages, and in it a quit, three
// deletes of the first line, an Add, the end of the session or a resume,
// inside each of the four calls a tick makes. Commands wait for the tick:
// all due lines start first. The session's end stops every task and saves
// at once, and the pass starts nothing more. At the program's end every
// recording was of a listed line and was stopped; each line was started or
// is in the file, never both; the future line stays; power is left alone.
struct ReEntry : DueEvents, ::testing::WithParamInterface<std::tuple<const char*, std::string>> {};

TEST_P(ReEntry, CommandsWaitForTheTickTheSessionsEndStopsAndSavesAtOnce) {
  const auto [call, what] = GetParam();
  Occupy(0, 500, 210000);              // stopped by the pass
  Occupy(1, 600, 230000);              // kept alive
  const char* const names = "abcdfg";  // a to d due; f later; g added
  std::string entries[6];
  for (size_t i = 0; i < 6; ++i) {
    entries[i] = Entry(int(i < 4 ? 205900 + i : 224500 + i), 235959,
                       Printf("@%zu\t%c", i + 1, names[i]).c_str());
    if (i < 5) Add(entries[i]);
  }
  inside = call;
  during = [&, what = what] {
    char first[kTextCapacity];
    if (what == "Quit") GiveCommand(state, world, CommandKind::kQuit, nullptr);
    for (int i = 0; what == "DeleteFirstThrice" && i < 3; ++i)
      GetLine(0, first), GiveCommand(state, world, CommandKind::kDelete, first);
    if (what == "Add") GiveCommand(state, world, CommandKind::kAdd, entries[5].c_str());
    if (what == "SessionEnd") EndWindowsSession(state, world);
    if (what == "Resume") now.millisecond = 600, OnResume(state, world);
  };
  std::string calls = TickAt(210000);
  EXPECT_FALSE(during) << "never called";
  EXPECT_EQ(gone, what == "SessionEnd" || what == "Quit") << "not closed after it";
  if (!gone) GiveCommand(state, world, CommandKind::kQuit, nullptr);
  calls += journal;

  const bool ended = what == "SessionEnd";
  std::string started;
  for (size_t i = 0; i < 6; ++i) {
    const size_t saved = calls.find(Printf("save %zu 0 1 5 %c|", (i + 1) * 10, names[i]));
    const bool inFile = disk["s.ini"].find(entries[i] + "\r\n") != std::string::npos;
    if (saved != std::string::npos) started += names[i];
    EXPECT_TRUE(saved == std::string::npos ||
                calls.find(Printf("stop %zu|", (i + 1) * 10), saved) != std::string::npos)
        << names[i] << " not stopped";
    EXPECT_EQ(inFile, saved == std::string::npos && (i < 5 || what == "Add")) << names[i];
  }
  EXPECT_EQ(started, ended ? std::string(call) == "save" ? "d" : "" : "abcd");
  const auto times = [&](const std::string& text) { return fakes::Split(calls, text).size() - 1; };
  EXPECT_EQ(times("save "), started.size()) << "a recording of no listed line: " << calls;
  for (const char* once : {"stop 500|", "stop 600|", ended ? "close|" : "Close|"})
    EXPECT_EQ(times(once), 1u) << once << " in " << calls;
  EXPECT_LE(times("keep 600|"), 1u) << "a tick inside the tick";
  EXPECT_TRUE(power.ends_with("release|cancel|")) << power;
}

INSTANTIATE_TEST_SUITE_P(InsideEachCall, ReEntry,
                         ::testing::Combine(::testing::Values("save", "stop", "ping", "keep"),
                                            ::testing::Values("Quit", "DeleteFirstThrice", "Add",
                                                              "SessionEnd", "Resume")));

// From the later of start and now (07:03:09 on 5 January 2009) to the end,
// in real seconds (across a day, a short month, the leap day of 2400 and the
// none of 2100), at 24 Mbps; three hours at most; none for an end before
// either.
TEST(Destination, ARecordingNeedsItsRealSecondsLeftAt24MbpsForThreeHoursAtMost) {
  const auto need = [](int64_t start, int64_t end) {  // yyyymmddhhmmss
    std::string line;
    for (int64_t t : {start, end})
      for (int64_t unit = 10000000000; unit >= 1; unit /= 100)
        line += Printf("%lld\t", unit == 10000000000 ? t / unit : t / unit % 100);
    return double(RecordingNeed(line, {2009, 1, 5, 7, 3, 9})) / 3'000'000;
  };
  const int64_t cases[][3] = {
      {20090105080000, 20090105080100, 60},  {20090105060000, 20090105070409, 60},
      {20090105080000, 20090105075959, 0},   {20081231230000, 20090105070308, 0},
      {20090105235930, 20090106000030, 60},  {20090228235900, 20090301000100, 120},
      {20090228235900, 20090231120000, 60},  {24000229235900, 24000301000100, 120},
      {21000228235900, 21000301000100, 120}, {20090105080000, 20991231000000, 10800}};
  for (const auto& c : cases) EXPECT_EQ(need(c[0], c[1]), c[2]) << c[0] << " to " << c[1];
}

// The recording's folder (up to the name's last '\' or '/', stepped by
// characters, also in a name made from the line; the current one for a bare
// name) and its space for the user, asked at Add and after a start that
// worked: the need is rounded up and the space down, in MB, and compared in
// bytes.
TEST_F(DueEvents, AFolderOutOfReachOrADiskTooSmallIsLoggedAtAddAndAfterTheStart) {
  space = {{"D:\\", 16 << 20},
           {".\\", 180'000'000 - 1},
           {"E:\\", 180'000'000},
           {"2009_01_05_22_00_00_2009_01_05_22_01_00_BS/", -1}};
  Add(Entry(210000, 210100, "@1\tD:\\\x83\\a.ts2"));  // 0x83 '\' is one katakana
  for (const char* rest : {"@2\tc.ts2", "@3\tE:\\e.ts2", "BS/1@4\t"})
    Add(Entry(220000, 220100, rest));
  EXPECT_EQ(std::exchange(journal, ""), "112(16,172,)|112(171,172,)|113(,,)|");
  EXPECT_EQ(TickAt(210030), "ping|freq 1 0|save 10 0 1 5 D:\\\x83\\a.ts2|104(0,1,0)|112(16,86,)|");
}

// Keys count twelve 31-day months; the wake follows the real calendar.
TEST(Power, WokenForTheFirstRealSecondAStartIsDueHeldFromTwoMinutesBefore) {
  const TimeKey now = {MinuteKey(2028, 1, 10, 12, 0), 30};
  const auto wake = [&](int y, int mo, int d, int h, int mi, int s) {
    LocalTime t;
    const bool woken = WakeStartOf({MinuteKey(y, mo, d, h, mi), s}, now, t);
    return woken ? Printf("%d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                          t.second)
                 : "none";
  };
  EXPECT_EQ(wake(2028, 3, 4, 5, 6, 7), "2028-03-04 05:06:07");
  EXPECT_EQ(wake(2027, 12, 31, 23, 59, 59), "none") << "past";
  EXPECT_EQ(wake(4100, 1, 1, 0, 0, 0), "none") << "wrapped";
  EXPECT_EQ(wake(2028, 1, 10, 12, 0, 60), "2028-01-10 12:01:00");
  EXPECT_EQ(wake(2028, 2, 29, 8, 0, 0), "2028-02-29 08:00:00");
  EXPECT_EQ(wake(2029, 2, 29, 8, 0, 0), "2029-03-01 00:00:00");
  EXPECT_EQ(wake(2100, 2, 29, 8, 0, 0), "2100-03-01 00:00:00");
  EXPECT_EQ(wake(2028, 4, 31, 8, 0, 0), "2028-05-01 00:00:00");
  EXPECT_EQ(wake(2028, 13, 5, 24, 75, 0), "2029-01-06 01:15:00");

  EXPECT_EQ(AwakeFromKey({MinuteKey(2028, 3, 1, 0, 1), 0}),
            (TimeKey{MinuteKey(2028, 2, 29, 23, 59), 0}));
  EXPECT_EQ(AwakeFromKey({MinuteKey(2029, 2, 31, 12, 0), 0}),
            (TimeKey{MinuteKey(2029, 2, 28, 23, 58), 0}));
  EXPECT_EQ(AwakeFromKey({MinuteKey(2029, 1, 1, 0, 0), 30}),
            (TimeKey{MinuteKey(2028, 12, 31, 23, 58), 30}));
}

// Held from two minutes before a start (at once for one already due),
// through the recording and a start that follows within two minutes,
// released after the last stop; the wake set for the earliest start not yet
// due, moved and cancelled as the list changes; a refused wake logged once
// for each run of refusals; two resumes moments apart tick once; sleep
// without a recording logs nothing (with one is shown end to end). The end
// of the session is granted (G) unless a task records and it is not
// critical, refused (R) then, the reason withdrawn (W) at the next grant or
// once after the last stop.
TEST_F(DueEvents, HeldAwakeFromTwoMinutesBeforeUntilTheLastStopAndWokenForTheEarliestStart) {
  const auto answers = [&](auto... f) {
    return std::string{"GWR"[int(AnswerEndOfSession(state, f))]...};
  };
  const uint32_t crit = kEndSessionCritical, logoff = kEndSessionLogoff, app = kEndSessionCloseApp;
  now = {2009, 1, 5, 20, 0, 0};
  Add(Entry(210000, 210005, "@1\ta"));
  Add(Entry(210200, 210300, "@2\tb"));
  EXPECT_EQ(PowerSince(), "wake 2009-01-05 21:00:00 -120|");
  EXPECT_EQ(TickWithPower(205800), "hold|");
  EXPECT_EQ(answers(0u, logoff, app), "GGG");
  TickAt(210000);
  EXPECT_EQ(PowerSince(), "wake 2009-01-05 21:02:00 -120|");
  EXPECT_EQ(answers(0u, logoff, app, crit | logoff, crit, logoff), "RRRWGR");
  EXPECT_FALSE(EndRefusalLapsed(state)) << "still recording";
  TickAt(210005);  // stopped, b near
  EXPECT_TRUE(EndRefusalLapsed(state) && !EndRefusalLapsed(state));
  EXPECT_EQ(TickWithPower(210200), "ping|freq 2 0|save 20 0 1 5 b|104(0,2,0)|cancel|");
  // Windows' second resume event comes moments after the first.
  for (now.millisecond = 600; now.millisecond <= 610; now.millisecond += 10) OnResume(state, world);
  EXPECT_EQ(std::exchange(journal, "") + std::exchange(power, ""), "keep 20|cancel|cancel|");
  EXPECT_EQ(TickWithPower(210300), "keep 20|stop 20|106(0,,)|release|");
  OnSuspend(state, world);
  EXPECT_EQ(journal, "") << "nothing records";

  refuse = "wake";
  Add(Entry(230000, 230100, "@3\tc"));
  Add(Entry(220000, 220100, "@4\td"));
  EXPECT_EQ(std::exchange(journal, ""), "110(,,)|");
  refuse = "";
  Add(Entry(235900, 235959, "@5\te"));  // the same earliest start, now armed
  EXPECT_EQ(PowerSince(),
            "wake 2009-01-05 23:00:00 -120|wake 2009-01-05 22:00:00 -120|"
            "wake 2009-01-05 22:00:00 -120|");
  Add(Entry(200000, 200100, "@6\tf"));  // due: held at once, the wake stays
  EXPECT_EQ(PowerSince(), "hold|");
  refuse = "wake";
  Add(Entry(213000, 213100, "@7\tg"));
  EXPECT_EQ(journal, "110(,,)|") << "a new run of refusals";
  ReleasePower(state, world);
  EXPECT_EQ(PowerSince(), "wake 2009-01-05 21:30:00 -120|release|cancel|");
  EXPECT_EQ(notices, "110(,,)|110(,,)|");
}

// Ticks on a timer that fires up to 15 ms late each time (Windows counts in
// steps of 15.6 ms), from a launch at every point of a second: from the
// second tick on they all fall 20 to 75 ms after their second, one in each
// second and never two within half a second, and a start is made at the
// first tick of its second.
TEST_F(DueEvents, TicksFallJustAfterEachSecondWhateverTheLaunchAndNeverTwiceWithinHalfASecond) {
  EXPECT_EQ(NextTickDelayMs(20, false) + NextTickDelayMs(60, true), 1000);
  for (int64_t launch = 0; launch < 1000; launch += 37) {
    int64_t t = launch, late = 0, period = 0;
    ResetTaskSlots(state.tasks);
    now = {2009, 1, 5, 21, 0, int(t / 1000), int(t % 1000)};
    Add(Entry(210003, 220000, "@1\tf"));
    RephaseTicks(state, world);
    for (int tick = 0; tick < 40; ++tick) {
      if (!timer.empty()) period = std::stoi(std::exchange(timer, ""));
      const int64_t previous = t;
      t += period + (late = (late + 7) % 16);
      now = {2009, 1, 5, 21, 0, int(t / 1000), int(t % 1000)};
      OnTick(state, world);
      ASSERT_GE(t - previous, 500) << "launch " << launch << ", tick " << tick;
      ASSERT_TRUE(tick == 0 ||
                  (t % 1000 >= 20 && t % 1000 <= 75 && t / 1000 == previous / 1000 + 1))
          << "launch " << launch << ", tick " << tick << " at " << t;
      EXPECT_TRUE(journal.find("save") == std::string::npos || t / 1000 == 3) << launch;
      journal.clear();
    }
  }
}

}  // namespace
}  // namespace quorvane
