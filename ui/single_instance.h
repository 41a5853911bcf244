// One scheduler per schedule file. The schedule file is named after the
// executable, so two copies started from the same path would start every
// task twice and overwrite each other's saves; the second one only brings
// the running copy's dialog forward and ends.
#pragma once

#include <windows.h>

// True when no copy of this executable (exePath, this process's own path)
// runs: this process is now the scheduler of its schedule file until it ends
// (a crash releases the claim too). False when another copy runs; unless
// `quietly`, it has been asked to show its dialog. Then this process must end
// without touching the library or the file.
bool ClaimScheduleFile(const char* exePath, bool quietly);

// Gives up a claim before the dialog exists, so that the next start tries
// again instead of waiting for a dialog that never comes.
void ReleaseScheduleFileClaim();

// Where a later copy finds the dialog to show; nullptr once it is destroyed.
void PublishSchedulerDialog(HWND dialog);
