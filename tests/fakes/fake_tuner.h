// A tuner library that records every call. TunerLibrary holds plain function
// pointers, so static entry points forward to the one instance that is current.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/tuner_library.h"

namespace quorvane::fakes {

class FakeTuner {
 public:
  FakeTuner() { current_ = this; }
  ~FakeTuner() {
    if (current_ == this) current_ = nullptr;
  }
  FakeTuner(const FakeTuner&) = delete;
  FakeTuner& operator=(const FakeTuner&) = delete;

  TunerLibrary Library() const {
    return {nullptr,   &ChannelToFreq, &Uncalled,      &SaveFile,
            &Uncalled, &Stop,          &UpdateTimeout, &ManagerPing};
  }

  // The frequency handed out for a channel: distinct per channel and flag.
  static uint32_t FrequencyOf(uint32_t channel, uint32_t catvFlag) {
    return 100000u + channel * 10u + catvFlag;
  }

  bool refusePing = false;
  bool refuseStart = false;
  bool refuseStop = false;
  // A refused start writes garbage into the handle, as a broken library might.
  bool dirtyRefusal = false;
  uint32_t nextHandle = 501;
  std::function<void()> onKeepAlive;
  // One entry per call: name, arguments in order, "=result" where there is one.
  std::vector<std::string> journal;

 private:
  static FakeTuner& Current() { return *current_; }
  static std::string Number(uint64_t value) { return std::to_string(value); }

  static uint32_t QUORVANE_STDCALL ChannelToFreq(uint16_t channel, uint32_t catvFlag) {
    const uint32_t frequency = FrequencyOf(channel, catvFlag);
    Current().journal.push_back("ChannelToFreq " + Number(channel) + " " + Number(catvFlag) + " =" +
                                Number(frequency));
    return frequency;
  }
  static int32_t QUORVANE_STDCALL SaveFile(uint32_t frequency, uint32_t zero, uint32_t one,
                                           uint32_t five, const char* fileName,
                                           uint32_t* taskHandle) {
    FakeTuner& tuner = Current();
    if (!tuner.refuseStart) {
      *taskHandle = tuner.nextHandle++;
    } else if (tuner.dirtyRefusal) {
      *taskHandle = 0xDEADBEEFu;
    }
    tuner.journal.push_back("SaveFile " + Number(frequency) + " " + Number(zero) + " " +
                            Number(one) + " " + Number(five) + " " + fileName + " =" +
                            (tuner.refuseStart ? "0" : "1") + " handle=" + Number(*taskHandle));
    return tuner.refuseStart ? 0 : 1;
  }
  static int32_t QUORVANE_STDCALL Stop(uint32_t taskHandle) {
    FakeTuner& tuner = Current();
    tuner.journal.push_back("Stop " + Number(taskHandle) + (tuner.refuseStop ? " =0" : " =1"));
    return tuner.refuseStop ? 0 : 1;
  }
  static int32_t QUORVANE_STDCALL UpdateTimeout(uint32_t taskHandle) {
    FakeTuner& tuner = Current();
    tuner.journal.push_back("UpdateTimeout " + Number(taskHandle));
    if (tuner.onKeepAlive) tuner.onKeepAlive();
    return 1;
  }
  static int32_t QUORVANE_STDCALL ManagerPing() {
    FakeTuner& tuner = Current();
    tuner.journal.push_back(tuner.refusePing ? "ManagerPing =0" : "ManagerPing =1");
    return tuner.refusePing ? 0 : 1;
  }
  static void QUORVANE_STDCALL Uncalled() { Current().journal.push_back("uncalled entry"); }

  inline static FakeTuner* current_ = nullptr;
};

}  // namespace quorvane::fakes
