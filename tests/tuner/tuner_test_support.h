// Helpers shared by the tests of the stand-in tuner library and the binding:
// the built files, scratch folders, environment switches, the journal and a
// reader of MPEG transport streams.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/tuner_library.h"

namespace tuner_test {

// A path handed over from the build as a Windows path: under Wine a Linux
// path /x/y is Z:\x\y.
std::string WindowsPath(const std::string& path);
std::string StandinPath();
std::string LackingStandinPath();
std::string BindProbePath();

// A fresh folder under %TEMP%, removed with its files when done.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }
  // A subfolder, created on the spot.
  std::string Folder(const std::string& name) const;

 private:
  std::string path_;
};

// Sets an environment variable for the life of the object, then removes it.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
};

bool FileExists(const std::string& path);
// Size of the file as seen by another reader while it may still be written.
int64_t FileSize(const std::string& path);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
int64_t UnixTimeMs();

std::vector<std::string> SplitTabs(const std::string& line);
// The journal's lines, without their '\n'; a last line without one is an
// error and is returned as "<unterminated>...".
std::vector<std::string> ReadJournal(const std::string& path);

// What a reader makes of a transport stream.
struct StreamReport {
  std::string error;  // empty when the stream is well formed
  std::size_t packets = 0;
  std::size_t patSections = 0;
  std::size_t pmtSections = 0;
  uint16_t pmtPid = 0;
  std::vector<uint16_t> elementaryPids;
  std::map<uint16_t, std::size_t> packetsByPid;
};
StreamReport ReadTransportStream(const std::vector<uint8_t>& bytes);
uint32_t SectionCrc32(const uint8_t* data, std::size_t size);

// The stand-in loaded by its full path, with its entry points resolved.
struct LoadedStandin {
  HMODULE module = nullptr;
  quorvane::ChannelToFreqFn channelToFreq = nullptr;
  quorvane::SaveFileFn saveFile = nullptr;
  quorvane::StopFn stop = nullptr;
  quorvane::UpdateTimeoutFn updateTimeout = nullptr;
  quorvane::ManagerPingFn managerPing = nullptr;
  using ResultFn = int32_t(QUORVANE_STDCALL*)();
  ResultFn managerActivate = nullptr;
  ResultFn sendUdp = nullptr;
};
// Resolves every entry point; false if the module is null or any is missing.
bool ResolveStandin(HMODULE module, LoadedStandin& standin);

// Starts `program` with `directory` as its current directory and waits for
// it; returns its exit code, or -1 if it could not be started or hung.
int RunProgram(const std::string& program, const std::string& directory);

}  // namespace tuner_test
