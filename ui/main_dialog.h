// The one dialog of the program: the form, the schedule list, the activity
// log and the buttons, living in the notification area.
#pragma once

#include <windows.h>

#include "core/task_slots.h"

// The private message the tray icon sends to the dialog.
inline constexpr UINT WM_TRAYNOTIFY = WM_USER + 1;

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void InitMainDialog(HWND dialog);
void HideToTray(HWND dialog);
void RestoreFromTray(HWND dialog);
// The user's commands go through the scheduler, which holds them while a
// tick runs.
void GiveCommand(HWND dialog, quorvane::CommandKind kind, const char* line);
void QuitApplication(HWND dialog);
// The end of the quit: the timer, the tray icon and the window go.
void CloseMainDialog(HWND dialog, bool shownFirst);
void EndWindowsSession(HWND dialog);
// A notification from the tray icon, shown only while the dialog is hidden:
// a shown dialog has its log in front of the user, and no icon.
void ShowTrayNotice(HWND dialog, const char* message);
