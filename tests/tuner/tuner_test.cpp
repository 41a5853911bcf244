// The stand-in QuorvaneControl.dll, bound beside this program the way the
// scheduler binds it, and BindTunerLibrary run by a probe in laid-out folders.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>

#include "tuner/tuner_binding.h"

namespace {

namespace fs = std::filesystem;

// A fresh folder under %TEMP%, the current directory until it is removed.
struct Scratch {
  Scratch() {
    fs::create_directories(dir);
    fs::current_path(dir);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::current_path(dir.parent_path(), ignored);
    fs::remove_all(dir, ignored);
  }
  const fs::path dir =
      fs::temp_directory_path() / ("quorvane-tuner-" + std::to_string(GetCurrentProcessId()));
};

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The journal with each time replaced by "T" if it is in ms within [from, to], never going back.
std::string Untimed(const std::string& journal, int64_t from, int64_t to) {
  std::istringstream lines(journal);
  std::string out, stamp, rest;
  while (std::getline(lines, stamp, '\t') && std::getline(lines, rest)) {
    const int64_t ms = std::atoll(stamp.c_str());
    const bool good = std::to_string(ms) == stamp && ms >= std::exchange(from, ms) && ms <= to;
    out += (good ? "T\t" : stamp + "\t") + rest + "\n";
  }
  return journal.empty() || journal.back() == '\n' ? out : out + "<unterminated>";
}

// MPEG-2 section CRC, bit by bit; over a section with its CRC it gives 0.
uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t bit = 0; bit < size * 8; ++bit) {
    const uint32_t in = (data[bit / 8] >> (7 - bit % 8)) & 1u;
    crc = (crc >> 31) != in ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

// "" for a well-formed stream, else what is wrong.
std::string StreamError(const std::string& ts) {
  if (ts.empty() || ts.size() % 188 != 0) return "size " + std::to_string(ts.size());
  std::map<int, int> nextCounter, tables;
  for (size_t at = 0; at < ts.size(); at += 188) {
    const auto* p = reinterpret_cast<const uint8_t*>(ts.data() + at);
    const int pid = (p[1] & 0x1F) << 8 | p[2], counter = p[3] & 0x0F, payload = p[3] >> 4 & 1;
    // PAT and PMT each start a packet of their own, after a zero pointer field.
    const bool table = (pid == 0 || pid == 0x100) && (p[1] & 0x40) != 0;
    const size_t size = 3u + ((p[6] & 0x0Fu) << 8 | p[7]);
    if (p[0] != 0x47 || (nextCounter.count(pid) && nextCounter[pid] != counter) ||
        (table && (p[4] != 0 || size > 183 || Crc32(p + 5, size) != 0))) {
      return "bad packet " + std::to_string(at / 188) + " on PID " + std::to_string(pid);
    }
    nextCounter[pid] = (counter + payload) & 0x0F;
    tables[pid] += table;
  }
  // One of each every 100 ms: at least 8 in a recording of 1.5 s.
  return tables[0] >= 8 && tables[0x100] >= 8 ? "" : "too few tables";
}

// Each test binds a fresh copy (handles count from 1) and works in a scratch folder.
class StandinTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(quorvane::BindTunerLibrary(lib_)); }
  void TearDown() override {
    quorvane::ReleaseTunerLibrary(lib_);
    for (const std::string name : {"JOURNAL", "REFUSE", "DIRTY_REFUSAL", "KEEPALIVE_MS"})
      SetEnvironmentVariableA(("QUORVANE_STANDIN_" + name).c_str(), nullptr);
  }
  uint32_t Start(const char* path, int32_t result = 1) {
    uint32_t handle = 0;
    EXPECT_EQ(lib_.saveFile(557143, 0, 1, 5, path, &handle), result) << path;
    return handle;
  }

  Scratch scratch_;
  quorvane::TunerLibrary lib_{};
};

TEST_F(StandinTest, ChannelToFreqGivesCarriersInKHz) {
  const std::tuple<uint16_t, uint32_t, uint32_t> kCases[] = {
      {13, 0, 473143}, {27, 0, 557143}, {62, 0, 767143}, {13, 1, 111143}, {40, 1, 327143},
      {12, 0, 0},      {63, 0, 0},      {64, 1, 0},      {27, 2, 0}};
  for (const auto& [channel, catv, kHz] : kCases)
    EXPECT_EQ(lib_.channelToFreq(channel, catv), kHz) << channel << "/" << catv;
}

// One recording the host stops after 1.5 s, one left to its watchdog, and one
// kept alive that holds the library freed by the host until its watchdog fires.
TEST_F(StandinTest, RecordsUntilStoppedOrNoLongerKeptAlive) {
  SetEnvironmentVariableA("QUORVANE_STANDIN_JOURNAL", "journal.txt");
  const uint32_t stopped = Start("stopped.ts2");
  // Generous: a loaded machine's late 100 ms sleeps must not let one lapse.
  SetEnvironmentVariableA("QUORVANE_STANDIN_KEEPALIVE_MS", "1500");
  const uint32_t quiet = Start("quiet.ts2"), kept = Start("kept.ts2");
  const auto autostopped = [](uint32_t handle) {
    const std::string line = "\t#autostop\t" + std::to_string(handle) + "\n";
    return Read("journal.txt").find(line) != std::string::npos;
  };
  std::string recorded;
  for (int i = 0; i < 100 && (i < 30 || !autostopped(quiet)); ++i) {
    if (i == 15) {
      EXPECT_EQ(lib_.stop(stopped), 1);
      recorded = Read("stopped.ts2");
    }
    EXPECT_EQ(lib_.updateTimeout(kept), 1) << i;
    Sleep(100);
  }
  EXPECT_EQ(Read("stopped.ts2").size(), recorded.size()) << "written after the stop";
  EXPECT_EQ(lib_.stop(stopped), 0);
  EXPECT_EQ(StreamError(recorded), "");
  EXPECT_TRUE(autostopped(quiet));
  EXPECT_FALSE(autostopped(kept));
  EXPECT_EQ(lib_.updateTimeout(quiet), 0);
  EXPECT_EQ(StreamError(Read("quiet.ts2")), "");

  quorvane::ReleaseTunerLibrary(lib_);
  EXPECT_NE(GetModuleHandleA("QuorvaneControl.dll"), nullptr);
  for (int i = 0; i < 400 && GetModuleHandleA("QuorvaneControl.dll") != nullptr; ++i) Sleep(20);
  EXPECT_EQ(GetModuleHandleA("QuorvaneControl.dll"), nullptr);
  EXPECT_TRUE(autostopped(kept));
}

TEST_F(StandinTest, JournalsEveryCallAndRefusesOnRequest) {
  const int64_t before = std::time(nullptr) * int64_t{1000};
  SetEnvironmentVariableA("QUORVANE_STANDIN_JOURNAL", "journal.txt");
  lib_.managerPing();
  lib_.channelToFreq(40, 1);
  const uint32_t handle = Start("recording.ts2");
  lib_.updateTimeout(handle);
  SetEnvironmentVariableA("QUORVANE_STANDIN_REFUSE", " ping , stop");
  lib_.managerPing();
  lib_.stop(handle);
  SetEnvironmentVariableA("QUORVANE_STANDIN_REFUSE", "start");
  lib_.stop(handle);
  lib_.stop(handle);
  lib_.managerActivate();
  lib_.sendUdp();
  // "テスト.ts2" in code page 932, journalled as the bytes passed.
  EXPECT_EQ(Start("\x83\x65\x83\x58\x83\x67.ts2", 0), 0u);
  SetEnvironmentVariableA("QUORVANE_STANDIN_DIRTY_REFUSAL", "1");
  EXPECT_EQ(Start("refused.ts2", 0), 0xDEADBEEFu);
  EXPECT_FALSE(fs::exists("refused.ts2"));
  EXPECT_EQ(Untimed(Read("journal.txt"), before, (std::time(nullptr) + 1) * int64_t{1000}),
            "T\tQuorvane_ManagerPing\t=1\n"
            "T\tQuorvane_ChannelToFreq\t40\t1\t=327143\n"
            "T\tQuorvane_SaveFile\t557143\t0\t1\t5\trecording.ts2\t=1\thandle=1\n"
            "T\tQuorvane_UpdateTimeout\t1\t=1\n"
            "T\tQuorvane_ManagerPing\t=0\n"
            "T\tQuorvane_Stop\t1\t=0\n"
            "T\tQuorvane_Stop\t1\t=1\n"
            "T\tQuorvane_Stop\t1\t=0\n"
            "T\tQuorvane_ManagerActivate\t=1\n"
            "T\tQuorvane_SendUDP\t=0\n"
            "T\tQuorvane_SaveFile\t557143\t0\t1\t5\t\x83\x65\x83\x58\x83\x67.ts2\t=0\thandle=0\n"
            "T\tQuorvane_SaveFile\t557143\t0\t1\t5\trefused.ts2\t=0\thandle=3735928559\n");
}

// The probe binds by bare name from app\ with work\ as its current directory;
// it exits 0 when bound and working, 1 when not bound.
TEST(TunerBinding, BindsOnlyAFullLibraryBesideTheProgram) {
  const std::tuple<const char*, const char*, int> kCases[] = {
      {QUORVANE_TEST_STANDIN, "app", 0},
      {QUORVANE_TEST_STANDIN_LACKING, "app", 1},
      {nullptr, "app", 1},
      {QUORVANE_TEST_STANDIN, "work", 1}};
  for (const auto& [library, folder, exitCode] : kCases) {
    Scratch scratch;
    for (const char* made : {"app", "work"}) fs::create_directory(made);
    fs::copy_file(QUORVANE_TEST_BIND_PROBE, "app\\bind_probe.exe");
    if (library) fs::copy_file(library, std::string(folder) + "\\QuorvaneControl.dll");
    fs::current_path("work");
    EXPECT_EQ(_spawnl(_P_WAIT, "..\\app\\bind_probe.exe", "bind_probe.exe", nullptr), exitCode)
        << (library ? library : "no library") << " in " << folder;
  }
}

}  // namespace
