// Binds the tuner maker's control library at start-up and lets it go at the
// end. Binding is all or nothing: a library lacking any of the seven entry
// points is not used at all.
#pragma once

#include "core/tuner_library.h"

namespace quorvane {

// Loads QuorvaneControl.dll from the application directory, the system
// directories or PATH (never the current directory) and resolves the seven
// entry points. On failure nothing stays loaded and `library` is all null.
bool BindTunerLibrary(TunerLibrary& library);

// Frees the library bound by BindTunerLibrary and clears `library`; harmless
// when nothing is bound.
void ReleaseTunerLibrary(TunerLibrary& library);

}  // namespace quorvane
