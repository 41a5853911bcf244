// Lean in-memory surroundings for measuring the core: every seam does the
// least a real one must (copy a line, keep the pane's text, append bytes), so
// that the figures are the core's own and not those of a test double.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/due_events.h"
#include "core/schedule_entry.h"
#include "core/task_slots.h"
#include "tests/fakes/fakes.h"

namespace bench {

using namespace quorvane;

// Entry i of a list that starts in `year`: one minute apart, so that the
// lines are distinct and already in the list's order.
inline std::string EntryLine(int year, int i) {
  char line[128];
  const int day = i / 1440 % 31 + 1, hour = i / 60 % 24, minute = i % 60;
  std::snprintf(
      line, sizeof line,
      "%d\t01\t%02d\t%02d\t%02d\t00\t%d\t01\t%02d\t%02d\t%02d\t30\t\x83\x5c@27\trec%05d.ts2", year,
      day, hour, minute, year, day, hour, minute, i);
  return line;
}

// The median of some timings.
inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// CharNextA under code page 932, as the core's tests have it.
using fakes::Cp932Next;

struct World final : ScheduleList, LogPane, Clock, MessageTable, Files, Power, TickTimer, FrontEnd {
  std::vector<std::string> lines;
  std::string pane;
  // 40 ms into the second, where the tick's timer keeps the ticks.
  LocalTime now{2029, 6, 1, 12, 0, 0, 40};
  std::map<std::string, std::string> disk;
  std::string* open = nullptr;
  std::size_t at = 0;

  // Lines 0..due-1 lie in the past, the rest in the future.
  void Fill(int count, int due) {
    lines.clear();
    for (int i = 0; i < count; ++i) lines.push_back(EntryLine(i < due ? 2009 : 2030, i));
  }
  // A pane as full as the log ever gets.
  void FillPane() {
    pane.assign(32766, 'x');
    for (std::size_t i = 60; i < pane.size(); i += 62) pane.replace(i, 2, "\r\n");
  }

  int32_t Count() override { return static_cast<int32_t>(lines.size()); }
  bool GetLine(int32_t index, std::span<char> buffer) override {
    const std::string& line = lines[static_cast<std::size_t>(index)];
    const std::size_t n = line.size() < buffer.size() ? line.size() : buffer.size() - 1;
    std::memcpy(buffer.data(), line.data(), n);
    buffer[n] = '\0';
    return true;
  }
  void DeleteLine(int32_t index) override { lines.erase(lines.begin() + index); }
  // The lines come in order, as a sorted list box would place them.
  void AddLine(const char* line) override { lines.emplace_back(line); }
  void ReadText(std::span<char> buffer) override {
    const std::size_t n = pane.size() < buffer.size() ? pane.size() : buffer.size() - 1;
    std::memcpy(buffer.data(), pane.data(), n);
    buffer[n] = '\0';
  }
  void ReplaceText(const char* text) override { pane.assign(text); }
  void Notify(const char*) override {}
  LocalTime Now() override { return now; }
  // Strings 104 and 106 as the program has them; the rest are not reached.
  void Load(int32_t id, std::span<char> buffer) override {
    std::snprintf(
        buffer.data(), buffer.size(), "%s",
        id == 104 ? "\x83^\x83X\x83N%d(%d,%d)\x82\xf0\x8aJ\x8en\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81"
                    "B"
                  : "\x83^\x83X\x83N%d\x82\xf0\x92\xe2\x8e~\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81"
                    "B");
  }

  FileHandle OpenForReading(const char* path) override {
    auto found = disk.find(path);
    if (found == disk.end()) return kNoFile;
    open = &found->second;
    at = 0;
    return 1;
  }
  FileHandle CreateAnew(const char* path) override {
    open = &disk[path];
    open->clear();
    at = 0;
    return 1;
  }
  int32_t Read(FileHandle, std::span<char> buffer) override {
    const std::size_t n = open->copy(buffer.data(), buffer.size(), at);
    at += n;
    return static_cast<int32_t>(n);
  }
  void MoveBack(FileHandle, int32_t distance) override { at -= static_cast<std::size_t>(distance); }
  bool Write(FileHandle, std::span<const char> bytes) override {
    open->append(bytes.data(), bytes.size());
    return true;
  }
  bool Flush(FileHandle) override { return true; }
  void Close(FileHandle) override { open = nullptr; }
  bool Replace(const char* from, const char* to) override {
    disk[to].swap(disk[from]);
    disk.erase(from);
    return true;
  }
  void Remove(const char* path) override { disk.erase(path); }
  bool FreeSpace(const char*, uint64_t& bytes) override {
    bytes = UINT64_MAX;
    return true;
  }
  // The system calls cost what they cost; the core's part is what is measured.
  void HoldAwake(bool) override {}
  bool ArmWake(const LocalTime&, int32_t) override { return true; }
  void CancelWake() override {}
  void SetTickTimer(int32_t) override {}
  void BrowseForFile() override {}
  void CloseWindow(bool) override {}

  static uint32_t QUORVANE_STDCALL ChannelToFreq(uint16_t channel, uint32_t catv) {
    return channel * 6000u + catv;
  }
  static int32_t QUORVANE_STDCALL SaveFile(uint32_t, uint32_t, uint32_t, uint32_t, const char*,
                                           uint32_t* handle) {
    static uint32_t next = 1;
    *handle = next++;
    return 1;
  }
  static int32_t QUORVANE_STDCALL Stop(uint32_t) { return 1; }
  static int32_t QUORVANE_STDCALL UpdateTimeout(uint32_t) { return 1; }
  static int32_t QUORVANE_STDCALL ManagerPing() { return 1; }
  static constexpr TunerLibrary kTuner = {nullptr, &ChannelToFreq, nullptr,        &SaveFile,
                                          nullptr, &Stop,          &UpdateTimeout, &ManagerPing};

  Surroundings world{*this,  *this,   *this, *this, *this, Cp932Next,
                     kTuner, "s.ini", *this, *this, *this};
  SchedulerState state{};

  // Ten recordings that end long after now; the next event is the first end.
  void RunTen() {
    ResetTaskSlots(state.tasks);
    for (uint32_t i = 0; i < kTaskSlotCount; ++i) {
      state.tasks.slots[i] = {100 + i, MinuteKey(2030, 1, 1, 0, 0), static_cast<int32_t>(i)};
      state.tasks.anyRunning |= 100 + i;
    }
    ComputeNextEvent(state, *this);
  }
};

}  // namespace bench
