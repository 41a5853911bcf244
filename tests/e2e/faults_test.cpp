// Faults from outside the program: a flapping tuner manager, a library call
// that runs a nested message loop, the clock jumping, odd, huge or
// unwritable files. Journals are compared whole, without the keep-alives.
#include <array>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

using Texts = std::vector<std::string>;
const char* const kKeepAlive = "Quorvane_UpdateTimeout";
const Time kLongAgo = {2008, 1, 1, 0, 0, 0};
const std::string kA = Line({2099, 1, 1, 0, 0, 0}, {2099, 1, 1, 1, 0, 0}, "@13", "a.ts2");
const std::string kB = Line({2099, 2, 1, 0, 0, 0}, {2099, 2, 1, 1, 0, 0}, "@14", "b.ts2");
const std::string kC = Line({2099, 3, 1, 0, 0, 0}, {2099, 3, 1, 1, 0, 0}, "@15", "c.ts2");

// "x" + std::to_string(n) trips GCC 12's -Wrestrict.
std::string N(const char* before, int n, const char* after = "") {
  return std::string(before).append(std::to_string(n)).append(after);
}
Texts All(std::initializer_list<Texts> parts) {
  Texts all;
  for (const Texts& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::string Said(const char8_t* format, int a = 0, int b = 0) {
  char text[256];
  std::snprintf(text, sizeof text, Cp932(format).c_str(), a, b);
  return text;
}
std::string LogStarted(int slot, int channel) {
  return Said(u8"タスク%d(%d,0)を開始しました。", slot, channel);
}
std::string LogRefused(int slot, int channel) {
  return Said(u8"タスク%d(%d,0)を開始できませんでした。", slot, channel);
}
std::string LogStopped(int slot) {
  return Said(u8"タスク%dを停止しました。", slot);
}
const std::string kNoManager = Cp932(u8"チューナマネージャがみつかりません。");
const std::string kNotSaved = Cp932(u8"スケジュールファイルを保存できませんでした。");

// One start on a plain channel (handle 0: refused), one stop.
Texts StartCalls(int channel, const std::string& name, int handle) {
  const std::string f = N("", channel >= 13 && channel <= 62 ? 473143 + (channel - 13) * 6000 : 0);
  return {
      "Quorvane_ManagerPing\t=1", N("Quorvane_ChannelToFreq\t", channel, "\t0\t=") + f,
      Join({"Quorvane_SaveFile", f, "0\t1\t5", name, handle ? "=1" : "=0", N("handle=", handle)},
           "\t")};
}
std::string StopCall(int handle) {
  return N("Quorvane_Stop\t", handle, "\t=1");
}
bool Journalled(const Session& s, const std::string& text) {
  return s.Read("journal.txt").find(text) != std::string::npos;
}

TEST(Library, FlappingManagerStartsEveryOtherDueEntryAndConsumesTheRest) {
  Session s;
  Texts due;
  for (int ch = 21; ch <= 24; ++ch) {
    due.push_back(Line(kLongAgo, {2099, 12, 31, 0, 0, 0}, N("@", ch), N("f", ch, ".ts2")));
  }
  s.Write(kSchedule, CrLf(Cat(due, {kC})));
  ASSERT_TRUE(s.Start({"QUORVANE_STANDIN_FLAP=ping"}));
  // From the last line (@24) up, the pings answer 1, 0, 1, 0.
  ASSERT_TRUE(WaitUntil([&] { return Journalled(s, "Quorvane_UpdateTimeout\t2"); }, 8000));
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), Texts{kC});
  EXPECT_EQ(s.Read(kSchedule), CrLf({kC}));
  EXPECT_EQ(s.Log(), (Texts{kNoManager, LogStarted(1, 22), kNoManager, LogStarted(0, 24)}));
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);
  const Texts noManager = {"Quorvane_ManagerPing\t=0"};
  EXPECT_EQ(s.Calls(kKeepAlive), All({StartCalls(24, "f24.ts2", 1),
                                      noManager,
                                      StartCalls(22, "f22.ts2", 2),
                                      noManager,
                                      {StopCall(1), StopCall(2)}}));
  for (int ch = 21; ch <= 24; ++ch) {
    EXPECT_EQ(std::filesystem::exists(s.Path(kElsewhere + N("f", ch, ".ts2"))), ch % 2 == 0);
  }
}

// The library runs the program's messages for 2.5 s in each SaveFile; the
// ticks meanwhile are dropped, not run inside the pass, and resume after it.
TEST(Library, TicksDuringASaveFileThatRunsMessagesAreDropped) {
  Session s;
  s.Write(kSchedule, CrLf({kC}));
  ASSERT_TRUE(s.Start({"QUORVANE_STANDIN_SAVEFILE_MS=2500"}));
  const int64_t startMs = (NowMs() / 1000 + 2) * 1000, endMs = startMs + 8000;
  for (const char* channel : {"@27", "@28"}) {
    s.Fill(Line(LocalAt(startMs), LocalAt(endMs), channel, channel + 1 + std::string(".ts2")));
    s.Click(IDC_ADD);
  }
  ASSERT_TRUE(WaitUntil([&] { return Journalled(s, "#savefile-begin"); }, 8000));
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutA(s.dialog, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &answer), 0)
      << "the blocked SaveFile runs no messages";
  ASSERT_TRUE(WaitUntil([&] { return Journalled(s, StopCall(2)); },
                        static_cast<int>(endMs - NowMs()) + 5000));
  EXPECT_EQ(s.Log(), (Texts{LogStopped(1), LogStopped(0), LogStarted(1, 27), LogStarted(0, 28)}));
  EXPECT_EQ(s.Read(kSchedule), CrLf({kC}));
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);

  const std::vector<Call> calls = s.Journal();
  const Texts texts = s.Calls();
  const auto pairs = std::count(texts.begin(), texts.end(), "Quorvane_UpdateTimeout\t2\t=1");
  EXPECT_GE(pairs, 1);
  Texts keepAlives;
  for (auto i = pairs; i > 0; --i) {
    keepAlives.insert(keepAlives.end(),
                      {"Quorvane_UpdateTimeout\t1\t=1", "Quorvane_UpdateTimeout\t2\t=1"});
  }
  Texts b = StartCalls(28, "28.ts2", 1), a = StartCalls(27, "27.ts2", 2);
  b.insert(b.begin() + 2, "#savefile-begin\t28.ts2");
  a.insert(a.begin() + 2, "#savefile-begin\t27.ts2");
  ASSERT_EQ(texts, All({b, a, keepAlives, {StopCall(1), StopCall(2)}}));
  EXPECT_GE(calls[0].ms, startMs);
  EXPECT_GE(calls[3].ms - calls[2].ms, 2500);
  EXPECT_GE(calls[7].ms - calls[6].ms, 2500);
  EXPECT_GE(calls.end()[-2].ms, endMs);
  EXPECT_LT(calls.back().ms, endMs + 2000);
}

// Wine runs /bin/sh as a Unix program; files are passed as Z: paths.
std::string UnixPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path.substr(2);
}
bool StartShell(const std::string& script, const std::string& text) {
  std::ofstream(script, std::ios::binary) << text;
  const bool started = WinExec(("Z:\\bin\\sh \"" + UnixPath(script) + "\"").c_str(), SW_HIDE) > 31;
  if (!started) ADD_FAILURE() << "cannot start sh";
  return started;
}
// Runs the commands with $F set to the Unix path of `folder`; their status.
int Shell(const std::string& folder, const std::string& commands) {
  const std::string base = "Z:\\tmp\\quorvane-faults-" + std::to_string(GetCurrentProcessId());
  const std::string status = UnixPath(base + ".status");
  DeleteFileA((base + ".status").c_str());
  int code = -1;
  if (StartShell(base + ".sh", "F='" + UnixPath(folder) + "'\n{\n" + commands +
                                   "\n} </dev/null >/dev/null 2>&1\necho $? >" + status +
                                   ".new && mv " + status + ".new " + status + "\n")) {
    WaitUntil([&] { return (std::ifstream(base + ".status") >> code).good(); }, 20000);
  }
  DeleteFileA((base + ".status").c_str());
  DeleteFileA((base + ".sh").c_str());
  return code;
}

// The program under libfaketime, which adds the seconds written in "offset"
// to its clock at every call. Wine gives a Windows child its parent's Unix
// environment, not the environment block, so LD_PRELOAD goes through a shell.
struct FakedClock {
  Session& s;
  HANDLE process = nullptr;
  ~FakedClock() {
    if (process == nullptr) return;
    TerminateProcess(process, 99);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
  }
  void Jump(int seconds) const { s.Write("offset", N(seconds < 0 ? "" : "+", seconds, "\n")); }
  DWORD Exit() const {
    DWORD code = STILL_ACTIVE;
    WaitForSingleObject(process, 5000);
    GetExitCodeProcess(process, &code);
    return code;
  }
  bool Start() {
    const std::string exe = s.Path("QuorvaneScheduler.exe");
    // The loader's own architecture: i686 needs libfaketime:i386.
    const std::string library = sizeof(void*) == 8
                                    ? "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
                                    : "/usr/lib/i386-linux-gnu/faketime/libfaketime.so.1";
    if (!std::filesystem::exists("Z:" + library)) ADD_FAILURE() << library << " is missing";
    if (!CopyFileA(Built("PROGRAM", QUORVANE_E2E_PROGRAM).c_str(), exe.c_str(), FALSE) ||
        !CopyFileA(Built("LIBRARY", QUORVANE_E2E_LIBRARY).c_str(),
                   s.Path("QuorvaneControl.dll").c_str(), FALSE)) {
      return false;
    }
    Jump(0);
    std::string environment = "export";
    for (const char* name : {"WINEPREFIX", "DISPLAY", "WINELOADER"}) {
      environment +=
          std::string(" ") + name + "='" + (std::getenv(name) ? std::getenv(name) : "") + "'";
    }
    if (!StartShell(s.Path("run.sh"),
                    environment + "\ncd '" + UnixPath(s.Path(kElsewhere)) + "' && exec env " +
                        "LC_ALL=ja_JP.UTF-8 WINEDEBUG=-all NO_FAKE_STAT=1 FAKETIME_NO_CACHE=1 "
                        "FAKETIME_DONT_FAKE_MONOTONIC=1 LD_PRELOAD=" +
                        library + " FAKETIME_TIMESTAMP_FILE='" + UnixPath(s.Path("offset")) +
                        "' QUORVANE_STANDIN_JOURNAL='" + s.Path("journal.txt") +
                        "' \"$WINELOADER\" '" + UnixPath(exe) + "' </dev/null >/dev/null 2>&1\n")) {
      return false;
    }
    // Ours is the dialog whose process runs our copy of the program.
    return WaitUntil(
        [&] {
          for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", "Quorvane Scheduler"));) {
            DWORD id = 0;
            GetWindowThreadProcessId(w, &id);
            HANDLE p = OpenProcess(
                PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
            char image[MAX_PATH] = {};
            DWORD size = MAX_PATH;
            if (p != nullptr && QueryFullProcessImageNameA(p, 0, image, &size) &&
                lstrcmpiA(image, exe.c_str()) == 0 && process == nullptr) {
              process = p;
              s.dialog = w;
            } else if (p != nullptr) {
              CloseHandle(p);
            }
          }
          return process != nullptr && s.TrayIcon();
        },
        15000);
  }
};

struct Jump {
  const char* name;
  int seconds;
  // Added now: start and end in seconds from now, channel; each records into
  // "<channel>.ts2". The first is due at once.
  std::vector<std::array<int, 3>> entries;
  size_t left;  // the one entry still listed at the end
  Texts calls, log;
};
void PrintTo(const Jump& jump, std::ostream* out) {
  *out << jump.name;
}

// Forward: the running task's end and three starts (two with their ends)
// are passed at once. Backward: the running task is kept alive until the
// program's clock reaches its end again, and the next start waits for it too.
const Jump kJumps[] = {
    {"Forward",
     3600,
     {{-99999, 1800, 27}, {600, 1200, 21}, {900, 7200, 22}, {1500, 2400, 23}, {7200, 7300, 24}},
     4,
     All({StartCalls(27, "27.ts2", 1),
          {StopCall(1)},
          StartCalls(23, "23.ts2", 2),
          StartCalls(22, "22.ts2", 3),
          StartCalls(21, "21.ts2", 4),
          {StopCall(2), StopCall(4), StopCall(3)}}),
     {LogStopped(2), LogStopped(0), LogStarted(2, 21), LogStarted(1, 22), LogStarted(0, 23),
      LogStopped(0), LogStarted(0, 27)}},
    {"Backward",
     -5,
     {{-99999, 4, 27}, {3, 5, 28}, {7200, 7300, 24}},
     2,
     All({StartCalls(27, "27.ts2", 1), StartCalls(28, "28.ts2", 2), {StopCall(1), StopCall(2)}}),
     {LogStopped(1), LogStopped(0), LogStarted(1, 28), LogStarted(0, 27)}}};

class ClockJump : public ::testing::TestWithParam<Jump> {};

TEST_P(ClockJump, NothingEarlyNothingTwiceEndedTasksStopAtTheNextTick) {
  const Jump& jump = GetParam();
  Session s;
  FakedClock clock{s};
  ASSERT_TRUE(clock.Start());
  const int64_t t = NowMs() / 1000 * 1000;
  Texts lines;
  for (const auto& [start, end, channel] : jump.entries) {
    lines.push_back(Line(LocalAt(t + start * 1000), LocalAt(t + end * 1000), N("@", channel),
                         N("", channel, ".ts2")));
    s.Fill(lines.back());
    s.Click(IDC_ADD);
  }
  ASSERT_TRUE(WaitUntil([&] { return Journalled(s, "Quorvane_SaveFile"); }));
  ASSERT_LT(NowMs(), t + jump.entries[1][0] * 1000 - 500) << "too late to jump before a start";
  clock.Jump(jump.seconds);
  ASSERT_TRUE(WaitUntil([&] { return s.Log().size() >= jump.log.size(); }, 15000));
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), Texts{lines[jump.left]});
  EXPECT_EQ(s.Log(), jump.log);
  s.Post(IDC_EXIT);
  EXPECT_EQ(clock.Exit(), 0u);
  EXPECT_EQ(s.Read(kSchedule), CrLf({lines[jump.left]}));
  EXPECT_EQ(s.Calls(kKeepAlive), jump.calls);

  // The journal's times are the program's clock, which did jump. Every task
  // starts at or after its start and stops at or after its end, at the
  // latest at the tick after the program's clock has passed both.
  const std::vector<Call> calls = s.Journal();
  EXPECT_NE(std::adjacent_find(calls.begin(), calls.end(),
                               [&](const Call& a, const Call& b) {
                                 const int64_t late = b.ms - a.ms - jump.seconds * 1000LL;
                                 return late > -100 && late < 2500;
                               }),
            calls.end());
  for (const auto& [start, end, channel] : jump.entries) {
    const auto from = [&](auto at, auto test) { return std::find_if(at, calls.end(), test); };
    const auto saved = from(calls.begin(), [&](const Call& c) {
      return c.text.find(N("\t", channel, ".ts2\t=1")) != std::string::npos;
    });
    const int64_t endMs = t + end * 1000;
    if (saved == calls.end() || endMs > calls.back().ms) continue;  // not started, or not ended
    const std::string stop = "Quorvane_Stop\t" + saved->text.substr(saved->text.rfind('=') + 1);
    const auto stopped = from(saved, [&](const Call& c) { return c.text.starts_with(stop); });
    const auto reached = from(saved, [&](const Call& c) { return c.ms >= endMs; });
    ASSERT_NE(stopped, calls.end());
    EXPECT_GE(saved->ms, t + start * 1000) << channel;
    EXPECT_GE(stopped->ms, endMs) << channel;
    EXPECT_LT(stopped->ms, reached->ms + 2500) << channel;
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, ClockJump, ::testing::ValuesIn(kJumps),
                         [](const auto& p) { return std::string(p.param.name); });

// The same bytes as schedule file and as channel file: the pieces the line
// reader makes of them, in file order (both boxes), what the first pass
// consumes, and what the list, the file, the journal and the log hold then.
struct OddFile {
  std::string name, bytes;
  size_t count;  // pieces read
  Texts pieces;  // none when the list box recodes them
  Texts kept, calls, log;
};
void PrintTo(const OddFile& file, std::ostream* out) {
  *out << file.name;
}

std::vector<OddFile> OddFiles() {
  // Without NUL, CR, LF, TAB, '@' or digits: three pieces (1023, 1023, 954
  // bytes), each a field 0 read as year 0, so due at once, on channel 0,
  // which the stand-in cannot tune. The list box recodes invalid bytes.
  std::string noise;
  for (uint32_t x = 1; noise.size() < 3000;) {
    x = x * 1103515245 + 12345;
    const char c = static_cast<char>(x >> 24);
    if (std::string_view("\0\r\n\t@0123456789", 16).find(c) == std::string_view::npos) noise += c;
  }
  const Texts refused = StartCalls(0, "*", 0);
  std::vector<OddFile> files = {
      {"Executable",
       std::string("MZ\x90\0\x03\0\0\0\x04\0\0\0\xff\xff\0\0", 16),
       1,
       {},
       {},
       refused,
       {LogRefused(0, 0)}},
      {"Noise", noise, 3, {}, {}, All({refused, refused, refused}), Texts(3, LogRefused(0, 0))},
      // Reading ends at the NUL; the next save loses the rest.
      {"Nul",
       CrLf({kA}) + std::string("20\0", 3) + CrLf({kB}),
       2,
       {kA, "20"},
       {kA},
       StartCalls(0, "20.ts2", 0),
       {LogRefused(0, 0)}},
      // CR or LF alone ends no line; CR LF alone is an empty entry; a CR at
      // the very end stays in the last line.
      {"LoneCrOrLf",
       kA + "\r" + kB + "\r\n" + kB + "\n" + kC + "\r\n\r\n" + kC + "\r",
       4,
       {kA + "\r" + kB, kB + "\n" + kC, "", kC + "\r"},
       {kA + "\r" + kB, kB + "\n" + kC, kC + "\r"},
       StartCalls(0, ".ts2", 0),
       {LogRefused(0, 0)}}};
  // Around the 1023 bytes of one read, followed by kC.
  for (size_t n = 1019; n <= 1025; ++n) {
    const std::string line = kA.substr(0, kA.size() - 5) + std::string(n - kA.size() + 5, 'x');
    OddFile file{
        N("Line", static_cast<int>(n)), CrLf({line, kC}), 2, {line, kC}, {line, kC}, {}, {}};
    if (n == 1022) {  // the read ends on the CR: the LF starts kC, whose year reads 0
      file.pieces = {line + "\r", "\n" + kC};
      file.kept = {line + "\r"};
      file.calls = All({StartCalls(15, "c.ts2", 1), {StopCall(1)}});
      file.log = {LogStarted(0, 15)};
    } else if (n >= 1023) {  // the rest of the line, maybe empty, is an entry of its own
      file.pieces = {line.substr(0, 1023), line.substr(1023), kC};
      file.kept = {file.pieces[0], kC};
      file.calls = StartCalls(0, file.pieces[1] + ".ts2", 0);
      file.log = {LogRefused(0, 0)};
    }
    file.count = file.pieces.size();
    files.push_back(file);
  }
  return files;
}

class Odd : public ::testing::TestWithParam<OddFile> {};

TEST_P(Odd, ReadAsTheLineRuleSaysAndDueEntriesConsumedOnce) {
  const OddFile& f = GetParam();
  Session s;
  s.Write(kSchedule, f.bytes);
  s.Write("CHANNEL.TXT", f.bytes);
  ASSERT_TRUE(s.Start());
  Texts channels = s.Items(IDC_CHANNEL);
  ASSERT_EQ(channels.size(), f.count + 78);  // and the generated ones
  channels.resize(f.count);
  EXPECT_EQ(channels, f.pieces.empty() ? channels : f.pieces);
  EXPECT_TRUE(WaitUntil([&] { return s.Items(IDC_SCHEDULE_LIST) == f.kept; }));
  EXPECT_EQ(s.Log(), f.log);
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);
  EXPECT_EQ(s.Read(kSchedule), CrLf(f.kept));
  Texts calls = s.Calls(kKeepAlive);
  for (std::string& call : calls) {  // a recoded name as "*"
    const Texts fields = Split(call, "\t");
    if (f.pieces.empty() && fields[0] == "Quorvane_SaveFile") {
      call =
          Join({Join({fields.begin(), fields.begin() + 5}, "\t"), "*", fields[6], fields[7]}, "\t");
    }
  }
  EXPECT_EQ(calls, f.calls);
}

INSTANTIATE_TEST_SUITE_P(Files, Odd, ::testing::ValuesIn(OddFiles()),
                         [](const auto& p) { return p.param.name; });

// A folder that refuses writes, then takes them again: the save fails, 108
// is logged once for all the failing saves (two Adds, the ticks' retries),
// the list and the old file stay, no half-written file is left, and once the
// folder takes writes again a tick saves the list.
struct Unwritable {
  const char* name;
  std::string refuse, accept;  // shell commands on the folder $F
};
void PrintTo(const Unwritable& folder, std::ostream* out) {
  *out << folder.name;
}

const Unwritable kUnwritable[] = {
    // Root writes whatever the mode bits; the immutable flag stops it too.
    {"ReadOnlyFolder", "chmod a-w $F && { [ $(id -u) != 0 ] || chattr +i $F; }",
     "chattr -i $F; chmod u+w $F"},
    // On a tmpfs of 64 KB over the folder, after one save there, filled to
    // all but 8 KB: the save of about 13 KB runs out of room halfway.
    {"FullDisk", "dd if=/dev/zero of=$F/filler bs=4k; truncate -s -8k $F/filler", "rm $F/filler"}};

class Unwritten : public ::testing::TestWithParam<Unwritable> {};

TEST_P(Unwritten, SaveFailsOnceKeepsListAndFileAndCatchesUpWithinTwoTicks) {
  const Unwritable& u = GetParam();
  const bool full = u.name == std::string("FullDisk");
  Session s;
  Texts lines;
  for (int day = 1; day <= 12; ++day) {
    lines.push_back(
        Line({2099, 5, day, 0, 0, 0}, {2099, 5, day, 1, 0, 0}, "@13", std::string(950, 'x')));
  }
  s.Write(kSchedule, CrLf(lines));
  ASSERT_TRUE(s.Start());
  struct Undo {
    std::string folder, commands;
    ~Undo() { Shell(folder, commands); }
  } undo{s.Path(""), full ? "umount -l $F" : u.accept};
  if (full && Shell(s.Path(""), "mount -t tmpfs -o size=64k tmpfs $F") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  for (const std::string& line : full ? Texts{kA} : Texts{}) {
    s.Fill(line);
    s.Click(IDC_ADD);
    lines.insert(lines.begin(), line);
  }
  ASSERT_EQ(s.Read(kSchedule), CrLf(lines));
  const auto listing = [&] {
    Texts names;
    for (const auto& entry : std::filesystem::directory_iterator(s.Path(""))) {
      if (entry.path().filename() != "filler") names.push_back(entry.path().filename().string());
    }
    return names;
  };
  const Texts before = listing();
  Shell(s.Path(""), u.refuse);
  if (!full && std::ofstream(s.Path("probe")).good()) GTEST_SKIP() << "the folder takes writes";
  for (const std::string& line : {kB, kC}) {
    s.Fill(line);
    s.Click(IDC_ADD);
  }
  Sleep(2200);
  EXPECT_EQ(s.Log(), Texts{kNotSaved});
  EXPECT_EQ(s.Read(kSchedule), CrLf(lines));
  EXPECT_EQ(listing(), before);
  lines.insert(lines.begin() + (full ? 1 : 0), {kB, kC});
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), lines);
  EXPECT_EQ(Shell(s.Path(""), u.accept), 0);
  EXPECT_TRUE(WaitUntil([&] { return s.Read(kSchedule) == CrLf(lines); }, 2500));
  EXPECT_EQ(s.Log(), Texts{kNotSaved});
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Files, Unwritten, ::testing::ValuesIn(kUnwritable),
                         [](const auto& p) { return std::string(p.param.name); });

// 30 MB as schedule and as channel file, in lines of 1021 bytes (the longest
// that survive a save and a load): up within seconds, every line listed,
// responsive, and saved back byte for byte.
TEST(Files, ThirtyMegabytesStartWithinSecondsAndRoundTrip) {
  Session s;
  Texts lines;
  for (int i = 1000000; lines.size() * 1023 < 30u << 20; ++i) {
    lines.push_back(kA.substr(0, kA.size() - 5) + N("", i) +
                    std::string(1021 - kA.size() - 2, 'x'));
  }
  const std::string bytes = CrLf(lines);
  s.Write(kSchedule, bytes);
  s.Write("CHANNEL.TXT", bytes);
  const int64_t before = NowMs();
  ASSERT_TRUE(s.Start());
  // The tray icon is up before the list is read; the dialog answers after.
  DWORD_PTR answer = 0;
  ASSERT_NE(SendMessageTimeoutA(s.dialog, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &answer), 0);
  RecordProperty("StartMs", static_cast<int>(NowMs() - before));
  EXPECT_LT(NowMs() - before, 30000);
  EXPECT_EQ(SendMessageA(s.Control(IDC_SCHEDULE_LIST), LB_GETCOUNT, 0, 0), std::ssize(lines));
  EXPECT_EQ(SendMessageA(s.Control(IDC_CHANNEL), CB_GETCOUNT, 0, 0), std::ssize(lines) + 78);
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
