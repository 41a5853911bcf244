// First meetings: the tuner library missing or lacking, and the tray and
// Browse trips a user makes first.
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

// Started in the tray, as a user first meets it (minimising is in the second
// copy's test). Recordings by the clock are timed by the soak, which runs a few
// here too.
TEST(Tray, StartsHiddenComesBackAfterTheNotificationAreaRestartsAndBrowses) {
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

  // Browse: an owned dialog with an empty file name box (cmb13 or edt1).
  SetWindowTextA(s.Control(IDC_FILE_NAME), "keep.ts2");
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

  // Without a channel file, the generated channels alone, the first chosen.
  EXPECT_EQ(s.Items(IDC_CHANNEL).size(), 78u);
  EXPECT_EQ(s.Text(IDC_CHANNEL), "@13");
}

}  // namespace
}  // namespace e2e
