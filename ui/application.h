// The program's single instances: what lives for the whole run of the one
// user-interface thread.
#pragma once

#include <windows.h>

#include "core/surroundings.h"
#include "core/task_slots.h"
#include "core/tuner_library.h"
#include "ui/system_power.h"

struct Application {
  HINSTANCE instance;
  quorvane::TunerLibrary tuner;
  quorvane::SchedulerState scheduler;
  // The hold that keeps the system awake and the timer that wakes it.
  PowerHandles power;
  // Kept from initialisation as the tray icon's tip.
  char caption[quorvane::kTextCapacity];
  // Read once at start-up: the single-instance claim, the schedule file and
  // CHANNEL.TXT are all named after it. Empty if it could not be read.
  char exePath[quorvane::kTextCapacity];
  char schedulePath[quorvane::kTextCapacity];
  // Sent to every top-level window when the notification area (re)starts.
  UINT taskbarCreatedMessage;
  // Windows 8 and later may let the timers of a hidden window fire late
  // unless asked not to; nullptr where user32 lacks the call.
  decltype(&SetCoalescableTimer) setCoalescableTimer;
};

extern Application g_application;
