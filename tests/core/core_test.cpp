// The core against a fake world: time keys, the formatter, the schedule
// file's paths and save, and the tick with its due-event pass, second by
// second. Fields, names, composed lines, the line reader, loading and the log
// are held to reference models by the fuzz targets.
#include <gtest/gtest.h>

#include "core/due_events.h"
#include "core/schedule_file.h"
#include "core/text_format.h"
#include "tests/fakes/fakes.h"

namespace quorvane {
namespace {

using fakes::Entry;
using fakes::Printf;

TEST(TimeKey, CarriesIntoTheNextUnitWrapsAndIsDueFromItsSecondOn) {
  const TimeKey now = {MinuteKey(2009, 1, 5, 21, 0), 30};
  EXPECT_TRUE(IsDue(now, now) && IsDue({now.key - 1, 59}, now));
  EXPECT_FALSE(IsDue({now.key, 31}, now) || IsDue({now.key + 1, 0}, now));
  // Minute 75, hour 24, day 32 and month 13 carry, as nothing checks ranges.
  EXPECT_EQ(MinuteKey(2009, 12, 32, 24, 75), MinuteKey(2010, 1, 2, 1, 15));
  // Year 4100 takes the key past INT32_MAX: it wraps negative and is due at once.
  EXPECT_TRUE(IsDue(EntryStartKey("4100\t12\t31\t23\t59\t59"), now));
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
  // 0x83 '\' is one katakana.
  const std::tuple<decltype(&ScheduleFilePath), const char*, const char*> cases[] = {
      {ScheduleFilePath, "C:\\dir\\sched.exe", "C:\\dir\\sched.ini"},
      {ScheduleFilePath, "C:\\my.dir\\sched", "C:\\my.ini"},
      {ChannelFilePath, "C:\\\x83\\\\x.exe", "C:\\\x83\\\\CHANNEL.TXT"},
      {ChannelFilePath, "C:\\dir\\\x83\\x.exe", "C:\\dir\\CHANNEL.TXT"},
  };
  char path[kTextCapacity];
  for (const auto& [rule, exe, expected] : cases) {
    EXPECT_STREQ(rule(exe, fakes::Cp932Next, std::span(path)) ? path : "(refused)", expected);
  }
}

TEST(ScheduleFile, AFailedSaveLeavesTheOldFileAsItWas) {
  // Create, the first block, the rest, flush and replace fail in turn; with
  // nothing failing (step 6) the two blocks make the whole file.
  const std::vector<std::string> lines(70, std::string(1000, 'x'));
  std::string whole;
  for (const std::string& line : lines) whole += line + "\r\n";
  for (int step = 1; step <= 6; ++step) {
    fakes::FakeWorld w;
    w.lines = lines;
    w.disk["s.ini"] = "old\r\n";
    w.failStep = step;
    EXPECT_EQ(SaveScheduleFile(w, w, "s.ini"), step == 6) << step;
    const std::map<std::string, std::string> disk = {{"s.ini", step == 6 ? whole : "old\r\n"}};
    EXPECT_EQ(w.disk, disk) << step;
    EXPECT_EQ(w.openCount, 0) << step;
  }
}

// The calls that start recording `channel` into `name`.
std::string Started(int channel, int catv, const char* name) {
  return Printf("ping|freq %d %d|save %d 0 1 5 %s|", channel, catv, channel * 10 + catv, name);
}

class DueEvents : public ::testing::Test, public fakes::FakeWorld {
 protected:
  // Adds a line and recomputes the next event, as the dialog does.
  void Add(int start, int end, const char* rest) {
    AddLine(Entry(start, end, rest).c_str());
    ComputeNextEvent(state, *this);
  }
  void Occupy(int slot, uint32_t handle, int endHhmm) {
    state.tasks.slots[slot] = {handle, MinuteKey(2009, 1, 5, endHhmm / 100, endHhmm % 100), 0};
    state.tasks.anyRunning |= handle;
  }
  // Ticks at hhmmss on 5 January 2009; returns the calls made.
  std::string TickAt(int hhmmss) {
    now = {2009, 1, 5, hhmmss / 10000, hhmmss / 100 % 100, hhmmss % 100};
    OnTick(state, world);
    return std::exchange(journal, "");
  }
  std::string Logged(const char* message) const {
    return Printf("*2009/01/05 %02d:%02d:%02d %s\r\n", now.hour, now.minute, now.second, message);
  }

  const Surroundings world{*this, *this, *this, *this, *this, &fakes::Cp932Next, kLibrary, "s.ini"};
  SchedulerState state{};
};

TEST_F(DueEvents, StartsDueLinesFromTheLastUpAndStopsThemAtTheirEnd) {
  Add(100000, 110000, "@8\told.ts2");  // wholly past: started now, stopped at the next tick
  Add(210000, 215400, "NHK@65563\t");  // the library gets the low 16 bits
  for (const char* channel : {"@1\tf", "@2\tf"}) Add(210000, 220000, channel);
  Add(220000, 230000, "@C5\tlater.ts2");
  EXPECT_EQ(TickAt(210000),
            Started(2, 0, "f") + Started(1, 0, "f") +
                Started(27, 0, "2009_01_05_21_00_00_2009_01_05_21_54_00_NHK@65563_.ts2") +
                Started(8, 0, "old.ts2"));
  const std::string started =
      Logged("104 3(8,0)") + Logged("104 2(65563,0)") + Logged("104 1(1,0)") + Logged("104 0(2,0)");
  EXPECT_EQ(log, started);
  EXPECT_EQ(disk["s.ini"], Entry(220000, 230000, "@C5\tlater.ts2\r\n"));
  EXPECT_EQ(TickAt(210001), "keep 501|keep 502|keep 503|keep 504|stop 504|");
  const std::string stopped = Logged("106 3");
  EXPECT_EQ(TickAt(210002), "keep 501|keep 502|keep 503|");  // nothing due
  EXPECT_EQ(TickAt(215400), "keep 501|keep 502|keep 503|stop 503|");
  EXPECT_EQ(log, Logged("106 2") + stopped + started);
}

TEST_F(DueEvents, AFullTableDropsOneDueLinePerTickAndSavesNothing) {
  std::string keepAll;
  for (int i = 0; i < kTaskSlotCount; ++i) {
    Occupy(i, 900u + static_cast<uint32_t>(i), 2300 + i);
    keepAll += Printf("keep %d|", 900 + i);
  }
  Add(210000, 220000, "@1\ta");
  Add(210001, 220000, "@1\tb");
  const TimeKey due = state.nextEvent;
  disk["s.ini"] = "old";
  // Every keep-alive tries a tick of its own, which must return at once.
  int depth = 0;
  onKeepAlive = [&] {
    if (++depth < 3) OnTick(state, world);  // bounded: a missing guard fails, not overflows
    --depth;
  };
  EXPECT_EQ(TickAt(210001), keepAll);
  EXPECT_EQ(lines, std::vector{Entry(210000, 220000, "@1\ta")});
  EXPECT_EQ(log, Logged("101"));
  EXPECT_EQ(TickAt(210002), keepAll);
  EXPECT_EQ(disk["s.ini"], "old");
  EXPECT_EQ(state.nextEvent, due);
  EXPECT_EQ(TickAt(210003), keepAll);  // a pass with nothing to start saves again
  EXPECT_EQ(disk["s.ini"], "");
}

TEST_F(DueEvents, RefusalsAreLoggedAndLeaveNoTaskBehind) {
  refusePing = true;
  for (int i = 1; i <= 2; ++i) Add(210000 + i, 220000 + i, "@1\tf");
  Add(230000, 233000, "@1\tf");
  EXPECT_EQ(TickAt(210005), "ping|ping|");
  EXPECT_EQ(log, Logged("102") + Logged("102"));
  EXPECT_EQ(lines, std::vector{Entry(230000, 233000, "@1\tf")});
  refusePing = false;
  refuseStart = refuseStop = true;
  Occupy(3, 77, 2100);
  Occupy(4, 88, 2300);
  Add(210000, 220000, "CATV@C27\trec.ts2");
  const std::string before = log;
  EXPECT_EQ(TickAt(210006), "keep 77|keep 88|stop 77|ping|freq 27 1|save 271 0 1 5 rec.ts2|");
  EXPECT_EQ(log, Logged("103 0(27,1)") + Logged("105 3") + before);
  EXPECT_EQ(TickAt(220000), "keep 88|");  // nothing for the garbage handle
}

TEST_F(DueEvents, AFailedSaveIsLoggedOnceAndRetriedByEveryTickUntilItWorks) {
  held = true;
  Add(230000, 233000, "@1\tf");
  SaveSchedule(state, world);  // as Add does
  const std::string failed = Logged("108");
  for (int second = 1; second <= 3; ++second) TickAt(210000 + second);
  EXPECT_EQ(log, failed);
  held = false;
  TickAt(210004);
  const std::map<std::string, std::string> saved = {{"s.ini", Entry(230000, 233000, "@1\tf\r\n")}};
  EXPECT_EQ(disk, saved);
  const int stepsWhenSaved = steps;
  TickAt(210005);
  EXPECT_EQ(steps, stepsWhenSaved) << "a tick saved a file that was up to date";
  held = true;
  SaveSchedule(state, world);
  EXPECT_EQ(log, Logged("108") + failed);
  EXPECT_EQ(disk, saved);
}

TEST_F(DueEvents, NextEventIsTheEarliestStartOrEndAndStopAllStopsEveryTask) {
  ComputeNextEvent(state, *this);
  EXPECT_EQ(state.nextEvent, kNothingPending);
  Occupy(7, 501, 2100);  // the free slots' zero ends count for nothing
  Add(210030, 230000, "@1\t");
  EXPECT_EQ(state.nextEvent, (TimeKey{MinuteKey(2009, 1, 5, 21, 0), 0}));
  AddLine("not an entry");
  ComputeNextEvent(state, *this);
  EXPECT_EQ(state.nextEvent, (TimeKey{0, 0}));
  Occupy(9, 502, 2300);
  // Twice: the slots stay as they were.
  StopAllTasks(state.tasks, kLibrary);
  StopAllTasks(state.tasks, kLibrary);
  EXPECT_EQ(journal, "stop 501|stop 502|stop 501|stop 502|");
}

}  // namespace
}  // namespace quorvane
