// The tuner maker's control library as the scheduler sees it: seven entry
// points bound by name, five of them called.
#pragma once

#include <cstdint>

// The vendor library uses stdcall; only 32-bit x86 Windows tells it apart.
#if defined(_WIN32) && !defined(_WIN64)
#define QUORVANE_STDCALL __stdcall
#else
#define QUORVANE_STDCALL
#endif

namespace quorvane {

// Channel is an unsigned 16-bit number (zero-extended in its argument slot);
// the result is an opaque frequency handed back unchanged to SaveFile.
using ChannelToFreqFn = uint32_t(QUORVANE_STDCALL*)(uint16_t channel, uint32_t catvFlag);
// Nonzero when the recording started; the library writes the task handle.
using SaveFileFn = int32_t(QUORVANE_STDCALL*)(uint32_t frequency, uint32_t zero, uint32_t one,
                                              uint32_t five, const char* fileName,
                                              uint32_t* taskHandle);
using StopFn = int32_t(QUORVANE_STDCALL*)(uint32_t taskHandle);
using UpdateTimeoutFn = int32_t(QUORVANE_STDCALL*)(uint32_t taskHandle);
using ManagerPingFn = int32_t(QUORVANE_STDCALL*)();
// Bound so that a library lacking them is refused, but never called.
using UncalledEntryFn = void(QUORVANE_STDCALL*)();

struct TunerLibrary {
  void* module;
  ChannelToFreqFn channelToFreq;
  UncalledEntryFn managerActivate;
  SaveFileFn saveFile;
  UncalledEntryFn sendUdp;
  StopFn stop;
  UpdateTimeoutFn updateTimeout;
  ManagerPingFn managerPing;
};

inline constexpr const char* kTunerLibraryFileName = "QuorvaneControl.dll";

// Resolution order matters only for which name a broken library lacks first.
inline constexpr const char* kTunerEntryNames[7] = {
    "Quorvane_ChannelToFreq", "Quorvane_ManagerActivate",
    "Quorvane_SaveFile",      "Quorvane_SendUDP",
    "Quorvane_Stop",          "Quorvane_UpdateTimeout",
    "Quorvane_ManagerPing",
};

}  // namespace quorvane
