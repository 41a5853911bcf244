#include "ui/system_power.h"

namespace {

// What `powercfg /requests` shows beside the program: "録画のため" (for a
// recording).
wchar_t kRequestReason[] = L"Quorvane Scheduler: \u9332\u753b\u306e\u305f\u3081";

constexpr ULONGLONG kFileTimeTicksPerSecond = 10000000;

}  // namespace

void SystemPower::HoldAwake(bool awake) {
  if (handles_.request == nullptr) {
    REASON_CONTEXT reason = {};
    reason.Version = POWER_REQUEST_CONTEXT_VERSION;
    reason.Flags = POWER_REQUEST_CONTEXT_SIMPLE_STRING;
    reason.Reason.SimpleReasonString = kRequestReason;
    handles_.request = PowerCreateRequest(&reason);
  }
  const bool requested = handles_.request != INVALID_HANDLE_VALUE &&
                         (awake ? PowerSetRequest(handles_.request, PowerRequestSystemRequired)
                                : PowerClearRequest(handles_.request, PowerRequestSystemRequired));
  // Only the system is needed: the display may still turn off.
  if (!requested)
    SetThreadExecutionState(awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}

bool SystemPower::ArmWake(const quorvane::LocalTime& start, int32_t leadSeconds) {
  if (handles_.wakeTimer == nullptr)
    handles_.wakeTimer = CreateWaitableTimerA(nullptr, TRUE, nullptr);
  SYSTEMTIME local = {};
  local.wYear = static_cast<WORD>(start.year);
  local.wMonth = static_cast<WORD>(start.month);
  local.wDay = static_cast<WORD>(start.day);
  local.wHour = static_cast<WORD>(start.hour);
  local.wMinute = static_cast<WORD>(start.minute);
  local.wSecond = static_cast<WORD>(start.second);
  // The rules of that date, so that a wake across a change to or from
  // daylight saving time lands right; the lead is taken off in UTC, where
  // every minute exists once.
  SYSTEMTIME utc;
  FILETIME startTime;
  if (handles_.wakeTimer == nullptr || !TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
      !SystemTimeToFileTime(&utc, &startTime)) {
    return false;
  }
  ULARGE_INTEGER ticks;
  ticks.LowPart = startTime.dwLowDateTime;
  ticks.HighPart = startTime.dwHighDateTime;
  LARGE_INTEGER due;  // positive: an absolute UTC time
  due.QuadPart = static_cast<LONGLONG>(ticks.QuadPart - static_cast<ULONGLONG>(leadSeconds) *
                                                            kFileTimeTicksPerSecond);
  // Windows that cannot wake the system says so, even when the timer is set.
  SetLastError(ERROR_SUCCESS);
  return SetWaitableTimer(handles_.wakeTimer, &due, 0, nullptr, nullptr, TRUE) &&
         GetLastError() != ERROR_NOT_SUPPORTED;
}

void SystemPower::CancelWake() {
  if (handles_.wakeTimer != nullptr) CancelWaitableTimer(handles_.wakeTimer);
}
