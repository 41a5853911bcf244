#include "core/power.h"

#include "resources/resource_ids.h"

namespace quorvane {
namespace {

constexpr uint32_t kMinutesPerDay = 24 * 60;
constexpr uint32_t kDaysPerKeyMonth = 31;
constexpr uint32_t kDaysPerKeyYear = 12 * kDaysPerKeyMonth;
// Day 1 of month 1 of year 0 in the key's count of days: the first day of
// its calendar with a month and a day in their ranges.
constexpr uint32_t kFirstKeyDay = kDaysPerKeyMonth + 1;

bool IsLeapYear(int32_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int32_t DaysInMonth(int32_t year, int32_t month) {
  static constexpr int8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from a fixed day, with the real calendar's leap days. Counted from
// March, so that a leap day ends its year; from 400 years earlier, so that
// every year counted is positive. The years a clock or a key can show keep
// it within 32 bits, where 32-bit Windows divides without a runtime call.
int32_t DayNumber(const LocalTime& t) {
  const int32_t year = t.year + 400 - (t.month <= 2 ? 1 : 0);
  const int32_t fromMarch = t.month <= 2 ? t.month + 9 : t.month - 3;
  return year * 365 + year / 4 - year / 100 + year / 400 + (153 * fromMarch + 2) / 5 + t.day;
}

// `seconds` (less than a day) before `t`, in the real calendar.
LocalTime SecondsBefore(LocalTime t, int32_t seconds) {
  int32_t ofDay = t.hour * 3600 + t.minute * 60 + t.second - seconds;
  if (ofDay < 0) {
    ofDay += 24 * 3600;
    if (--t.day < 1) {
      if (--t.month < 1) {
        t.month = 12;
        --t.year;
      }
      t.day = DaysInMonth(t.year, t.month);
    }
  }
  return {t.year, t.month, t.day, ofDay / 3600, ofDay / 60 % 60, ofDay % 60};
}

}  // namespace

bool RealStartOf(TimeKey start, LocalTime& instant) {
  if (start.key < static_cast<int32_t>(kFirstKeyDay * kMinutesPerDay) || start == kNothingPending) {
    return false;
  }
  // A second the clock never shows is due with the next minute; the sum
  // still fits, unsigned.
  const uint32_t key = static_cast<uint32_t>(start.key) + (start.second >= 60 ? 1u : 0u);
  const uint32_t day = key / kMinutesPerDay - kFirstKeyDay;
  instant = {static_cast<int32_t>(day / kDaysPerKeyYear),
             static_cast<int32_t>(day % kDaysPerKeyYear / kDaysPerKeyMonth + 1),
             static_cast<int32_t>(day % kDaysPerKeyMonth + 1),
             static_cast<int32_t>(key % kMinutesPerDay / 60),
             static_cast<int32_t>(key % 60),
             start.second > 0 && start.second < 60 ? start.second : 0};
  if (instant.day > DaysInMonth(instant.year, instant.month)) {
    const bool december = instant.month == 12;
    instant = {instant.year + (december ? 1 : 0), december ? 1 : instant.month + 1, 1, 0, 0, 0};
  }
  return true;
}

int64_t RealSecondsBetween(const LocalTime& from, const LocalTime& to) {
  const auto ofDay = [](const LocalTime& t) { return t.hour * 3600 + t.minute * 60 + t.second; };
  return int64_t{DayNumber(to) - DayNumber(from)} * 86400 + ofDay(to) - ofDay(from);
}

bool WakeStartOf(TimeKey start, TimeKey now, LocalTime& instant) {
  return !IsDue(start, now) && RealStartOf(start, instant);
}

TimeKey AwakeFromKey(TimeKey start) {
  LocalTime instant;
  if (!RealStartOf(start, instant)) return start;
  return TimeKeyOf(SecondsBefore(instant, kWakeLeadSeconds));
}

void PlanPower(SchedulerState& state, const Surroundings& world) {
  PowerPlan& power = state.power;
  const TimeKey now = TimeKeyOf(world.clock.Now());
  power.awakeFrom = AwakeFromKey(state.earliestStart);
  // A listed start that is due now is started by the next tick; only then
  // does the list need walking for the one after it.
  TimeKey next = state.earliestStart;
  if (IsDue(next, now)) next = EarliestListedStart(world.list, &now);
  LocalTime wakeAt;
  if (!WakeStartOf(next, now, wakeAt)) {
    if (!(power.wakeFor == kNothingPending)) world.power.CancelWake();
    power.wakeFor = kNothingPending;
  } else if (!(next == power.wakeFor) || power.wakeRefused != 0) {
    const bool armed = world.power.ArmWake(wakeAt, kWakeLeadSeconds);
    if (!armed && power.wakeRefused == 0) LogMessage(world, IDS_WAKE_REFUSED, {});
    power.wakeRefused = armed ? 0 : 1;
    power.wakeFor = armed ? next : kWakeUnknown;
  }
  KeepAwakeAsNeeded(state, world, now);
}

void HoldSystemAwake(SchedulerState& state, const Surroundings& world, bool awake) {
  world.power.HoldAwake(awake);
  state.power.awake = awake ? 1 : 0;
}

void ReleasePower(SchedulerState& state, const Surroundings& world) {
  if (state.power.awake != 0) world.power.HoldAwake(false);
  if (!(state.power.wakeFor == kNothingPending)) world.power.CancelWake();
  state.power = kPowerAtRest;
}

void OnSuspend(SchedulerState& state, const Surroundings& world) {
  if (state.tasks.anyRunning != 0) LogMessage(world, IDS_SLEEP_WHILE_RECORDING, {});
}

void OnResume(SchedulerState& state, const Surroundings& world) {
  if (HasEnded(state)) return;
  // Windows tells of a resume twice when the user is there, the second time
  // within moments: one tick serves both.
  const LocalTime now = world.clock.Now();
  const int64_t sinceTickMs =
      (static_cast<int64_t>(TimeKeyOf(now).key) - state.lastTick.key) * 60000 +
      (static_cast<int64_t>(now.second) - state.lastTick.second) * 1000 + now.millisecond -
      state.lastTickMillisecond;
  if (sinceTickMs < 0 || sinceTickMs >= kShortestTickGapMs) OnTick(state, world);
  OnClockChanged(state, world);
}

void OnClockChanged(SchedulerState& state, const Surroundings& world) {
  if (HasEnded(state)) return;
  state.power.wakeFor = kWakeUnknown;
  // Inside a tick (a library call running messages) the tick's own pass
  // plans when it ends.
  if (state.busy == 0) PlanPower(state, world);
  RephaseTicks(state, world);
}

}  // namespace quorvane
