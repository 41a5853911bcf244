// Faults from outside the program: a flapping tuner manager, a library call
// that runs a nested message loop, the clock jumping, odd, huge or
// unwritable files. Journals are compared whole, without the keep-alives.
#include <array>
#include <map>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

const std::string kA = Line({2099, 1, 1, 0, 0, 0}, {2099, 1, 1, 1, 0, 0}, "@13", "a.ts2");
const std::string kB = Line({2099, 2, 1, 0, 0, 0}, {2099, 2, 1, 1, 0, 0}, "@14", "b.ts2");
const std::string kC = Line({2099, 3, 1, 0, 0, 0}, {2099, 3, 1, 1, 0, 0}, "@15", "c.ts2");
const std::string kNotSaved = Cp932(u8"スケジュールファイルを保存できませんでした。");
const std::string kRefused = Said(u8"タスク%d(%d,0)を開始できませんでした。");
const auto Started = [](int slot, int ch) {
  return Said(u8"タスク%d(%d,0)を開始しました。", slot, ch);
};
const auto Stopped = [](int slot) { return Said(u8"タスク%dを停止しました。", slot); };
// A task on channel ch from start to end seconds from t, recording into "<ch>.ts2".
std::string At(int64_t t, int64_t start, int64_t end, int ch) {
  return Line(LocalAt(t + start * 1000), LocalAt(t + end * 1000), Said(u8"@%d", ch),
              Said(u8"%d.ts2", ch));
}

// From the last line up, the pings answer 1, 0, 1, 0: @24 and @22 start, all
// four are consumed. Each SaveFile runs the program's messages for 2.5 s: the
// ticks meanwhile are dropped, not run inside the call (nothing is journalled
// between its begin and its end), and go on after the pass.
TEST(Library, FlappingManagerAndASaveFileThatRunsMessages) {
  Session s;
  Texts lines;
  for (int ch = 21; ch <= 24; ++ch) lines.push_back(At(1199145600000, 0, 2900000000, ch));
  s.Write(kSchedule, CrLf(Cat(lines, {kC})));
  ASSERT_TRUE(s.Start({"QUORVANE_STANDIN_FLAP=ping", "QUORVANE_STANDIN_SAVEFILE_MS=2500"}));
  ASSERT_TRUE(WaitUntil([&] { return s.Has("Quorvane_UpdateTimeout\t2"); }, 15000));
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), Texts{kC});
  EXPECT_EQ(s.Read(kSchedule), CrLf({kC}));
  const std::string kNoManager = Cp932(u8"チューナマネージャがみつかりません。");
  EXPECT_EQ(s.Log(), (Texts{kNoManager, Started(1, 22), kNoManager, Started(0, 24)}));
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);
  Texts b = StartCalls(24, "24.ts2", 1), a = StartCalls(22, "22.ts2", 2), all = s.Calls(nullptr);
  b.insert(b.begin() + 2, "#savefile-begin\t24.ts2");
  a.insert(a.begin() + 2, "#savefile-begin\t22.ts2");
  Texts calls = Cat(Cat(Cat(b, {"Quorvane_ManagerPing\t=0"}), a), {"Quorvane_ManagerPing\t=0"});
  while (calls.size() + 2 < all.size())
    calls.insert(calls.end(), {"Quorvane_UpdateTimeout\t1\t=1", "Quorvane_UpdateTimeout\t2\t=1"});
  EXPECT_EQ(all, Cat(calls, {StopCall(1), StopCall(2)}));
  const std::vector<Call> journal = s.Journal();
  for (size_t i : {2u, 7u}) EXPECT_GE(journal.at(i + 1).ms - journal.at(i).ms, 2500) << i;
}

// Far off, and this test program's own.
const std::string kMark = Line({2099, 4, 1, 0, 0, 0}, {2099, 4, 1, 1, 0, 0}, "@13",
                               std::to_string(GetCurrentProcessId()));

// Wine runs /bin/sh as a Unix program; $F is the Unix path of the test's folder.
int Shell(const Session& s, const std::string& commands, bool wait = true) {
  const std::string base = "/tmp/quorvane-faults-" + std::to_string(GetCurrentProcessId());
  std::string f = s.Path("").substr(2);
  std::replace(f.begin(), f.end(), '\\', '/');
  std::filesystem::remove("Z:" + base + ".status");
  std::ofstream("Z:" + base + ".sh", std::ios::binary)
      << "F='" << f << "'\n{\n"
      << commands << "\n} </dev/null >/dev/null 2>&1\n"
      << "echo $? >" << base << ".new && mv " << base << ".new " << base << ".status\n";
  int code = -1;
  if (WinExec(("Z:\\bin\\sh " + base + ".sh").c_str(), SW_HIDE) > 31 && wait)
    WaitUntil([&] { return (std::ifstream("Z:" + base + ".status") >> code).good(); }, 20000);
  return code;
}

// The program under libfaketime, which adds the seconds written in "offset"
// to its clock at every call, with kMark alone listed. Wine gives a Windows child its
// parent's Unix environment, not the environment block, so LD_PRELOAD goes through a shell.
bool StartFaked(Session& s) {
  const std::string exe = s.Path("QuorvaneScheduler.exe");
  s.Write(kSchedule, CrLf({kMark}));
  const std::string lib = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
  EXPECT_TRUE(std::filesystem::exists("Z:" + lib)) << lib;
  s.Write("offset", "+0\n");
  if (!CopyFileA(Built("PROGRAM", QUORVANE_E2E_PROGRAM).c_str(), exe.c_str(), FALSE) ||
      !CopyFileA(Built("LIBRARY", QUORVANE_E2E_LIBRARY).c_str(),
                 s.Path("QuorvaneControl.dll").c_str(), FALSE))
    return false;
  std::string env = "export";
  for (const char* name : {"WINEPREFIX", "DISPLAY", "WINELOADER"})
    env += std::string(" ") + name + "='" + (std::getenv(name) ? std::getenv(name) : "") + "'";
  Shell(s,
        env + "\ncd \"$F\"elsewhere && env LC_ALL=ja_JP.UTF-8 WINEDEBUG=-all NO_FAKE_STAT=1 " +
            "FAKETIME_NO_CACHE=1 FAKETIME_DONT_FAKE_MONOTONIC=1 LD_PRELOAD=" + lib +
            " FAKETIME_TIMESTAMP_FILE=\"$F\"offset QUORVANE_STANDIN_JOURNAL='" +
            s.Path("journal.txt") + "' \"$WINELOADER\" \"$F\"QuorvaneScheduler.exe",
        false);
  // Ours is the dialog that lists our mark.
  const auto ours = [&] {
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", "Quorvane Scheduler"));) {
      if (Items(GetDlgItem(w, IDC_SCHEDULE_LIST), true) != Texts{kMark}) continue;
      GetWindowThreadProcessId(w, &s.pi.dwProcessId);
      s.pi.hProcess = OpenProcess(PROCESS_ALL_ACCESS, FALSE, s.pi.dwProcessId);
      return (s.dialog = w), s.TrayIcon();
    }
    return false;
  };
  return WaitUntil(ours, 15000);
}

// Forward: the running task's end and three starts (two with their ends)
// are passed at once. Backward: the running task is kept alive until the
// program's clock reaches its end again, and the next start waits for it too.
// The mark, far off, is the one entry still listed at the end.
struct Jump {
  int seconds;
  std::vector<std::array<int, 3>> entries;  // start, end (seconds from now), channel
  Texts calls, log;
};
const Jump kJumps[] = {
    {3600,
     {{-99999, 1800, 27}, {600, 1200, 21}, {900, 7200, 22}, {1500, 2400, 23}},
     Cat(Cat(Cat(Cat(StartCalls(27, "27.ts2", 1), {StopCall(1)}), StartCalls(23, "23.ts2", 2)),
             Cat(StartCalls(22, "22.ts2", 3), StartCalls(21, "21.ts2", 4))),
         {StopCall(2), StopCall(4), StopCall(3)}),
     {Stopped(2), Stopped(0), Started(2, 21), Started(1, 22), Started(0, 23), Stopped(0),
      Started(0, 27)}},
    {-5,
     {{-99999, 4, 27}, {3, 5, 28}},
     Cat(Cat(StartCalls(27, "27.ts2", 1), StartCalls(28, "28.ts2", 2)), {StopCall(1), StopCall(2)}),
     {Stopped(1), Stopped(0), Started(1, 28), Started(0, 27)}}};

class ClockJump : public ::testing::TestWithParam<Jump> {};

TEST_P(ClockJump, NothingEarlyNothingTwiceEndedTasksStopAtTheNextTick) {
  // Measured: the 32-bit libfaketime preloads into 32-bit Wine but leaves its
  // clock alone, so there is no jump to watch.
  if (sizeof(void*) == 4) GTEST_SKIP() << "libfaketime does not move 32-bit Wine's clock here";
  const Jump& jump = GetParam();
  Session s;
  ASSERT_TRUE(StartFaked(s));
  const int64_t t = NowMs() / 1000 * 1000;
  Texts lines;
  for (const auto& [start, end, ch] : jump.entries) lines.push_back(At(t, start, end, ch));
  s.Add(lines);
  ASSERT_TRUE(WaitUntil([&] { return s.Has("Quorvane_SaveFile"); }));
  ASSERT_LT(NowMs(), t + jump.entries[1][0] * 1000 - 500) << "too late to jump before a start";
  s.Write("offset", Said(jump.seconds < 0 ? u8"%d\n" : u8"+%d\n", jump.seconds));
  ASSERT_TRUE(WaitUntil([&] { return s.Log().size() >= jump.log.size(); }, 15000));
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), Texts{kMark});
  EXPECT_EQ(s.Log(), jump.log);
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);
  EXPECT_EQ(s.Read(kSchedule), CrLf({kMark}));
  EXPECT_EQ(s.Calls(), jump.calls);
  const std::vector<Call> calls = s.Journal();
  EXPECT_NEAR(double(calls.back().ms - NowMs()), jump.seconds * 1000.0, 2500) << "no jump";
  // The journal's times are the program's clock, which did jump. Each task
  // starts at or after its start and stops at or after its end, at the
  // latest at the tick after both have passed.
  std::map<std::string, int64_t> end;  // by handle
  for (const Call& c : calls) {
    const Texts f = Split(c.text, "\t");
    for (const auto& [from, to, ch] : jump.entries) {
      if (f[0] != "Quorvane_SaveFile" || f[5] != Said(u8"%d.ts2", ch)) continue;
      EXPECT_GE(c.ms, t + from * 1000) << ch;
      end[f[7].substr(7)] = t + to * 1000;
    }
    if (f[0] != "Quorvane_Stop" || end.at(f[1]) > calls.back().ms) continue;  // not ended by then
    const auto reached =
        std::find_if(calls.begin(), calls.end(), [&](auto& r) { return r.ms >= end[f[1]]; });
    EXPECT_GE(c.ms, end[f[1]]) << c.text;
    EXPECT_LT(c.ms, reached->ms + 2500) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, ClockJump, ::testing::ValuesIn(kJumps));

// The same bytes as schedule file and as channel file: the pieces the line
// reader makes of them, in file order (both boxes; only their count where the
// boxes recode invalid bytes, given as "?", and the recorded name as "*"),
// what the first pass consumes, and what the list, the file, the journal and
// the log hold then. Up within seconds and answering at once, whatever the size.
struct OddFile {
  std::string bytes;
  Texts pieces, kept, calls, log;
};
OddFile Case(std::string bytes, Texts pieces, Texts kept, Texts calls, Texts log) {
  return {bytes, pieces, kept, calls, log};
}

std::vector<OddFile> OddFiles() {
  const Texts refused = StartCalls(0, "*", 0);
  std::vector<OddFile> files = {
      Case(std::string("MZ\x90\0\x03\0\0\0\xff\xff", 10), {"?"}, {}, refused, {kRefused}),
      // Reading ends at the NUL; the next save loses the rest.
      Case(CrLf({kA}) + std::string("20\0", 3) + CrLf({kB}), {kA, "20"}, {kA},
           StartCalls(0, "20.ts2", 0), {kRefused}),
      // CR or LF alone ends no line; CR LF alone is an empty entry; a CR at
      // the very end stays in the last line.
      Case(kA + "\r" + kB + "\r\n" + kB + "\n" + kC + "\r\n\r\n" + kC + "\r",
           {kA + "\r" + kB, kB + "\n" + kC, "", kC + "\r"},
           {kA + "\r" + kB, kB + "\n" + kC, kC + "\r"}, StartCalls(0, ".ts2", 0), {kRefused})};
  // Around the 1023 bytes of one read, then kC (lines of 1021 bytes are in the 10 MB below).
  for (size_t n = 1022; n <= 1024; ++n) {
    const std::string line = kA.substr(0, kA.size() - 5) + std::string(n - kA.size() + 5, 'x');
    const std::string rest = line.substr(std::min<size_t>(n, 1023)), bytes = CrLf({line, kC});
    if (n == 1022)  // the read ends on the CR: the LF starts kC, whose year reads 0
      files.push_back(Case(bytes, {line + "\r", "\n" + kC}, {line + "\r"},
                           Cat(StartCalls(15, "c.ts2", 1), {StopCall(1)}), {Started(0, 15)}));
    else  // the rest of the line, maybe empty, is an entry of its own
      files.push_back(Case(bytes, {line.substr(0, 1023), rest, kC}, {line.substr(0, 1023), kC},
                           StartCalls(0, rest + ".ts2", 0), {kRefused}));
  }
  Texts lines;  // 10 MB in lines of 1021 bytes, the longest that survive a save and a load
  for (int i = 1000000; lines.size() * 1023 < 10u << 20; ++i)
    lines.push_back(kA.substr(0, kA.size() - 5) + std::to_string(i) +
                    std::string(1021 - kA.size() - 2, 'x'));
  files.push_back(Case(CrLf(lines), lines, lines, {}, {}));
  return files;
}

class Odd : public ::testing::TestWithParam<OddFile> {};

TEST_P(Odd, ReadAsTheLineRuleSaysAndDueEntriesConsumedOnce) {
  const OddFile& f = GetParam();
  const bool garbage = f.pieces[0] == "?";
  Session s;
  s.Write(kSchedule, f.bytes);
  s.Write("CHANNEL.TXT", f.bytes);
  const int64_t before = NowMs();
  ASSERT_TRUE(s.Start());
  DWORD_PTR answer = 0;  // the tray icon is up before the list is read
  ASSERT_NE(SendMessageTimeoutA(s.dialog, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &answer), 0);
  EXPECT_LT(NowMs() - before, 15000);
  Texts channels = s.Items(IDC_CHANNEL);
  ASSERT_EQ(channels.size(), f.pieces.size() + 78);  // and the generated ones
  channels.resize(f.pieces.size());
  EXPECT_EQ(channels, garbage ? channels : f.pieces);
  EXPECT_TRUE(WaitUntil([&] { return s.Items(IDC_SCHEDULE_LIST) == f.kept; }));
  EXPECT_EQ(s.Log(), f.log);
  const int64_t asked = NowMs();
  EXPECT_NE(SendMessageTimeoutA(s.dialog, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &answer), 0);
  EXPECT_LT(NowMs() - asked, 500);
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(30000), 0u);
  EXPECT_TRUE(s.Read(kSchedule) == CrLf(f.kept));
  Texts calls = s.Calls();
  static const std::regex kName("^(Quorvane_SaveFile(\t[^\t]*){4}\t)[^\t]*");
  for (std::string& call : calls) call = garbage ? std::regex_replace(call, kName, "$1*") : call;
  EXPECT_EQ(calls, f.calls);
}

INSTANTIATE_TEST_SUITE_P(Files, Odd, ::testing::ValuesIn(OddFiles()));

// A folder that refuses writes, then takes them again: 108 is logged once
// for all the failing saves (an Add, the ticks' retries), the list and the
// old file stay, no half-written file is left, and once the folder takes
// writes again a tick saves the list. Root writes whatever the mode bits; the
// immutable flag stops it too. A tmpfs of 64 KB, after one save there, is
// filled to all but 8 KB: the save of about 13 KB runs out of room halfway.
const std::array<std::string, 3> kUnwritable[] = {
    {"", "chmod a-w $F && { [ $(id -u) != 0 ] || chattr +i $F; }", "chattr -i $F; chmod u+w $F"},
    {"mount -t tmpfs -o size=64k tmpfs $F",
     "dd if=/dev/zero of=$F/filler bs=4k; truncate -s -8k $F/filler", "rm $F/filler"}};

class Unwritten : public ::testing::TestWithParam<std::array<std::string, 3>> {};

TEST_P(Unwritten, SaveFailsOnceKeepsListAndFileAndCatchesUpWithinTwoTicks) {
  const auto& [mount, refuse, accept] = GetParam();
  Session s;
  Texts lines = Cat({kA}, Texts(12, Line({2099, 5, 1, 0, 0, 0}, {2099, 5, 1, 1, 0, 0}, "@13",
                                         std::string(950, 'x'))));
  s.Write(kSchedule, CrLf(Texts(lines.begin() + 1, lines.end())));
  ASSERT_TRUE(s.Start());
  const std::shared_ptr<void> undo(
      nullptr, [&](void*) { Shell(s, mount.empty() ? accept : "umount -l $F"); });
  if (!mount.empty() && Shell(s, mount) != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  s.Add({kA});  // a save into the new tmpfs
  ASSERT_EQ(s.Read(kSchedule), CrLf(lines));
  const auto files = [&] {
    return std::distance(std::filesystem::directory_iterator(s.Path("")), {});
  };
  Shell(s, refuse);
  const auto before = files();
  if (mount.empty() && std::ofstream(s.Path("probe")).good())
    GTEST_SKIP() << "the folder takes writes";
  s.Add({kB});
  Sleep(2200);
  EXPECT_EQ(s.Log(), Texts{kNotSaved});
  EXPECT_EQ(s.Read(kSchedule), CrLf(lines));
  EXPECT_EQ(files(), before);
  lines.insert(lines.begin() + 1, kB);
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), lines);
  EXPECT_EQ(Shell(s, accept), 0);
  EXPECT_TRUE(WaitUntil([&] { return s.Read(kSchedule) == CrLf(lines); }, 2500));
  EXPECT_EQ(s.Log(), Texts{kNotSaved});
}

INSTANTIATE_TEST_SUITE_P(Files, Unwritten, ::testing::ValuesIn(kUnwritable));

}  // namespace
}  // namespace e2e
