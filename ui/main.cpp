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

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  g_application.instance = instance;
  // The manifest asks for Common Controls 6.0, whose versions of the
  // dialog's controls must be registered in the process.
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  // One byte short of the buffer, so that a path cut to it stays terminated.
  GetModuleFileNameA(nullptr, g_application.exePath, sizeof g_application.exePath - 1);
  if (!ClaimScheduleFile(g_application.exePath)) return 0;
  if (!BindTunerLibrary(g_application.tuner)) {
    ReleaseScheduleFileClaim();
    ShowLibraryLoadFailure();
    return 0;
  }
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
