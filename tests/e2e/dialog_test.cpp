// The dialog as a user first meets it: the tuner library missing or lacking;
// started in the tray, with the trips there and to Browse; now and the
// channels in its boxes, and the form commands.
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

TEST(Dialog, StartsInTheTrayShowsNowAndTheChannelsBrowsesAndEditsTheScheduleFile) {
  Session s;
  // Double-byte characters with '\' (0x5C) or '@' (0x40) as trail byte, an
  // empty line, and a last line without CR LF; not in sorted order.
  const Texts channels = {Cp932(u8"ソフト表示局 @27"), Cp932(u8"ァ院 @C40"), "", "plain.name @16",
                          Cp932(u8"予構噂 能十 @18")};
  Texts generated;
  for (int c = 13; c <= 62; ++c) generated.push_back(Said(u8"@%d", c));
  for (int c = 36; c <= 63; ++c) generated.push_back(Said(u8"@C%d", c));
  s.Write("CHANNEL.TXT", Join(channels, "\r\n"));
  const std::string partial = "2099\t07\t01",
                    full = Line({2099, 5, 6, 7, 8, 9}, {2099, 5, 6, 8, 0, 0}, channels[1],
                                "rec name.ts2"),
                    other = Line({2099, 1, 1, 0, 0, 0}, {2099, 1, 1, 1, 0, 0}, "@13", "");
  s.Write(kSchedule, CrLf({partial, full, other}));
  const std::string before = TimeText(LocalAt(NowMs()));
  ASSERT_TRUE(s.Start());
  const std::string after = TimeText(LocalAt(NowMs())), form = s.Form(), start = form.substr(0, 19);
  EXPECT_EQ(start, form.substr(20, 19)) << "start and end boxes differ";
  EXPECT_TRUE(start >= before && start <= after) << start;
  EXPECT_EQ(s.Items(IDC_CHANNEL), Cat(channels, generated));
  EXPECT_EQ(s.Text(IDC_CHANNEL), channels[0]) << "the first not chosen";

  // Started in the tray (minimising is in the second copy's test).
  EXPECT_FALSE(s.Visible());
  // A restarted notification area has lost the icon and says TaskbarCreated:
  // the hidden program puts it back.
  ASSERT_TRUE(s.TrayIcon(NIM_DELETE));
  SendMessageA(s.dialog, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return s.TrayIcon() && !s.Visible(); }));
  s.Tray(WM_LBUTTONDOWN);
  EXPECT_TRUE(WaitUntil([&] { return s.Visible() && !s.TrayIcon(); }));

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

  // The list is loaded after the tray icon is up.
  ASSERT_TRUE(WaitUntil([&] { return s.Items(IDC_SCHEDULE_LIST) == Texts{other, full, partial}; }));
  s.Select(1);
  EXPECT_EQ(s.Form(), full);
  s.Select(2);
  EXPECT_EQ(s.Form(), partial + std::string(11, '\t')) << "missing fields not emptied";
  s.Click(IDC_DELETE);
  EXPECT_EQ(s.Read(kSchedule), CrLf({other, full}));
  s.Select(-1);  // with no line selected nothing goes
  s.Click(IDC_DELETE);
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), (Texts{other, full}));

  // Sorted in by start time, equal minutes by their seconds. The dates, times
  // and TABs take 41 bytes: a line of 1022 bytes is refused, one of 1021 taken.
  const auto sized = [](size_t channelBytes) {
    return Line({2099, 6, 1, 0, 0, 0}, {2099, 6, 1, 1, 0, 0}, std::string(channelBytes, 'c'),
                std::string(490, 'f'));
  };
  const Texts added = {
      Line({2099, 3, 4, 5, 6, 7}, {2099, 3, 4, 6, 0, 0}, "@27", ""),
      Line({2098, 12, 31, 23, 59, 59}, {2099, 1, 1, 0, 30, 0}, channels[1], "b.ts2"),
      Line({2099, 3, 4, 5, 6, 6}, {2099, 3, 4, 5, 7, 0}, "@C63", "d d.ts2"), sized(491),
      sized(490)};
  s.Add(added);
  const Texts expected = {added[1], other, added[2], added[0], full, sized(490)};
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), expected);
  EXPECT_EQ(s.Read(kSchedule), CrLf(expected));
}

}  // namespace
}  // namespace e2e
