// A stand-in for the tuner maker's control library: the same seven entry
// points, behaving like a tuner that records a small MPEG transport stream.
// It lets the scheduler run and be tested where no tuner is installed.
//
// Test switches, read from the environment at every call:
//   QUORVANE_STANDIN_JOURNAL         file that gets one line per call
//   QUORVANE_STANDIN_REFUSE          comma list of ping,start,stop to fail
//   QUORVANE_STANDIN_DIRTY_REFUSAL   1: a refused start writes 0xDEADBEEF
//   QUORVANE_STANDIN_KEEPALIVE_MS    silence after which a recording stops
//                                    by itself (default 10000)
//   QUORVANE_STANDIN_FLAP            ping: ManagerPing answers 1, 0, 1, 0, ...
//                                    from its first call on
//   QUORVANE_STANDIN_SAVEFILE_MS     SaveFile first journals "#savefile-begin"
//                                    and the file name, then runs the calling
//                                    thread's messages for this long, as a
//                                    library with a window or COM of its own
//                                    would, and only then does its work
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "core/tuner_library.h"
#include "tuner/standin/channel_plan.h"
#include "tuner/standin/transport_stream.h"

namespace {

using quorvane::standin::ChannelCarrierKHz;
using quorvane::standin::TransportStream;

constexpr DWORD kBurstIntervalMs = 100;
constexpr uint32_t kDefaultKeepAliveMs = 10000;
constexpr uint32_t kDirtyHandle = 0xDEADBEEF;

HMODULE g_module = nullptr;

std::string Environment(const char* name) {
  std::string value(256, '\0');
  DWORD length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
  if (length >= value.size()) {
    value.resize(length);
    length = GetEnvironmentVariableA(name, value.data(), length);
  }
  value.resize(length < value.size() ? length : 0);
  return value;
}

bool Refused(const char* call) {
  const std::string list = Environment("QUORVANE_STANDIN_REFUSE");
  std::size_t begin = 0;
  while (begin <= list.size()) {
    std::size_t end = list.find(',', begin);
    if (end == std::string::npos) {
      end = list.size();
    }
    std::size_t first = begin;
    std::size_t last = end;
    while (first < last && (list[first] == ' ' || list[first] == '\t')) {
      ++first;
    }
    while (last > first && (list[last - 1] == ' ' || list[last - 1] == '\t')) {
      --last;
    }
    if (list.compare(first, last - first, call) == 0) {
      return true;
    }
    begin = end + 1;
  }
  return false;
}

bool DirtyRefusal() {
  return Environment("QUORVANE_STANDIN_DIRTY_REFUSAL") == "1";
}

// A decimal count from the environment; 0 when absent or not a number.
uint32_t Milliseconds(const char* name) {
  uint64_t value = 0;
  for (char c : Environment(name)) {
    if (c < '0' || c > '9' || value > 0xFFFFFFFFu) return 0;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(value);
}

uint32_t KeepAliveMs() {
  const uint32_t value = Milliseconds("QUORVANE_STANDIN_KEEPALIVE_MS");
  return value == 0 ? kDefaultKeepAliveMs : value;
}

// Runs the calling thread's messages for `milliseconds`. A quit message is
// put back for the caller's own loop, as a nested loop must.
void PumpMessagesFor(uint32_t milliseconds) {
  const uint64_t until = GetTickCount64() + milliseconds;
  for (uint64_t now = GetTickCount64(); now < until; now = GetTickCount64()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - now), QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        return;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

uint64_t UnixTimeMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  // FILETIME counts 100 ns steps from 1601; the Unix epoch is 11644473600 s later.
  return (ticks - 116444736000000000ull) / 10000;
}

// Lines from several threads must not interleave, and each one must be on
// disk before the call returns, so that a crash loses nothing: the file is
// opened, appended to and closed under the lock for every line.
SRWLOCK g_journalLock = SRWLOCK_INIT;

void Journal(const std::string& fields) {
  const std::string path = Environment("QUORVANE_STANDIN_JOURNAL");
  if (path.empty()) {
    return;
  }
  AcquireSRWLockExclusive(&g_journalLock);
  const std::string line = std::to_string(UnixTimeMs()) + '\t' + fields + '\n';
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
  }
  ReleaseSRWLockExclusive(&g_journalLock);
}

std::string Field(uint32_t value) {
  return '\t' + std::to_string(value);
}
std::string Result(int64_t value) {
  return "\t=" + std::to_string(value);
}

struct Recording {
  uint32_t handle = 0;
  uint32_t frequency = 0;
  uint32_t keepAliveMs = kDefaultKeepAliveMs;
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE stopEvent = nullptr;
  HANDLE thread = nullptr;
  std::atomic<uint64_t> lastKeepAlive{0};
};

// Running recordings by handle. Whoever takes a recording out of the map
// (Quorvane_Stop, or its own thread when the keep-alive runs out) owns it and
// frees it.
SRWLOCK g_recordingsLock = SRWLOCK_INIT;
std::map<uint32_t, Recording*> g_recordings;
uint32_t g_lastHandle = 0;

bool TakeRecording(uint32_t handle, Recording* expected, Recording*& taken) {
  AcquireSRWLockExclusive(&g_recordingsLock);
  const auto found = g_recordings.find(handle);
  const bool present =
      found != g_recordings.end() && (expected == nullptr || found->second == expected);
  if (present) {
    taken = found->second;
    g_recordings.erase(found);
  }
  ReleaseSRWLockExclusive(&g_recordingsLock);
  return present;
}

void FreeRecording(Recording* recording) {
  CloseHandle(recording->stopEvent);
  CloseHandle(recording->thread);
  delete recording;
}

enum class RecordingEnd { kStopped, kAutoStopped };

RecordingEnd WriteUntilStopped(Recording& recording) {
  TransportStream stream(recording.frequency);
  std::vector<uint8_t> burst;
  const uint64_t started = GetTickCount64();
  for (;;) {
    // WriteFile hands the bytes straight to the system: the file grows with
    // every burst while the recording runs.
    burst.clear();
    stream.AppendBurst(GetTickCount64() - started, burst);
    DWORD written = 0;
    WriteFile(recording.file, burst.data(), static_cast<DWORD>(burst.size()), &written, nullptr);

    if (WaitForSingleObject(recording.stopEvent, kBurstIntervalMs) == WAIT_OBJECT_0) {
      return RecordingEnd::kStopped;
    }
    if (GetTickCount64() - recording.lastKeepAlive.load() >= recording.keepAliveMs) {
      Recording* taken = nullptr;
      if (TakeRecording(recording.handle, &recording, taken)) {
        return RecordingEnd::kAutoStopped;
      }
      // Quorvane_Stop got there first and is about to signal.
      WaitForSingleObject(recording.stopEvent, INFINITE);
      return RecordingEnd::kStopped;
    }
  }
}

// Each recording thread holds its own reference to this library and drops it
// on the way out, so the code stays mapped for as long as a thread runs it,
// even when the host frees the library with recordings still going.
DWORD WINAPI RecordingThread(void* parameter) {
  Recording* recording = static_cast<Recording*>(parameter);
  const RecordingEnd end = WriteUntilStopped(*recording);
  CloseHandle(recording->file);
  recording->file = INVALID_HANDLE_VALUE;
  if (end == RecordingEnd::kAutoStopped) {
    Journal("#autostop" + Field(recording->handle));
    FreeRecording(recording);
  }
  FreeLibraryAndExitThread(g_module, 0);
}

// Returns the new recording's handle, or 0 when it could not start.
uint32_t StartRecording(uint32_t frequency, const char* fileName) {
  HANDLE file = CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return 0;
  }
  HMODULE reference = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&g_module), &reference)) {
    CloseHandle(file);
    return 0;
  }
  auto* recording = new Recording;
  recording->frequency = frequency;
  recording->keepAliveMs = KeepAliveMs();
  recording->file = file;
  recording->lastKeepAlive = GetTickCount64();
  recording->stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  recording->thread =
      recording->stopEvent == nullptr
          ? nullptr
          : CreateThread(nullptr, 0, RecordingThread, recording, CREATE_SUSPENDED, nullptr);
  if (recording->thread == nullptr) {
    if (recording->stopEvent != nullptr) {
      CloseHandle(recording->stopEvent);
    }
    delete recording;
    CloseHandle(file);
    FreeLibrary(reference);
    return 0;
  }

  AcquireSRWLockExclusive(&g_recordingsLock);
  if (++g_lastHandle == 0) {
    g_lastHandle = 1;
  }
  recording->handle = g_lastHandle;
  g_recordings[recording->handle] = recording;
  ReleaseSRWLockExclusive(&g_recordingsLock);

  ResumeThread(recording->thread);
  return recording->handle;
}

}  // namespace

extern "C" {

uint32_t QUORVANE_STDCALL Quorvane_ChannelToFreq(uint16_t channel, uint32_t catv) {
  const uint32_t frequency = ChannelCarrierKHz(channel, catv);
  Journal("Quorvane_ChannelToFreq" + Field(channel) + Field(catv) + Result(frequency));
  return frequency;
}

int32_t QUORVANE_STDCALL Quorvane_ManagerActivate() {
  Journal("Quorvane_ManagerActivate" + Result(1));
  return 1;
}

// The tuner records only with the constants 0, 1 and 5 and a frequency it
// can tune to; anything else means the caller mixed up its arguments.
int32_t QUORVANE_STDCALL Quorvane_SaveFile(uint32_t frequency, uint32_t zero, uint32_t one,
                                           uint32_t five, const char* fileName,
                                           uint32_t* taskHandle) {
  if (const uint32_t blocking = Milliseconds("QUORVANE_STANDIN_SAVEFILE_MS"); blocking != 0) {
    Journal(std::string("#savefile-begin\t") + (fileName != nullptr ? fileName : ""));
    PumpMessagesFor(blocking);
  }
  uint32_t handle = 0;
  int32_t result = 0;
  if (Refused("start")) {
    if (DirtyRefusal()) {
      handle = kDirtyHandle;
    }
  } else if (frequency != 0 && zero == 0 && one == 1 && five == 5 && fileName != nullptr &&
             taskHandle != nullptr) {
    handle = StartRecording(frequency, fileName);
    result = handle != 0 ? 1 : 0;
  }
  if (taskHandle != nullptr) {
    *taskHandle = handle;
  }
  Journal("Quorvane_SaveFile" + Field(frequency) + Field(zero) + Field(one) + Field(five) + '\t' +
          (fileName != nullptr ? fileName : "") + Result(result) +
          "\thandle=" + std::to_string(taskHandle != nullptr ? handle : 0));
  return result;
}

int32_t QUORVANE_STDCALL Quorvane_SendUDP() {
  Journal("Quorvane_SendUDP" + Result(0));
  return 0;
}

int32_t QUORVANE_STDCALL Quorvane_Stop(uint32_t taskHandle) {
  Recording* recording = nullptr;
  int32_t result = 0;
  if (!Refused("stop") && TakeRecording(taskHandle, nullptr, recording)) {
    SetEvent(recording->stopEvent);
    WaitForSingleObject(recording->thread, INFINITE);
    FreeRecording(recording);
    result = 1;
  }
  Journal("Quorvane_Stop" + Field(taskHandle) + Result(result));
  return result;
}

int32_t QUORVANE_STDCALL Quorvane_UpdateTimeout(uint32_t taskHandle) {
  int32_t result = 0;
  AcquireSRWLockShared(&g_recordingsLock);
  const auto found = g_recordings.find(taskHandle);
  if (found != g_recordings.end()) {
    found->second->lastKeepAlive = GetTickCount64();
    result = 1;
  }
  ReleaseSRWLockShared(&g_recordingsLock);
  Journal("Quorvane_UpdateTimeout" + Field(taskHandle) + Result(result));
  return result;
}

int32_t QUORVANE_STDCALL Quorvane_ManagerPing() {
  static std::atomic<uint32_t> calls{0};
  const bool flapping = Environment("QUORVANE_STANDIN_FLAP") == "ping";
  const int32_t result = Refused("ping") || (flapping && calls++ % 2 != 0) ? 0 : 1;
  Journal("Quorvane_ManagerPing" + Result(result));
  return result;
}

// Under the loader lock nothing may wait for a thread. A library being freed
// has no recordings left (each holds a reference); at process exit the
// recording threads are gone already, and the signal is all that is left to
// give.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
  } else if (reason == DLL_PROCESS_DETACH && reserved != nullptr) {
    if (TryAcquireSRWLockExclusive(&g_recordingsLock)) {
      for (const auto& entry : g_recordings) {
        SetEvent(entry.second->stopEvent);
      }
      ReleaseSRWLockExclusive(&g_recordingsLock);
    }
  }
  return TRUE;
}

}  // extern "C"

// The entry points the scheduler calls must match its view of them exactly.
static_assert(std::is_same_v<decltype(&Quorvane_ChannelToFreq), quorvane::ChannelToFreqFn>);
static_assert(std::is_same_v<decltype(&Quorvane_SaveFile), quorvane::SaveFileFn>);
static_assert(std::is_same_v<decltype(&Quorvane_Stop), quorvane::StopFn>);
static_assert(std::is_same_v<decltype(&Quorvane_UpdateTimeout), quorvane::UpdateTimeoutFn>);
static_assert(std::is_same_v<decltype(&Quorvane_ManagerPing), quorvane::ManagerPingFn>);
