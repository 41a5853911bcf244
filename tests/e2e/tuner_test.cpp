// Through the tuner library: binding it, and a recording started and stopped
// by the clock (after the tray and Browse trips a user makes first).
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

TEST(Library, MissingLackingOrOnlyInTheCurrentFolderGivesError100) {
  const std::string error = Cp932(u8"QuorvaneControl.dllのロードに失敗しました");
  for (const auto& [beside, planted] :
       {std::pair<std::string, bool>{"", false},
        {Built("LACKING_LIBRARY", QUORVANE_E2E_LACKING_LIBRARY), false},
        {"", true}}) {
    SCOPED_TRACE(beside + (planted ? " and one in the current folder" : ""));
    Session s;
    ASSERT_TRUE(!planted || CopyFileA(Built("LIBRARY", QUORVANE_E2E_LIBRARY).c_str(),
                                      s.Path(kElsewhere + "QuorvaneControl.dll").c_str(), FALSE));
    ASSERT_TRUE(s.Launch(beside));
    HWND box = nullptr;  // its text is item 0xFFFF
    EXPECT_TRUE(WaitUntil([&] { return GetText(GetDlgItem(box = s.Find(false), 0xFFFF)) == error; },
                          10000));
    EXPECT_EQ(s.Find(true), nullptr);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(s.Exit(), 0u);
  }
}

// Started in the tray, as a user first meets it, and recording by the clock.
TEST(Recording, StartsHiddenTripsToTheTrayBrowsesAndRecordsByTheClock) {
  Session s;
  ASSERT_TRUE(s.Start());
  EXPECT_FALSE(s.Visible());
  // A restarted notification area has lost the icon and says TaskbarCreated;
  // only a hidden program has an icon to put back.
  const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
  ASSERT_TRUE(s.TrayIcon(NIM_DELETE));
  SendMessageA(s.dialog, taskbarCreated, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return s.TrayIcon() && !s.Visible(); }));
  s.Tray(WM_LBUTTONDOWN);
  EXPECT_TRUE(WaitUntil([&] { return s.Visible() && !s.TrayIcon(); }));
  SendMessageA(s.dialog, taskbarCreated, 0, 0);
  EXPECT_FALSE(s.TrayIcon());
  SendMessageA(s.dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(WaitUntil([&] { return !s.Visible() && s.TrayIcon() && !IsIconic(s.dialog); }));
  s.Tray(WM_LBUTTONDOWN);
  EXPECT_TRUE(WaitUntil([&] { return s.Visible() && !s.TrayIcon(); }));

  // Browse: an owned dialog with an empty file name box (cmb13 or edt1).
  s.Type(IDC_FILE_NAME, "keep.ts2");
  s.Post(IDC_BROWSE);
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(box = s.Find(false)); }, 10000));
  EXPECT_EQ(GetWindow(box, GW_OWNER), s.dialog);
  const HWND field = GetDlgItem(box, 0x47c) ? GetDlgItem(box, 0x47c) : GetDlgItem(box, 0x480);
  EXPECT_TRUE(field != nullptr && GetText(field).empty());
  EXPECT_EQ(Items(GetDlgItem(box, 0x470), false),
            (Texts{Cp932(u8"TS2ファイル (*.ts2)"), Cp932(u8"全てのファイル")}));
  PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
  EXPECT_EQ(s.Text(IDC_FILE_NAME), "keep.ts2");

  // Without a channel file, the generated channels alone.
  EXPECT_EQ(s.Items(IDC_CHANNEL).size(), 78u);
  EXPECT_EQ(s.Text(IDC_CHANNEL), "@13");
  // Counted from now that the dialog is up, however slowly it started.
  const int64_t startMs = (NowMs() / 1000 + 3) * 1000, endMs = startMs + 3000;
  // A station name in the channel text makes a Japanese default name.
  const std::string line =
      Line(LocalAt(startMs), LocalAt(endMs), Cp932(u8"みなと総合テレビ @27"), "");
  s.Add({line});
  ASSERT_TRUE(WaitUntil([&] { return s.Has("Quorvane_Stop"); }, int(endMs - NowMs()) + 5000));
  Sleep(1300);  // one more tick, that must call nothing
  const std::vector<Call> calls = s.Journal();
  const auto keepAlives = std::ranges::count(s.Calls(nullptr), "Quorvane_UpdateTimeout\t1\t=1");
  EXPECT_TRUE(keepAlives >= 2 && keepAlives <= 4) << keepAlives;
  const std::string name = Join(Split(line, "\t"), "_") + ".ts2";  // the default name
  ASSERT_EQ(s.Calls(), Cat(StartCalls(27, name, 1), {StopCall(1)}));
  EXPECT_TRUE(calls[2].ms >= startMs && calls[2].ms < startMs + 2500) << "started in its second";
  EXPECT_GE(calls.back().ms, endMs);
  Texts stamps;
  ASSERT_EQ(s.Log(&stamps),
            (Texts{Cp932(u8"タスク0を停止しました。"), Cp932(u8"タスク0(27,0)を開始しました。")}));
  EXPECT_GE(stamps[1], TimeText(LocalAt(startMs)));
  EXPECT_GE(stamps[0], TimeText(LocalAt(endMs)));
  EXPECT_LE(stamps[0], TimeText(LocalAt(endMs + 3000)));
  EXPECT_EQ(s.Read(kElsewhere + name).substr(0, 1), "\x47") << "no recording";
  EXPECT_EQ(s.Read(kSchedule), "");
}

}  // namespace
}  // namespace e2e
