// The installed program as a user meets it, for msi-test.sh:
//   msi_probe run FIELD x14  waits for the program's dialog and tray icon, adds
//                            the task made of the form's 14 fields, ends it
//                            with Exit; prints what it saw.
#include "tests/e2e/dialog_reach.h"

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 16) return std::printf("usage: msi_probe run FIELD x14\n"), 2;
  // The dialog once its tray icon is there.
  HWND dialog = nullptr;
  if (!e2e::WaitUntil(
          [&] { return e2e::TrayIcon(dialog = FindWindowA("#32770", "Quorvane Scheduler")); },
          30000))
    return std::printf("no tray icon\n"), 1;
  for (int i = 0; i < 14; ++i) SetDlgItemTextA(dialog, e2e::kForm[i], argv[i + 2]);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_ADD, BN_CLICKED), 0);
  const LRESULT tasks = SendDlgItemMessageA(dialog, IDC_SCHEDULE_LIST, LB_GETCOUNT, 0, 0);
  DWORD id = 0, code = STILL_ACTIVE;
  GetWindowThreadProcessId(dialog, &id);
  const HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), 0);
  WaitForSingleObject(process, 15000);
  GetExitCodeProcess(process, &code);
  return std::printf("tray icon\ntasks %d\nexit %lu\n", static_cast<int>(tasks), code), 0;
}
