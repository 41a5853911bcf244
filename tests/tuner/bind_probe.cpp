// Runs BindTunerLibrary in a process of its own, so that the library search
// starts from this executable's folder and the current directory it is given.
// Exit code: 0 bound and working, 1 not bound (and nothing left behind),
// 2 bound but an entry point misbehaved, 3 a failed binding left fields set.
#include <cstdio>

#include "tuner/tuner_binding.h"

int main() {
  quorvane::TunerLibrary library{};
  library.module = &library;  // must be cleared whatever happens
  if (!quorvane::BindTunerLibrary(library)) {
    const bool clean = library.module == nullptr && library.channelToFreq == nullptr &&
                       library.managerActivate == nullptr && library.saveFile == nullptr &&
                       library.sendUdp == nullptr && library.stop == nullptr &&
                       library.updateTimeout == nullptr && library.managerPing == nullptr;
    std::printf("not bound\n");
    return clean ? 1 : 3;
  }
  const int ping = library.managerPing();
  const unsigned frequency = library.channelToFreq(27, 0);
  const int stop = library.stop(12345);
  std::printf("bound: ping %d, channel 27 at %u kHz, stop unknown %d\n", ping, frequency, stop);
  quorvane::ReleaseTunerLibrary(library);
  if (library.module != nullptr || library.saveFile != nullptr) {
    return 3;
  }
  return ping == 1 && frequency == 557143 && stop == 0 ? 0 : 2;
}
