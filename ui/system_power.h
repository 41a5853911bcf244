// The core's power seam on kernel32: a power request (or, where Windows
// refuses one, the thread's execution state) keeps the system awake, and one
// waitable timer wakes it.
#pragma once

#include <windows.h>

#include "core/surroundings.h"

// Made when first needed and kept for the whole run.
struct PowerHandles {
  // INVALID_HANDLE_VALUE where Windows refuses power requests (Wine does).
  HANDLE request;
  HANDLE wakeTimer;
};

class SystemPower final : public quorvane::Power {
 public:
  explicit SystemPower(PowerHandles& handles) : handles_(handles) {}
  void HoldAwake(bool awake) override;
  bool ArmWake(const quorvane::LocalTime& start, int32_t leadSeconds) override;
  void CancelWake() override;

 private:
  PowerHandles& handles_;
};
