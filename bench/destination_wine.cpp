// Times what a start or an Add gains: the destination check, once through
// the program's own Win32Files (GetDiskFreeSpaceExA alone) and once as the
// core makes it (the file name, its folder, the call and the need), on the
// local disk of the current folder.
//   destination_wine [CALLS [ROUNDS]]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench_world.h"
#include "core/destination.h"
#include "ui/application.h"
#include "ui/win32_surroundings.h"

namespace {

using namespace quorvane;

double NowUs() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
  bench::World world;
  Win32Files files;
  const Surroundings real{world,   world, world, world, files, AnsiNextChar, bench::World::kTuner,
                          "s.ini", world, world, world};
  char folder[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, folder);
  std::string absolute = bench::EntryLine(2029, 0);
  absolute = absolute.substr(0, absolute.rfind('\t') + 1) + folder + "\\rec.ts2";
  struct Way {
    const char* name;
    void (*run)(const Surroundings&, const std::string&);
    const std::string line;
    std::vector<double> us;
  } ways[] = {
      {"FreeSpace(.\\)",
       [](const Surroundings& w, const std::string&) {
         uint64_t bytes = 0;
         if (!w.files.FreeSpace(".\\", bytes)) std::abort();
       },
       "",
       {}},
      {"check, bare name",
       [](const Surroundings& w, const std::string& l) { CheckDestination(w, l); },
       bench::EntryLine(2029, 0),
       {}},
      {"check, full path",
       [](const Surroundings& w, const std::string& l) { CheckDestination(w, l); },
       absolute,
       {}},
  };
  for (int round = 0; round < rounds; ++round) {
    for (Way& way : ways) {
      const double start = NowUs();
      for (int i = 0; i < calls; ++i) way.run(real, way.line);
      way.us.push_back((NowUs() - start) / calls);
    }
  }
  if (!world.pane.empty()) {
    std::fprintf(stderr, "destination_wine: the check logged: %s\n", world.pane.c_str());
    return 1;
  }
  std::printf("destination check, %d calls x %d rounds, %d-bit, median (min) us a call:\n", calls,
              rounds, static_cast<int>(sizeof(void*) * 8));
  for (const Way& way : ways) {
    std::printf("  %-18s %8.1f (%7.1f) us\n", way.name, bench::Median(way.us),
                *std::min_element(way.us.begin(), way.us.end()));
  }
  return 0;
}
