// In-memory stand-ins for everything the core reaches.
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/surroundings.h"

namespace quorvane::fakes {

template <typename... Args>
std::string Printf(const char* format, Args... args) {
  char text[2048];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

// CharNextA under code page 932: a lead byte takes its trail byte along.
inline const char* Cp932Next(const char* text) {
  const auto byte = static_cast<unsigned char>(*text);
  const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
  return byte == 0 ? text : text + (lead && text[1] != '\0' ? 2 : 1);
}

// A line on 5 January 2009 from hhmmss to hhmmss, then channel and file.
inline std::string Entry(int start, int end, const char* rest) {
  return Printf("2009\t01\t05\t%02d\t%02d\t%02d\t2009\t01\t05\t%02d\t%02d\t%02d\t%s", start / 10000,
                start / 100 % 100, start % 100, end / 10000, end / 100 % 100, end % 100, rest);
}

// Strings 101 to 108 are reduced to their id and arguments. The failStep-th
// file create, write, flush or replace fails; a failing write still writes
// half its bytes, as on a full disk. The tuner library's entry points are
// plain function pointers, so they reach the latest world.
struct FakeWorld : ScheduleList, LogPane, Clock, MessageTable, Files {
  FakeWorld() { current = this; }
  inline static FakeWorld* current = nullptr;
  std::vector<std::string> lines;  // sorted, as the list box keeps them
  std::string log, journal;
  LocalTime now{2009, 1, 5, 7, 3, 9};
  std::map<std::string, std::string> disk;
  std::size_t at = 0;  // the read position: the core reads one file at a time
  int failStep = 0, steps = 0, openCount = 0;
  bool held = false;  // another program holds the target: every replace fails
  bool refusePing = false, refuseStart = false, refuseStop = false;
  uint32_t nextHandle = 501;
  std::function<void()> onKeepAlive;

  int32_t Count() override { return static_cast<int32_t>(lines.size()); }
  void GetLine(int32_t i, std::span<char> to) override { Copy(lines.at(std::size_t(i)), to); }
  void DeleteLine(int32_t index) override { lines.erase(lines.begin() + index); }
  void AddLine(const char* line) override {
    lines.insert(std::upper_bound(lines.begin(), lines.end(), std::string(line)), line);
  }
  void ReadText(std::span<char> buffer) override { Copy(log, buffer); }
  void ReplaceText(const char* text) override { log = text; }
  LocalTime Now() override { return now; }
  void Load(int32_t id, std::span<char> to) override {
    const char* format = id == 103 || id == 104 ? "%d %%d(%%d,%%d)" : "%d %%d";
    Copy(Printf(id < 103 || id > 106 ? "%d" : format, id), to);
  }
  static void Copy(const std::string& text, std::span<char> to) {
    std::snprintf(to.data(), to.size(), "%s", text.c_str());
  }

  FileHandle OpenForReading(const char* path) override {
    if (disk.count(path) == 0) return kNoFile;
    ++openCount;
    at = 0;
    return reinterpret_cast<FileHandle>(&disk[path]);
  }
  FileHandle CreateAnew(const char* path) override {
    if (++steps == failStep) return kNoFile;
    disk[path].clear();
    return OpenForReading(path);
  }
  int32_t Read(FileHandle file, std::span<char> buffer) override {
    const std::size_t count = Bytes(file).copy(buffer.data(), buffer.size(), at);
    at += count;
    return static_cast<int32_t>(count);
  }
  void MoveBack(FileHandle, int32_t distance) override { at -= static_cast<std::size_t>(distance); }
  bool Write(FileHandle file, std::span<const char> bytes) override {
    const bool fails = ++steps == failStep;
    Bytes(file).append(bytes.data(), fails ? bytes.size() / 2 : bytes.size());
    return !fails;
  }
  bool Flush(FileHandle) override { return ++steps != failStep; }
  void Close(FileHandle) override { --openCount; }
  bool Replace(const char* from, const char* to) override {
    if (++steps == failStep || held || disk.count(from) == 0) return false;
    disk[to] = disk[from];
    return disk.erase(from) == 1;
  }
  void Remove(const char* path) override { disk.erase(path); }
  static std::string& Bytes(FileHandle file) { return *reinterpret_cast<std::string*>(file); }

  // Each call is journalled as "name arguments|"; the log tells the results.
  static int32_t Call(const std::string& call, bool refused = false) {
    current->journal += call + "|";
    return !refused;
  }
  static uint32_t QUORVANE_STDCALL ChannelToFreq(uint16_t channel, uint32_t catv) {
    Call(Printf("freq %d %u", channel, catv));
    return channel * 10u + catv;
  }
  static int32_t QUORVANE_STDCALL SaveFile(uint32_t freq, uint32_t zero, uint32_t one,
                                           uint32_t five, const char* name, uint32_t* handle) {
    // A refused start leaves garbage in the handle, as a broken library might.
    *handle = current->refuseStart ? 0xDEADBEEFu : current->nextHandle++;
    return Call(Printf("save %u %u %u %u %s", freq, zero, one, five, name), current->refuseStart);
  }
  static int32_t QUORVANE_STDCALL Stop(uint32_t handle) {
    return Call(Printf("stop %u", handle), current->refuseStop);
  }
  static int32_t QUORVANE_STDCALL UpdateTimeout(uint32_t handle) {
    Call(Printf("keep %u", handle));
    if (current->onKeepAlive) current->onKeepAlive();
    return 1;
  }
  static int32_t QUORVANE_STDCALL ManagerPing() { return Call("ping", current->refusePing); }
  // The two entry points the scheduler never calls are left out.
  inline static const TunerLibrary kLibrary = {
      nullptr, &ChannelToFreq, nullptr, &SaveFile, nullptr, &Stop, &UpdateTimeout, &ManagerPing};
};

}  // namespace quorvane::fakes
