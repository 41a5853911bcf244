// Binds by bare name from this program's folder and a current directory the
// test chose. Exit code: 0 bound and working, 1 not bound, 2 bound but not
// working, 3 fields left set by a failed binding or the release.
#include <cstring>

#include "tuner/tuner_binding.h"

int main() {
  const quorvane::TunerLibrary none{};
  quorvane::TunerLibrary library{};
  library.module = &library;  // must be cleared whatever happens
  if (!quorvane::BindTunerLibrary(library))
    return std::memcmp(&library, &none, sizeof none) ? 3 : 1;
  const bool works = library.managerPing() == 1 && library.channelToFreq(27, 0) == 557143 &&
                     library.stop(12345) == 0;
  quorvane::ReleaseTunerLibrary(library);
  return std::memcmp(&library, &none, sizeof none) ? 3 : (works ? 0 : 2);
}
