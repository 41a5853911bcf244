// The program's life beyond one dialog: a second copy started beside it, and
// its end, by the user or with the Windows session.
#include <list>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

const std::string kLater = Line({2099, 12, 30, 1, 0, 0}, {2099, 12, 30, 2, 0, 0}, "@13", "l.ts2");

TEST(SecondCopy, ShowsTheRunningDialogAndEndsUnlessInAnotherFolderOrAfterACrash) {
  Session s;
  ASSERT_TRUE(s.Start());
  const int64_t startMs = (NowMs() / 1000 + 5) * 1000;
  s.Add({Line(LocalAt(startMs), LocalAt(startMs + 2000), "@27", "once.ts2")});
  std::string exe = s.Path("QuorvaneScheduler.exe"), shouted = exe;
  CharUpperBuffA(shouted.data(), static_cast<DWORD>(exe.rfind('\\')));
  SetEnvironmentVariableA("QUORVANE_STANDIN_JOURNAL", s.Path("journal.txt").c_str());
  std::list<Process> copies;  // kept to the end: one that wrongly stayed would start the task too
  copies.emplace_back().arguments = "/BackGround";  // started by Windows: nothing to show the user
  EXPECT_TRUE(copies.back().Run(exe) && copies.back().Exit(8000) == 0 && !s.Visible());
  for (const std::string& path : {exe, shouted}) {
    SendMessageA(s.dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitUntil([&] { return !s.Visible() && s.TrayIcon() && !IsIconic(s.dialog); }));
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

// Asked to quit while a task records: the running task is stopped and the list saved (without it:
// only this save can bring back the file deleted after the first). The channel's first character
// has '@' as its trail byte. The task ends after the test's time is up; its 360 MB could warn only
// on a nearly full disk, in a log not read.
using Quit = std::tuple<UINT, WPARAM, LPARAM>;
class QuitWhileRecording : public ::testing::TestWithParam<Quit> {};

TEST_P(QuitWhileRecording, StopsTheTaskAndSaves) {
  const auto [message, wParam, lParam] = GetParam();
  Session s;
  s.Write(
      kSchedule,
      CrLf({Line({2008, 1, 1, 0, 0, 0}, LocalAt(NowMs() + 120000), Cp932(u8"ァ院@C40"), "quit.ts2"),
            kLater}));
  ASSERT_TRUE(s.Start());
  // A save that this reading makes fail is made good at the next tick.
  ASSERT_TRUE(WaitUntil([&] { return s.Read(kSchedule) == kLater + "\r\n"; }));
  ASSERT_TRUE(DeleteFileA(s.Path(kSchedule).c_str()));
  if (lParam != WM_RBUTTONDOWN) s.Tray(WM_LBUTTONDOWN);
  PostMessageA(s.dialog, message, wParam, lParam);
  EXPECT_EQ(s.Exit(), 0u);
  EXPECT_EQ(s.Calls(), (Texts{"Quorvane_ManagerPing\t=1", "Quorvane_ChannelToFreq\t40\t1\t=327143",
                              "Quorvane_SaveFile\t327143\t0\t1\t5\tquit.ts2\t=1\thandle=1",
                              "Quorvane_Stop\t1\t=1"}));
  EXPECT_EQ(s.Read(kSchedule), kLater + "\r\n");
}

// The caption's close box (the close command through the dialog manager), a
// right click on the tray icon (the Exit button is the re-entry cases'; the
// end of the session is the end-of-session case's and theirs).
INSTANTIATE_TEST_SUITE_P(Tuner, QuitWhileRecording,
                         ::testing::Values(Quit{WM_SYSCOMMAND, SC_CLOSE, 0},
                                           Quit{kTrayMessage, 0, WM_RBUTTONDOWN}));

// Asked whether the session may end while a task records: refused with the
// reason for a shutdown, a sign-out and an installer's close, granted when
// critical; neither the question nor a cancelled end stops anything. After
// the recording: granted, the reason withdrawn, and an installer's close
// ends the program by itself, its list saved. Started as Windows restarts it,
// and registered to be restarted so. Wine's stubs print each call on the
// calling thread, a pointer in 8 or 16 digits.
TEST(EndOfSession, RefusedWhileRecordingAndAnInstallersCloseEndsTheProgramAfter) {
  Session s;
  s.arguments = "/background";
  ASSERT_TRUE(s.Start({"WINEDEBUG=-all,fixme+process,fixme+graphics"}) && !s.Visible());
  const std::string dialog = std::string(sizeof(HWND) * 2 - 8, '0') +
                             Said(u8"%08X", int(uintptr_t(s.dialog))),
                    reason = "fixme:graphics:ShutdownBlockReasonCreate (" + dialog +
                             R"(, L"\9332\753b\4e2d\3067\3059\3002"): stub|)";
  const auto calls = [&] { return Join(s.Printed(false, "fixme:"), "|") + "|"; };
  const int64_t startMs = (NowMs() / 1000 + 1) * 1000;
  s.Add({Line(LocalAt(startMs), LocalAt(startMs + 6000), "@27", "end.ts2"), kLater});
  ASSERT_TRUE(WaitUntil([&] { return s.Has("SaveFile"); }));
  const auto ask = [&](LPARAM f) { return SendMessageA(s.dialog, WM_QUERYENDSESSION, 0, f); };
  EXPECT_EQ(ask(ENDSESSION_CRITICAL | LPARAM(ENDSESSION_LOGOFF)), TRUE);
  EXPECT_EQ(ask(0) + SendMessageA(s.dialog, WM_ENDSESSION, FALSE, 0) +
                ask(LPARAM(ENDSESSION_LOGOFF)) + ask(ENDSESSION_CLOSEAPP),
            FALSE);
  const size_t journalled = s.Journal().size();
  EXPECT_TRUE(WaitUntil([&] { return s.Journal().size() > journalled; }) && !s.Has("Stop"));
  ASSERT_TRUE(WaitUntil([&] { return s.Has("Stop"); }, 8000));
  const std::string expected = R"(fixme:process:RegisterApplicationRestart (L"/background",0)|)" +
                               reason + reason + reason +
                               "fixme:graphics:ShutdownBlockReasonDestroy (" + dialog + "): stub|";
  EXPECT_TRUE(WaitUntil([&] { return calls() == expected; }, 3000)) << calls();
  EXPECT_EQ(ask(0) + ask(ENDSESSION_CLOSEAPP), 2 * TRUE);
  ASSERT_TRUE(DeleteFileA(s.Path(kSchedule).c_str()));
  SendMessageA(s.dialog, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
  EXPECT_EQ(s.Exit(), 0u);
  EXPECT_EQ(s.Read(kSchedule) + calls(), kLater + "\r\n" + expected) << "withdrawn again";
}

}  // namespace
}  // namespace e2e
