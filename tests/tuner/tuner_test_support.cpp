#include "tests/tuner/tuner_test_support.h"

#include <atomic>

namespace tuner_test {
namespace {

template <typename Fn>
Fn Entry(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") {
        continue;
      }
      const std::string path = folder + "\\" + name;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(path);
      } else {
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

}  // namespace

std::string WindowsPath(const std::string& path) {
  std::string result = path;
  if (!result.empty() && result[0] == '/') {
    result = "Z:" + result;
  }
  for (char& c : result) {
    if (c == '/') {
      c = '\\';
    }
  }
  return result;
}

std::string StandinPath() {
  return WindowsPath(QUORVANE_TEST_STANDIN);
}
std::string LackingStandinPath() {
  return WindowsPath(QUORVANE_TEST_STANDIN_LACKING);
}
std::string BindProbePath() {
  return WindowsPath(QUORVANE_TEST_BIND_PROBE);
}

ScratchFolder::ScratchFolder() {
  static std::atomic<int> serial{0};
  char temp[MAX_PATH];
  const DWORD length = GetTempPathA(MAX_PATH, temp);
  std::string base(temp, length);
  if (!base.empty() && base.back() == '\\') {
    base.pop_back();
  }
  path_ = base + "\\quorvane-tuner-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(serial++);
  RemoveTree(path_);
  CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
  RemoveTree(path_);
}

std::string ScratchFolder::Folder(const std::string& name) const {
  const std::string folder = File(name);
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
  SetEnvironmentVariableA(name, value.c_str());
}

ScopedEnvironment::~ScopedEnvironment() {
  SetEnvironmentVariableA(name_, nullptr);
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int64_t FileSize(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return -1;
  }
  LARGE_INTEGER size{};
  GetFileSizeEx(file, &size);
  CloseHandle(file);
  return size.QuadPart;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return bytes;
  }
  uint8_t chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  CloseHandle(file);
  return bytes;
}

int64_t UnixTimeMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<int64_t>((ticks - 116444736000000000ull) / 10000);
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', begin);
    fields.push_back(
        line.substr(begin, tab == std::string::npos ? std::string::npos : tab - begin));
    if (tab == std::string::npos) {
      return fields;
    }
    begin = tab + 1;
  }
}

std::vector<std::string> ReadJournal(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  std::vector<std::string> lines;
  std::string line;
  for (uint8_t byte : bytes) {
    if (byte == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(static_cast<char>(byte));
    }
  }
  if (!line.empty()) {
    lines.push_back("<unterminated>" + line);
  }
  return lines;
}

uint32_t SectionCrc32(const uint8_t* data, std::size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool in = ((data[i] >> bit) & 1) != 0;
      const bool top = (crc & 0x80000000u) != 0;
      crc <<= 1;
      if (in != top) {
        crc ^= 0x04C11DB7u;
      }
    }
  }
  return crc;
}

namespace {

// A section that starts in this packet's payload (pointer field 0) and fits
// in it, as the stand-in's tables do. Returns the section or an error.
bool ReadSection(const uint8_t* payload, std::size_t size, std::vector<uint8_t>& section,
                 std::string& error) {
  if (size < 4 || payload[0] != 0) {
    error = "section does not start at the payload start";
    return false;
  }
  const std::size_t length = ((payload[2] & 0x0Fu) << 8) | payload[3];
  if (1 + 3 + length > size) {
    error = "section longer than its packet";
    return false;
  }
  section.assign(payload + 1, payload + 1 + 3 + length);
  if ((section[1] & 0x80) == 0) {
    error = "section without syntax indicator";
    return false;
  }
  if (SectionCrc32(section.data(), section.size()) != 0) {
    error = "section CRC mismatch";
    return false;
  }
  return true;
}

}  // namespace

StreamReport ReadTransportStream(const std::vector<uint8_t>& bytes) {
  StreamReport report;
  if (bytes.empty() || bytes.size() % 188 != 0) {
    report.error = "size " + std::to_string(bytes.size()) + " is not a positive multiple of 188";
    return report;
  }
  std::map<uint16_t, int> lastCounter;
  for (std::size_t offset = 0; offset < bytes.size(); offset += 188) {
    const uint8_t* packet = bytes.data() + offset;
    const std::string where = "packet " + std::to_string(offset / 188) + ": ";
    if (packet[0] != 0x47) {
      report.error = where + "no sync byte";
      return report;
    }
    const bool unitStart = (packet[1] & 0x40) != 0;
    const auto pid = static_cast<uint16_t>(((packet[1] & 0x1Fu) << 8) | packet[2]);
    const unsigned control = (packet[3] >> 4) & 0x3u;
    const int counter = packet[3] & 0x0F;
    if (control == 0) {
      report.error = where + "reserved adaptation field control";
      return report;
    }
    std::size_t start = 4;
    if ((control & 0x2u) != 0) {
      start += 1 + packet[4];
      if (start > 188) {
        report.error = where + "adaptation field too long";
        return report;
      }
    }
    if ((control & 0x1u) != 0) {
      const auto last = lastCounter.find(pid);
      if (last != lastCounter.end() && counter != ((last->second + 1) & 0x0F)) {
        report.error = where + "continuity counter of PID " + std::to_string(pid) + " jumps from " +
                       std::to_string(last->second) + " to " + std::to_string(counter);
        return report;
      }
      lastCounter[pid] = counter;
    }
    ++report.packets;
    ++report.packetsByPid[pid];
    const uint8_t* payload = packet + start;
    const std::size_t payloadSize = 188 - start;
    if (!unitStart || (control & 0x1u) == 0) {
      continue;
    }
    std::vector<uint8_t> section;
    if (pid == 0) {
      if (!ReadSection(payload, payloadSize, section, report.error)) {
        report.error = where + "PAT: " + report.error;
        return report;
      }
      // One program: number, then reserved bits and the PMT's PID.
      if (section[0] != 0x00 || section.size() != 8 + 4 + 4) {
        report.error = where + "PAT with an unexpected layout";
        return report;
      }
      report.pmtPid = static_cast<uint16_t>(((section[10] & 0x1Fu) << 8) | section[11]);
      ++report.patSections;
    } else if (report.pmtPid != 0 && pid == report.pmtPid) {
      if (!ReadSection(payload, payloadSize, section, report.error)) {
        report.error = where + "PMT: " + report.error;
        return report;
      }
      if (section[0] != 0x02) {
        report.error = where + "PMT with table id " + std::to_string(section[0]);
        return report;
      }
      const std::size_t infoLength = ((section[10] & 0x0Fu) << 8) | section[11];
      std::size_t entry = 12 + infoLength;
      report.elementaryPids.clear();
      while (entry + 5 <= section.size() - 4) {
        report.elementaryPids.push_back(
            static_cast<uint16_t>(((section[entry + 1] & 0x1Fu) << 8) | section[entry + 2]));
        entry += 5 + (((section[entry + 3] & 0x0Fu) << 8) | section[entry + 4]);
      }
      ++report.pmtSections;
    }
  }
  return report;
}

bool ResolveStandin(HMODULE module, LoadedStandin& standin) {
  if (module == nullptr) {
    return false;
  }
  standin.module = module;
  standin.channelToFreq = Entry<quorvane::ChannelToFreqFn>(module, "Quorvane_ChannelToFreq");
  standin.saveFile = Entry<quorvane::SaveFileFn>(module, "Quorvane_SaveFile");
  standin.stop = Entry<quorvane::StopFn>(module, "Quorvane_Stop");
  standin.updateTimeout = Entry<quorvane::UpdateTimeoutFn>(module, "Quorvane_UpdateTimeout");
  standin.managerPing = Entry<quorvane::ManagerPingFn>(module, "Quorvane_ManagerPing");
  standin.managerActivate = Entry<LoadedStandin::ResultFn>(module, "Quorvane_ManagerActivate");
  standin.sendUdp = Entry<LoadedStandin::ResultFn>(module, "Quorvane_SendUDP");
  return standin.channelToFreq != nullptr && standin.saveFile != nullptr &&
         standin.stop != nullptr && standin.updateTimeout != nullptr &&
         standin.managerPing != nullptr && standin.managerActivate != nullptr &&
         standin.sendUdp != nullptr;
}

int RunProgram(const std::string& program, const std::string& directory) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string commandLine = "\"" + program + "\"";
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      directory.c_str(), &startup, &process)) {
    return -1;
  }
  int code = -1;
  if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) {
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    code = static_cast<int>(exitCode);
  } else {
    TerminateProcess(process.hProcess, 99);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

}  // namespace tuner_test
