#include "ui/main_dialog.h"

#include <shellapi.h>

#include "core/commands.h"
#include "core/due_events.h"
#include "core/power.h"
#include "core/session_end.h"
#include "core/task_slots.h"
#include "core/text_format.h"
#include "resources/resource_ids.h"
#include "ui/application.h"
#include "ui/channel_list.h"
#include "ui/form_commands.h"
#include "ui/single_instance.h"
#include "ui/win32_surroundings.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "first-version NOTIFYICONDATAA layout");
#endif
static_assert(quorvane::kEndSessionCloseApp == ENDSESSION_CLOSEAPP &&
              quorvane::kEndSessionCritical == ENDSESSION_CRITICAL &&
              quorvane::kEndSessionLogoff == ENDSESSION_LOGOFF);

namespace {

constexpr UINT kTrayIconId = 0;
constexpr char kIconName[] = "ICON";

constexpr int kFirstOfferedYear = 2008;
constexpr int kLastOfferedYear = 2099;

struct DateTimeGroup {
  int year, month, day, hour, minute, second;
};
constexpr DateTimeGroup kStartGroup = {IDC_START_YEAR, IDC_START_MONTH,  IDC_START_DAY,
                                       IDC_START_HOUR, IDC_START_MINUTE, IDC_START_SECOND};
constexpr DateTimeGroup kEndGroup = {IDC_END_YEAR, IDC_END_MONTH,  IDC_END_DAY,
                                     IDC_END_HOUR, IDC_END_MINUTE, IDC_END_SECOND};

HICON LoadProgramIcon() {
  return LoadIconA(g_application.instance, kIconName);
}

void FillNumberBox(HWND dialog, int id, const char* format, int32_t first, int32_t last) {
  const HWND box = GetDlgItem(dialog, id);
  char text[16];
  for (int32_t value = first; value <= last; ++value) {
    quorvane::FormatText(text, format, {value});
    SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  }
  SendMessageA(box, CB_SETCURSEL, 0, 0);
}

void FillDateTimeGroup(HWND dialog, const DateTimeGroup& group) {
  FillNumberBox(dialog, group.year, "%d", kFirstOfferedYear, kLastOfferedYear);
  FillNumberBox(dialog, group.month, "%02d", 1, 12);
  FillNumberBox(dialog, group.day, "%02d", 1, 31);
  FillNumberBox(dialog, group.hour, "%02d", 0, 23);
  FillNumberBox(dialog, group.minute, "%02d", 0, 59);
  FillNumberBox(dialog, group.second, "%02d", 0, 59);
}

void SetNumberText(HWND dialog, int id, const char* format, int32_t value) {
  char text[16];
  quorvane::FormatText(text, format, {value});
  SetDlgItemTextA(dialog, id, text);
}

void ShowTimeInGroup(HWND dialog, const DateTimeGroup& group, const SYSTEMTIME& now) {
  SetNumberText(dialog, group.year, "%d", now.wYear);
  SetNumberText(dialog, group.month, "%02d", now.wMonth);
  SetNumberText(dialog, group.day, "%02d", now.wDay);
  SetNumberText(dialog, group.hour, "%02d", now.wHour);
  SetNumberText(dialog, group.minute, "%02d", now.wMinute);
  SetNumberText(dialog, group.second, "%02d", now.wSecond);
}

// The first-version layout, which every shell understands.
NOTIFYICONDATAA TrayIconOf(HWND dialog) {
  NOTIFYICONDATAA icon = {};
  icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
  icon.hWnd = dialog;
  icon.uID = kTrayIconId;
  return icon;
}

void AddTrayIcon(HWND dialog) {
  NOTIFYICONDATAA icon = TrayIconOf(dialog);
  icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  icon.uCallbackMessage = WM_TRAYNOTIFY;
  icon.hIcon = LoadProgramIcon();
  lstrcpynA(icon.szTip, g_application.caption, sizeof icon.szTip);
  Shell_NotifyIconA(NIM_ADD, &icon);
}

void RemoveTrayIcon(HWND dialog) {
  NOTIFYICONDATAA icon = TrayIconOf(dialog);
  Shell_NotifyIconA(NIM_DELETE, &icon);
}

void OnTimerTick(HWND dialog) {
  DialogSurroundings surroundings(dialog);
  quorvane::OnTick(g_application.scheduler, surroundings.world());
  if (quorvane::EndRefusalLapsed(g_application.scheduler)) ShutdownBlockReasonDestroy(dialog);
}

// TRUE when the session may end. Windows shows a hidden program's refusal
// only with a reason, given while the question is handled. Wine's
// ShutdownBlockReasonCreate fails, so its result is not looked at: the
// refusal holds either way.
BOOL OnQueryEndSession(HWND dialog, LPARAM flags) {
  switch (quorvane::AnswerEndOfSession(g_application.scheduler, static_cast<uint32_t>(flags))) {
    case quorvane::EndOfSessionAnswer::kRefuse: {
      WCHAR reason[quorvane::kTextCapacity / 2];
      LoadStringW(g_application.instance, IDS_END_REFUSED_RECORDING, reason, ARRAYSIZE(reason));
      ShutdownBlockReasonCreate(dialog, reason);
      return FALSE;
    }
    case quorvane::EndOfSessionAnswer::kGrantAndWithdraw:
      ShutdownBlockReasonDestroy(dialog);
      return TRUE;
    default:
      return TRUE;
  }
}

void OnCommand(HWND dialog, WORD control, WORD notification) {
  switch (control) {
    case IDC_BROWSE:
      GiveCommand(dialog, quorvane::CommandKind::kBrowse, nullptr);
      break;
    case IDC_SCHEDULE_LIST:
      if (notification == LBN_SELCHANGE) ShowSelectedEntry(dialog);
      break;
    case IDC_ADD:
      AddEntryFromForm(dialog);
      break;
    case IDC_DELETE:
      DeleteSelectedEntry(dialog);
      break;
    case IDC_EXIT:
      QuitApplication(dialog);
      break;
    default:
      break;
  }
}

void OnPowerBroadcast(HWND dialog, WPARAM event) {
  DialogSurroundings surroundings(dialog);
  if (event == PBT_APMSUSPEND) {
    quorvane::OnSuspend(g_application.scheduler, surroundings.world());
  } else if (event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND) {
    quorvane::OnResume(g_application.scheduler, surroundings.world());
  }
}

void OnTrayNotify(HWND dialog, LPARAM mouseMessage) {
  if (mouseMessage == WM_LBUTTONDOWN) {
    RestoreFromTray(dialog);
  } else if (mouseMessage == WM_RBUTTONDOWN) {
    QuitApplication(dialog);
  }
}

}  // namespace

void InitMainDialog(HWND dialog) {
  quorvane::ResetTaskSlots(g_application.scheduler.tasks);
  g_application.scheduler.power = quorvane::kPowerAtRest;
  GetWindowTextA(dialog, g_application.caption, sizeof g_application.caption);
  SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadProgramIcon()));
  SetWindowPos(dialog, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  LoadChannelFile(dialog);
  FillDateTimeGroup(dialog, kStartGroup);
  FillDateTimeGroup(dialog, kEndGroup);
  AddGeneratedChannels(dialog);
  SYSTEMTIME now;
  GetLocalTime(&now);
  ShowTimeInGroup(dialog, kStartGroup, now);
  ShowTimeInGroup(dialog, kEndGroup, now);
  // The icon comes once the list is read: what it offers (the dialog, quit)
  // then shows the schedule, and the failures that planning may log have the
  // icon to show their notice on.
  DialogSurroundings surroundings(dialog);
  surroundings.LoadSchedule();
  HideToTray(dialog);
  quorvane::ComputeNextEvent(g_application.scheduler, surroundings.list());
  quorvane::PlanPower(g_application.scheduler, surroundings.world());
  quorvane::RephaseTicks(g_application.scheduler, surroundings.world());
}

void HideToTray(HWND dialog) {
  ShowWindow(dialog, SW_HIDE);
  AddTrayIcon(dialog);
}

void ShowTrayNotice(HWND dialog, const char* message) {
  if (IsWindowVisible(dialog)) return;
  // The layout with the notification's fields; the icon was added with the
  // first one.
  NOTIFYICONDATAA icon = TrayIconOf(dialog);
  icon.cbSize = NOTIFYICONDATAA_V2_SIZE;
  icon.uFlags = NIF_INFO;
  lstrcpynA(icon.szInfoTitle, g_application.caption, sizeof icon.szInfoTitle);
  lstrcpynA(icon.szInfo, message, sizeof icon.szInfo);
  icon.dwInfoFlags = NIIF_WARNING;
  Shell_NotifyIconA(NIM_MODIFY, &icon);
}

void RestoreFromTray(HWND dialog) {
  RemoveTrayIcon(dialog);
  ShowWindow(dialog, SW_SHOW);
}

void GiveCommand(HWND dialog, quorvane::CommandKind kind, const char* line) {
  DialogSurroundings surroundings(dialog);
  // Held while a tick runs; beyond what can be held, the user hears it.
  if (!quorvane::GiveCommand(g_application.scheduler, surroundings.world(), kind, line)) {
    MessageBeep(MB_ICONWARNING);
  }
}

void QuitApplication(HWND dialog) {
  GiveCommand(dialog, quorvane::CommandKind::kQuit, nullptr);
}

void CloseMainDialog(HWND dialog, bool shownFirst) {
  KillTimer(dialog, kTickTimer);
  if (shownFirst) {
    RestoreFromTray(dialog);
  } else {
    RemoveTrayIcon(dialog);
  }
  DestroyWindow(dialog);
}

// Without WM_CLOSE: Windows may end the process as soon as this returns,
// and the recordings would run on and the list lag behind. After an
// installer's close (ENDSESSION_CLOSEAPP) it leaves the process running and
// waits for it to end, so the program ends itself whatever the flags.
void EndWindowsSession(HWND dialog) {
  DialogSurroundings surroundings(dialog);
  quorvane::EndWindowsSession(g_application.scheduler, surroundings.world());
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitMainDialog(dialog);
      return 0;
    case WM_COMMAND:
      OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_SYSCOMMAND:
      if (wParam != SC_MINIMIZE) return 0;
      HideToTray(dialog);
      return 1;
    case WM_TIMER:
      OnTimerTick(dialog);
      return 0;
    case WM_TRAYNOTIFY:
      OnTrayNotify(dialog, lParam);
      return 0;
    case WM_CLOSE:
      QuitApplication(dialog);
      return 0;
    case WM_POWERBROADCAST:
      OnPowerBroadcast(dialog, wParam);
      // TRUE to every event: a sleep is never vetoed (PBT_APMQUERYSUSPEND).
      SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
      return 1;
    case WM_TIMECHANGE: {
      DialogSurroundings surroundings(dialog);
      quorvane::OnClockChanged(g_application.scheduler, surroundings.world());
      return 0;
    }
    case WM_QUERYENDSESSION:
      // A dialog procedure answers through DWLP_MSGRESULT.
      SetWindowLongPtrA(dialog, DWLP_MSGRESULT, OnQueryEndSession(dialog, lParam));
      return 1;
    case WM_ENDSESSION:
      // FALSE: someone cancelled the end, and the recordings go on.
      if (wParam != FALSE) EndWindowsSession(dialog);
      return 0;
    case WM_DESTROY:
      PublishSchedulerDialog(nullptr);
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  // A restarted notification area has lost the icon of a hidden program,
  // which could then be neither shown nor quit.
  if (message == g_application.taskbarCreatedMessage && message != 0 && !IsWindowVisible(dialog)) {
    AddTrayIcon(dialog);
  }
  return 0;
}
