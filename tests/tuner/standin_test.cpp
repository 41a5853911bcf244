// The stand-in QuorvaneControl.dll, loaded by its full path and called the way
// the scheduler calls it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/tuner/tuner_test_support.h"

namespace {

using tuner_test::FileExists;
using tuner_test::FileSize;
using tuner_test::LoadedStandin;
using tuner_test::ReadJournal;
using tuner_test::ReadTransportStream;
using tuner_test::ScopedEnvironment;
using tuner_test::ScratchFolder;
using tuner_test::SplitTabs;
using tuner_test::StandinPath;

constexpr uint32_t kChannel27 = 557143;

bool WaitFor(int timeoutMs, const auto& condition) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  while (!condition()) {
    if (GetTickCount64() >= deadline) {
      return false;
    }
    Sleep(20);
  }
  return true;
}

class StandinTest : public testing::Test {
 protected:
  void SetUp() override {
    // Every test starts with a fresh copy of the library: handles count from 1.
    ASSERT_EQ(GetModuleHandleA(StandinPath().c_str()), nullptr) << "an earlier test left it loaded";
    module_ = LoadLibraryA(StandinPath().c_str());
    ASSERT_NE(module_, nullptr) << StandinPath() << " error " << GetLastError();
    ASSERT_TRUE(tuner_test::ResolveStandin(module_, lib_));
  }

  void TearDown() override {
    if (module_ != nullptr) {
      FreeLibrary(module_);
    }
  }

  // Starts a recording of channel 27 into `path`; returns the handle or 0.
  uint32_t Start(const std::string& path, int32_t expectedResult = 1) {
    uint32_t handle = 0;
    EXPECT_EQ(lib_.saveFile(kChannel27, 0, 1, 5, path.c_str(), &handle), expectedResult);
    return handle;
  }

  HMODULE module_ = nullptr;
  LoadedStandin lib_;
  ScratchFolder scratch_;
};

TEST(StandinExports, FullLibraryHasAllSevenEntryPoints) {
  HMODULE module = LoadLibraryA(StandinPath().c_str());
  ASSERT_NE(module, nullptr);
  for (const char* name : quorvane::kTunerEntryNames) {
    EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
  }
  FreeLibrary(module);
}

TEST(StandinExports, LackingVariantMissesOnlySendUdp) {
  HMODULE module = LoadLibraryA(tuner_test::LackingStandinPath().c_str());
  ASSERT_NE(module, nullptr) << tuner_test::LackingStandinPath();
  for (const char* name : quorvane::kTunerEntryNames) {
    if (std::string(name) == "Quorvane_SendUDP") {
      EXPECT_EQ(GetProcAddress(module, name), nullptr) << name;
    } else {
      EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
    }
  }
  FreeLibrary(module);
}

TEST_F(StandinTest, ChannelToFreqGivesCarrierFrequenciesInKHz) {
  EXPECT_EQ(lib_.channelToFreq(13, 0), 473143u);
  EXPECT_EQ(lib_.channelToFreq(27, 0), kChannel27);
  EXPECT_EQ(lib_.channelToFreq(62, 0), 767143u);
  EXPECT_EQ(lib_.channelToFreq(13, 1), 111143u);
  EXPECT_EQ(lib_.channelToFreq(22, 1), 165143u);
  EXPECT_EQ(lib_.channelToFreq(23, 1), 225143u);
  EXPECT_EQ(lib_.channelToFreq(40, 1), 327143u);
  EXPECT_EQ(lib_.channelToFreq(63, 1), 465143u);
}

TEST_F(StandinTest, ChannelToFreqRefusesUnknownChannels) {
  EXPECT_EQ(lib_.channelToFreq(0, 0), 0u);
  EXPECT_EQ(lib_.channelToFreq(12, 0), 0u);
  EXPECT_EQ(lib_.channelToFreq(63, 0), 0u);
  EXPECT_EQ(lib_.channelToFreq(12, 1), 0u);
  EXPECT_EQ(lib_.channelToFreq(64, 1), 0u);
  EXPECT_EQ(lib_.channelToFreq(27, 2), 0u);
  // Only the low 16 bits of the slot are the channel.
  EXPECT_EQ(lib_.channelToFreq(static_cast<uint16_t>(65536 + 27), 0), kChannel27);
}

TEST_F(StandinTest, ManagerIsPresentAndUncalledEntriesAreHarmless) {
  EXPECT_EQ(lib_.managerPing(), 1);
  EXPECT_EQ(lib_.managerActivate(), 1);
  EXPECT_EQ(lib_.sendUdp(), 0);
}

TEST_F(StandinTest, RecordingWritesAValidTransportStream) {
  const std::string path = scratch_.File("recording.ts2");
  const uint32_t handle = Start(path);
  EXPECT_EQ(handle, 1u);
  ASSERT_TRUE(WaitFor(2000, [&] { return FileSize(path) > 0; }));
  Sleep(500);
  const int64_t early = FileSize(path);
  Sleep(1000);
  const int64_t later = FileSize(path);
  EXPECT_GT(later, early) << "the file grows while recording";
  EXPECT_LE(later, 100 * 1024 * 2) << "a modest rate";

  EXPECT_EQ(lib_.updateTimeout(handle), 1);
  EXPECT_EQ(lib_.stop(handle), 1);
  const int64_t stopped = FileSize(path);
  Sleep(400);
  EXPECT_EQ(FileSize(path), stopped) << "nothing is written after the stop";
  EXPECT_EQ(lib_.updateTimeout(handle), 0);
  EXPECT_EQ(lib_.stop(handle), 0) << "a stopped handle is no longer known";

  const std::vector<uint8_t> bytes = tuner_test::ReadFileBytes(path);
  ASSERT_EQ(static_cast<int64_t>(bytes.size()), stopped);
  const tuner_test::StreamReport report = ReadTransportStream(bytes);
  ASSERT_EQ(report.error, "");
  EXPECT_EQ(report.packets * 188, bytes.size());
  // Tables are repeated about every 100 ms.
  EXPECT_GE(report.patSections, 8u);
  EXPECT_GE(report.pmtSections, 8u);
  EXPECT_EQ(report.pmtPid, 0x100);
  ASSERT_EQ(report.elementaryPids.size(), 1u);
  const uint16_t dataPid = report.elementaryPids[0];
  ASSERT_TRUE(report.packetsByPid.count(dataPid));
  EXPECT_GT(report.packetsByPid.at(dataPid), 16u) << "continuity counters wrap at least once";
}

TEST_F(StandinTest, RelativeNamesLandInTheCurrentDirectory) {
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(scratch_.path().c_str()));
  const uint32_t handle = Start("relative.ts2");
  SetCurrentDirectoryA(previous);
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(lib_.stop(handle), 1);
  EXPECT_GT(FileSize(scratch_.File("relative.ts2")), 0);
}

TEST_F(StandinTest, HandlesCountUpAndStopOnlyItsOwnRecording) {
  const uint32_t first = Start(scratch_.File("a.ts2"));
  const uint32_t second = Start(scratch_.File("b.ts2"));
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(second, 2u);
  EXPECT_EQ(lib_.stop(first), 1);
  EXPECT_EQ(lib_.updateTimeout(first), 0);
  EXPECT_EQ(lib_.updateTimeout(second), 1);
  const int64_t before = FileSize(scratch_.File("b.ts2"));
  EXPECT_TRUE(WaitFor(2000, [&] { return FileSize(scratch_.File("b.ts2")) > before; }));
  EXPECT_EQ(lib_.stop(second), 1);
  EXPECT_EQ(lib_.stop(0), 0);
  EXPECT_EQ(lib_.stop(77), 0);
  EXPECT_EQ(lib_.updateTimeout(77), 0);
  EXPECT_EQ(Start(scratch_.File("c.ts2")), 3u);
  EXPECT_EQ(lib_.stop(3), 1);
}

TEST_F(StandinTest, FailedStartLeavesTheHandleZero) {
  uint32_t handle = 0;
  const std::string missing = scratch_.File("no such folder\\x.ts2");
  EXPECT_EQ(lib_.saveFile(kChannel27, 0, 1, 5, missing.c_str(), &handle), 0);
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(lib_.saveFile(kChannel27, 0, 1, 5, "", &handle), 0);
  EXPECT_EQ(handle, 0u);
  // Arguments out of place, or nothing tuned, record nothing.
  const std::string path = scratch_.File("wrong.ts2");
  EXPECT_EQ(lib_.saveFile(kChannel27, 5, 1, 0, path.c_str(), &handle), 0);
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(lib_.saveFile(0, 0, 1, 5, path.c_str(), &handle), 0);
  EXPECT_EQ(handle, 0u);
  EXPECT_FALSE(FileExists(path));
}

TEST_F(StandinTest, RefusalsByEnvironment) {
  const std::string path = scratch_.File("refused.ts2");
  {
    ScopedEnvironment refuse("QUORVANE_STANDIN_REFUSE", "ping");
    EXPECT_EQ(lib_.managerPing(), 0);
  }
  EXPECT_EQ(lib_.managerPing(), 1);
  {
    ScopedEnvironment refuse("QUORVANE_STANDIN_REFUSE", "start");
    EXPECT_EQ(lib_.managerPing(), 1);
    EXPECT_EQ(Start(path, 0), 0u);
    EXPECT_FALSE(FileExists(path));
    ScopedEnvironment dirty("QUORVANE_STANDIN_DIRTY_REFUSAL", "1");
    EXPECT_EQ(Start(path, 0), 0xDEADBEEFu);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(lib_.updateTimeout(0xDEADBEEFu), 0);
    EXPECT_EQ(lib_.stop(0xDEADBEEFu), 0);
  }
  const uint32_t handle = Start(path);
  ASSERT_NE(handle, 0u);
  {
    ScopedEnvironment refuse("QUORVANE_STANDIN_REFUSE", " ping , stop");
    EXPECT_EQ(lib_.managerPing(), 0);
    EXPECT_EQ(lib_.stop(handle), 0);
    EXPECT_EQ(lib_.updateTimeout(handle), 1) << "a refused stop leaves the recording running";
  }
  {
    ScopedEnvironment refuse("QUORVANE_STANDIN_REFUSE", "stopping,pings");
    EXPECT_EQ(lib_.managerPing(), 1) << "only whole names count";
  }
  EXPECT_EQ(lib_.stop(handle), 1);
}

TEST_F(StandinTest, JournalRecordsEveryCall) {
  const std::string journal = scratch_.File("journal.txt");
  const std::string name = scratch_.File("journal test.ts2");
  // "テスト.ts2" in code page 932, journalled as the bytes passed. Only a
  // refused start gets it: under Wine without the host locale installed, a
  // file name outside ASCII cannot be created at all.
  const std::string japanese = scratch_.File("\x83\x65\x83\x58\x83\x67.ts2");
  const int64_t before = tuner_test::UnixTimeMs();
  uint32_t handle = 0;
  {
    ScopedEnvironment journalPath("QUORVANE_STANDIN_JOURNAL", journal);
    EXPECT_EQ(lib_.managerPing(), 1);
    EXPECT_EQ(lib_.channelToFreq(40, 1), 327143u);
    handle = Start(name);
    EXPECT_EQ(lib_.updateTimeout(handle), 1);
    EXPECT_EQ(lib_.stop(handle), 1);
    EXPECT_EQ(lib_.stop(handle), 0);
    EXPECT_EQ(lib_.managerActivate(), 1);
    EXPECT_EQ(lib_.sendUdp(), 0);
    ScopedEnvironment refuse("QUORVANE_STANDIN_REFUSE", "start");
    ScopedEnvironment dirty("QUORVANE_STANDIN_DIRTY_REFUSAL", "1");
    EXPECT_EQ(Start(japanese, 0), 0xDEADBEEFu);
  }
  EXPECT_EQ(lib_.managerPing(), 1) << "not journalled: the switch is read at every call";
  const int64_t after = tuner_test::UnixTimeMs();
  ASSERT_EQ(handle, 1u);
  EXPECT_TRUE(FileExists(name));

  const std::vector<std::string> lines = ReadJournal(journal);
  const std::vector<std::vector<std::string>> expected = {
      {"Quorvane_ManagerPing", "=1"},
      {"Quorvane_ChannelToFreq", "40", "1", "=327143"},
      {"Quorvane_SaveFile", "557143", "0", "1", "5", name, "=1", "handle=1"},
      {"Quorvane_UpdateTimeout", "1", "=1"},
      {"Quorvane_Stop", "1", "=1"},
      {"Quorvane_Stop", "1", "=0"},
      {"Quorvane_ManagerActivate", "=1"},
      {"Quorvane_SendUDP", "=0"},
      {"Quorvane_SaveFile", "557143", "0", "1", "5", japanese, "=0", "handle=3735928559"},
  };
  ASSERT_EQ(lines.size(), expected.size());
  int64_t previous = before;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::vector<std::string> fields = SplitTabs(lines[i]);
    ASSERT_FALSE(fields.empty());
    const std::string stamp = fields[0];
    ASSERT_FALSE(stamp.empty());
    ASSERT_TRUE(std::all_of(stamp.begin(), stamp.end(), [](char c) {
      return c >= '0' && c <= '9';
    })) << lines[i];
    const int64_t ms = std::stoll(stamp);
    EXPECT_GE(ms, previous) << lines[i];
    EXPECT_LE(ms, after) << lines[i];
    previous = ms;
    fields.erase(fields.begin());
    EXPECT_EQ(fields, expected[i]) << "line " << i << ": " << lines[i];
  }
}

TEST_F(StandinTest, RecordingWithoutKeepAliveStopsByItself) {
  const std::string journal = scratch_.File("journal.txt");
  const std::string quiet = scratch_.File("quiet.ts2");
  const std::string kept = scratch_.File("kept.ts2");
  ScopedEnvironment journalPath("QUORVANE_STANDIN_JOURNAL", journal);
  uint32_t quietHandle = 0;
  uint32_t keptHandle = 0;
  {
    // Wide enough that a loaded machine's late 100 ms sleeps never let the
    // kept recording lapse.
    ScopedEnvironment keepAlive("QUORVANE_STANDIN_KEEPALIVE_MS", "1500");
    quietHandle = Start(quiet);
    keptHandle = Start(kept);
  }
  ASSERT_NE(quietHandle, 0u);
  ASSERT_NE(keptHandle, 0u);
  const std::string autostop = "#autostop\t" + std::to_string(quietHandle);
  const auto autostopped = [&] {
    for (const std::string& line : ReadJournal(journal)) {
      const std::size_t tab = line.find('\t');
      if (tab != std::string::npos && line.substr(tab + 1) == autostop) {
        return true;
      }
    }
    return false;
  };
  // Keep one recording alive every 100 ms, leave the other alone.
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(lib_.updateTimeout(keptHandle), 1) << i;
    Sleep(100);
  }
  EXPECT_TRUE(WaitFor(4000, autostopped));
  const int64_t size = FileSize(quiet);
  EXPECT_GT(size, 0);
  EXPECT_EQ(size % 188, 0);
  Sleep(300);
  EXPECT_EQ(FileSize(quiet), size) << "the file is closed";
  EXPECT_EQ(lib_.updateTimeout(quietHandle), 0);
  EXPECT_EQ(lib_.stop(quietHandle), 0);
  EXPECT_EQ(lib_.updateTimeout(keptHandle), 1);
  EXPECT_EQ(lib_.stop(keptHandle), 1);
  EXPECT_EQ(ReadTransportStream(tuner_test::ReadFileBytes(quiet)).error, "");
}

TEST_F(StandinTest, DefaultKeepAliveIsTenSeconds) {
  ScopedEnvironment keepAlive("QUORVANE_STANDIN_KEEPALIVE_MS", "not a number");
  const uint32_t handle = Start(scratch_.File("long.ts2"));
  Sleep(1500);
  EXPECT_EQ(lib_.updateTimeout(handle), 1);
  EXPECT_EQ(lib_.stop(handle), 1);
}

// Freeing the library with a recording still running must not pull the code
// from under its thread: the recording keeps the library until it ends.
TEST_F(StandinTest, FreeingWhileRecordingKeepsTheLibraryUntilTheRecordingEnds) {
  const std::string journal = scratch_.File("journal.txt");
  const std::string path = scratch_.File("orphan.ts2");
  ScopedEnvironment journalPath("QUORVANE_STANDIN_JOURNAL", journal);
  {
    ScopedEnvironment keepAlive("QUORVANE_STANDIN_KEEPALIVE_MS", "600");
    ASSERT_NE(Start(path), 0u);
  }
  FreeLibrary(module_);
  module_ = nullptr;
  EXPECT_NE(GetModuleHandleA(StandinPath().c_str()), nullptr);
  const int64_t before = FileSize(path);
  EXPECT_TRUE(WaitFor(2000, [&] { return FileSize(path) > before; }));
  EXPECT_TRUE(WaitFor(3000, [&] { return GetModuleHandleA(StandinPath().c_str()) == nullptr; }));
  const std::vector<std::string> lines = ReadJournal(journal);
  ASSERT_FALSE(lines.empty());
  const std::vector<std::string> last = SplitTabs(lines.back());
  ASSERT_EQ(last.size(), 3u) << lines.back();
  EXPECT_EQ(last[1], "#autostop");
  EXPECT_EQ(last[2], "1");
  EXPECT_EQ(ReadTransportStream(tuner_test::ReadFileBytes(path)).error, "");
}

}  // namespace
