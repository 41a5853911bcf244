// Program entry: claim the schedule file, bind the tuner library, run the
// tray dialog, release.
#include <windows.h>
// After windows.h.
#include <commctrl.h>

#include "core/schedule_file.h"
#include "resources/resource_ids.h"
#include "tuner/tuner_binding.h"
#include "ui/application.h"
#include "ui/main_dialog.h"
#include "ui/single_instance.h"
#include "ui/win32_surroundings.h"

Application g_application;

namespace {

void ShowLibraryLoadFailure() {
  char text[quorvane::kTextCapacity];
  LoadStringA(g_application.instance, IDS_LIBRARY_LOAD_FAILED, text, sizeof text);
  MessageBoxA(nullptr, text, nullptr, MB_ICONERROR);
}

// Windows starts the program with /background (the Startup folder's shortcut,
// a restart after an update or by an installer), the user without it: a copy
// started by Windows beside a running one has nothing to show the user. A
// word of its own, in any letter case; a space or TAB is never a trail byte.
bool StartedByWindows(const char* commandLine) {
  constexpr char kSwitch[] = "/background";
  constexpr int kLength = sizeof kSwitch - 1;
  for (const char* at = commandLine;; ++at) {
    const char* end = at;
    while (*end != '\0' && *end != ' ' && *end != '\t') ++end;
    if (end - at == kLength && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, at, kLength,
                                              kSwitch, kLength) == CSTR_EQUAL) {
      return true;
    }
    if (*end == '\0') return false;
    at = end;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  g_application.instance = instance;
  // The manifest asks for Common Controls 6.0, whose versions of the
  // dialog's controls must be registered in the process.
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  // One byte short of the buffer, so that a path cut to it stays terminated.
  GetModuleFileNameA(nullptr, g_application.exePath, sizeof g_application.exePath - 1);
  if (!ClaimScheduleFile(g_application.exePath, StartedByWindows(commandLine))) return 0;
  if (!BindTunerLibrary(g_application.tuner)) {
    ReleaseScheduleFileClaim();
    ShowLibraryLoadFailure();
    return 0;
  }
  // Brought back after an update's restart, an installer's close, a crash
  // or a hang (flags 0), once it has run a minute; without it the
  // recordings of the night would wait for the next sign-in. A failure
  // leaves the program as it was.
  RegisterApplicationRestart(L"/background", 0);
  quorvane::ScheduleFilePath(g_application.exePath, AnsiNextChar, g_application.schedulePath);
  g_application.taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
  // Windows 8 and later; resolved here so that older Windows still run it.
  // Through a plain function pointer type, which -Wcast-function-type accepts.
  g_application.setCoalescableTimer =
      reinterpret_cast<decltype(&SetCoalescableTimer)>(reinterpret_cast<void (*)()>(
          GetProcAddress(GetModuleHandleA("user32.dll"), "SetCoalescableTimer")));

  const HWND dialog = CreateDialogParamA(instance, "MAIN", nullptr, MainDialogProc, 0);
  if (dialog == nullptr) {
    ReleaseTunerLibrary(g_application.tuner);
    return 1;
  }
  ShowWindow(dialog, SW_HIDE);
  UpdateWindow(dialog);
  PublishSchedulerDialog(dialog);

  MSG message = {};
  // GetMessage answers -1 on error; looping on it would spin forever.
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  ReleaseTunerLibrary(g_application.tuner);
  return static_cast<int>(message.wParam);
}
