// The program's life beyond one dialog: a second copy started beside it, the
// end of the Windows session, a schedule file held by someone else, and files
// written by editors with a byte-order mark.
#include <memory>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

// A mask of flags; on 32-bit Windows its top bit makes LPARAM negative.
const LPARAM kLogoff = static_cast<LPARAM>(ENDSESSION_LOGOFF);

const std::string kSaveFailed = Cp932(u8"スケジュールファイルを保存できませんでした。");
const std::string kLater = Line({2099, 12, 30, 1, 0, 0}, {2099, 12, 30, 2, 0, 0}, "@13", "l.ts2");

// The journal of a task on @27 that started and stopped.
Texts RecordedOn27(const std::string& fileName) {
  return Cat(StartCalls(27, fileName, 1), {StopCall(1)});
}

// One more copy of the program, journaling to `journal`.
std::unique_ptr<Process> Copy(const std::string& exe, const std::string& journal) {
  SetEnvironmentVariableA("QUORVANE_STANDIN_JOURNAL", journal.c_str());
  auto copy = std::make_unique<Process>();
  copy->Run(exe);
  return copy;
}

TEST(SecondCopy, ShowsTheRunningDialogAndEndsUnlessInAnotherFolderOrAfterACrash) {
  Session s;
  ASSERT_TRUE(s.Start());
  const int64_t startMs = (NowMs() / 1000 + 5) * 1000;
  s.Add({Line(LocalAt(startMs), LocalAt(startMs + 2000), "@27", "once.ts2")});
  const std::string exe = s.Path("QuorvaneScheduler.exe"), journal = s.Path("journal.txt");
  const size_t name = exe.rfind('\\');
  std::string shouted = exe;
  CharUpperBuffA(shouted.data(), static_cast<DWORD>(name));
  ASSERT_NE(shouted, exe);
  // Kept to the end: a copy that wrongly stayed would start the task too.
  std::vector<std::unique_ptr<Process>> copies;
  for (const std::string& path : {exe, shouted}) {
    SCOPED_TRACE(path);
    SendMessageA(s.dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitUntil([&] { return !s.Visible() && s.TrayIcon(); }));
    copies.push_back(Copy(path, journal));
    EXPECT_EQ(copies.back()->Exit(8000), 0u);
    EXPECT_TRUE(s.Visible());
    EXPECT_FALSE(s.TrayIcon());
    EXPECT_EQ(GetForegroundWindow(), s.dialog);
  }
  // Another folder has a schedule file of its own.
  const std::string other = s.Path("other\\");
  ASSERT_TRUE(CreateDirectoryA(other.c_str(), nullptr) &&
              CreateDirectoryA((other + kElsewhere).c_str(), nullptr) &&
              CopyFileA(exe.c_str(), (other + "QuorvaneScheduler.exe").c_str(), FALSE) &&
              CopyFileA(s.Path("QuorvaneControl.dll").c_str(),
                        (other + "QuorvaneControl.dll").c_str(), FALSE));
  const auto elsewhere = Copy(other + "QuorvaneScheduler.exe", other + "journal.txt");
  EXPECT_NE(elsewhere->Up(), nullptr);

  ASSERT_TRUE(WaitUntil([&] { return s.Read("journal.txt").find("Stop") != std::string::npos; },
                        static_cast<int>(startMs - NowMs()) + 7000));
  EXPECT_EQ(s.Calls(), RecordedOn27("once.ts2"));
  EXPECT_EQ(elsewhere->Exit(0), STILL_ACTIVE);
  s.Kill();
  EXPECT_NE(Copy(exe, journal)->Up(), nullptr) << "the crashed copy still blocks";
}

TEST(WindowsSessionEnd, StopsRecordingsSavesAndLeavesTheTrayUnlessCancelled) {
  Session s;
  s.Write(kSchedule,
          CrLf({Line({2008, 1, 1, 0, 0, 0}, {2099, 12, 31, 0, 0, 0}, "@27", "end.ts2"), kLater}));
  ASSERT_TRUE(s.Start());
  ASSERT_TRUE(WaitUntil([&] { return s.Read(kSchedule) == kLater + "\r\n"; }));
  // Only the session end's own save can bring the file back.
  ASSERT_TRUE(DeleteFileA(s.Path(kSchedule).c_str()));
  const auto keepAlives = [&] { return s.Calls(nullptr).size() - s.Calls().size(); };

  EXPECT_NE(SendMessageA(s.dialog, WM_QUERYENDSESSION, 0, kLogoff), 0);
  SendMessageA(s.dialog, WM_ENDSESSION, FALSE, kLogoff);
  const size_t before = keepAlives();
  EXPECT_TRUE(WaitUntil([&] { return keepAlives() > before; })) << "the timer stopped";
  EXPECT_TRUE(s.TrayIcon());
  EXPECT_EQ(s.Read("journal.txt").find("Stop"), std::string::npos);

  EXPECT_NE(SendMessageA(s.dialog, WM_QUERYENDSESSION, 0, kLogoff), 0);
  SendMessageA(s.dialog, WM_ENDSESSION, TRUE, kLogoff);
  EXPECT_FALSE(s.TrayIcon());
  EXPECT_FALSE(s.Visible());
  s.Kill();
  EXPECT_EQ(s.Calls(), RecordedOn27("end.ts2"));
  EXPECT_EQ(s.Read(kSchedule), kLater + "\r\n");
}

Texts FolderOf(const Session& s) {
  Texts names;
  for (const auto& entry : std::filesystem::directory_iterator(s.Path("")))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Under Wine any open handle makes the replace fail, whatever its sharing.
HANDLE Hold(const Session& s) {
  return CreateFileA(s.Path(kSchedule).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

TEST(HeldScheduleFile, FailedSavesAreLoggedOnceAndRetriedUntilTheFileIsFree) {
  Session s;
  const std::string a = Line({2099, 1, 1, 0, 0, 0}, {2099, 1, 1, 1, 0, 0}, "@13", "a.ts2");
  const std::string b = Line({2099, 2, 1, 0, 0, 0}, {2099, 2, 1, 1, 0, 0}, "@14", "b.ts2");
  s.Write(kSchedule, CrLf({a}));
  ASSERT_TRUE(s.Start());
  const Texts folder = FolderOf(s);
  HANDLE held = Hold(s);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  s.Add({b});
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), (Texts{a, b}));
  Sleep(3000);  // ticks that retry without logging again
  EXPECT_EQ(s.Log(), Texts{kSaveFailed});
  EXPECT_EQ(s.Read(kSchedule), CrLf({a}));
  EXPECT_EQ(FolderOf(s), folder);
  CloseHandle(held);
  EXPECT_TRUE(WaitUntil([&] { return s.Read(kSchedule) == CrLf({a, b}); }, 2500));
  EXPECT_EQ(FolderOf(s), folder);

  held = Hold(s);
  s.Select(0);
  s.Click(IDC_DELETE);
  EXPECT_EQ(s.Log(), (Texts{kSaveFailed, kSaveFailed}));
  CloseHandle(held);
  EXPECT_TRUE(WaitUntil([&] { return s.Read(kSchedule) == CrLf({b}); }, 2500));
}

TEST(ByteOrderMark, SkippedInTheScheduleAndChannelFilesAndNeverWritten) {
  Session s;
  const std::string mark = "\xEF\xBB\xBF", channel = Cp932(u8"ソフト局 @27");
  const std::string a = Line({2099, 1, 1, 0, 0, 0}, {2099, 1, 1, 1, 0, 0}, "@13", "");
  const std::string b = Line({2099, 1, 2, 0, 0, 0}, {2099, 1, 2, 1, 0, 0}, "@14", "");
  s.Write(kSchedule, mark + CrLf({a}));
  s.Write("CHANNEL.TXT", mark + CrLf({channel, "@C40"}));
  ASSERT_TRUE(s.Start());
  EXPECT_EQ(s.Items(IDC_CHANNEL)[0], channel);
  EXPECT_EQ(s.Text(IDC_CHANNEL), channel);
  Sleep(2200);  // ticks that must start nothing
  EXPECT_EQ(s.Read("journal.txt"), "");
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), Texts{a});
  s.Add({b});
  EXPECT_EQ(s.Read(kSchedule), CrLf({a, b}));
}

}  // namespace
}  // namespace e2e
