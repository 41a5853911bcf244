// Faults from outside the program: a flapping tuner manager, a library call
// that runs a nested message loop, the clock jumping, and odd, huge or
// unwritable schedule files.
#include <array>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

const char* const kKeepAlive = "Quorvane_UpdateTimeout";
const Time kLongAgo = {2008, 1, 1, 0, 0, 0};
const Time kFar = {2099, 12, 31, 0, 0, 0};
const std::string kLater = Line({2099, 12, 30, 1, 0, 0}, {2099, 12, 30, 2, 0, 0}, "@13", "l.ts2");

// A message of the program's table, its numbers filled in.
std::string Said(const char8_t* format, int a = 0, int b = 0) {
  char text[256];
  std::snprintf(text, sizeof text, Cp932(format).c_str(), a, b);
  return text;
}
std::string StartedLog(int slot, int channel) {
  return Said(u8"タスク%d(%d,0)を開始しました。", slot, channel);
}
std::string FailedLog(int slot, int channel) {
  return Said(u8"タスク%d(%d,0)を開始できませんでした。", slot, channel);
}
std::string StoppedLog(int slot) {
  return Said(u8"タスク%dを停止しました。", slot);
}
const std::string kNoManager = Cp932(u8"チューナマネージャがみつかりません。");

// The journal of one start of a plain channel: ping, frequency, SaveFile
// (handle 0: refused).
std::vector<std::string> Started(int channel, const std::string& name, int handle) {
  const int khz = channel >= 13 && channel <= 62 ? 473143 + (channel - 13) * 6000 : 0;
  const std::string f = std::to_string(khz);
  return {"Quorvane_ManagerPing\t=1",
          "Quorvane_ChannelToFreq\t" + std::to_string(channel) + "\t0\t=" + f,
          Join({"Quorvane_SaveFile", f, "0\t1\t5", name, handle != 0 ? "=1" : "=0",
                "handle=" + std::to_string(handle)},
               "\t")};
}
std::string Stop(int handle) {
  return "Quorvane_Stop\t" + std::to_string(handle) + "\t=1";
}
// "f" + std::to_string(n) trips GCC 12's -Wrestrict.
std::string Numbered(const char* before, int n, const char* after = "") {
  return std::string(before).append(std::to_string(n)).append(after);
}

bool Journalled(const Session& s, const std::string& text) {
  return s.Read("journal.txt").find(text) != std::string::npos;
}

TEST(Library, FlappingManagerStartsEveryOtherDueEntryAndConsumesTheRest) {
  Session s;
  std::vector<std::string> due;
  for (int channel = 21; channel <= 24; ++channel) {
    due.push_back(Line(kLongAgo, kFar, Numbered("@", channel), Numbered("f", channel, ".ts2")));
  }
  s.Write(kSchedule, CrLf(Cat(due, {kLater})));
  ASSERT_TRUE(s.Start({"QUORVANE_STANDIN_FLAP=ping"}));
  // Visited from the last line (@24) up; the pings answer 1, 0, 1, 0.
  ASSERT_TRUE(WaitUntil([&] { return Journalled(s, "Quorvane_UpdateTimeout\t2"); }, 8000));
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), std::vector<std::string>{kLater});
  EXPECT_EQ(s.Read(kSchedule), kLater + "\r\n");
  EXPECT_EQ(s.Log(), (std::vector<std::string>{kNoManager, StartedLog(1, 22), kNoManager,
                                               StartedLog(0, 24)}));
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);
  EXPECT_EQ(s.Calls(kKeepAlive),
            Cat(Cat(Started(24, "f24.ts2", 1), {"Quorvane_ManagerPing\t=0"}),
                Cat(Started(22, "f22.ts2", 2), {"Quorvane_ManagerPing\t=0", Stop(1), Stop(2)})));
  for (int channel = 21; channel <= 24; ++channel) {
    const std::string name = s.Path(kElsewhere + Numbered("f", channel, ".ts2"));
    EXPECT_EQ(GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES, channel % 2 == 0)
        << name;
  }
}

// The library runs the program's messages for 2.5 s in each SaveFile; the
// ticks meanwhile must be dropped, not run inside the pass.
TEST(Library, TicksDuringASaveFileThatRunsMessagesAreDropped) {
  Session s;
  s.Write(kSchedule, CrLf({kLater}));
  ASSERT_TRUE(s.Start({"QUORVANE_STANDIN_SAVEFILE_MS=2500"}));
  const int64_t startMs = (NowMs() / 1000 + 2) * 1000, endMs = startMs + 7000;
  const std::string a = Line(LocalAt(startMs), LocalAt(endMs), "@27", "a.ts2");
  const std::string b = Line(LocalAt(startMs), LocalAt(endMs), "@28", "b.ts2");
  for (const std::string& line : {a, b}) {
    s.Fill(line);
    s.Click(IDC_ADD);
  }
  ASSERT_TRUE(WaitUntil([&] { return Journalled(s, "#savefile-begin"); }, 8000));
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutA(s.dialog, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &answer), 0)
      << "the blocked SaveFile runs no messages";
  ASSERT_TRUE(
      WaitUntil([&] { return Journalled(s, Stop(2)); }, static_cast<int>(endMs - NowMs()) + 5000));
  EXPECT_EQ(s.Log(), (std::vector<std::string>{StoppedLog(1), StoppedLog(0), StartedLog(1, 27),
                                               StartedLog(0, 28)}));
  EXPECT_EQ(s.Read(kSchedule), kLater + "\r\n");
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);

  // Nothing between a begin and its SaveFile; keep-alives only once both run.
  const std::vector<Call> calls = s.Journal();
  const std::vector<std::string> texts = s.Calls();
  const auto keepAlives = std::count_if(
      texts.begin(), texts.end(), [](const std::string& t) { return t.starts_with(kKeepAlive); });
  EXPECT_GE(keepAlives, 2);
  std::vector<std::string> expected = Cat(Started(28, "b.ts2", 1), Started(27, "a.ts2", 2));
  expected.insert(expected.begin() + 5, "#savefile-begin\ta.ts2");
  expected.insert(expected.begin() + 2, "#savefile-begin\tb.ts2");
  for (int i = 0; i < keepAlives / 2; ++i) {
    expected.insert(expected.end(),
                    {"Quorvane_UpdateTimeout\t1\t=1", "Quorvane_UpdateTimeout\t2\t=1"});
  }
  ASSERT_EQ(texts, Cat(expected, {Stop(1), Stop(2)}));
  EXPECT_GE(calls[0].ms, startMs);
  EXPECT_GE(calls[3].ms - calls[2].ms, 2500);
  EXPECT_GE(calls[7].ms - calls[6].ms, 2500);
  EXPECT_GE(calls.end()[-2].ms, endMs);
  EXPECT_LT(calls.back().ms, endMs + 2000);
}

// A Windows path on drive Z: as a quoted Unix path.
std::string Unix(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return std::string("'").append(path.substr(2)).append("'");
}

// Starts sh on a script, which Wine runs as a Unix program.
bool StartShell(const std::string& script, const std::string& text) {
  std::ofstream(script, std::ios::binary) << text;
  std::string path = Unix(script);  // quoted for the command line instead
  std::string command = "Z:\\bin\\sh \"" + path.substr(1, path.size() - 2) + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION shell{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &shell)) {
    ADD_FAILURE() << "cannot start sh: " << GetLastError();
    return false;
  }
  CloseHandle(shell.hThread);
  CloseHandle(shell.hProcess);
  return true;
}

// Runs shell commands to their end and returns their status.
int Shell(const std::string& commands) {
  const std::string base = "Z:\\tmp\\quorvane-faults-" + std::to_string(GetCurrentProcessId());
  const std::string status = base + ".status";
  DeleteFileA(status.c_str());
  if (!StartShell(base + ".sh", "{\n" + commands + "\n} </dev/null >/dev/null 2>&1\necho $? >" +
                                    Unix(status) + ".new && mv " + Unix(status) + ".new " +
                                    Unix(status) + "\n")) {
    return -1;
  }
  int code = -1;
  WaitUntil([&] { return (std::ifstream(status) >> code).good(); }, 20000);
  DeleteFileA(status.c_str());
  DeleteFileA((base + ".sh").c_str());
  return code;
}

// The program under libfaketime, which adds the seconds in the file "offset"
// to the clock at every call: writing the file jumps the program's clock.
// Wine starts a Windows child from the parent's own Unix environment, so an
// LD_PRELOAD in the child's environment block would not reach it; a shell,
// which Wine starts as a Unix program, starts the loader with it instead.
class FakedClock {
 public:
  explicit FakedClock(Session& s) : s_(s) {}
  ~FakedClock() {
    if (process_ == nullptr) return;
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 5000);
    CloseHandle(process_);
  }
  void Jump(int seconds) const {
    s_.Write("offset", Numbered(seconds < 0 ? "" : "+", seconds, "\n"));
  }
  bool Start() {
    const std::string exe = s_.Path("QuorvaneScheduler.exe");
    if (!CopyFileA(Built("PROGRAM", QUORVANE_E2E_PROGRAM).c_str(), exe.c_str(), FALSE) ||
        !CopyFileA(Built("LIBRARY", QUORVANE_E2E_LIBRARY).c_str(),
                   s_.Path("QuorvaneControl.dll").c_str(), FALSE)) {
      ADD_FAILURE() << "cannot copy the program";
      return false;
    }
    Jump(0);
    // The loader's own architecture: i686 needs libfaketime:i386.
    const char* library = sizeof(void*) == 8 ? "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
                                             : "/usr/lib/i386-linux-gnu/faketime/libfaketime.so.1";
    if (GetFileAttributesA(("Z:" + std::string(library)).c_str()) == INVALID_FILE_ATTRIBUTES) {
      ADD_FAILURE() << library << " is missing";
      return false;
    }
    const auto environment = [](const char* name) {
      char value[1024] = {};
      GetEnvironmentVariableA(name, value, sizeof value);
      return std::string("'") + value + "' ";
    };
    if (!StartShell(s_.Path("run.sh"),
                    "cd " + Unix(s_.Path(kElsewhere)) + " || exit 1\nexec env WINEPREFIX=" +
                        environment("WINEPREFIX") + "DISPLAY=" + environment("DISPLAY") +
                        "LC_ALL=ja_JP.UTF-8 WINEDEBUG=-all NO_FAKE_STAT=1 "
                        "FAKETIME_NO_CACHE=1 FAKETIME_DONT_FAKE_MONOTONIC=1 LD_PRELOAD=" +
                        library + " FAKETIME_TIMESTAMP_FILE=" + Unix(s_.Path("offset")) +
                        " QUORVANE_STANDIN_JOURNAL='" + s_.Path("journal.txt") + "' " +
                        environment("WINELOADER") + Unix(exe) + " </dev/null >/dev/null 2>&1\n")) {
      return false;
    }
    // Ours is the dialog whose process runs our copy of the program.
    const bool up = WaitUntil(
        [&] {
          for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", "Quorvane Scheduler"));) {
            DWORD id = 0;
            GetWindowThreadProcessId(w, &id);
            HANDLE process = OpenProcess(
                PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
            char image[MAX_PATH] = {};
            DWORD size = MAX_PATH;
            if (process != nullptr && QueryFullProcessImageNameA(process, 0, image, &size) &&
                lstrcmpiA(image, exe.c_str()) == 0) {
              if (process_ != nullptr) CloseHandle(process_);
              process_ = process;
              s_.dialog = w;
              return s_.TrayIcon() != FALSE;
            }
            if (process != nullptr) CloseHandle(process);
          }
          return false;
        },
        15000);
    if (!up) ADD_FAILURE() << "no dialog with a tray icon under faketime";
    return up;
  }
  DWORD Exit(int timeoutMs = 5000) const {
    DWORD code = STILL_ACTIVE;
    WaitForSingleObject(process_, static_cast<DWORD>(timeoutMs));
    GetExitCodeProcess(process_, &code);
    return code;
  }

 private:
  Session& s_;
  HANDLE process_ = nullptr;
};

struct Jump {
  const char* name;
  int seconds;
  // Added at T (now, on both clocks): start and end as seconds from T,
  // channel; each records into "<channel>.ts2". The first is due at once.
  std::vector<std::array<int, 3>> entries;
  std::vector<int> left;                // entries still listed at the end
  std::vector<std::string> calls, log;  // the journal without keep-alives
};

// Forward: the running task's end and three starts (two with their ends)
// are passed at once. Backward: the running task is kept alive until the
// clock reaches its end again, and the next start waits for the clock too.
const Jump kJumps[] = {
    {"Forward",
     3600,
     {{-99999, 1800, 27}, {600, 1200, 21}, {900, 7200, 22}, {1500, 2400, 23}, {7200, 7300, 24}},
     {4},
     Cat(Cat(Cat(Started(27, "27.ts2", 1), {Stop(1)}), Started(23, "23.ts2", 2)),
         Cat(Cat(Started(22, "22.ts2", 3), Started(21, "21.ts2", 4)), {Stop(2), Stop(4), Stop(3)})),
     {StoppedLog(2), StoppedLog(0), StartedLog(2, 21), StartedLog(1, 22), StartedLog(0, 23),
      StoppedLog(0), StartedLog(0, 27)}},
    {"Backward",
     -5,
     {{-99999, 4, 27}, {3, 5, 28}, {7200, 7300, 24}},
     {2},
     Cat(Cat(Started(27, "27.ts2", 1), Started(28, "28.ts2", 2)), {Stop(1), Stop(2)}),
     {StoppedLog(1), StoppedLog(0), StartedLog(1, 28), StartedLog(0, 27)}}};

class ClockJump : public ::testing::TestWithParam<Jump> {};
void PrintTo(const Jump& jump, std::ostream* out) {
  *out << jump.name;
}

// The journal's times are the program's clock.
TEST_P(ClockJump, NothingEarlyNothingTwiceEndedTasksStopAtTheNextTick) {
  const Jump& jump = GetParam();
  Session s;
  FakedClock clock(s);
  ASSERT_TRUE(clock.Start());
  const int64_t t = NowMs() / 1000 * 1000;
  std::vector<std::string> lines;
  for (const auto& [start, end, channel] : jump.entries) {
    lines.push_back(Line(LocalAt(t + start * 1000), LocalAt(t + end * 1000), Numbered("@", channel),
                         Numbered("", channel, ".ts2")));
    s.Fill(lines.back());
    s.Click(IDC_ADD);
  }
  ASSERT_TRUE(WaitUntil([&] { return Journalled(s, "Quorvane_SaveFile"); }));
  ASSERT_LT(NowMs(), t + 2500) << "too late to jump before the next start";
  clock.Jump(jump.seconds);
  ASSERT_TRUE(WaitUntil([&] { return s.Log().size() >= jump.log.size(); }, 15000));
  std::vector<std::string> left;
  for (int i : jump.left) left.push_back(lines[static_cast<size_t>(i)]);
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), left);
  EXPECT_EQ(s.Log(), jump.log);
  s.Post(IDC_EXIT);
  EXPECT_EQ(clock.Exit(), 0u);
  EXPECT_EQ(s.Read(kSchedule), CrLf(left));
  EXPECT_EQ(s.Calls(kKeepAlive), jump.calls);

  // The program's clock did jump. Each task starts at or after its start
  // and stops at or after its end, at the latest at the tick after the
  // program's clock has passed both.
  const std::vector<Call> calls = s.Journal();
  bool jumped = false;
  for (size_t i = 1; i < calls.size(); ++i) {
    const int64_t late = calls[i].ms - calls[i - 1].ms - jump.seconds * 1000LL;
    jumped = jumped || (late > -100 && late < 2500);
  }
  EXPECT_TRUE(jumped);
  const auto first = [&](auto from, auto done) { return std::find_if(from, calls.end(), done); };
  for (const auto& [start, end, channel] : jump.entries) {
    const auto saved = first(calls.begin(), [&](const Call& c) {
      return c.text.find(Numbered("\t", channel, ".ts2\t=1")) != std::string::npos;
    });
    const int64_t endMs = t + end * 1000;
    if (saved == calls.end() || endMs > calls.back().ms) continue;  // not started, or not ended
    const std::string handle = saved->text.substr(saved->text.rfind('=') + 1);
    const auto stopped = first(saved, [&](const Call& c) {
      return c.text.starts_with("Quorvane_Stop\t" + handle + "\t");
    });
    const auto reached = first(saved, [&](const Call& c) { return c.ms >= endMs; });
    ASSERT_NE(stopped, calls.end());
    EXPECT_GE(saved->ms, t + start * 1000) << channel;
    EXPECT_GE(stopped->ms, endMs) << channel;
    EXPECT_LT(stopped->ms, reached->ms + 2500) << channel;
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, ClockJump, ::testing::ValuesIn(kJumps),
                         [](const auto& p) { return std::string(p.param.name); });

// The same bytes as schedule file and as channel file: what the line reader
// makes of them (pieces, in file order), what the first pass consumes and
// what the list, the file, the journal and the log hold afterwards.
struct OddFile {
  std::string name, bytes;
  size_t count;                     // pieces read
  std::vector<std::string> pieces;  // empty when the list box recodes them
  std::vector<std::string> kept, calls, log;
};

const std::string kA = Line({2099, 1, 1, 0, 0, 0}, {2099, 1, 1, 1, 0, 0}, "@13", "a.ts2");
const std::string kB = Line({2099, 2, 1, 0, 0, 0}, {2099, 2, 1, 1, 0, 0}, "@14", "b.ts2");
const std::string kC = Line({2099, 3, 1, 0, 0, 0}, {2099, 3, 1, 1, 0, 0}, "@15", "c.ts2");

std::vector<OddFile> OddFiles() {
  // Noise without NUL, CR, LF, TAB, '@' or digits: three pieces (1023, 1023
  // and 954 bytes), each a field 0 that reads as year 0, so due at once, on
  // channel 0, which the stand-in cannot tune.
  std::string noise;
  for (uint32_t x = 1; noise.size() < 3000;) {
    x = x * 1103515245 + 12345;
    const char c = static_cast<char>(x >> 24);
    if (std::string_view("\0\r\n\t@0123456789", 16).find(c) == std::string_view::npos) noise += c;
  }
  const std::vector<std::string> refused = Started(0, "*", 0);
  std::vector<OddFile> files = {{"Executable",
                                 std::string("MZ\x90\0\x03\0\0\0\x04\0\0\0\xff\xff\0\0", 16),
                                 1,
                                 {},
                                 {},
                                 refused,
                                 {FailedLog(0, 0)}},
                                {"Noise",
                                 noise,
                                 3,
                                 {},
                                 {},
                                 Cat(Cat(refused, refused), refused),
                                 std::vector<std::string>(3, FailedLog(0, 0))},
                                // Reading ends at the NUL; the next save loses the rest.
                                {"Nul",
                                 CrLf({kA}) + std::string("20\0", 3) + CrLf({kB}),
                                 2,
                                 {kA, "20"},
                                 {kA},
                                 Started(0, "20.ts2", 0),
                                 {FailedLog(0, 0)}},
                                // CR or LF alone splits nothing; CR LF alone is an empty entry; a
                                // CR at the very end stays in the last line.
                                {"LoneCrOrLf",
                                 kA + "\r" + kB + "\r\n" + kB + "\n" + kC + "\r\n\r\n" + kC + "\r",
                                 4,
                                 {kA + "\r" + kB, kB + "\n" + kC, "", kC + "\r"},
                                 {kA + "\r" + kB, kB + "\n" + kC, kC + "\r"},
                                 Started(0, ".ts2", 0),
                                 {FailedLog(0, 0)}}};
  // Around the 1023 bytes of one read, followed by kC.
  for (size_t n = 1019; n <= 1025; ++n) {
    const std::string line = kA.substr(0, kA.size() - 5) + std::string(n - kA.size() + 5, 'x');
    OddFile file{
        Numbered("Line", static_cast<int>(n)), CrLf({line, kC}), 2, {line, kC}, {line, kC}, {}, {}};
    if (n == 1022) {  // the CR is the read's last byte: the LF starts kC, whose year reads 0
      file.pieces = file.kept = {line + "\r"};
      file.pieces.push_back("\n" + kC);
      file.calls = Cat(Started(15, "c.ts2", 1), {Stop(1)});
      file.log = {StartedLog(0, 15)};
    } else if (n >= 1023) {  // the rest of the line, maybe empty, is an entry of its own
      const std::string rest = line.substr(1023);
      file.pieces = {line.substr(0, 1023), rest, kC};
      file.kept = {file.pieces[0], kC};
      file.calls = Started(0, rest + ".ts2", 0);
      file.log = {FailedLog(0, 0)};
    }
    file.count = file.pieces.size();
    files.push_back(file);
  }
  return files;
}

// The file name of every SaveFile as "*".
std::vector<std::string> WithoutNames(std::vector<std::string> calls) {
  for (std::string& call : calls) {
    std::vector<std::string> fields = Split(call, "\t");
    if (fields[0] == "Quorvane_SaveFile")
      call =
          Join({Join({fields.begin(), fields.begin() + 5}, "\t"), "*", fields[6], fields[7]}, "\t");
  }
  return calls;
}

class Odd : public ::testing::TestWithParam<OddFile> {};
void PrintTo(const OddFile& file, std::ostream* out) {
  *out << file.name;
}

TEST_P(Odd, ReadAsTheLineRuleSaysAndDueEntriesConsumedOnce) {
  const OddFile& f = GetParam();
  Session s;
  s.Write(kSchedule, f.bytes);
  s.Write("CHANNEL.TXT", f.bytes);
  ASSERT_TRUE(s.Start());
  std::vector<std::string> channels = s.Items(IDC_CHANNEL);
  ASSERT_GE(channels.size(), 78u);
  channels.resize(channels.size() - 78);  // the generated ones
  EXPECT_EQ(channels.size(), f.count);
  EXPECT_EQ(channels, f.pieces.empty() ? channels : f.pieces);
  EXPECT_TRUE(WaitUntil([&] { return s.Items(IDC_SCHEDULE_LIST) == f.kept; }));
  EXPECT_EQ(s.Log(), f.log);
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);
  EXPECT_EQ(s.Read(kSchedule), CrLf(f.kept));
  const std::vector<std::string> calls = s.Calls(kKeepAlive);
  EXPECT_EQ(f.pieces.empty() ? WithoutNames(calls) : calls, f.calls);
}

INSTANTIATE_TEST_SUITE_P(Files, Odd, ::testing::ValuesIn(OddFiles()),
                         [](const auto& p) { return p.param.name; });

// Names in the folder, but "." and "..".
std::vector<std::string> Listing(const Session& s) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(s.Path(""))) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A folder that refuses writes, then takes them again: the save fails, 108
// is logged once for all the failing saves (two Adds, the ticks' retries),
// the list and the old file stay, no half-written file is left, and once the
// folder takes writes again a tick saves the list.
struct Unwritable {
  const char* name;
  // Shell commands on the folder: refuse writes, take them again.
  std::string (*refuse)(const std::string& folder);
  std::string (*accept)(const std::string& folder);
};

const Unwritable kUnwritable[] = {
    // Root writes anywhere whatever the mode bits; the immutable flag stops it.
    {"ReadOnlyFolder",
     [](const std::string& f) {
       return "chmod a-w " + f + " && { [ $(id -u) != 0 ] || chattr +i " + f + "; }";
     },
     [](const std::string& f) { return "chattr -i " + f + "; chmod u+w " + f; }},
    // A tmpfs of 64 KB over the folder, after one save there, filled to all
    // but 8 KB: the next save of about 14 KB runs out of room halfway.
    {"FullDisk",
     [](const std::string& f) {
       return "dd if=/dev/zero of=" + f + "/filler bs=4k; truncate -s -8k " + f + "/filler";
     },
     [](const std::string& f) { return "rm " + f + "/filler"; }}};

class Full : public ::testing::TestWithParam<Unwritable> {};
void PrintTo(const Unwritable& folder, std::ostream* out) {
  *out << folder.name;
}

TEST_P(Full, SaveFailsOnceKeepsListAndFileAndCatchesUpWithinTwoTicks) {
  const Unwritable& u = GetParam();
  Session s;
  std::vector<std::string> lines;
  for (int day = 1; day <= 12; ++day) {
    lines.push_back(
        Line({2099, 5, day, 0, 0, 0}, {2099, 5, day, 1, 0, 0}, "@13", std::string(950, 'x')));
  }
  s.Write(kSchedule, CrLf(lines));
  ASSERT_TRUE(s.Start());
  const std::string folder = Unix(s.Path(""));
  struct Undo {
    std::string commands;
    ~Undo() { Shell(commands); }
  } undo{u.accept(folder)};
  if (std::string(u.name) == "FullDisk") {
    if (Shell("mount -t tmpfs -o size=64k tmpfs " + folder) != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here";
    undo.commands = "umount -l " + folder;
    lines.insert(lines.begin(), kA);
    s.Fill(kA);
    s.Click(IDC_ADD);
    ASSERT_EQ(s.Read(kSchedule), CrLf(lines));
  }
  const std::vector<std::string> before = Listing(s);
  Shell(u.refuse(folder));
  if (HANDLE probe = CreateFileA(s.Path("probe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    if (std::string(u.name) != "FullDisk") GTEST_SKIP() << "the folder takes writes all the same";
  }
  const std::string old = s.Read(kSchedule);
  for (const std::string& line : {kB, kC}) {
    s.Fill(line);
    s.Click(IDC_ADD);
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  Sleep(2200);
  EXPECT_EQ(s.Log(),
            std::vector<std::string>{Cp932(u8"スケジュールファイルを保存できませんでした。")});
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), lines);
  EXPECT_EQ(s.Read(kSchedule), old);
  std::vector<std::string> listing = Listing(s);
  listing.erase(std::remove(listing.begin(), listing.end(), "filler"), listing.end());
  EXPECT_EQ(listing, before);
  EXPECT_EQ(Shell(u.accept(folder)), 0);
  EXPECT_TRUE(WaitUntil([&] { return s.Read(kSchedule) == CrLf(lines); }, 2500));
  EXPECT_EQ(s.Log().size(), 1u);
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Files, Full, ::testing::ValuesIn(kUnwritable),
                         [](const auto& p) { return std::string(p.param.name); });

// 30 MB as schedule and channel file, in lines of 1021 bytes (the longest
// that survive a save and a load): up within seconds, every line listed,
// responsive, and saved back byte for byte.
TEST(Files, ThirtyMegabytesStartWithinSecondsAndRoundTrip) {
  Session s;
  std::vector<std::string> lines;
  for (size_t size = 0; size < 30u << 20; size += 1023) {
    const std::string name = Numbered("", 1000000 + static_cast<int>(lines.size()));
    lines.push_back(kA.substr(0, kA.size() - 5) + name +
                    std::string(1021 - kA.size() + 5 - name.size(), 'x'));
  }
  const std::string bytes = CrLf(lines);
  s.Write(kSchedule, bytes);
  s.Write("CHANNEL.TXT", bytes);
  const int64_t before = NowMs();
  ASSERT_TRUE(s.Start());
  DWORD_PTR answer = 0;
  // The tray icon comes before the list is read; the dialog answers after.
  ASSERT_NE(SendMessageTimeoutA(s.dialog, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &answer), 0);
  const int64_t startMs = NowMs() - before;
  RecordProperty("StartMs", static_cast<int>(startMs));
  std::printf("start-up with 2 x %zu bytes: %lld ms\n", bytes.size(),
              static_cast<long long>(startMs));
  EXPECT_LT(startMs, 30000);
  EXPECT_EQ(SendMessageA(s.Control(IDC_SCHEDULE_LIST), LB_GETCOUNT, 0, 0),
            static_cast<LRESULT>(lines.size()));
  EXPECT_EQ(SendMessageA(s.Control(IDC_CHANNEL), CB_GETCOUNT, 0, 0),
            static_cast<LRESULT>(lines.size() + 78));
  Sleep(1100);
  const int64_t asked = NowMs();
  EXPECT_NE(SendMessageTimeoutA(s.dialog, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &answer), 0);
  EXPECT_LT(NowMs() - asked, 500);
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(30000), 0u);
  EXPECT_TRUE(s.Read(kSchedule) == bytes);
}

}  // namespace
}  // namespace e2e
