// Through the tuner library: binding it, recordings started and stopped by
// the clock, its refusals, and quitting while a task records.
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

const std::string kKeepAlive = "Quorvane_UpdateTimeout\t1\t=1";
const Time kLongAgo = {2008, 1, 1, 0, 0, 0};
const std::string kLater = Line({2099, 12, 30, 1, 0, 0}, {2099, 12, 30, 2, 0, 0}, "@13", "l.ts2");

std::string DefaultName(std::string line) {
  std::replace(line.begin(), line.end(), '\t', '_');
  return line + ".ts2";
}

// The journal of one start: ping, channel ("27\t0") to frequency, SaveFile.
std::vector<std::string> StartCalls(const std::string& channel, const std::string& frequency,
                                    const std::string& fileName, const std::string& result,
                                    const std::string& handle) {
  return {
      "Quorvane_ManagerPing\t=1", "Quorvane_ChannelToFreq\t" + channel + "\t=" + frequency,
      Join({"Quorvane_SaveFile", frequency, "0\t1\t5", fileName, "=" + result, "handle=" + handle},
           "\t")};
}

TEST(Library, MissingLackingOrOnlyInTheCurrentFolderGivesError100) {
  const struct {
    const char* name;
    std::string beside, inCurrentFolder;
  } cases[] = {{"missing", "", ""},
               {"lacking", Built("LACKING_LIBRARY", QUORVANE_E2E_LACKING_LIBRARY), ""},
               {"planted", "", Built("LIBRARY", QUORVANE_E2E_LIBRARY)}};
  const std::string error = Cp932(u8"QuorvaneControl.dllのロードに失敗しました");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Session s;
    if (!c.inCurrentFolder.empty()) {
      const std::string planted = s.Path(kElsewhere + "QuorvaneControl.dll");
      ASSERT_TRUE(CopyFileA(c.inCurrentFolder.c_str(), planted.c_str(), FALSE));
    }
    ASSERT_TRUE(s.Launch(c.beside));
    HWND box = nullptr;
    // The message box's text (id 0xFFFF).
    EXPECT_TRUE(WaitUntil([&] { return GetText(GetDlgItem(box = s.Find(false), 0xFFFF)) == error; },
                          10000));
    EXPECT_EQ(s.Find(true), nullptr);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(s.Exit(), 0u);
  }
}

TEST(Recording, StartedAndStoppedByTheClock) {
  Session s;
  ASSERT_TRUE(s.Start());
  // Counted from now that the dialog is up, however slowly it started.
  const int64_t startMs = (NowMs() / 1000 + 3) * 1000, endMs = startMs + 3000;
  // A station name in the channel text makes a Japanese default name.
  const std::string line =
      Line(LocalAt(startMs), LocalAt(endMs), Cp932(u8"みなと総合テレビ @27"), "");
  s.Fill(line);
  s.Click(IDC_ADD);
  EXPECT_EQ(s.Read(kSchedule), line + "\r\n");
  ASSERT_TRUE(
      WaitUntil([&] { return s.Read("journal.txt").find("Quorvane_Stop") != std::string::npos; },
                static_cast<int>(endMs - NowMs()) + 5000));
  Sleep(1300);  // one more tick, that must call nothing

  const std::vector<Call> calls = s.Journal();
  const std::vector<std::string> texts = s.Calls();
  const auto keepAlives = std::count(texts.begin(), texts.end(), kKeepAlive);
  EXPECT_GE(keepAlives, 2);
  EXPECT_LE(keepAlives, 4);
  ASSERT_EQ(texts, Cat(Cat(StartCalls("27\t0", "557143", DefaultName(line), "1", "1"),
                           std::vector<std::string>(static_cast<size_t>(keepAlives), kKeepAlive)),
                       {"Quorvane_Stop\t1\t=1"}));
  EXPECT_GE(calls[2].ms, startMs) << "started before its second";
  EXPECT_LT(calls[2].ms, startMs + 2500);
  EXPECT_GE(calls.back().ms, endMs);

  std::vector<std::string> stamps;
  ASSERT_EQ(s.Log(&stamps), (std::vector<std::string>{Cp932(u8"タスク0を停止しました。"),
                                                      Cp932(u8"タスク0(27,0)を開始しました。")}));
  EXPECT_GE(stamps[1], TimeText(LocalAt(startMs)));
  EXPECT_GE(stamps[0], TimeText(LocalAt(endMs)));
  EXPECT_LE(stamps[0], TimeText(LocalAt(endMs + 3000)));
  EXPECT_EQ(s.Read(kElsewhere + DefaultName(line)).substr(0, 1), "\x47") << "no recording";
  EXPECT_EQ(s.Read(kSchedule), "");
}

struct Refusal {
  const char* name;
  std::vector<std::string> environment, due, calls, log;
};

std::vector<Refusal> Refusals() {
  const std::string due27 = Line(kLongAgo, {2099, 12, 31, 0, 0, 0}, "@27", "");
  const std::string due28 = Line(kLongAgo, {2099, 12, 31, 0, 0, 0}, "@28", "");
  // Ends a second after its start: started at one tick, stopped at the next.
  const std::string brief = Line(kLongAgo, {2008, 1, 1, 0, 0, 1}, "@27", "");
  // The list is visited from its last line (@28) up, the log shows the newest
  // first; a handle left in slot 0 would push @27 into slot 1.
  const auto refusedStarts = [&](const std::string& handle) {
    return Cat(StartCalls("28\t0", "563143", DefaultName(due28), "0", handle),
               StartCalls("27\t0", "557143", DefaultName(due27), "0", handle));
  };
  const std::vector<std::string> notStarted = {Cp932(u8"タスク0(27,0)を開始できませんでした。"),
                                               Cp932(u8"タスク0(28,0)を開始できませんでした。")};
  return {
      {"Ping",
       {"QUORVANE_STANDIN_REFUSE=ping"},
       {due27},
       {"Quorvane_ManagerPing\t=0"},
       {Cp932(u8"チューナマネージャがみつかりません。")}},
      {"Start", {"QUORVANE_STANDIN_REFUSE=start"}, {due27, due28}, refusedStarts("0"), notStarted},
      {"StartLeavingGarbage",
       {"QUORVANE_STANDIN_REFUSE=start", "QUORVANE_STANDIN_DIRTY_REFUSAL=1"},
       {due27, due28},
       refusedStarts("3735928559"),
       notStarted},
      {"Stop",
       {"QUORVANE_STANDIN_REFUSE=stop"},
       {brief},
       Cat(StartCalls("27\t0", "557143", DefaultName(brief), "1", "1"),
           {kKeepAlive, "Quorvane_Stop\t1\t=0"}),
       {Cp932(u8"タスク0を停止できませんでした。"), Cp932(u8"タスク0(27,0)を開始しました。")}}};
}

class Refused : public ::testing::TestWithParam<Refusal> {};

// After a few more ticks and Exit, the journal shows no keep-alive and no
// stop beyond those expected: a refused task is not running.
TEST_P(Refused, LogsAndLeavesNothingRunning) {
  const Refusal& r = GetParam();
  Session s;
  s.Write(kSchedule, CrLf(Cat(r.due, {kLater})));
  ASSERT_TRUE(s.Start(r.environment));
  ASSERT_TRUE(WaitUntil([&] { return s.Calls().size() >= r.calls.size(); }, 8000)) << "no calls";
  Sleep(2200);
  EXPECT_EQ(s.Log(), r.log);
  EXPECT_EQ(s.Read(kSchedule), kLater + "\r\n");
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);
  EXPECT_EQ(s.Calls(), r.calls);
}

INSTANTIATE_TEST_SUITE_P(Tuner, Refused, ::testing::ValuesIn(Refusals()),
                         [](const auto& p) { return std::string(p.param.name); });

struct Quit {
  const char* name;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

class QuitWhileRecording : public ::testing::TestWithParam<Quit> {};

TEST_P(QuitWhileRecording, StopsTheTaskSavesAndEnds) {
  const Quit& quit = GetParam();
  Session s;
  // The channel's first character has '@' as its trail byte.
  s.Write(kSchedule,
          CrLf({Line(kLongAgo, {2099, 12, 31, 0, 0, 0}, Cp932(u8"ァ院@C40"), "quit.ts2"), kLater}));
  ASSERT_TRUE(s.Start());
  // Started and saved without its line; only the quit's own save can bring
  // the file back. Read only once its size shows the save done: a handle open
  // on it makes the save's replacing fail, and one opened just as the replace
  // ends may be refused.
  WIN32_FILE_ATTRIBUTE_DATA file{};
  ASSERT_TRUE(WaitUntil([&] {
    return GetFileAttributesExA(s.Path(kSchedule).c_str(), GetFileExInfoStandard, &file) &&
           file.nFileSizeLow == kLater.size() + 2 && s.Read(kSchedule) == kLater + "\r\n";
  }));
  ASSERT_TRUE(DeleteFileA(s.Path(kSchedule).c_str()));
  if (quit.lParam != WM_RBUTTONDOWN) s.Tray(WM_LBUTTONDOWN);
  PostMessageA(s.dialog, quit.message, quit.wParam, quit.lParam);
  EXPECT_EQ(s.Exit(), 0u);
  EXPECT_EQ(s.Calls(kKeepAlive.c_str()),
            Cat(StartCalls("40\t1", "327143", "quit.ts2", "1", "1"), {"Quorvane_Stop\t1\t=1"}));
  EXPECT_EQ(s.Read(kSchedule), kLater + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Tuner, QuitWhileRecording,
                         ::testing::Values(Quit{"ExitButton", WM_COMMAND, IDC_EXIT, 0},
                                           Quit{"Close", WM_CLOSE, 0, 0},
                                           Quit{"SystemClose", WM_SYSCOMMAND, SC_CLOSE, 0},
                                           Quit{"TrayRightClick", kTrayMessage, 0, WM_RBUTTONDOWN}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace e2e
