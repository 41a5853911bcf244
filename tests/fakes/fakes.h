// In-memory stand-ins for everything the core reaches.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/surroundings.h"

namespace quorvane::fakes {

std::string Printf(const char* format, auto... args) {
  char text[2048];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

inline std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  for (size_t start = 0, end = 0; end != std::string::npos; start = end + separator.size())
    parts.push_back(text.substr(start, (end = text.find(separator, start)) - start));
  return parts;
}

// CharNextA under code page 932: a lead byte takes its trail byte along.
inline const char* Cp932Next(const char* text) {
  const auto byte = static_cast<unsigned char>(*text);
  const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
  return byte == 0 ? text : text + (lead && text[1] != '\0' ? 2 : 1);
}

// The list keeps its lines in the order added (the list box sorts them; the
// tests add them in order). A logged line also goes to the journal, without
// its time stamp and CR LF; strings 101 to 108 are their id and arguments.
// The failStep-th file create, write, flush or replace fails. The tuner
// library is plain function pointers, which reach the latest world; a call
// whose name is in `refuse` fails. Power calls go to a journal of their own,
// "wake" in `refuse` making arming fail; the tick timer's delays and the
// notices to one more each. A folder has the free bytes `space` gives it
// (-1: out of reach), or plenty.
struct FakeWorld : ScheduleList, LogPane, Clock, MessageTable, Files, Power, TickTimer, FrontEnd {
  FakeWorld() { current = this; }
  inline static FakeWorld* current = nullptr;
  std::vector<std::string> lines;
  std::string log, journal, refuse, power, timer, notices;
  LocalTime now{2009, 1, 5, 7, 3, 9};
  std::map<std::string, std::string> disk;
  std::map<std::string, int64_t> space;
  int failStep = 0, steps = 0, openCount = 0, at = 0;  // at: where the one file open is read

  // As a list box: a window gone has no lines.
  bool gone = false;
  int32_t Count() override { return gone ? 0 : static_cast<int32_t>(lines.size()); }
  bool GetLine(int32_t i, std::span<char> to) override {
    return !gone && i >= 0 && i < Count() && (Copy(lines[std::size_t(i)], to), true);
  }
  void DeleteLine(int32_t index) override { lines.erase(lines.begin() + index); }
  void AddLine(const char* line) override { lines.emplace_back(line); }
  void ReadText(std::span<char> buffer) override { Copy(log, buffer); }
  void ReplaceText(const char* text) override {
    journal += std::string(text).substr(21, std::string_view(text).size() - log.size() - 23) + "|";
    log = text;
  }
  void Notify(const char* message) override { notices += std::string(message) + "|"; }
  LocalTime Now() override { return now; }
  void Load(int32_t id, std::span<char> to) override { Copy(Printf("%d(%%d,%%d,%%d)", id), to); }
  static void Copy(const std::string& text, std::span<char> to) {
    std::snprintf(to.data(), to.size(), "%s", text.c_str());
  }

  bool Fails() { return ++steps == failStep; }
  FileHandle OpenForReading(const char* path) override {
    if (disk.count(path) == 0) return kNoFile;
    ++openCount;
    at = 0;
    return reinterpret_cast<FileHandle>(&disk[path]);
  }
  FileHandle CreateAnew(const char* path) override {
    return Fails() ? kNoFile : (disk[path].clear(), OpenForReading(path));
  }
  int32_t Read(FileHandle file, std::span<char> to) override {
    const auto count = static_cast<int>(Bytes(file).copy(to.data(), to.size(), std::size_t(at)));
    at += count;
    return count;
  }
  void MoveBack(FileHandle, int32_t distance) override { at -= distance; }
  // A failing write has written all the same, so that ignoring it shows.
  bool Write(FileHandle file, std::span<const char> bytes) override {
    Bytes(file).append(bytes.data(), bytes.size());
    return !Fails();
  }
  bool Flush(FileHandle) override { return !Fails(); }
  void Close(FileHandle) override { --openCount; }
  bool Replace(const char* from, const char* to) override {
    return !Fails() && (disk[to] = disk.at(from), disk.erase(from) == 1);
  }
  void Remove(const char* path) override { disk.erase(path); }
  bool FreeSpace(const char* folder, uint64_t& bytes) override {
    return int64_t(bytes = uint64_t(space.count(folder) != 0 ? space[folder] : INT64_MAX)) >= 0;
  }
  void HoldAwake(bool awake) override { power += awake ? "hold|" : "release|"; }
  bool ArmWake(const LocalTime& t, int32_t lead) override {
    power += Printf("wake %d-%02d-%02d %02d:%02d:%02d -%d|", t.year, t.month, t.day, t.hour,
                    t.minute, t.second, lead);
    return refuse.find("wake") == std::string::npos;
  }
  void CancelWake() override { power += "cancel|"; }
  void SetTickTimer(int32_t delayMs) override { timer += Printf("%d|", delayMs); }
  void BrowseForFile() override { journal += "browse|"; }
  void CloseWindow(bool shown) override { journal += shown ? "Close|" : "close|", gone = true; }
  static std::string& Bytes(FileHandle file) { return *reinterpret_cast<std::string*>(file); }

  // Each call is journalled as "name arguments|"; every name has four letters.
  // The first call named `inside` runs `during` first, as a library whose
  // call runs the program's messages would.
  std::string inside;
  std::function<void()> during;
  static int32_t Call(const char* format, auto... args) {
    if (current->during && current->inside == std::string(format, 4))
      std::exchange(current->during, nullptr)();
    current->journal += Printf(format, args...) + "|";
    return current->refuse.find(std::string(format, 4)) == std::string::npos;
  }
  // The frequency is ten times the channel plus the cable flag, and a task's
  // handle is its frequency, even when the start is refused (as garbage).
  static uint32_t QUORVANE_STDCALL ChannelToFreq(uint16_t channel, uint32_t catv) {
    return Call("freq %d %u", channel, catv) ? channel * 10u + catv : 0;
  }
  static int32_t QUORVANE_STDCALL SaveFile(uint32_t freq, uint32_t zero, uint32_t one,
                                           uint32_t five, const char* name, uint32_t* handle) {
    const int32_t started = Call("save %u %u %u %u %s", freq, zero, one, five, name);
    *handle = freq;
    return started;
  }
  static int32_t QUORVANE_STDCALL Stop(uint32_t handle) { return Call("stop %u", handle); }
  static int32_t QUORVANE_STDCALL UpdateTimeout(uint32_t task) { return Call("keep %u", task); }
  // The 0 is never printed: a format with no argument at all draws a warning.
  static int32_t QUORVANE_STDCALL ManagerPing() { return Call("ping", 0); }
  // The two entry points the scheduler never calls are left out.
  inline static const TunerLibrary kLibrary = {
      nullptr, &ChannelToFreq, nullptr, &SaveFile, nullptr, &Stop, &UpdateTimeout, &ManagerPing};
};

}  // namespace quorvane::fakes
