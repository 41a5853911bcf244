#include "tests/e2e/harness.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "resources/resource_ids.h"

#ifndef QUORVANE_E2E_PROGRAM
#define QUORVANE_E2E_PROGRAM ""
#endif
#ifndef QUORVANE_E2E_LIBRARY
#define QUORVANE_E2E_LIBRARY ""
#endif
#ifndef QUORVANE_E2E_LACKING_LIBRARY
#define QUORVANE_E2E_LACKING_LIBRARY ""
#endif

namespace e2e {
namespace {

// The expected texts are code page 932 bytes, and so are the texts the
// program shows; reading them through another code page would garble both.
//
// Under Wine without a window manager (Xvfb), every hide or show of a managed
// window waits two seconds for the manager that never answers; unmanaged
// windows do not. Wine reads this setting when a process starts, so setting it
// here covers every program the tests start.
class WineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(GetACP(), 932u) << "run under Wine with LC_ALL=ja_JP.UTF-8";
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr) return;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
      static const char kNo[] = "N";
      RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(kNo), sizeof kNo);
      RegCloseKey(key);
    }
  }
};
[[maybe_unused]] ::testing::Environment* const kWineEnvironment =
    ::testing::AddGlobalTestEnvironment(new WineEnvironment);

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') {
    std::replace(path.begin(), path.end(), '/', '\\');
    path.insert(0, "Z:");
  }
  return path;
}

std::string Configured(const char* variable, const char* builtIn) {
  const char* value = std::getenv(variable);
  return WindowsPath(value != nullptr && *value != '\0' ? value : builtIn);
}

std::string ExeDirectory() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string result(path);
  return result.substr(0, result.find_last_of('\\'));
}

std::string CurrentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info != nullptr ? std::string(info->test_suite_name()) + "_" + info->name()
                                     : std::string("outside_test");
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

bool CurrentTestFailed() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return info != nullptr && info->result()->Failed();
}

std::string Join(const std::string& folder, const std::string& name) {
  return name.empty() ? folder : folder + "\\" + name;
}

}  // namespace

std::string ProgramPath() {
  return Configured("QUORVANE_E2E_PROGRAM", QUORVANE_E2E_PROGRAM);
}
std::string LibraryPath() {
  return Configured("QUORVANE_E2E_LIBRARY", QUORVANE_E2E_LIBRARY);
}
std::string LackingLibraryPath() {
  return Configured("QUORVANE_E2E_LACKING_LIBRARY", QUORVANE_E2E_LACKING_LIBRARY);
}

std::string Cp932(std::u8string_view text) {
  const char* bytes = reinterpret_cast<const char*>(text.data());
  const int size = static_cast<int>(text.size());
  const int wideSize = MultiByteToWideChar(CP_UTF8, 0, bytes, size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(wideSize), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes, size, wide.data(), wideSize);
  const int outSize =
      WideCharToMultiByte(932, 0, wide.data(), wideSize, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(outSize), '\0');
  WideCharToMultiByte(932, 0, wide.data(), wideSize, out.data(), outSize, nullptr, nullptr);
  return out;
}

std::string WideToAnsi(std::wstring_view text) {
  const int size = static_cast<int>(text.size());
  const int outSize =
      WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(outSize), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), size, out.data(), outSize, nullptr, nullptr);
  return out;
}

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  for (;;) {
    if (pred()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPollMs);
  }
}

namespace {
// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochOffset = 116444736000000000LL;
}  // namespace

int64_t NowEpochMs() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return (ticks - kEpochOffset) / 10000;
}

SYSTEMTIME At(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME t{};
  t.wYear = static_cast<WORD>(year);
  t.wMonth = static_cast<WORD>(month);
  t.wDay = static_cast<WORD>(day);
  t.wHour = static_cast<WORD>(hour);
  t.wMinute = static_cast<WORD>(minute);
  t.wSecond = static_cast<WORD>(second);
  return t;
}

SYSTEMTIME LocalTimeAt(int64_t epochMs) {
  const uint64_t ticks = static_cast<uint64_t>(epochMs * 10000 + kEpochOffset);
  FILETIME utc{static_cast<DWORD>(ticks & 0xffffffffu), static_cast<DWORD>(ticks >> 32)};
  FILETIME local;
  FileTimeToLocalFileTime(&utc, &local);
  SYSTEMTIME result;
  FileTimeToSystemTime(&local, &result);
  return result;
}

std::string StampText(const SYSTEMTIME& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%d/%02d/%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond);
  return text;
}

std::vector<JournalCall> ParseJournal(std::string_view text) {
  std::vector<JournalCall> calls;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) break;  // a line still being written
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
      const size_t tab = line.find('\t', start);
      fields.emplace_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
      if (tab == std::string_view::npos) break;
      start = tab + 1;
    }
    if (fields.size() < 2) continue;
    JournalCall call;
    call.ms = std::strtoll(fields[0].c_str(), nullptr, 10);
    call.name = fields[1];
    size_t i = 2;
    for (; i < fields.size(); ++i) {
      if (!fields[i].empty() && fields[i][0] == '=') {
        call.result = fields[i].substr(1);
        ++i;
        break;
      }
      call.args.push_back(fields[i]);
    }
    for (; i < fields.size(); ++i) call.extra.push_back(fields[i]);
    calls.push_back(std::move(call));
  }
  return calls;
}

std::optional<uint32_t> SavedHandle(const JournalCall& call) {
  for (const std::string& field : call.extra) {
    if (field.rfind("handle=", 0) == 0) {
      return static_cast<uint32_t>(std::strtoull(field.c_str() + 7, nullptr, 10));
    }
  }
  return std::nullopt;
}

std::string ClassName(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string Caption(HWND window) {
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::vector<HWND> TopLevelWindows(DWORD processId) {
  struct Search {
    DWORD processId;
    std::vector<HWND> found;
  } search{processId, {}};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == s->processId) s->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<HWND> ChildWindows(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(
      parent,
      [](HWND window, LPARAM param) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

std::string GetText(HWND control) {
  const LRESULT length = SendMessageA(control, WM_GETTEXTLENGTH, 0, 0);
  // The length may be counted in characters; leave room for double bytes.
  std::string buffer(static_cast<size_t>(std::max<LRESULT>(length, 0)) * 2 + 16, '\0');
  SendMessageA(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

void SetText(HWND control, const std::string& text) {
  SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

namespace {
std::vector<std::string> Items(HWND control, UINT getCount, UINT getLength, UINT getText) {
  std::vector<std::string> items;
  const LRESULT count = SendMessageW(control, getCount, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendMessageW(control, getLength, static_cast<WPARAM>(i), 0);
    // A too small buffer is overwritten by Wine; be generous.
    std::wstring buffer(static_cast<size_t>(std::max<LRESULT>(length, 0)) * 2 + 2048, L'\0');
    const LRESULT got = SendMessageW(control, getText, static_cast<WPARAM>(i),
                                     reinterpret_cast<LPARAM>(buffer.data()));
    buffer.resize(got > 0 ? static_cast<size_t>(got) : 0);
    items.push_back(WideToAnsi(buffer));
  }
  return items;
}
}  // namespace

std::vector<std::string> ComboItems(HWND combo) {
  return Items(combo, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
}

std::vector<std::string> ListItems(HWND list) {
  return Items(list, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT);
}

bool TrayIconShown(HWND dialog) {
  NOTIFYICONDATAA data{};
  data.cbSize = NOTIFYICONDATAA_V1_SIZE;
  data.hWnd = dialog;
  data.uID = 0;
  data.uFlags = 0;
  return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

bool DeleteTrayIcon(HWND dialog) {
  NOTIFYICONDATAA data{};
  data.cbSize = NOTIFYICONDATAA_V1_SIZE;
  data.hWnd = dialog;
  data.uID = 0;
  return Shell_NotifyIconA(NIM_DELETE, &data) != FALSE;
}

std::vector<std::string> CrLfLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find("\r\n", pos);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(pos));
      break;
    }
    lines.emplace_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

std::string JoinCrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string JoinFields(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) line += '\t';
    line += fields[i];
  }
  return line;
}

std::vector<std::string> FormFields(const SYSTEMTIME& start, const SYSTEMTIME& end,
                                    const std::string& channel, const std::string& fileName) {
  auto two = [](int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return std::string(text);
  };
  return {std::to_string(start.wYear),
          two(start.wMonth),
          two(start.wDay),
          two(start.wHour),
          two(start.wMinute),
          two(start.wSecond),
          std::to_string(end.wYear),
          two(end.wMonth),
          two(end.wDay),
          two(end.wHour),
          two(end.wMinute),
          two(end.wSecond),
          channel,
          fileName};
}

// ---------------------------------------------------------------------------

Session::Session() {
  const std::string base = ExeDirectory() + "\\work";
  CreateDirectoryA(base.c_str(), nullptr);
  folder_ = base + "\\" + CurrentTestName() + "-" + std::to_string(GetCurrentProcessId());
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
  CreateDirectoryA(folder_.c_str(), nullptr);
}

Session::~Session() {
  Kill();
  const char* keep = std::getenv("QUORVANE_E2E_KEEP");
  if (keep != nullptr && *keep == '1' && CurrentTestFailed()) {
    std::printf("kept %s\n", folder_.c_str());
    return;
  }
  // The killed program may hold its files for a moment.
  WaitUntil(
      [&] {
        std::error_code error;
        std::filesystem::remove_all(folder_, error);
        return !error;
      },
      3000);
}

void Session::Kill() {
  if (process_.hProcess != nullptr) {
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_ = {};
  }
}

std::string Session::PathOf(const std::string& name) const {
  return Join(folder_, name);
}

void Session::WriteFile(const std::string& name, std::string_view bytes) const {
  std::ofstream out(PathOf(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::optional<std::string> Session::ReadFile(const std::string& name) const {
  std::ifstream in(PathOf(name), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool Session::FileExists(const std::string& name) const {
  return GetFileAttributesA(PathOf(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Session::RemoveFile(const std::string& name) const {
  return DeleteFileA(PathOf(name).c_str()) != FALSE;
}

std::string Session::Schedule() const {
  return ReadFile(kScheduleName).value_or("");
}

bool Session::Launch(const LaunchOptions& options) {
  const std::string program = ProgramPath();
  if (program.empty() || GetFileAttributesA(program.c_str()) == INVALID_FILE_ATTRIBUTES) {
    ADD_FAILURE() << "program not built: '" << program << "'";
    return false;
  }
  const std::string exeFolder = PathOf(options.exeFolder);
  const std::string currentFolder = PathOf(options.currentFolder);
  CreateDirectoryA(exeFolder.c_str(), nullptr);
  CreateDirectoryA(currentFolder.c_str(), nullptr);
  const std::string exe = exeFolder + "\\" + kProgramName;
  if (!CopyFileA(program.c_str(), exe.c_str(), FALSE)) {
    ADD_FAILURE() << "cannot copy " << program << " to " << exe;
    return false;
  }
  if (options.copyLibrary) {
    const std::string library =
        options.librarySource.empty() ? LibraryPath() : options.librarySource;
    const std::string target = exeFolder + "\\" + kLibraryName;
    if (library.empty() || !CopyFileA(library.c_str(), target.c_str(), FALSE)) {
      ADD_FAILURE() << "cannot copy library '" << library << "' to " << target;
      return false;
    }
  }

  // The parent's environment without any stand-in switch, then the test's.
  std::string block;
  LPCH parent = GetEnvironmentStringsA();
  for (const char* entry = parent; *entry != '\0'; entry += std::strlen(entry) + 1) {
    if (std::strncmp(entry, "QUORVANE_STANDIN_", 17) == 0) continue;
    block.append(entry);
    block.push_back('\0');
  }
  FreeEnvironmentStringsA(parent);
  std::vector<std::pair<std::string, std::string>> variables = options.environment;
  variables.emplace_back("QUORVANE_STANDIN_JOURNAL", PathOf(kJournalName));
  for (const auto& [name, value] : variables) {
    block += name + "=" + value;
    block.push_back('\0');
  }
  block.push_back('\0');

  std::string commandLine = "\"" + exe + "\"" + options.commandTail;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = options.showState;
  if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, block.data(),
                      currentFolder.c_str(), &startup, &process_)) {
    ADD_FAILURE() << "CreateProcessA failed: " << GetLastError();
    process_ = {};
    return false;
  }
  return true;
}

bool Session::Start(const LaunchOptions& options) {
  if (!Launch(options) || !WaitForDialog()) return false;
  if (!WaitUntil([&] { return TrayIcon(); }, 5000)) {
    ADD_FAILURE() << "no tray icon after start-up";
    return false;
  }
  return true;
}

HWND Session::FindMainDialog() const {
  for (HWND window : TopLevelWindows(process_.dwProcessId)) {
    if (ClassName(window) == "#32770" && Caption(window) == "Quorvane Scheduler") return window;
  }
  return nullptr;
}

HWND Session::FindOtherDialog() const {
  for (HWND window : TopLevelWindows(process_.dwProcessId)) {
    if (ClassName(window) == "#32770" && window != dialog_ &&
        Caption(window) != "Quorvane Scheduler") {
      return window;
    }
  }
  return nullptr;
}

bool Session::WaitForDialog(int timeoutMs) {
  // Idle means the program reached its message loop: initialisation is over.
  WaitForInputIdle(process_.hProcess, static_cast<DWORD>(timeoutMs));
  const bool found = WaitUntil(
      [&] {
        dialog_ = FindMainDialog();
        return dialog_ != nullptr || !Running();
      },
      timeoutMs);
  if (!found || dialog_ == nullptr) {
    ADD_FAILURE() << "main dialog did not appear" << (Running() ? "" : " (program ended)");
    return false;
  }
  return true;
}

bool Session::Running() const {
  return process_.hProcess != nullptr && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

bool Session::WaitForExit(int timeoutMs, DWORD* exitCode) {
  if (process_.hProcess == nullptr) return false;
  if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
    return false;
  }
  GetExitCodeProcess(process_.hProcess, exitCode);
  return true;
}

void Session::Click(int id) const {
  SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(Control(id)));
}

void Session::PostClick(int id) const {
  PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(Control(id)));
}

void Session::SelectLine(int index) const {
  HWND list = Control(IDC_SCHEDULE_LIST);
  SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_SCHEDULE_LIST, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(list));
}

void Session::TrayClick(LPARAM button) const {
  SendMessageA(dialog_, kTrayMessage, 0, button);
}

std::vector<std::string> Session::ScheduleLines() const {
  return ListItems(Control(IDC_SCHEDULE_LIST));
}

std::vector<std::string> Session::LogLines() const {
  return CrLfLines(Text(IDC_LOG));
}

void Session::FillForm(const std::vector<std::string>& fields) const {
  static constexpr int kFormIds[14] = {
      IDC_START_YEAR,   IDC_START_MONTH, IDC_START_DAY, IDC_START_HOUR, IDC_START_MINUTE,
      IDC_START_SECOND, IDC_END_YEAR,    IDC_END_MONTH, IDC_END_DAY,    IDC_END_HOUR,
      IDC_END_MINUTE,   IDC_END_SECOND,  IDC_CHANNEL,   IDC_FILE_NAME};
  for (size_t i = 0; i < 14 && i < fields.size(); ++i) Type(kFormIds[i], fields[i]);
}

std::vector<JournalCall> Session::Journal() const {
  return ParseJournal(ReadFile(kJournalName).value_or(""));
}

std::optional<JournalCall> Session::WaitForCall(const std::function<bool(const JournalCall&)>& pred,
                                                int timeoutMs) const {
  std::optional<JournalCall> found;
  WaitUntil(
      [&] {
        for (const JournalCall& call : Journal()) {
          if (pred(call)) {
            found = call;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return found;
}

}  // namespace e2e
