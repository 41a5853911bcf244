// The stand-in QuorvaneControl.dll, bound beside this program by the real
// binding: every entry point with its arguments in order, and recordings that
// live only while kept alive, also after the host has released the library.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "tuner/tuner_binding.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Works in a folder of this process's own, with a fresh copy bound.
class Standin : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_);
    fs::current_path(dir_);
    SetEnvironmentVariableA("QUORVANE_STANDIN_JOURNAL", "journal.txt");
    ASSERT_TRUE(quorvane::BindTunerLibrary(lib));
  }
  void TearDown() override {
    quorvane::ReleaseTunerLibrary(lib);
    std::error_code ignored;
    fs::current_path(dir_.parent_path(), ignored);
    fs::remove_all(dir_, ignored);
  }
  uint32_t Start(const char* name) {
    uint32_t handle = 0;
    lib.saveFile(557143, 0, 1, 5, name, &handle);
    return handle;
  }
  bool Autostopped(uint32_t handle) {
    return Read("journal.txt").find("\t#autostop\t" + std::to_string(handle) + "\n") !=
           std::string::npos;
  }

  const fs::path dir_ =
      fs::temp_directory_path() / ("tuner-" + std::to_string(GetCurrentProcessId()));
  quorvane::TunerLibrary lib{};
};

TEST_F(Standin, JournalsEveryCallWithItsArgumentsAndRefusesOnRequest) {
  lib.managerPing();
  lib.managerActivate();
  lib.sendUdp();
  // UHF 13-62, cable 13-63; anything else has no carrier.
  for (const auto& [channel, catv] : {std::pair<uint16_t, uint32_t>{13, 0},
                                      {62, 0},
                                      {63, 0},
                                      {12, 0},
                                      {13, 1},
                                      {63, 1},
                                      {64, 1},
                                      {27, 2}})
    lib.channelToFreq(channel, catv);
  const uint32_t handle = Start("\x83\x65\x83\x58\x83\x67.ts2");  // テスト.ts2
  lib.updateTimeout(handle);
  SetEnvironmentVariableA("QUORVANE_STANDIN_REFUSE", " ping , stop");
  lib.managerPing();
  lib.stop(handle);
  SetEnvironmentVariableA("QUORVANE_STANDIN_REFUSE", "start");
  lib.stop(handle);
  lib.stop(handle);
  Start("refused.ts2");
  SetEnvironmentVariableA("QUORVANE_STANDIN_DIRTY_REFUSAL", "1");
  Start("refused.ts2");
  SetEnvironmentVariableA("QUORVANE_STANDIN_REFUSE", nullptr);
  SetEnvironmentVariableA("QUORVANE_STANDIN_DIRTY_REFUSAL", nullptr);
  EXPECT_FALSE(fs::exists("refused.ts2"));
  EXPECT_EQ(std::regex_replace(Read("journal.txt"), std::regex("(^|\n)[0-9]{13}\t"), "$1"),
            "Quorvane_ManagerPing\t=1\nQuorvane_ManagerActivate\t=1\nQuorvane_SendUDP\t=0\n"
            "Quorvane_ChannelToFreq\t13\t0\t=473143\nQuorvane_ChannelToFreq\t62\t0\t=767143\n"
            "Quorvane_ChannelToFreq\t63\t0\t=0\nQuorvane_ChannelToFreq\t12\t0\t=0\n"
            "Quorvane_ChannelToFreq\t13\t1\t=111143\nQuorvane_ChannelToFreq\t63\t1\t=465143\n"
            "Quorvane_ChannelToFreq\t64\t1\t=0\nQuorvane_ChannelToFreq\t27\t2\t=0\n"
            "Quorvane_SaveFile\t557143\t0\t1\t5\t\x83\x65\x83\x58\x83\x67.ts2\t=1\thandle=1\n"
            "Quorvane_UpdateTimeout\t1\t=1\nQuorvane_ManagerPing\t=0\nQuorvane_Stop\t1\t=0\n"
            "Quorvane_Stop\t1\t=1\nQuorvane_Stop\t1\t=0\n"
            "Quorvane_SaveFile\t557143\t0\t1\t5\trefused.ts2\t=0\thandle=0\n"
            "Quorvane_SaveFile\t557143\t0\t1\t5\trefused.ts2\t=0\thandle=3735928559\n");
}

// One recording stopped by the host, one left to its watchdog, and one kept
// alive that holds the library, released by the host, until its watchdog fires.
TEST_F(Standin, RecordsUntilStoppedOrNoLongerKeptAlive) {
  const uint32_t stopped = Start("stopped.ts2");
  // Generous: a loaded machine's late 100 ms sleeps must not let one lapse.
  SetEnvironmentVariableA("QUORVANE_STANDIN_KEEPALIVE_MS", "1500");
  const uint32_t quiet = Start("quiet.ts2"), kept = Start("kept.ts2");
  SetEnvironmentVariableA("QUORVANE_STANDIN_KEEPALIVE_MS", nullptr);
  size_t recorded = 0;
  for (int i = 0; i < 100 && (i < 30 || !Autostopped(quiet)); ++i) {
    if (i == 5) {
      EXPECT_EQ(lib.stop(stopped), 1);
      recorded = Read("stopped.ts2").size();
    }
    EXPECT_EQ(lib.updateTimeout(kept), 1) << i;
    Sleep(100);
  }
  EXPECT_GT(recorded, 0u);
  EXPECT_EQ(Read("stopped.ts2").size(), recorded) << "written after the stop";
  EXPECT_EQ(lib.stop(stopped), 0);
  EXPECT_TRUE(Autostopped(quiet) && !Autostopped(kept));
  EXPECT_EQ(lib.updateTimeout(quiet), 0);
  quorvane::ReleaseTunerLibrary(lib);
  EXPECT_NE(GetModuleHandleA("QuorvaneControl.dll"), nullptr);
  for (int i = 0; i < 400 && GetModuleHandleA("QuorvaneControl.dll") != nullptr; ++i) Sleep(20);
  EXPECT_EQ(GetModuleHandleA("QuorvaneControl.dll"), nullptr);
  EXPECT_TRUE(Autostopped(kept));
}

}  // namespace
