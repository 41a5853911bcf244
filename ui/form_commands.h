// The commands by which the user edits the schedule list.
#pragma once

#include <windows.h>

void AddEntryFromForm(HWND dialog);
void ShowSelectedEntry(HWND dialog);
void DeleteSelectedEntry(HWND dialog);
void BrowseForFile(HWND dialog);
