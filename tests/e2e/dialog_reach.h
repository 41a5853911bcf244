// Reaching the program's dialog from another process, without GoogleTest:
// shared by the end-to-end harness and the installer test's probe.
#pragma once

#include <windows.h>
// After windows.h.
#include <shellapi.h>

#include <functional>

#include "resources/resource_ids.h"

namespace e2e {

// The form's controls in the order of an entry's fields.
constexpr int kForm[14] = {IDC_START_YEAR,   IDC_START_MONTH,  IDC_START_DAY,  IDC_START_HOUR,
                           IDC_START_MINUTE, IDC_START_SECOND, IDC_END_YEAR,   IDC_END_MONTH,
                           IDC_END_DAY,      IDC_END_HOUR,     IDC_END_MINUTE, IDC_END_SECOND,
                           IDC_CHANNEL,      IDC_FILE_NAME};

inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  for (const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs); !done(); Sleep(50))
    if (GetTickCount64() >= deadline) return false;
  return true;
}

// NIM_MODIFY without flags succeeds only while the icon exists; NIM_DELETE
// forgets it as a restarted notification area would.
inline bool TrayIcon(HWND dialog, DWORD action = NIM_MODIFY) {
  NOTIFYICONDATAA icon{};
  icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
  icon.hWnd = dialog;
  return Shell_NotifyIconA(action, &icon) != FALSE;
}

}  // namespace e2e
