// End-to-end harness: each test runs the real program in a folder of its own
// (work\<test>-<pid>) and drives its dialog with window messages, as a user's
// typing and clicks would; the stand-in library journals every call there.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/dialog_reach.h"
#include "tests/fakes/fakes.h"

namespace e2e {

// What a test prints reaches CTest's log at once, also when its time limit
// kills it: a pipe would otherwise be written only at the end.
inline const int kUnbufferedOutput = std::setvbuf(stdout, nullptr, _IONBF, 0);

using Texts = std::vector<std::string>;
constexpr UINT kTrayMessage = WM_USER + 1;
constexpr const char* kSchedule = "QuorvaneScheduler.ini";
// The current directory of every program started: a folder of its own, so
// that every test also shows that the program finds its files beside itself.
const std::string kElsewhere = "elsewhere\\";

// A built file as a Windows path (/x/y is Z:\x\y); QUORVANE_E2E_<what> overrides.
inline std::string Built(const std::string& what, const char* builtIn) {
  const char* value = std::getenv(("QUORVANE_E2E_" + what).c_str());
  std::string path = value != nullptr && *value != '\0' ? value : builtIn;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path.starts_with('\\') ? "Z:" + path : path;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Code page 932 text from UTF-16, and from UTF-8 source text.
inline std::string Narrow(std::wstring_view wide) {
  std::string text(wide.size() * 2, '\0');
  text.resize(size_t(WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), text.data(),
                                         int(text.size()), nullptr, nullptr)));
  return text;
}
inline std::string Cp932(std::u8string_view text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(size_t(MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(text.data()),
                                         int(text.size()), wide.data(), int(wide.size()))));
  return Narrow(wide);
}
// A log message with up to two numbers put in.
inline std::string Said(const char8_t* format, int a = 0, int b = 0) {
  char text[256];
  std::snprintf(text, sizeof text, Cp932(format).c_str(), a, b);
  return text;
}

using quorvane::fakes::Split;
inline std::string Join(const Texts& parts, const std::string& separator) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? "" : separator) + parts[i];
  return text;
}
inline Texts Cat(Texts a, const Texts& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
inline std::string CrLf(const Texts& lines) {
  return lines.empty() ? "" : Join(lines, "\r\n") + "\r\n";
}

struct Time {
  int year, month, day, hour, minute, second;
};
inline int64_t NowMs() {
  return std::chrono::system_clock::now().time_since_epoch() / std::chrono::milliseconds(1);
}
// A Unix time as its second and milliseconds, as the journal is read.
inline std::string Stamp(int64_t unixMs) {
  return std::to_string(unixMs / 1000 % 100000) + "." + Said(u8"%03d", int(unixMs % 1000));
}
// A line of progress, so that a test killed by its time limit says where.
inline void Progress(const std::string& text) {
  std::printf("[%s] %s\n", Stamp(NowMs()).c_str(), text.c_str());
}
inline Time LocalAt(int64_t unixMs) {
  const uint64_t ticks = uint64_t(unixMs) * 10000 + 116444736000000000ULL;  // FILETIME's units
  FILETIME utc{DWORD(ticks), DWORD(ticks >> 32)}, local;
  SYSTEMTIME t;
  FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}
// Six form fields; as text, later times sort after earlier ones.
inline std::string TimeText(const Time& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%d\t%02d\t%02d\t%02d\t%02d\t%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return text;
}
// An entry line, the fourteen form fields joined as Add joins them.
inline std::string Line(const Time& start, const Time& end, const std::string& channel,
                        const std::string& fileName) {
  return Join({TimeText(start), TimeText(end), channel, fileName}, "\t");
}
// The journal of a start on a plain channel (handle 0: refused), and of a stop.
inline Texts StartCalls(int channel, const std::string& name, int handle) {
  const int f = channel >= 13 && channel <= 62 ? 473143 + (channel - 13) * 6000 : 0;
  return {"Quorvane_ManagerPing\t=1", Said(u8"Quorvane_ChannelToFreq\t%d\t0\t=%d", channel, f),
          Said(u8"Quorvane_SaveFile\t%d\t0\t1\t5\t", f) + name +
              Said(u8"\t=%d\thandle=%d", handle != 0, handle)};
}
inline std::string StopCall(int handle) {
  return Said(u8"Quorvane_Stop\t%d\t=1", handle);
}

inline std::string GetText(HWND window) {
  // The length may count characters; leave room for double bytes.
  std::string text(size_t(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0)) * 2 + 16, 0);
  SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  return text.c_str();
}
// Wine 8 answers LB_GETTEXT and CB_GETLBTEXT from another process in UTF-16
// whatever the caller, and overruns a short buffer.
inline Texts Items(HWND box, bool listBox) {
  Texts items(size_t(SendMessageW(box, listBox ? LB_GETCOUNT : CB_GETCOUNT, 0, 0)));
  for (size_t i = 0; i < items.size(); ++i) {
    std::wstring text(4096, L'\0');
    text.resize(size_t(std::max<LRESULT>(
        0, SendMessageW(box, listBox ? LB_GETTEXT : CB_GETLBTEXT, i, LPARAM(text.data())))));
    items[i] = Narrow(text);
  }
  return items;
}

// A copy of the program, run from exe's folder's kElsewhere; killed, as a
// crash would end it, at the end (all harmless without a process).
struct Process {
  PROCESS_INFORMATION pi{};
  std::string arguments = "/show";  // one the program must not heed
  Process() = default;
  explicit Process(const std::string& exe) { Run(exe); }
  ~Process() { Kill(), CloseHandle(pi.hProcess), CloseHandle(pi.hThread); }
  void Kill() const { TerminateProcess(pi.hProcess, 99), WaitForSingleObject(pi.hProcess, 5000); }
  bool Run(const std::string& exe) {
    // A show state the program must not heed.
    std::string command = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    const std::string folder = exe.substr(0, exe.rfind('\\') + 1) + kElsewhere;
    const bool ran = CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                    nullptr, folder.c_str(), &startup, &pi);
    EXPECT_TRUE(ran) << "CreateProcessA: " << GetLastError();
    return ran;
  }
  // The exit code, or STILL_ACTIVE if the program is still running after timeoutMs.
  DWORD Exit(int timeoutMs = 5000) const {
    DWORD code = STILL_ACTIVE;
    WaitForSingleObject(pi.hProcess, DWORD(timeoutMs));
    GetExitCodeProcess(pi.hProcess, &code);
    return code;
  }
  // The main dialog, or another one (a message box, the open-file dialog).
  HWND Find(bool main = true) const {
    DWORD process = 0;
    for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, "#32770", nullptr));)
      if (GetWindowThreadProcessId(window, &process) && process == pi.dwProcessId &&
          (GetText(window) == "Quorvane Scheduler") == main)
        return window;
    return nullptr;
  }
  // The main dialog once it is up with its tray icon, its list read; or nullptr.
  HWND Up() const {
    HWND dialog = nullptr;
    return WaitUntil([&] { return (dialog = Find()) && TrayIcon(dialog); }, 15000) ? dialog
                                                                                   : nullptr;
  }
};

struct Call {
  int64_t ms;
  std::string text;  // the journal line after its time
};

class Session : public Process {
 public:
  // The expected texts and those the program shows are code page 932 bytes.
  // Without a window manager (Xvfb) Wine makes every hide or show of a managed
  // window wait 2 s for one; a program reads the setting when it starts.
  // A test may run several, each named by its tag.
  explicit Session(const std::string& tag = "") {
    EXPECT_EQ(GetACP(), 932u) << "run under Wine with LC_ALL=ja_JP.UTF-8";
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", "Managed", REG_SZ, "N", 2);
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = std::filesystem::absolute("work").string() + "\\" + test->test_suite_name() + "." +
              test->name() + tag + "-" + std::to_string(GetCurrentProcessId()) + "\\";
    std::replace(folder_.begin(), folder_.end(), '/', '.');
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_ + kElsewhere);
  }
  ~Session() {
    if (::testing::Test::HasFailure()) Explain(NowMs() - 30000);
    Kill();
    if (std::getenv("QUORVANE_E2E_KEEP") != nullptr && ::testing::Test::HasFailure()) return;
    // The killed program may hold its files for a moment.
    std::error_code error;
    WaitUntil([&] { return std::filesystem::remove_all(folder_, error), !error; });
  }

  std::string Path(const std::string& name) const { return folder_ + name; }
  std::string Read(const std::string& name) const { return ReadAll(Path(name)); }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  bool Has(const std::string& call) const {
    return Read("journal.txt").find(call) != std::string::npos;
  }
  // Copies the program and the library (if any) in and starts it with the
  // stand-in switches ("NAME=value") in its environment; no waiting.
  bool Launch(const std::string& library, Texts switches = {}) {
    const std::string exe = Path("QuorvaneScheduler.exe");
    const bool copied =
        CopyFileA(Built("PROGRAM", QUORVANE_E2E_PROGRAM).c_str(), exe.c_str(), FALSE) &&
        (library.empty() || CopyFileA(library.c_str(), Path("QuorvaneControl.dll").c_str(), FALSE));
    EXPECT_TRUE(copied) << "cannot copy the program or '" << library << "'";
    switches.push_back("QUORVANE_STANDIN_JOURNAL=" + Path("journal.txt"));
    for (const std::string& s : switches) _putenv(s.c_str());  // inherited by the program
    const bool started = copied && Run(exe);
    for (const std::string& s : switches) _putenv(s.substr(0, s.find('=') + 1).c_str());
    return started;
  }
  // Launches, then waits for the dialog and its tray icon.
  bool Start(const Texts& switches = {}) {
    const int64_t launched = NowMs();
    if (!Launch(Built("LIBRARY", QUORVANE_E2E_LIBRARY), switches) || !(dialog = Up())) return false;
    uiThread_ = GetWindowThreadProcessId(dialog, nullptr);
    Progress(Said(u8"the program is up after %d ms", int(NowMs() - launched)));
    return true;
  }
  // What Wine printed since the session began, of the program's UI thread
  // (lines that begin with its id, left out here): the server's trace of
  // timers, or the standard error this driver shares with the program.
  Texts Printed(bool fromServer, const std::string& what) const {
    Texts found;
    const std::string text = ReadAll(kPrinted[!fromServer]), ui = Said(u8"%04x:", int(uiThread_));
    for (const std::string& line :
         Split(text.substr(std::min(from_[!fromServer], text.size())), "\n"))
      if (line.starts_with(ui) && line.find(what) != std::string::npos)
        found.push_back(line.substr(ui.size()));
    return found;
  }
  // For a failure: the journal and the program's ticks (WM_TIMER as the Wine
  // server delivered it, counting milliseconds as GetTickCount does) from
  // `fromMs` to `toMs`, each behind its Unix second and milliseconds.
  void Explain(int64_t fromMs = 0, int64_t toMs = INT64_MAX) const {
    std::vector<std::pair<int64_t, std::string>> lines;
    for (const Call& call : Journal()) lines.emplace_back(call.ms, "journal " + call.text);
    for (const std::string& line : Printed(true, "msg=00000113, wparam=00000000, lparam"))
      lines.emplace_back(
          NowMs() - int64_t(GetTickCount() -
                            std::stoul(line.substr(line.find("time=") + 5), nullptr, 16)),
          "tick");
    std::ranges::stable_sort(lines, {}, &std::pair<int64_t, std::string>::first);
    std::printf("-- what the program did:\n");
    for (const auto& [ms, what] : lines)
      if (ms >= fromMs && ms <= toMs) std::printf("%s %s\n", Stamp(ms).c_str(), what.c_str());
  }

  HWND Control(int id) const { return GetDlgItem(dialog, id); }
  std::string Text(int id) const { return GetText(Control(id)); }
  void Click(int id) const { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  // For a click whose answer runs a modal loop.
  void Post(int id) const { PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  void Tray(LPARAM mouse) const { SendMessageA(dialog, kTrayMessage, 0, mouse); }
  bool Visible() const { return IsWindowVisible(dialog) != FALSE; }
  bool TrayIcon(DWORD action = NIM_MODIFY) const { return e2e::TrayIcon(dialog, action); }
  Texts Items(int id) const { return e2e::Items(Control(id), id == IDC_SCHEDULE_LIST); }
  void Select(int index) const {
    SendMessageA(Control(IDC_SCHEDULE_LIST), LB_SETCURSEL, WPARAM(index), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SCHEDULE_LIST, LBN_SELCHANGE), 0);
  }
  // The form's fourteen fields as one line; typed into them and added.
  std::string Form() const {
    Texts fields;
    for (int id : kForm) fields.push_back(Text(id));
    return Join(fields, "\t");
  }
  void Add(const Texts& lines) const {
    for (const std::string& line : lines) {
      for (size_t i = 0; i < 14; ++i)
        SetWindowTextA(Control(kForm[i]), Split(line, "\t")[i].c_str());
      Click(IDC_ADD);
    }
  }
  // The log's messages, newest first.
  Texts Log() const {
    static const std::regex kLine(R"(\*\d{4}/\d\d/\d\d \d\d:\d\d:\d\d ([^\r\n]*)\r\n)");
    Texts messages;
    std::string rest = Text(IDC_LOG);
    for (std::smatch m; std::regex_search(rest, m, kLine, std::regex_constants::match_continuous);
         rest = m.suffix())
      messages.push_back(m[1]);
    if (!rest.empty()) messages.push_back("not a log line: " + rest);
    return messages;
  }
  // The journal's complete lines, and their texts without those starting with skip.
  std::vector<Call> Journal() const {
    const Texts lines = Split(Read("journal.txt"), "\n");
    std::vector<Call> calls;
    for (size_t i = 0; i + 1 < lines.size(); ++i)
      calls.push_back({std::atoll(lines[i].c_str()), lines[i].substr(lines[i].find('\t') + 1)});
    return calls;
  }
  Texts Calls(const char* skip = "Quorvane_UpdateTimeout") const {
    Texts texts;
    for (const Call& call : Journal())
      if (skip == nullptr || !call.text.starts_with(skip)) texts.push_back(call.text);
    return texts;
  }

  HWND dialog = nullptr;

 private:
  const std::string kPrinted[2] = {Built("SERVER_TRACE", ""), Built("WINE_STDERR", "")};
  std::string folder_;
  const size_t from_[2] = {ReadAll(kPrinted[0]).size(), ReadAll(kPrinted[1]).size()};
  DWORD uiThread_ = 0;
};

}  // namespace e2e
