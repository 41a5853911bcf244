#include "core/due_events.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/fakes/fake_files.h"
#include "tests/fakes/fake_tuner.h"
#include "tests/fakes/surroundings_fakes.h"

namespace quorvane {
namespace {

using Journal = std::vector<std::string>;

// An entry of 5 January 2009 (day 4 for a negative start hour's day).
std::string Entry(int startHour, int startMinute, int startSecond, int endHour, int endMinute,
                  int endSecond, const std::string& channel, const std::string& file) {
  char line[kTextCapacity];
  std::snprintf(line, sizeof line,
                "2009\t01\t05\t%02d\t%02d\t%02d\t2009\t01\t05\t%02d\t%02d\t%02d\t", startHour,
                startMinute, startSecond, endHour, endMinute, endSecond);
  return line + channel + "\t" + file;
}

std::string SaveCall(uint32_t channel, uint32_t catv, const std::string& file, uint32_t handle) {
  return "SaveFile " + std::to_string(fakes::FakeTuner::FrequencyOf(channel, catv)) + " 0 1 5 " +
         file + " =1 handle=" + std::to_string(handle);
}

Journal StartCalls(uint32_t channel, uint32_t catv, const std::string& file, uint32_t handle) {
  return {"ManagerPing =1",
          "ChannelToFreq " + std::to_string(channel) + " " + std::to_string(catv) + " =" +
              std::to_string(fakes::FakeTuner::FrequencyOf(channel, catv)),
          SaveCall(channel, catv, file, handle)};
}

Journal Joined(std::initializer_list<Journal> parts) {
  Journal all;
  for (const Journal& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class DueEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTaskSlots(state.tasks);
    At(20, 0, 0);
  }
  void At(int hour, int minute, int second) { clock.now = {2009, 1, 5, hour, minute, second}; }
  void Add(const std::string& line) { list.AddLine(line.c_str()); }
  void Occupy(int slot, uint32_t handle, int endHour, int endMinute) {
    state.tasks.slots[slot] = {handle, MinuteKey(2009, 1, 5, endHour, endMinute), 0};
    state.tasks.anyRunning |= handle;
  }
  // Dialog start-up: the next event from the list and the slots.
  void Prepare() { ComputeNextEvent(state, list); }
  void Tick() { OnTick(state, world); }
  // Journal since the last call.
  Journal Calls() {
    Journal calls;
    calls.swap(tuner.journal);
    return calls;
  }
  std::string Logged(int32_t id, std::initializer_list<int64_t> numbers) const {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "*%d/%02d/%02d %02d:%02d:%02d ", clock.now.year,
                  clock.now.month, clock.now.day, clock.now.hour, clock.now.minute,
                  clock.now.second);
    return stamp + messages.Expand(id, numbers) + "\r\n";
  }

  fakes::FakeScheduleList list;
  fakes::FakeLogPane pane;
  fakes::FakeClock clock;
  fakes::FakeMessageTable messages;
  fakes::TempDir dir;
  fakes::RealFiles files;
  fakes::FakeTuner tuner;
  const TunerLibrary library = tuner.Library();
  const std::string schedulePath = dir.Path("sched.ini");
  const Surroundings world{
      list, pane, clock, messages, files, &fakes::Cp932Next, library, schedulePath.c_str()};
  SchedulerState state{};
};

TEST_F(DueEvents, StartsAtStartTimeAndStopsAtEndTime) {
  const std::string line = Entry(21, 0, 0, 21, 54, 0, "NHK@27", "");
  const std::string later = Entry(22, 0, 0, 23, 0, 0, "@C5", "later.ts2");
  Add(line);
  Add(later);
  Prepare();

  At(20, 59, 59);
  Tick();
  EXPECT_EQ(Calls(), Journal{});
  EXPECT_FALSE(dir.Exists("sched.ini"));

  At(21, 0, 0);
  Tick();
  EXPECT_EQ(Calls(), StartCalls(27, 0, "2009_01_05_21_00_00_2009_01_05_21_54_00_NHK@27_.ts2", 501));
  std::string log = Logged(104, {0, 27, 0});
  EXPECT_EQ(pane.text, log);
  EXPECT_EQ(list.lines, Journal{later});
  EXPECT_EQ(dir.Read("sched.ini"), later + "\r\n");
  EXPECT_EQ(state.tasks.slots[0].handle, 501u);
  EXPECT_NE(state.tasks.anyRunning, 0u);
  EXPECT_TRUE(state.nextEvent == (TimeKey{MinuteKey(2009, 1, 5, 21, 54), 0}));

  At(21, 0, 1);
  Tick();
  EXPECT_EQ(Calls(), Journal{"UpdateTimeout 501"});

  At(21, 54, 0);
  Tick();
  EXPECT_EQ(Calls(), (Journal{"UpdateTimeout 501", "Stop 501 =1"}));
  log = Logged(106, {0}) + log;
  EXPECT_EQ(pane.text, log);
  EXPECT_EQ(state.tasks.slots[0].handle, 0u);
  EXPECT_EQ(state.tasks.anyRunning, 0u);
  EXPECT_TRUE(state.nextEvent == EntryStartKey(later));

  At(21, 54, 1);
  Tick();
  EXPECT_EQ(Calls(), Journal{});
}

TEST_F(DueEvents, SeveralDueLinesTakeSlotsFromTheLastLineUp) {
  for (int i = 0; i < 3; ++i) Add(Entry(21, 0, i, 22, 0, 0, "@" + std::to_string(i + 1), "f"));
  Prepare();
  At(21, 0, 5);
  Tick();
  EXPECT_EQ(Calls(), Joined({StartCalls(3, 0, "f", 501), StartCalls(2, 0, "f", 502),
                             StartCalls(1, 0, "f", 503)}));
  EXPECT_EQ(pane.text, Logged(104, {2, 1, 0}) + Logged(104, {1, 2, 0}) + Logged(104, {0, 3, 0}));
  EXPECT_EQ(state.tasks.slots[0].handle, 501u);
  EXPECT_EQ(state.tasks.slots[2].handle, 503u);
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(DueEvents, AbsentManagerConsumesEveryDueLineInSlotZero) {
  tuner.refusePing = true;
  for (int i = 0; i < 3; ++i) Add(Entry(21, 0, i, 22, i, 0, "@1", "f"));
  Add(Entry(23, 0, 0, 23, 30, 0, "@1", "f"));
  Prepare();
  At(21, 0, 5);
  Tick();
  EXPECT_EQ(Calls(), Journal(3, "ManagerPing =0"));
  EXPECT_EQ(pane.text, Logged(102, {}) + Logged(102, {}) + Logged(102, {}));
  EXPECT_EQ(list.Count(), 1);
  for (const TaskSlot& slot : state.tasks.slots) EXPECT_EQ(slot.handle, 0u);
  EXPECT_EQ(state.tasks.anyRunning, 0u);
  // The slot took the end time of the last line tried.
  EXPECT_EQ(state.tasks.slots[0].endKey, MinuteKey(2009, 1, 5, 22, 0));
  EXPECT_TRUE(state.nextEvent == (TimeKey{MinuteKey(2009, 1, 5, 23, 0), 0}));
}

TEST_F(DueEvents, FullTableDropsOneDueLinePerTickWithoutSaving) {
  Journal keepAlive;
  for (int i = 0; i < kTaskSlotCount; ++i) {
    Occupy(i, 900u + static_cast<uint32_t>(i), 23, i);
    keepAlive.push_back("UpdateTimeout " + std::to_string(900 + i));
  }
  Add(Entry(21, 0, 0, 22, 0, 0, "@1", "a"));
  Add(Entry(21, 0, 1, 22, 0, 0, "@1", "b"));
  dir.Write("sched.ini", "old\r\n");
  Prepare();
  const TimeKey due = state.nextEvent;

  At(21, 0, 1);
  Tick();
  EXPECT_EQ(Calls(), keepAlive);
  EXPECT_EQ(list.lines, Journal{Entry(21, 0, 0, 22, 0, 0, "@1", "a")});
  const std::string first = Logged(101, {});
  EXPECT_EQ(pane.text, first);
  EXPECT_EQ(dir.Read("sched.ini"), "old\r\n");
  EXPECT_TRUE(state.nextEvent == due);

  At(21, 0, 2);
  Tick();
  EXPECT_EQ(Calls(), keepAlive);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(pane.text, Logged(101, {}) + first);
  EXPECT_EQ(dir.Read("sched.ini"), "old\r\n");

  // A pass with nothing to stop or start still recomputes and saves.
  At(21, 0, 3);
  Tick();
  EXPECT_EQ(Calls(), keepAlive);
  EXPECT_EQ(pane.replaced, 2);
  EXPECT_EQ(dir.Read("sched.ini"), "");
  EXPECT_TRUE(state.nextEvent == (TimeKey{MinuteKey(2009, 1, 5, 23, 0), 0}));
}

TEST_F(DueEvents, KeepAliveOnEveryTickForEveryRunningTask) {
  Occupy(2, 77, 23, 0);
  Occupy(5, 88, 23, 0);
  Prepare();
  for (int second = 0; second < 3; ++second) {
    At(21, 0, second);
    Tick();
    EXPECT_EQ(Calls(), (Journal{"UpdateTimeout 77", "UpdateTimeout 88"}));
  }
  EXPECT_FALSE(dir.Exists("sched.ini"));
}

TEST_F(DueEvents, TickDuringATickReturnsAtOnce) {
  Occupy(0, 77, 23, 0);
  Add(Entry(21, 0, 0, 22, 0, 0, "@1", "f"));
  Prepare();
  int depth = 0;
  tuner.onKeepAlive = [&] {
    if (++depth < 3) Tick();  // bounded, so that a missing guard fails instead of overflowing
    --depth;
  };
  At(21, 0, 0);
  Tick();
  EXPECT_EQ(Calls(), Joined({{"UpdateTimeout 77"}, StartCalls(1, 0, "f", 501)}));
  EXPECT_EQ(pane.text, Logged(104, {1, 1, 0}));
  EXPECT_EQ(state.busy, 0u);
}

TEST_F(DueEvents, RefusedStopIsLoggedAndTheSlotFreed) {
  tuner.refuseStop = true;
  Occupy(3, 77, 21, 0);
  Occupy(4, 88, 23, 0);
  Prepare();
  At(21, 0, 0);
  Tick();
  EXPECT_EQ(Calls(), (Journal{"UpdateTimeout 77", "UpdateTimeout 88", "Stop 77 =0"}));
  EXPECT_EQ(pane.text, Logged(105, {3}));
  EXPECT_EQ(state.tasks.slots[3].handle, 0u);
  EXPECT_EQ(state.tasks.anyRunning, 88u);
  Tick();
  EXPECT_EQ(Calls(), Journal{"UpdateTimeout 88"});
}

class RefusedStart : public DueEvents, public ::testing::WithParamInterface<bool> {};

TEST_P(RefusedStart, IsLoggedAndLeavesNoTaskBehind) {
  tuner.refuseStart = true;
  tuner.dirtyRefusal = GetParam();
  Add(Entry(21, 0, 0, 22, 0, 0, "CATV@C27", "rec.ts2"));
  Prepare();
  At(21, 0, 0);
  Tick();
  const std::string handle = GetParam() ? "3735928559" : "0";
  EXPECT_EQ(Calls(), (Journal{"ManagerPing =1", "ChannelToFreq 27 1 =100271",
                              "SaveFile 100271 0 1 5 rec.ts2 =0 handle=" + handle}));
  EXPECT_EQ(pane.text, Logged(103, {0, 27, 1}));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(state.tasks.slots[0].handle, 0u);
  EXPECT_EQ(state.tasks.anyRunning, 0u);
  At(22, 0, 0);
  Tick();
  StopAllTasks(state.tasks, library);
  EXPECT_EQ(Calls(), Journal{});
}

INSTANTIATE_TEST_SUITE_P(CleanAndDirty, RefusedStart, ::testing::Bool());

TEST_F(DueEvents, LibraryGetsLow16BitsOfTheChannelButTheLogShowsAll) {
  Add(Entry(21, 0, 0, 22, 0, 0, "X@65563", "rec.ts2"));
  Add(Entry(21, 0, 1, 22, 0, 0, "no channel", ""));
  Prepare();
  At(21, 0, 1);
  Tick();
  EXPECT_EQ(
      Calls(),
      Joined({StartCalls(0, 0, "2009_01_05_21_00_01_2009_01_05_22_00_00_no channel_.ts2", 501),
              StartCalls(27, 0, "rec.ts2", 502)}));
  EXPECT_EQ(pane.text, Logged(104, {1, 65563, 0}) + Logged(104, {0, 0, 0}));
}

TEST_F(DueEvents, EmptyLineIsDueAtOnceAndRecordsChannelZero) {
  Add("");
  Prepare();
  Tick();
  EXPECT_EQ(Calls(), StartCalls(0, 0, ".ts2", 501));
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(DueEvents, EntryWhollyInThePastStartsThenStopsOnTheNextTick) {
  Add(Entry(10, 0, 0, 11, 0, 0, "@8", "old.ts2"));
  Prepare();
  At(21, 0, 0);
  Tick();
  EXPECT_EQ(Calls(), StartCalls(8, 0, "old.ts2", 501));
  const std::string started = Logged(104, {0, 8, 0});
  At(21, 0, 1);
  Tick();
  EXPECT_EQ(Calls(), (Journal{"UpdateTimeout 501", "Stop 501 =1"}));
  EXPECT_EQ(pane.text, Logged(106, {0}) + started);
}

}  // namespace
}  // namespace quorvane
