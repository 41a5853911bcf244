// The stand-in QuorvaneControl.dll, bound beside this program by the real
// binding (stdcall on i686): recordings that live only while kept alive, also
// after the host has released the library. Its channel plan and journal are
// read by every other test here.
#include "tests/e2e/harness.h"
#include "tuner/tuner_binding.h"

namespace e2e {
namespace {

TEST(Standin, RecordsUntilStoppedOrNoLongerKeptAlive) {
  DeleteFileA("journal.txt");  // an earlier run's: the journal only grows
  quorvane::TunerLibrary lib{};
  ASSERT_TRUE(quorvane::BindTunerLibrary(lib));
  SetEnvironmentVariableA("QUORVANE_STANDIN_JOURNAL", "journal.txt");
  uint32_t stopped = 0, quiet = 0, kept = 0;
  lib.saveFile(557143, 0, 1, 5, "stopped.ts2", &stopped);
  // Generous: a loaded machine's late 100 ms sleeps must not let one lapse.
  SetEnvironmentVariableA("QUORVANE_STANDIN_KEEPALIVE_MS", "1500");
  lib.saveFile(473143, 0, 1, 5, "quiet.ts2", &quiet);
  lib.saveFile(767143, 0, 1, 5, "kept.ts2", &kept);
  size_t recorded = 0;
  const std::string autostop = "\t#autostop\t" + std::to_string(quiet) + "\n";
  for (int i = 0; i < 100 && (i < 30 || ReadAll("journal.txt").find(autostop) == std::string::npos);
       ++i, Sleep(100)) {
    if (i == 5) recorded = lib.stop(stopped) == 1 ? ReadAll("stopped.ts2").size() : 0;
    EXPECT_EQ(lib.updateTimeout(kept), 1) << i;  // kept alive
  }
  EXPECT_GT(recorded, 0u) << "not stopped, or nothing recorded";
  EXPECT_EQ(ReadAll("stopped.ts2").size(), recorded) << "written after the stop";
  EXPECT_EQ(lib.stop(stopped), 0);
  EXPECT_EQ(lib.updateTimeout(quiet), 0) << "not stopped when no longer kept alive";
  quorvane::ReleaseTunerLibrary(lib);
  EXPECT_NE(GetModuleHandleA("QuorvaneControl.dll"), nullptr) << "unloaded while recording";
  // The last recording's thread lets the library go once its keep-alive lapses.
  for (int i = 0; i < 400 && GetModuleHandleA("QuorvaneControl.dll") != nullptr; ++i) Sleep(20);
  EXPECT_EQ(GetModuleHandleA("QuorvaneControl.dll"), nullptr);
}

}  // namespace
}  // namespace e2e
