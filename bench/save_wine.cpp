// Times the schedule save of 10,000 lines through the program's own Win32
// file calls, the way it was (one WriteFile per line and one per CR LF) and
// the way it is (lines gathered into blocks), in one run, alternately.
//   save_wine [LINES [ROUNDS]]    (writes save-bench.ini in the current folder)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "bench/bench_world.h"
#include "core/schedule_file.h"
#include "ui/application.h"
#include "ui/win32_surroundings.h"

namespace {

using namespace quorvane;

// Win32Files, counting the writes and timing the flush.
struct CountingFiles final : Files {
  Win32Files real;
  int writes = 0;
  double flushMs = 0;
  FileHandle OpenForReading(const char* path) override { return real.OpenForReading(path); }
  FileHandle CreateAnew(const char* path) override { return real.CreateAnew(path); }
  int32_t Read(FileHandle file, std::span<char> buffer) override { return real.Read(file, buffer); }
  void MoveBack(FileHandle file, int32_t distance) override { real.MoveBack(file, distance); }
  bool Write(FileHandle file, std::span<const char> bytes) override {
    ++writes;
    return real.Write(file, bytes);
  }
  bool Flush(FileHandle file) override {
    const double start = NowMs();
    const bool flushed = real.Flush(file);
    flushMs += NowMs() - start;
    return flushed;
  }
  void Close(FileHandle file) override { real.Close(file); }
  bool Replace(const char* from, const char* to) override { return real.Replace(from, to); }
  void Remove(const char* path) override { real.Remove(path); }
  bool FreeSpace(const char* folder, uint64_t& bytes) override {
    return real.FreeSpace(folder, bytes);
  }

  static double NowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
  }
};

// The save as it was before the lines were gathered into blocks.
bool SaveLineByLine(ScheduleList& list, Files& files, const char* path) {
  char pendingPath[kTextCapacity];
  std::snprintf(pendingPath, sizeof pendingPath, "%s.new", path);
  const FileHandle file = files.CreateAnew(pendingPath);
  if (file == kNoFile) return false;
  bool written = true;
  char line[kTextCapacity];
  const int32_t count = list.Count();
  for (int32_t i = 0; i < count && written; ++i) {
    list.GetLine(i, line);
    written = files.Write(file, std::span<const char>(line, std::strlen(line))) &&
              files.Write(file, std::span<const char>("\r\n", 2));
  }
  written = written && files.Flush(file);
  files.Close(file);
  if (written && files.Replace(pendingPath, path)) return true;
  files.Remove(pendingPath);
  return false;
}

struct Way {
  const char* name;
  bool (*save)(ScheduleList&, Files&, const char*);
  std::vector<double> ms, flushMs;
  int writes = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
  const char* path = "save-bench.ini";
  bench::World list;
  list.Fill(lines, 0);
  std::string expected;
  for (const std::string& line : list.lines) expected += line + "\r\n";

  Way ways[] = {{"line by line", SaveLineByLine, {}, {}}, {"in blocks", SaveScheduleFile, {}, {}}};
  for (int round = 0; round < rounds; ++round) {
    for (Way& way : ways) {
      CountingFiles files;
      const double start = CountingFiles::NowMs();
      const bool saved = way.save(list, files, path);
      way.ms.push_back(CountingFiles::NowMs() - start);
      way.flushMs.push_back(files.flushMs);
      way.writes = files.writes;
      std::ostringstream bytes;
      bytes << std::ifstream(path, std::ios::binary).rdbuf();
      if (!saved || bytes.str() != expected) {
        std::fprintf(stderr, "save_wine: %s did not save the list\n", way.name);
        return 1;
      }
    }
  }
  DeleteFileA(path);
  std::printf("save of %d lines (%zu bytes), %d rounds each, %d-bit, median (min) ms:\n", lines,
              expected.size(), rounds, static_cast<int>(sizeof(void*) * 8));
  for (const Way& way : ways) {
    std::printf("  %-12s %9.2f (%8.2f) ms, of which flush %6.2f ms; %6d WriteFile calls\n",
                way.name, bench::Median(way.ms), *std::min_element(way.ms.begin(), way.ms.end()),
                bench::Median(way.flushMs), way.writes);
  }
  return 0;
}
