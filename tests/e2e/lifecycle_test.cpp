// The program's life beyond one dialog: a second copy started beside it, the
// end of the Windows session, and a schedule file written by an editor with a
// byte-order mark and then held by someone else.
#include <list>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

const std::string kLater = Line({2099, 12, 30, 1, 0, 0}, {2099, 12, 30, 2, 0, 0}, "@13", "l.ts2");
const std::string kLast = Line({2099, 12, 31, 1, 0, 0}, {2099, 12, 31, 2, 0, 0}, "@14", "z.ts2");

TEST(SecondCopy, ShowsTheRunningDialogAndEndsUnlessInAnotherFolderOrAfterACrash) {
  Session s;
  ASSERT_TRUE(s.Start());
  const int64_t startMs = (NowMs() / 1000 + 5) * 1000;
  s.Add({Line(LocalAt(startMs), LocalAt(startMs + 2000), "@27", "once.ts2")});
  std::string exe = s.Path("QuorvaneScheduler.exe"), shouted = exe;
  CharUpperBuffA(shouted.data(), static_cast<DWORD>(exe.rfind('\\')));
  SetEnvironmentVariableA("QUORVANE_STANDIN_JOURNAL", s.Path("journal.txt").c_str());
  std::list<Process> copies;  // kept to the end: one that wrongly stayed would start the task too
  for (const std::string& path : {exe, shouted}) {
    SendMessageA(s.dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitUntil([&] { return !s.Visible() && s.TrayIcon(); }));
    EXPECT_EQ(copies.emplace_back(path).Exit(8000), 0u) << path;
    EXPECT_TRUE(s.Visible() && !s.TrayIcon() && GetForegroundWindow() == s.dialog);
  }
  // Another folder has a schedule file of its own.
  const std::string other = s.Path("other\\");
  std::filesystem::create_directories(other + kElsewhere);
  for (const char* file : {"QuorvaneScheduler.exe", "QuorvaneControl.dll"})
    std::filesystem::copy_file(s.Path(file), other + file);
  const Process elsewhere(other + "QuorvaneScheduler.exe");
  EXPECT_NE(elsewhere.Up(), nullptr);

  ASSERT_TRUE(WaitUntil([&] { return s.Has("Stop"); }, int(startMs - NowMs()) + 7000));
  EXPECT_EQ(s.Calls(), Cat(StartCalls(27, "once.ts2", 1), {StopCall(1)}));
  EXPECT_EQ(elsewhere.Exit(0), STILL_ACTIVE);
  s.Kill();
  EXPECT_NE(Process(exe).Up(), nullptr) << "the crashed copy still blocks";
}

TEST(WindowsSessionEnd, StopsRecordingsSavesAndLeavesTheTrayUnlessCancelled) {
  Session s;
  s.Write(kSchedule,
          CrLf({Line({2008, 1, 1, 0, 0, 0}, {2099, 12, 31, 0, 0, 0}, "@27", "end.ts2"), kLater}));
  ASSERT_TRUE(s.Start());
  ASSERT_TRUE(WaitUntil([&] { return s.Read(kSchedule) == CrLf({kLater}); }));
  // Only the session end's own save can bring the file back.
  ASSERT_TRUE(DeleteFileA(s.Path(kSchedule).c_str()));
  const auto keepAlives = [&] { return s.Calls(nullptr).size() - s.Calls().size(); };
  for (const bool ending : {false, true}) {
    // A mask of flags; on 32-bit Windows its top bit makes LPARAM negative.
    EXPECT_NE(SendMessageA(s.dialog, WM_QUERYENDSESSION, 0, LPARAM(ENDSESSION_LOGOFF)), 0);
    SendMessageA(s.dialog, WM_ENDSESSION, ending, LPARAM(ENDSESSION_LOGOFF));
    EXPECT_EQ(s.TrayIcon(), !ending);
    const size_t before = keepAlives();
    // Cancelled, the timer still ticks and nothing has stopped.
    EXPECT_TRUE(ending || (WaitUntil([&] { return keepAlives() > before; }) && !s.Has("Stop")));
  }
  s.Kill();
  EXPECT_EQ(s.Calls(), Cat(StartCalls(27, "end.ts2", 1), {StopCall(1)}));
  EXPECT_EQ(s.Read(kSchedule), CrLf({kLater}));
}

TEST(MarkedAndHeldScheduleFile, MarkSkippedNeverWrittenFailedSavesLoggedOnceAndRetried) {
  Session s;
  const std::string mark = "\xEF\xBB\xBF", channel = Cp932(u8"ソフト局 @27");
  s.Write(kSchedule, mark + CrLf({kLater}));
  s.Write("CHANNEL.TXT", mark + CrLf({channel, "@C40"}));
  ASSERT_TRUE(s.Start());
  EXPECT_EQ(s.Items(IDC_CHANNEL)[0], channel);
  const auto files = [&] {
    return std::ranges::distance(std::filesystem::recursive_directory_iterator(s.Path("")));
  };
  const auto was = files();
  for (const Texts& list : {Texts{kLater, kLast}, Texts{kLast}}) {
    // Under Wine any open handle makes the replace fail, whatever its sharing.
    const HANDLE held = CreateFileA(s.Path(kSchedule).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    const std::string before = s.Read(kSchedule);
    list.size() == 2 ? s.Add({kLast}) : (s.Select(0), s.Click(IDC_DELETE));
    EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), list);
    Sleep(3000);  // ticks that retry without logging again
    EXPECT_EQ(s.Log(),
              Texts(3 - list.size(), Cp932(u8"スケジュールファイルを保存できませんでした。")));
    EXPECT_EQ(std::pair(s.Read(kSchedule), files()), std::pair(before, was));
    CloseHandle(held);
    EXPECT_TRUE(WaitUntil([&] { return s.Read(kSchedule) == CrLf(list) && files() == was; }, 2500));
  }
  EXPECT_EQ(s.Read("journal.txt"), "") << "the 2099 task started";
}

}  // namespace
}  // namespace e2e
