// The installed program as a user meets it, for msi-test.sh:
//   msi_probe link SHORTCUT      prints the shortcut's target and working folder
//   msi_probe run SHORTCUT|- PROGRAM [FIELD x14]
//     starts the shortcut's target in its working folder (- : something else
//     started it), waits for PROGRAM's dialog and tray icon, adds the task
//     made of the form's 14 fields, ends it with Exit; prints what it saw.
#include <windows.h>
// After windows.h.
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "resources/resource_ids.h"

namespace {

char target[MAX_PATH], folder[MAX_PATH];

bool Resolve(const char* shortcut) {
  IShellLinkA* link = nullptr;
  IPersistFile* file = nullptr;
  wchar_t path[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, shortcut, -1, path, MAX_PATH);
  const bool resolved =
      SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                 reinterpret_cast<void**>(&link))) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(path, STGM_READ)) &&
      SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, 0)) &&
      SUCCEEDED(link->GetWorkingDirectory(folder, MAX_PATH));
  if (file != nullptr) file->Release();
  if (link != nullptr) link->Release();
  return resolved;
}

// PROGRAM's main dialog once its tray icon is there (NIM_MODIFY with no flags
// succeeds only while the icon exists), and its process.
HWND FindProgram(const char* program, HANDLE* process) {
  for (int tries = 0; tries < 300; ++tries, Sleep(100)) {
    for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, "#32770", nullptr));) {
      char caption[64] = {}, image[MAX_PATH] = {};
      DWORD id = 0, size = MAX_PATH;
      GetWindowTextA(window, caption, sizeof caption);
      GetWindowThreadProcessId(window, &id);
      *process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
      NOTIFYICONDATAA icon{};
      icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
      icon.hWnd = window;
      if (*process != nullptr && std::string(caption) == "Quorvane Scheduler" &&
          QueryFullProcessImageNameA(*process, 0, image, &size) && lstrcmpiA(image, program) == 0 &&
          Shell_NotifyIconA(NIM_MODIFY, &icon)) {
        return window;
      }
      if (*process != nullptr) CloseHandle(*process);
    }
  }
  return nullptr;
}

constexpr int kForm[14] = {IDC_START_YEAR,   IDC_START_MONTH,  IDC_START_DAY,  IDC_START_HOUR,
                           IDC_START_MINUTE, IDC_START_SECOND, IDC_END_YEAR,   IDC_END_MONTH,
                           IDC_END_DAY,      IDC_END_HOUR,     IDC_END_MINUTE, IDC_END_SECOND,
                           IDC_CHANNEL,      IDC_FILE_NAME};

int Run(const char* shortcut, const char* program, int fields, char** field) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (std::string(shortcut) != "-" &&
      (!Resolve(shortcut) || !CreateProcessA(target, nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                                             folder, &startup, &started))) {
    return std::printf("cannot start %s\n", shortcut), 1;
  }
  HANDLE process = nullptr;
  const HWND dialog = FindProgram(program, &process);
  if (dialog == nullptr) return std::printf("no tray icon\n"), 1;
  std::printf("tray icon\n");
  if (fields == 14) {
    for (int i = 0; i < 14; ++i) SetDlgItemTextA(dialog, kForm[i], field[i]);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_ADD, BN_CLICKED), 0);
    std::printf("tasks %d\n", static_cast<int>(SendDlgItemMessageA(dialog, IDC_SCHEDULE_LIST,
                                                                   LB_GETCOUNT, 0, 0)));
  }
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), 0);
  DWORD code = STILL_ACTIVE;
  WaitForSingleObject(process, 15000);
  GetExitCodeProcess(process, &code);
  return std::printf("exit %lu\n", code), 0;
}

}  // namespace

int main(int argc, char** argv) {
  CoInitialize(nullptr);
  const std::string command = argc > 2 ? argv[1] : "";
  if (command == "link" && argc == 3 && Resolve(argv[2]))
    return std::printf("%s\n%s\n", target, folder), 0;
  if (command == "run" && (argc == 4 || argc == 18))
    return Run(argv[2], argv[3], argc - 4, argv + 4);
  std::fprintf(stderr, "usage: msi_probe link SHORTCUT | run SHORTCUT|- PROGRAM [FIELD x14]\n");
  return 2;
}
