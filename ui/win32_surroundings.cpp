#include "ui/win32_surroundings.h"

#include "core/power.h"
#include "core/schedule_file.h"
#include "resources/resource_ids.h"
#include "ui/application.h"
#include "ui/form_commands.h"
#include "ui/main_dialog.h"

namespace {

HANDLE ToHandle(quorvane::FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

quorvane::FileHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? quorvane::kNoFile
                                        : reinterpret_cast<quorvane::FileHandle>(handle);
}

int CapacityOf(std::span<char> buffer) {
  return buffer.size() > 0x7fffffffu ? 0x7fffffff : static_cast<int>(buffer.size());
}

void ClearBuffer(std::span<char> buffer) {
  if (!buffer.empty()) buffer[0] = '\0';
}

}  // namespace

int32_t ListBoxScheduleList::Count() {
  const LRESULT count = SendMessageA(listBox_, LB_GETCOUNT, 0, 0);
  return count == LB_ERR ? 0 : static_cast<int32_t>(count);
}

bool ListBoxScheduleList::GetLine(int32_t index, std::span<char> buffer) {
  ClearBuffer(buffer);
  // The Common Controls 6 list box keeps its lines in UTF-16, as every list
  // box does inside. They are read as such and made ANSI here: Wine's ANSI
  // LB_GETTEXT on that list box goes through a 512-character buffer of its
  // own, which a schedule line can overrun. A list gone with its window
  // answers every message with 0, an empty line's length.
  wchar_t line[quorvane::kTextCapacity];
  const WPARAM item = static_cast<WPARAM>(index);
  if (buffer.empty() || !IsWindow(listBox_)) return false;
  // LB_GETTEXT has no capacity argument: never hand it a buffer too small.
  const LRESULT length = SendMessageW(listBox_, LB_GETTEXTLEN, item, 0);
  if (length == LB_ERR || length >= LRESULT{quorvane::kTextCapacity}) return false;
  const LRESULT copied = SendMessageW(listBox_, LB_GETTEXT, item, reinterpret_cast<LPARAM>(line));
  if (copied == LB_ERR) return false;
  // A lone lead byte at the end of a 1023-byte piece of a long line comes
  // back as a whole character: the text may not fit by a byte or two, and
  // is cut at the end of its last character that does.
  char ansi[quorvane::kTextCapacity * 3];
  const int bytes = WideCharToMultiByte(CP_ACP, 0, line, static_cast<int>(copied), ansi,
                                        sizeof ansi - 1, nullptr, nullptr);
  ansi[bytes] = '\0';
  std::size_t kept = static_cast<std::size_t>(bytes);
  if (kept >= buffer.size()) {
    kept = 0;
    while (ansi[kept] != '\0') {
      const auto next = static_cast<std::size_t>(CharNextA(ansi + kept) - ansi);
      if (next >= buffer.size()) break;
      kept = next;
    }
  }
  CopyMemory(buffer.data(), ansi, kept);
  buffer[kept] = '\0';
  return true;
}

void ListBoxScheduleList::DeleteLine(int32_t index) {
  SendMessageA(listBox_, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

// Made UTF-16 here, as the lines are read: Wine's own conversion of an ANSI
// LB_ADDSTRING overruns its buffer on a line that ends in a lone lead byte
// (a hand-edited line cut at 1023 bytes), and the program would crash.
void ListBoxScheduleList::AddLine(const char* line) {
  wchar_t wide[quorvane::kTextCapacity];
  if (MultiByteToWideChar(CP_ACP, 0, line, -1, wide, quorvane::kTextCapacity) == 0) wide[0] = L'\0';
  SendMessageW(listBox_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide));
}

void EditLogPane::ReadText(std::span<char> buffer) {
  ClearBuffer(buffer);
  SendMessageA(edit_, WM_GETTEXT, static_cast<WPARAM>(CapacityOf(buffer)),
               reinterpret_cast<LPARAM>(buffer.data()));
}

void EditLogPane::ReplaceText(const char* text) {
  SendMessageA(edit_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void EditLogPane::Notify(const char* message) {
  ShowTrayNotice(GetParent(edit_), message);
}

quorvane::LocalTime LocalClock::Now() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

void ResourceMessageTable::Load(int32_t id, std::span<char> buffer) {
  ClearBuffer(buffer);
  LoadStringA(instance_, static_cast<UINT>(id), buffer.data(), CapacityOf(buffer));
}

quorvane::FileHandle Win32Files::OpenForReading(const char* path) {
  return FromHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

quorvane::FileHandle Win32Files::CreateAnew(const char* path) {
  return FromHandle(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

int32_t Win32Files::Read(quorvane::FileHandle file, std::span<char> buffer) {
  if (file == quorvane::kNoFile) return 0;
  DWORD read = 0;
  const DWORD wanted = static_cast<DWORD>(CapacityOf(buffer));
  if (!ReadFile(ToHandle(file), buffer.data(), wanted, &read, nullptr)) return 0;
  return static_cast<int32_t>(read);
}

void Win32Files::MoveBack(quorvane::FileHandle file, int32_t distance) {
  SetFilePointer(ToHandle(file), -distance, nullptr, FILE_CURRENT);
}

bool Win32Files::Write(quorvane::FileHandle file, std::span<const char> bytes) {
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(bytes.size());
  return WriteFile(ToHandle(file), bytes.data(), size, &written, nullptr) && written == size;
}

bool Win32Files::Flush(quorvane::FileHandle file) {
  return FlushFileBuffers(ToHandle(file));
}

void Win32Files::Close(quorvane::FileHandle file) {
  if (file != quorvane::kNoFile) CloseHandle(ToHandle(file));
}

bool Win32Files::Replace(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

void Win32Files::Remove(const char* path) {
  DeleteFileA(path);
}

bool Win32Files::FreeSpace(const char* folder, uint64_t& bytes) {
  // A drive without its medium answers with an error, not with a box that
  // asks the user for the disk and holds the pass until answered.
  DWORD errorMode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS, &errorMode);
  ULARGE_INTEGER available;
  const bool reached = GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr);
  SetThreadErrorMode(errorMode, nullptr);
  bytes = reached ? available.QuadPart : 0;
  return reached;
}

void DialogTickTimer::SetTickTimer(int32_t delayMs) {
  const UINT elapse = static_cast<UINT>(delayMs);
  if (g_application.setCoalescableTimer == nullptr ||
      g_application.setCoalescableTimer(dialog_, kTickTimer, elapse, nullptr,
                                        TIMERV_NO_COALESCING) == 0) {
    SetTimer(dialog_, kTickTimer, elapse, nullptr);
  }
}

const char* AnsiNextChar(const char* text) {
  return CharNextA(text);
}

DialogSurroundings::DialogSurroundings(HWND dialog)
    : list_(GetDlgItem(dialog, IDC_SCHEDULE_LIST)),
      log_(GetDlgItem(dialog, IDC_LOG)),
      messages_(g_application.instance),
      power_(g_application.power),
      tickTimer_(dialog),
      frontEnd_(dialog),
      world_{list_,
             log_,
             clock_,
             messages_,
             files_,
             AnsiNextChar,
             g_application.tuner,
             g_application.schedulePath,
             power_,
             tickTimer_,
             frontEnd_} {}

void DialogSurroundings::LoadSchedule() {
  quorvane::LoadScheduleFile(list_, files_, world_.schedulePath);
}

void DialogFrontEnd::BrowseForFile() {
  ::BrowseForFile(dialog_);
}

void DialogFrontEnd::CloseWindow(bool shownFirst) {
  CloseMainDialog(dialog_, shownFirst);
}
