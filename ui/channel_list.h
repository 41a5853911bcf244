// The channel box: the channel file's lines, then the generated channels.
#pragma once

#include <windows.h>

void LoadChannelFile(HWND dialog);
void AddGeneratedChannels(HWND dialog);
