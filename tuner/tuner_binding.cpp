#include "tuner/tuner_binding.h"

#include <windows.h>

namespace quorvane {
namespace {

constexpr DWORD kPathCapacity = 1024;
constexpr int kEntryCount = sizeof(kTunerEntryNames) / sizeof(kTunerEntryNames[0]);
static_assert(kEntryCount == 7);

// GetProcAddress hands out a generic FARPROC; going through a plain function
// pointer type keeps -Wcast-function-type quiet about the final cast.
template <typename Fn>
Fn EntryPoint(FARPROC address) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(address));
}

// The folder of the running executable, without a trailing separator except
// at a drive's root.
bool ApplicationDirectory(char (&directory)[kPathCapacity]) {
  const DWORD length = GetModuleFileNameA(nullptr, directory, kPathCapacity);
  if (length == 0 || length >= kPathCapacity) {
    return false;
  }
  // Walk by characters: a double-byte character's trail byte may be '\\'.
  char* lastSeparator = nullptr;
  for (char* at = directory; *at != '\0'; at = CharNextA(at)) {
    if (*at == '\\' || *at == '/') {
      lastSeparator = at;
    }
  }
  if (lastSeparator == nullptr) {
    return false;
  }
  const bool driveRoot = lastSeparator == directory + 2 && directory[1] == ':';
  lastSeparator[driveRoot ? 1 : 0] = '\0';
  return true;
}

}  // namespace

bool BindTunerLibrary(TunerLibrary& library) {
  library = TunerLibrary{};

  // A file planted in the current directory (where relative recordings land,
  // or wherever the program was started from) must never stand in for the
  // library. Any DLL directory drops the current directory from the search
  // and keeps the application directory, the system directories and PATH;
  // naming the application directory itself adds nothing new. (The empty
  // string means the same on Windows, but Wine treats it as no setting.)
  char directory[kPathCapacity];
  SetDllDirectoryA(ApplicationDirectory(directory) ? directory : "");
  HMODULE module = LoadLibraryA(kTunerLibraryFileName);
  if (module == nullptr) {
    return false;
  }

  // All or nothing: the addresses are kept only once every name resolved.
  FARPROC addresses[kEntryCount] = {};
  for (int index = 0; index < kEntryCount; ++index) {
    addresses[index] = GetProcAddress(module, kTunerEntryNames[index]);
    if (addresses[index] == nullptr) {
      FreeLibrary(module);
      return false;
    }
  }

  library.module = module;
  library.channelToFreq = EntryPoint<ChannelToFreqFn>(addresses[0]);
  library.managerActivate = EntryPoint<UncalledEntryFn>(addresses[1]);
  library.saveFile = EntryPoint<SaveFileFn>(addresses[2]);
  library.sendUdp = EntryPoint<UncalledEntryFn>(addresses[3]);
  library.stop = EntryPoint<StopFn>(addresses[4]);
  library.updateTimeout = EntryPoint<UpdateTimeoutFn>(addresses[5]);
  library.managerPing = EntryPoint<ManagerPingFn>(addresses[6]);
  return true;
}

void ReleaseTunerLibrary(TunerLibrary& library) {
  if (library.module != nullptr) {
    FreeLibrary(static_cast<HMODULE>(library.module));
  }
  library = TunerLibrary{};
}

}  // namespace quorvane
