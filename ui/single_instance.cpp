#include "ui/single_instance.h"

#include <cstdint>

#include "core/surroundings.h"
#include "ui/main_dialog.h"

namespace {

// A named object lives exactly as long as a handle to it: the running copy
// keeps one for its whole life, and its end, crash included, frees the name.
constexpr char kClaimNamePrefix[] = "Local\\QuorvaneScheduler.";
constexpr int kHashDigits = 16;
// A copy still initialising publishes its dialog within this time.
constexpr ULONGLONG kDialogWaitMs = 10000;
constexpr DWORD kDialogPollMs = 50;
constexpr UINT kShowAnswerMs = 5000;

// Shared by the running copy with every later one.
struct ClaimBlock {
  HWND volatile dialog;
};

HANDLE g_claim = nullptr;
ClaimBlock* g_claimBlock = nullptr;

// 64-bit FNV-1a: a path does not fit an object name, its hash does.
uint64_t HashOf(const char* text) {
  uint64_t hash = 14695981039346656037ull;
  for (const char* at = text; *at != '\0'; ++at) {
    hash ^= static_cast<unsigned char>(*at);
    hash *= 1099511628211ull;
  }
  return hash;
}

// Windows file names ignore letter case, and a folder may also be reached
// by its short (8.3) name: both forms of one path give one name.
void ClaimNameOf(const char* exePath, char (&name)[sizeof kClaimNamePrefix + kHashDigits]) {
  char path[quorvane::kTextCapacity];
  const DWORD longLength = GetLongPathNameA(exePath, path, sizeof path);
  if (longLength == 0 || longLength >= sizeof path) lstrcpynA(path, exePath, sizeof path);
  CharUpperBuffA(path, static_cast<DWORD>(lstrlenA(path)));

  lstrcpynA(name, kClaimNamePrefix, sizeof name);
  uint64_t hash = HashOf(path);
  for (int i = kHashDigits - 1; i >= 0; --i, hash >>= 4) {
    name[sizeof kClaimNamePrefix - 1 + static_cast<unsigned>(i)] = "0123456789ABCDEF"[hash & 15];
  }
  name[sizeof name - 1] = '\0';
}

HWND PublishedDialog(HANDLE claim) {
  const auto* block =
      static_cast<const ClaimBlock*>(MapViewOfFile(claim, FILE_MAP_READ, 0, 0, sizeof(ClaimBlock)));
  if (block == nullptr) return nullptr;
  const HWND dialog = block->dialog;
  UnmapViewOfFile(block);
  return dialog;
}

// As a left click on its tray icon would. False when the dialog did not
// answer.
bool ShowRunningCopy(HWND dialog) {
  DWORD_PTR answer = 0;
  const LRESULT answered = SendMessageTimeoutA(dialog, WM_TRAYNOTIFY, 0, WM_LBUTTONDOWN,
                                               SMTO_ABORTIFHUNG, kShowAnswerMs, &answer);
  SetForegroundWindow(dialog);
  return answered != 0;
}

}  // namespace

bool ClaimScheduleFile(const char* exePath, bool quietly) {
  char name[sizeof kClaimNamePrefix + kHashDigits];
  ClaimNameOf(exePath, name);
  const ULONGLONG deadline = GetTickCount64() + kDialogWaitMs;
  for (;;) {
    const HANDLE claim = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(ClaimBlock), name);
    // Unable to tell, run as a copy without the guard rather than not at all.
    if (claim == nullptr) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      g_claim = claim;
      g_claimBlock =
          static_cast<ClaimBlock*>(MapViewOfFile(claim, FILE_MAP_WRITE, 0, 0, sizeof(ClaimBlock)));
      return true;
    }
    const HWND running = PublishedDialog(claim);
    // Not held while waiting, so that the name dies with the running copy.
    CloseHandle(claim);
    // A dialog destroyed meanwhile was quitting: its claim ends with its
    // process, and this copy takes over.
    if (running != nullptr && IsWindow(running) &&
        (quietly || ShowRunningCopy(running) || IsWindow(running))) {
      return false;
    }
    // A copy that never shows its dialog still owns the file.
    if (GetTickCount64() >= deadline) return false;
    Sleep(kDialogPollMs);
  }
}

void ReleaseScheduleFileClaim() {
  if (g_claimBlock != nullptr) UnmapViewOfFile(g_claimBlock);
  if (g_claim != nullptr) CloseHandle(g_claim);
  g_claimBlock = nullptr;
  g_claim = nullptr;
}

void PublishSchedulerDialog(HWND dialog) {
  if (g_claimBlock != nullptr) g_claimBlock->dialog = dialog;
}
