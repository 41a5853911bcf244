// What the program's Win32 surroundings reach of its dialog, for the
// programs that time them without one: nothing here logs or commands.
#include "ui/application.h"
#include "ui/form_commands.h"
#include "ui/main_dialog.h"

Application g_application;
void ShowTrayNotice(HWND, const char*) {}
void BrowseForFile(HWND) {}
void CloseMainDialog(HWND, bool) {}
