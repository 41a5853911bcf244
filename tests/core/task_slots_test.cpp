#include "core/task_slots.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fakes/fake_tuner.h"
#include "tests/fakes/surroundings_fakes.h"

namespace quorvane {
namespace {

using fakes::FakeScheduleList;
using fakes::FakeTuner;

std::string Start(int day, int hour, int minute, int second) {
  return "2009\t01\t" + std::to_string(day) + "\t" + std::to_string(hour) + "\t" +
         std::to_string(minute) + "\t" + std::to_string(second) +
         "\t2009\t02\t01\t00\t00\t00\t@1\t";
}

class TaskSlots : public ::testing::Test {
 protected:
  void SetUp() override { ResetTaskSlots(state.tasks); }
  void Occupy(int slot, uint32_t handle, TimeKey end) {
    state.tasks.slots[slot] = {handle, end.key, end.second};
    state.tasks.anyRunning |= handle;
  }
  TimeKey Next() {
    ComputeNextEvent(state, list);
    return state.nextEvent;
  }

  SchedulerState state{};
  FakeScheduleList list;
};

TEST_F(TaskSlots, ResetFreesEverySlot) {
  for (TaskSlot& slot : state.tasks.slots) slot.handle = 0xDEADBEEFu;
  state.tasks.anyRunning = 0xDEADBEEFu;
  ResetTaskSlots(state.tasks);
  for (const TaskSlot& slot : state.tasks.slots) EXPECT_EQ(slot.handle, 0u);
  EXPECT_EQ(state.tasks.anyRunning, 0u);
}

TEST_F(TaskSlots, NothingPendingWithoutLinesOrTasks) {
  EXPECT_TRUE(Next() == kNothingPending);
  EXPECT_FALSE(IsDue(kNothingPending, {INT32_MAX, INT32_MAX - 1}));
}

TEST_F(TaskSlots, EarliestListedStartWins) {
  list.AddLine(Start(9, 12, 0, 0).c_str());
  list.AddLine(Start(5, 21, 0, 30).c_str());
  list.AddLine(Start(5, 21, 0, 30).c_str());
  list.AddLine(Start(5, 21, 0, 31).c_str());
  EXPECT_TRUE(Next() == (TimeKey{MinuteKey(2009, 1, 5, 21, 0), 30}));
}

TEST_F(TaskSlots, RunningTaskEndCountsOnlyWhileBusy) {
  list.AddLine(Start(5, 21, 0, 0).c_str());
  const TimeKey early = {MinuteKey(2009, 1, 5, 20, 59), 59};
  // A free slot's stale end time plays no part.
  state.tasks.slots[4] = {0, early.key, early.second};
  EXPECT_TRUE(Next() == (TimeKey{MinuteKey(2009, 1, 5, 21, 0), 0}));
  Occupy(7, 501, early);
  EXPECT_TRUE(Next() == early);
  Occupy(2, 502, {early.key, 58});
  EXPECT_TRUE(Next() == (TimeKey{early.key, 58}));
}

TEST_F(TaskSlots, NonNumericLineIsDueAtOnce) {
  list.AddLine(Start(5, 21, 0, 0).c_str());
  list.AddLine("not an entry");
  EXPECT_TRUE(Next() == (TimeKey{0, 0}));
}

TEST_F(TaskSlots, StopAllStopsEveryBusySlotAndKeepsThem) {
  FakeTuner tuner;
  const TunerLibrary library = tuner.Library();
  StopAllTasks(state.tasks, library);
  EXPECT_TRUE(tuner.journal.empty());

  tuner.refuseStop = true;
  Occupy(1, 501, {0, 0});
  Occupy(9, 502, {0, 0});
  StopAllTasks(state.tasks, library);
  EXPECT_EQ(tuner.journal, (std::vector<std::string>{"Stop 501 =0", "Stop 502 =0"}));
  EXPECT_EQ(state.tasks.slots[1].handle, 501u);
  EXPECT_EQ(state.tasks.slots[9].handle, 502u);
  EXPECT_EQ(state.tasks.anyRunning, 501u | 502u);
}

}  // namespace
}  // namespace quorvane
