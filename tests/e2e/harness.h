// End-to-end harness: runs the real QuorvaneScheduler.exe and drives it the
// way a user's clicks and typing would, only through window messages.
//
// How a test drives the program:
// - Every test gets a fresh folder (work\<test>-<pid> beside this executable)
//   holding copies of QuorvaneScheduler.exe and of the stand-in
//   QuorvaneControl.dll, and whatever CHANNEL.TXT or QuorvaneScheduler.ini the
//   test writes beforehand. The program starts there (CreateProcessA, that
//   folder as current directory) with the stand-in's switches in its
//   environment; the stand-in appends every call to journal.txt in the folder.
// - The dialog is found by the process id (EnumWindows and
//   GetWindowThreadProcessId), never by its caption alone: tests run in
//   parallel, each with its own program.
// - Typing is WM_SETTEXT on the combo and edit boxes; a button click is
//   WM_COMMAND with BN_CLICKED; selecting a schedule line is LB_SETCURSEL
//   followed by the LBN_SELCHANGE notification; tray clicks are the icon's
//   callback message (WM_USER + 1) with WM_LBUTTONDOWN or WM_RBUTTONDOWN.
// - Wine 8 hands LB_GETTEXT and CB_GETLBTEXT back as UTF-16 to an ANSI caller
//   in another process, so list items are read wide and converted to the ANSI
//   code page. The log pane's length is asked with WM_GETTEXTLENGTH.
// - Whether the tray icon exists is asked with Shell_NotifyIconA(NIM_MODIFY),
//   which succeeds only while the icon is there.
// - Every wait is a short poll (50 ms) with a deadline of a few seconds.
// - Under Wine the harness turns off window-manager handling for the prefix
//   (Xvfb has no manager to answer, and each hide or show would wait 2 s), and
//   CTest runs it through wine-run-e2e.sh, which keeps CTest's pipe away from
//   the Wine desktop process the program starts.
// - When a test ends, passed or not, the program is killed if still running
//   and the folder removed (QUORVANE_E2E_KEEP=1 keeps those of failed tests).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace e2e {

inline constexpr const char* kProgramName = "QuorvaneScheduler.exe";
inline constexpr const char* kLibraryName = "QuorvaneControl.dll";
inline constexpr const char* kScheduleName = "QuorvaneScheduler.ini";
inline constexpr const char* kChannelName = "CHANNEL.TXT";
inline constexpr const char* kJournalName = "journal.txt";
inline constexpr UINT kTrayMessage = WM_USER + 1;
inline constexpr int kPollMs = 50;

// Built files, as Windows paths (a Linux path /x/y becomes Z:\x\y).
std::string ProgramPath();
std::string LibraryPath();
std::string LackingLibraryPath();

// Text in code page 932 from UTF-8 source text.
std::string Cp932(std::u8string_view text);
std::string WideToAnsi(std::wstring_view text);

// Polls pred every kPollMs until it holds or timeoutMs has passed.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs);

// Time: milliseconds since the Unix epoch, and local wall-clock times.
int64_t NowEpochMs();
SYSTEMTIME LocalTimeAt(int64_t epochMs);
// A local time from its date and time fields.
SYSTEMTIME At(int year, int month, int day, int hour, int minute, int second);
// "YYYY/MM/DD hh:mm:ss", the form of the log's time stamps; compares in time
// order as text.
std::string StampText(const SYSTEMTIME& t);

// One call recorded by the stand-in library.
struct JournalCall {
  int64_t ms = 0;
  std::string name;  // "Quorvane_SaveFile", ..., or "#autostop"
  std::vector<std::string> args;
  std::optional<std::string> result;  // text after '='
  std::vector<std::string> extra;     // fields after the result
};
std::vector<JournalCall> ParseJournal(std::string_view text);
// The value of "handle=<n>" among a SaveFile call's extra fields.
std::optional<uint32_t> SavedHandle(const JournalCall& call);

// Windows of another process.
std::string ClassName(HWND window);
std::string Caption(HWND window);
std::vector<HWND> TopLevelWindows(DWORD processId);
std::vector<HWND> ChildWindows(HWND parent);

// Control texts, read and written as the user would see and type them.
std::string GetText(HWND control);
void SetText(HWND control, const std::string& text);
std::vector<std::string> ComboItems(HWND combo);
std::vector<std::string> ListItems(HWND list);

bool TrayIconShown(HWND dialog);
bool DeleteTrayIcon(HWND dialog);

// Splits text at CR LF; a last piece without CR LF is kept unless empty.
std::vector<std::string> CrLfLines(std::string_view text);
std::string JoinCrLf(const std::vector<std::string>& lines);
// Fourteen fields joined by TABs, as Add composes them.
std::string JoinFields(const std::vector<std::string>& fields);

struct LaunchOptions {
  bool copyLibrary = true;
  std::string librarySource;  // the stand-in unless set
  // Stand-in switches, e.g. {"QUORVANE_STANDIN_REFUSE", "ping"}.
  std::vector<std::pair<std::string, std::string>> environment;
  // Subfolders of the test folder for the exe and the current directory;
  // empty means the folder itself.
  std::string exeFolder;
  std::string currentFolder;
  std::string commandTail;
  WORD showState = SW_SHOWNORMAL;
};

// One test's folder and program. Destruction kills the program if it still
// runs and removes the folder.
class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const std::string& Folder() const { return folder_; }
  std::string PathOf(const std::string& name) const;
  void WriteFile(const std::string& name, std::string_view bytes) const;
  std::optional<std::string> ReadFile(const std::string& name) const;
  bool FileExists(const std::string& name) const;
  bool RemoveFile(const std::string& name) const;
  // The program's schedule file, "" when missing.
  std::string Schedule() const;

  // Copies the program (and library) and starts it; no waiting.
  bool Launch(const LaunchOptions& options = {});
  // Launch, then wait for the dialog and its tray icon.
  bool Start(const LaunchOptions& options = {});
  bool WaitForDialog(int timeoutMs = 15000);
  // The main dialog of this process, if any exists now.
  HWND FindMainDialog() const;
  // A dialog of this process other than the main one (a message box, the
  // open-file dialog).
  HWND FindOtherDialog() const;

  HWND Dialog() const { return dialog_; }
  HWND Control(int id) const { return GetDlgItem(dialog_, id); }
  DWORD ProcessId() const { return process_.dwProcessId; }
  bool Running() const;
  bool WaitForExit(int timeoutMs, DWORD* exitCode);

  std::string Text(int id) const { return GetText(Control(id)); }
  void Type(int id, const std::string& text) const { SetText(Control(id), text); }
  void Click(int id) const;
  void PostClick(int id) const;
  void SelectLine(int index) const;
  void TrayClick(LPARAM button) const;
  bool Visible() const { return IsWindowVisible(dialog_) != FALSE; }
  bool TrayIcon() const { return TrayIconShown(dialog_); }
  std::vector<std::string> ScheduleLines() const;
  std::vector<std::string> LogLines() const;
  // Fills the fourteen form fields in field order.
  void FillForm(const std::vector<std::string>& fields) const;

  std::vector<JournalCall> Journal() const;
  // Waits for a journal call satisfying pred; returns it.
  std::optional<JournalCall> WaitForCall(const std::function<bool(const JournalCall&)>& pred,
                                         int timeoutMs) const;

 private:
  void Kill();
  std::string folder_;
  PROCESS_INFORMATION process_{};
  HWND dialog_ = nullptr;
};

// The fourteen form fields of an entry running from start to end.
std::vector<std::string> FormFields(const SYSTEMTIME& start, const SYSTEMTIME& end,
                                    const std::string& channel, const std::string& fileName);

}  // namespace e2e
