// Whole-program figures under Wine: starts QuorvaneScheduler.exe with the
// stand-in library in a folder of its own and watches it from outside.
//
//   wine_figures startup EXE DLL FOLDER LINES
//       launch to the dialog in the tray with its list loaded, and to the
//       first tick, with LINES future lines and one due at once in the
//       schedule file
//   wine_figures pass EXE DLL FOLDER LINES
//       one due pass over LINES lines: the UI thread's CPU time and the wall
//       time from its first library call to the saved file
//   wine_figures soak EXE DLL FOLDER TASKS SECONDS
//       CPU and memory over SECONDS in the tray with TASKS recordings
//   wine_figures server SECONDS
//       the server's CPU over SECONDS with no program: Wine's own share
//
// Prints "name value unit" lines. QUORVANE_WINESERVER_PID (the server's Unix
// process id) adds the server's own CPU time, read from /proc via Z:.
#include <windows.h>
// After windows.h.
#include <psapi.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kLogId = 149;   // the dialog's log pane
constexpr int kListId = 150;  // its schedule list

std::string g_folder;
int g_tasks = 0;
int g_lines = 0;
PROCESS_INFORMATION g_process{};

void Figure(const char* name, double value, const char* unit) {
  std::printf("%-28s %12.2f %s\n", name, value, unit);
  std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "wine_figures: %s\n", why.c_str());
  if (g_process.hProcess != nullptr) TerminateProcess(g_process.hProcess, 99);
  std::exit(1);
}

int64_t UnixMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<int64_t>((ticks - 116444736000000000ull) / 10000);
}

std::string Read(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

// Six TAB-separated fields of the local time `seconds` from now.
std::string TimeFields(int64_t seconds) {
  FILETIME now, local;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = ((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) +
                         static_cast<uint64_t>(seconds * 10000000);
  const FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME t;
  FileTimeToLocalFileTime(&utc, &local);
  FileTimeToSystemTime(&local, &t);
  char text[64];
  std::snprintf(text, sizeof text, "%d\t%02d\t%02d\t%02d\t%02d\t%02d", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond);
  return text;
}

// `due` lines starting `dueIn` seconds from now and ending an hour later,
// then `future` lines in 2098, a minute apart.
void WriteSchedule(int due, int64_t dueIn, int future) {
  std::string text;
  for (int i = 0; i < due; ++i) {
    char rest[64];
    std::snprintf(rest, sizeof rest, "\t@%d\tsoak%d.ts2\r\n", 13 + i, i);
    text += TimeFields(dueIn) + "\t" + TimeFields(dueIn + 3600) + rest;
  }
  for (int i = 0; i < future; ++i) {
    char line[128];
    const int day = i / 1440 % 28 + 1, hour = i / 60 % 24, minute = i % 60;
    std::snprintf(
        line, sizeof line,
        "2098\t%02d\t%02d\t%02d\t%02d\t00\t2098\t%02d\t%02d\t%02d\t%02d\t30\t@27\tf%05d.ts2\r\n",
        i / 40320 + 1, day, hour, minute, i / 40320 + 1, day, hour, minute, i);
    text += line;
  }
  std::ofstream(g_folder + "QuorvaneScheduler.ini", std::ios::binary) << text;
}

bool WaitFor(bool (*done)(), int timeoutMs, DWORD stepMs = 5) {
  for (const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs); !done();) {
    if (GetTickCount64() >= end) return false;
    Sleep(stepMs);
  }
  return true;
}

// Wine answers GetProcessTimes and GetThreadTimes for another process with
// zeros, and reports no private bytes: those come from Linux's /proc, seen
// through the Z: drive. The program's Windows main thread is its Unix
// process's first thread.
std::string g_unixPid;

std::string Proc(const std::string& pid, const char* file) {
  return Read("Z:\\proc\\" + pid + "\\" + file);
}

// The Unix process whose command line is the program in our folder.
bool FindUnixPid() {
  const std::string exe = g_folder + "QuorvaneScheduler.exe";
  WIN32_FIND_DATAA entry;
  const HANDLE find = FindFirstFileA("Z:\\proc\\*", &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    const std::string pid = entry.cFileName;
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string command = Proc(pid, "cmdline");
    if (command.compare(0, exe.size(), exe) == 0 &&
        (command.size() == exe.size() || command[exe.size()] == '\0')) {
      g_unixPid = pid;
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return !g_unixPid.empty();
}

// Starts the program in the folder (cleared first); journal and refusals as
// given. Returns the Unix time of the launch in ms.
int64_t Launch(const std::string& exe, const std::string& dll, bool journal, bool refusePing) {
  if (!CopyFileA(exe.c_str(), (g_folder + "QuorvaneScheduler.exe").c_str(), FALSE) ||
      !CopyFileA(dll.c_str(), (g_folder + "QuorvaneControl.dll").c_str(), FALSE)) {
    Fail("cannot copy " + exe + " or " + dll + " into " + g_folder);
  }
  DeleteFileA((g_folder + "journal.txt").c_str());
  SetEnvironmentVariableA("QUORVANE_STANDIN_JOURNAL",
                          journal ? (g_folder + "journal.txt").c_str() : nullptr);
  SetEnvironmentVariableA("QUORVANE_STANDIN_REFUSE", refusePing ? "ping" : nullptr);
  std::string command = "\"" + g_folder + "QuorvaneScheduler.exe\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  const int64_t launched = UnixMs();
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      g_folder.c_str(), &startup, &g_process)) {
    Fail("CreateProcessA: " + std::to_string(GetLastError()));
  }
  if (!WaitFor(FindUnixPid, 10000, 10)) Fail("no Unix process for the program");
  return launched;
}

// The Unix time of the journal's first ManagerPing, 0 while there is none.
int64_t FirstPingMs() {
  const std::string journal = Read(g_folder + "journal.txt");
  const std::size_t at = journal.find("\tQuorvane_ManagerPing");
  if (at == std::string::npos) return 0;
  const std::size_t lineStart = journal.rfind('\n', at);
  return std::strtoll(journal.c_str() + (lineStart == std::string::npos ? 0 : lineStart + 1),
                      nullptr, 10);
}

HWND Dialog() {
  for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, "#32770", nullptr));) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == g_process.dwProcessId) return window;
  }
  return nullptr;
}

// Log lines that say a task started ("...を開始しました。", string 104).
int StartedTasks() {
  char text[32768] = {};
  SendMessageA(GetDlgItem(Dialog(), kLogId), WM_GETTEXT, sizeof text,
               reinterpret_cast<LPARAM>(text));
  int count = 0;
  for (const char* at = text; (at = std::strstr(at,
                                                "\x8a"
                                                "J\x8en\x82\xb5\x82\xdc")) != nullptr;
       ++at)
    ++count;
  return count;
}

void Quit() {
  PostMessageA(Dialog(), WM_CLOSE, 0, 0);
  if (WaitForSingleObject(g_process.hProcess, 20000) != WAIT_OBJECT_0) {
    TerminateProcess(g_process.hProcess, 99);
    Fail("the program did not quit");
  }
  CloseHandle(g_process.hProcess);
  CloseHandle(g_process.hThread);
  g_process = {};
}

struct Cpu {
  double process, uiThread, server;  // ms
};

// User and system CPU ms from a /proc stat text; -1 if unreadable.
double StatCpuMs(const std::string& stat) {
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::atof(field.c_str());  // utime, stime
  }
  return ticks * 10.0;  // USER_HZ is 100 on Linux
}

// Nanoseconds on a CPU of one Unix thread (its schedstat) as ms; -1 if
// unreadable. Finer than the 10 ms steps of stat, for one short pass.
double RunMs(const std::string& pid, const std::string& tid) {
  const std::string text = Proc(pid, ("task\\" + tid + "\\schedstat").c_str());
  return text.empty() ? -1 : std::atof(text.c_str()) / 1e6;
}

// The process as a whole from stat, since it counts ended threads too; the
// UI thread and the single-threaded server from schedstat.
Cpu CpuNow() {
  const char* server = std::getenv("QUORVANE_WINESERVER_PID");
  return {StatCpuMs(Proc(g_unixPid, "stat")), RunMs(g_unixPid, g_unixPid),
          server != nullptr && *server != '\0' ? RunMs(server, server) : -1};
}

void Memory(const char* when) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(g_process.hProcess, &counters, sizeof counters);
  // Private memory: the resident anonymous pages (heap, stacks, written
  // data), which no other process shares. Private_* of smaps would count a
  // library's pages as private or shared by whether another process happens
  // to map them at that moment.
  double privateKiB = 0;
  std::istringstream status(Proc(g_unixPid, "status"));
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("RssAnon:")) privateKiB = std::atof(line.c_str() + 8);
  }
  Figure((std::string(when) + ".private").c_str(), privateKiB, "KiB");
  Figure((std::string(when) + ".working_set").c_str(),
         static_cast<double>(counters.WorkingSetSize) / 1024, "KiB");
}

void Startup(const std::string& exe, const std::string& dll, int lines) {
  WriteSchedule(1, -60, lines);
  const int64_t launched = Launch(exe, dll, true, true);
  // Ready: in the tray (a NIM_MODIFY without flags works only on an icon
  // that exists) with the future lines listed, which are loaded last.
  g_lines = lines;
  const auto ready = [] {
    NOTIFYICONDATAA icon{};
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    icon.hWnd = Dialog();
    return icon.hWnd != nullptr && Shell_NotifyIconA(NIM_MODIFY, &icon) &&
           SendDlgItemMessageA(icon.hWnd, kListId, LB_GETCOUNT, 0, 0) >= g_lines;
  };
  if (!WaitFor(ready, 120000, 5)) Fail("not in the tray with its list");
  Figure("startup.to_ready", static_cast<double>(UnixMs() - launched), "ms");
  // The tick timer is set last; its first tick comes just after the first
  // second that begins at least half a second later.
  if (!WaitFor([] { return FirstPingMs() != 0; }, 120000)) Fail("no first tick");
  Figure("startup.to_first_tick", static_cast<double>(FirstPingMs() - launched), "ms");
  Memory("after_start");
  Quit();
}

FILETIME g_savedAt;
bool Saved() {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileAttributesExA((g_folder + "QuorvaneScheduler.ini").c_str(), GetFileExInfoStandard,
                              &data) &&
         CompareFileTime(&data.ftLastWriteTime, &g_savedAt) != 0;
}

void Pass(const std::string& exe, const std::string& dll, int lines) {
  // Due well after the start-up (measured first), so that the pass alone runs.
  constexpr int64_t kDueIn = 8;
  WriteSchedule(1, kDueIn, lines);
  WIN32_FILE_ATTRIBUTE_DATA data;
  GetFileAttributesExA((g_folder + "QuorvaneScheduler.ini").c_str(), GetFileExInfoStandard, &data);
  g_savedAt = data.ftLastWriteTime;
  const int64_t launched = Launch(exe, dll, true, true);
  const int64_t wait = launched + (kDueIn - 2) * 1000 - UnixMs();
  if (wait < 500) Fail("start-up took too long for the pass to be measured alone");
  Sleep(static_cast<DWORD>(wait));
  const Cpu before = CpuNow();
  if (!WaitFor(Saved, 10000, 1)) Fail("no save after the pass");
  const int64_t savedAt = UnixMs();
  Sleep(300);  // let the pass end: the save is its last step
  const Cpu after = CpuNow();
  Figure("pass.ui_thread_cpu", after.uiThread - before.uiThread, "ms");
  Figure("pass.first_call_to_saved", static_cast<double>(savedAt - FirstPingMs()), "ms");
  Quit();
}

// Sizes of the recordings; each keeps growing while its task is kept alive.
std::vector<uint64_t> RecordingSizes() {
  std::vector<uint64_t> sizes;
  for (int i = 0; i < g_tasks; ++i) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA((g_folder + "soak" + std::to_string(i) + ".ts2").c_str(),
                         GetFileExInfoStandard, &data);
    sizes.push_back((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  }
  return sizes;
}

void Soak(const std::string& exe, const std::string& dll, int tasks, int seconds) {
  g_tasks = tasks;
  WriteSchedule(tasks, -60, 0);
  Launch(exe, dll, false, false);
  if (tasks > 0 &&
      !WaitFor([] { return Dialog() != nullptr && StartedTasks() >= g_tasks; }, 30000, 100)) {
    Fail("the tasks did not start");
  }
  Sleep(3000);  // past the first ticks and the start of the recordings
  Memory("after_start");
  const std::vector<uint64_t> startSizes = RecordingSizes();
  const Cpu before = CpuNow();
  Sleep(static_cast<DWORD>(seconds) * 1000);
  const Cpu after = CpuNow();
  Memory("after_soak");
  Sleep(1000);  // a recording writes a burst every 100 ms
  const std::vector<uint64_t> endSizes = RecordingSizes();
  for (int i = 0; i < tasks; ++i) {
    if (endSizes[static_cast<std::size_t>(i)] <= startSizes[static_cast<std::size_t>(i)]) {
      Fail("recording " + std::to_string(i) + " stopped during the soak");
    }
  }
  Figure("soak.seconds", seconds, "s");
  Figure("soak.process_cpu", after.process - before.process, "ms");
  Figure("soak.ui_thread_cpu", after.uiThread - before.uiThread, "ms");
  if (before.server >= 0) Figure("soak.wineserver_cpu", after.server - before.server, "ms");
  Quit();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "server") {
    const Cpu before = CpuNow();
    Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
    Figure("soak.seconds", std::atof(argv[2]), "s");
    Figure("soak.wineserver_cpu", CpuNow().server - before.server, "ms");
    return 0;
  }
  if (argc < 6) {
    std::fprintf(stderr, "usage: wine_figures startup|pass|soak EXE DLL FOLDER N [SECONDS]\n");
    return 2;
  }
  const std::string what = argv[1];
  g_folder = std::string(argv[4]) + "\\";
  CreateDirectoryA(g_folder.c_str(), nullptr);
  const int n = std::atoi(argv[5]);
  if (what == "startup") {
    Startup(argv[2], argv[3], n);
  } else if (what == "pass") {
    Pass(argv[2], argv[3], n);
  } else if (what == "soak" && argc == 7) {
    Soak(argv[2], argv[3], n, std::atoi(argv[6]));
  } else {
    std::fprintf(stderr, "wine_figures: unknown measure %s\n", argv[1]);
    return 2;
  }
  return 0;
}
