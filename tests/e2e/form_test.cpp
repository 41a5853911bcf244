// The form commands: Add, selecting a line, Delete and Browse.
#include <gtest/gtest.h>

#include <algorithm>

#include "resources/resource_ids.h"
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

constexpr int kFormIds[14] = {IDC_START_YEAR,   IDC_START_MONTH,  IDC_START_DAY,  IDC_START_HOUR,
                              IDC_START_MINUTE, IDC_START_SECOND, IDC_END_YEAR,   IDC_END_MONTH,
                              IDC_END_DAY,      IDC_END_HOUR,     IDC_END_MINUTE, IDC_END_SECOND,
                              IDC_CHANNEL,      IDC_FILE_NAME};

std::vector<std::string> FormTexts(const Session& s) {
  std::vector<std::string> texts;
  for (int id : kFormIds) texts.push_back(s.Text(id));
  return texts;
}

int IndexOf(const std::vector<std::string>& lines, const std::string& line) {
  const auto it = std::find(lines.begin(), lines.end(), line);
  return it == lines.end() ? -1 : static_cast<int>(it - lines.begin());
}

TEST(Form, AddKeepsTheScheduleFileSortedByStartTime) {
  Session s;
  ASSERT_TRUE(s.Start());
  const std::vector<std::string> a =
      FormFields(At(2099, 3, 4, 5, 6, 7), At(2099, 3, 4, 6, 0, 0), "@27", "");
  const std::vector<std::string> b = FormFields(
      At(2098, 12, 31, 23, 59, 59), At(2099, 1, 1, 0, 30, 0), Cp932(u8"ァ院 @C40"), "b.ts2");
  const std::vector<std::string> c =
      FormFields(At(2099, 1, 15, 20, 0, 0), At(2099, 1, 15, 21, 0, 0), "@13", "c name.ts2");
  // Same minute as a, one second earlier.
  const std::vector<std::string> d =
      FormFields(At(2099, 3, 4, 5, 6, 6), At(2099, 3, 4, 5, 7, 0), "@C63", "d.ts2");

  s.FillForm(a);
  s.Click(IDC_ADD);
  const std::string lineA = JoinFields(a);
  ASSERT_EQ(std::count(lineA.begin(), lineA.end(), '\t'), 13);
  ASSERT_EQ(lineA.back(), '\t');
  EXPECT_EQ(s.ScheduleLines(), std::vector<std::string>{lineA});
  EXPECT_EQ(s.Schedule(), lineA + "\r\n");
  EXPECT_EQ(FormTexts(s), a) << "the form keeps its contents";

  for (const auto* fields : {&b, &c, &d}) {
    s.FillForm(*fields);
    s.Click(IDC_ADD);
  }
  std::vector<std::string> expected = {JoinFields(b), JoinFields(c), JoinFields(d), lineA};
  EXPECT_EQ(s.ScheduleLines(), expected);
  EXPECT_EQ(s.Schedule(), JoinCrLf(expected));

  // The same form twice gives two equal lines.
  s.Click(IDC_ADD);
  expected.insert(expected.begin() + 2, JoinFields(d));
  EXPECT_EQ(s.ScheduleLines(), expected);
  EXPECT_EQ(s.Schedule(), JoinCrLf(expected));
  EXPECT_TRUE(s.Running());
}

TEST(Form, SelectingALineFillsTheForm) {
  Session s;
  const std::vector<std::string> full = FormFields(At(2099, 5, 6, 7, 8, 9), At(2099, 5, 6, 8, 0, 0),
                                                   Cp932(u8"ァ院 @C40"), "rec name.ts2");
  const std::string shortLine = "2099\t07\t01";
  s.WriteFile(kScheduleName, JoinCrLf({JoinFields(full), shortLine}));
  ASSERT_TRUE(s.Start());
  ASSERT_TRUE(WaitUntil([&] { return s.ScheduleLines().size() == 2; }, 3000));
  const std::vector<std::string> lines = s.ScheduleLines();

  s.SelectLine(IndexOf(lines, JoinFields(full)));
  EXPECT_EQ(FormTexts(s), full);

  // Fields the line lacks become empty.
  s.SelectLine(IndexOf(lines, shortLine));
  std::vector<std::string> expected(14);
  expected[0] = "2099";
  expected[1] = "07";
  expected[2] = "01";
  EXPECT_EQ(FormTexts(s), expected);

  // A notification without a selected line leaves the form alone.
  s.SelectLine(-1);
  EXPECT_EQ(FormTexts(s), expected);
  EXPECT_EQ(s.ScheduleLines(), lines);
}

TEST(Form, DeleteRemovesTheSelectedLineAndRewritesTheFile) {
  Session s;
  const std::string first =
      JoinFields(FormFields(At(2099, 1, 1, 0, 0, 0), At(2099, 1, 1, 1, 0, 0), "@13", ""));
  const std::string second =
      JoinFields(FormFields(At(2099, 2, 1, 0, 0, 0), At(2099, 2, 1, 1, 0, 0), "@14", "x.ts2"));
  const std::string third =
      JoinFields(FormFields(At(2099, 3, 1, 0, 0, 0), At(2099, 3, 1, 1, 0, 0), "@15", ""));
  s.WriteFile(kScheduleName, JoinCrLf({third, first, second}));
  ASSERT_TRUE(s.Start());
  ASSERT_TRUE(WaitUntil([&] { return s.ScheduleLines().size() == 3; }, 3000));
  ASSERT_EQ(s.ScheduleLines(), (std::vector<std::string>{first, second, third}));

  s.SelectLine(1);
  s.Click(IDC_DELETE);
  const std::vector<std::string> left = {first, third};
  EXPECT_EQ(s.ScheduleLines(), left);
  EXPECT_EQ(s.Schedule(), JoinCrLf(left));

  // Without a selection nothing goes, but the file is written again.
  s.WriteFile(kScheduleName, "stale\r\n");
  SendMessageA(s.Control(IDC_SCHEDULE_LIST), LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  s.Click(IDC_DELETE);
  EXPECT_EQ(s.ScheduleLines(), left);
  EXPECT_EQ(s.Schedule(), JoinCrLf(left));
}

TEST(Form, AddRefusesALineLongerThan1021Bytes) {
  Session s;
  const std::string kept =
      JoinFields(FormFields(At(2098, 1, 1, 0, 0, 0), At(2098, 1, 1, 1, 0, 0), "@13", ""));
  s.WriteFile(kScheduleName, kept + "\r\n");
  ASSERT_TRUE(s.Start());
  ASSERT_TRUE(WaitUntil([&] { return s.ScheduleLines().size() == 1; }, 3000));

  // The twelve date and time fields and thirteen TABs take 41 bytes.
  auto form = [](size_t channelBytes, size_t nameBytes) {
    return FormFields(At(2099, 6, 1, 0, 0, 0), At(2099, 6, 1, 1, 0, 0),
                      "@27" + std::string(channelBytes - 3, 'c'),
                      std::string(nameBytes - 4, 'f') + ".ts2");
  };
  for (const auto& [channelBytes, nameBytes] : {std::pair<size_t, size_t>{511, 511}, {491, 490}}) {
    const std::vector<std::string> fields = form(channelBytes, nameBytes);
    s.FillForm(fields);
    ASSERT_EQ(s.Text(IDC_CHANNEL).size(), channelBytes);
    ASSERT_EQ(s.Text(IDC_FILE_NAME).size(), nameBytes);
    s.Click(IDC_ADD);
    EXPECT_EQ(s.ScheduleLines(), std::vector<std::string>{kept})
        << JoinFields(fields).size() << " bytes accepted";
    EXPECT_EQ(s.Schedule(), kept + "\r\n");
  }

  const std::vector<std::string> fits = form(490, 490);
  ASSERT_EQ(JoinFields(fits).size(), 1021u);
  s.FillForm(fits);
  s.Click(IDC_ADD);
  const std::vector<std::string> expected = {kept, JoinFields(fits)};
  EXPECT_EQ(s.ScheduleLines(), expected);
  EXPECT_EQ(s.Schedule(), JoinCrLf(expected));
}

// The open-file dialog of this process owned by the main dialog.
HWND WaitForOpenDialog(const Session& s) {
  HWND box = nullptr;
  WaitUntil(
      [&] {
        box = s.FindOtherDialog();
        return box != nullptr && IsWindowVisible(box);
      },
      10000);
  return box;
}

// The file name box of either style of open-file dialog.
HWND FileNameBox(HWND box) {
  HWND name = GetDlgItem(box, 0x47c);                      // cmb13
  return name != nullptr ? name : GetDlgItem(box, 0x480);  // edt1
}

TEST(Browse, OpensOwnedOpenFileDialogAndCancelKeepsTheName) {
  Session s;
  ASSERT_TRUE(s.Start());
  s.TrayClick(WM_LBUTTONDOWN);
  s.Type(IDC_FILE_NAME, "keep.ts2");
  s.PostClick(IDC_BROWSE);
  const HWND box = WaitForOpenDialog(s);
  ASSERT_NE(box, nullptr) << "no open-file dialog";
  EXPECT_EQ(GetWindow(box, GW_OWNER), s.Dialog());

  const HWND name = FileNameBox(box);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(GetText(name), "") << "the dialog starts with an empty file name";
  const HWND types = GetDlgItem(box, 0x470);  // cmb1
  ASSERT_NE(types, nullptr);
  EXPECT_EQ(ComboItems(types),
            (std::vector<std::string>{Cp932(u8"TS2ファイル (*.ts2)"), Cp932(u8"全てのファイル")}));

  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5000));
  EXPECT_EQ(s.Text(IDC_FILE_NAME), "keep.ts2");
  EXPECT_TRUE(s.Running());
}

TEST(Browse, ConfirmedChoiceFillsTheFullPath) {
  Session s;
  ASSERT_TRUE(s.Start());
  s.TrayClick(WM_LBUTTONDOWN);
  s.PostClick(IDC_BROWSE);
  const HWND box = WaitForOpenDialog(s);
  ASSERT_NE(box, nullptr) << "no open-file dialog";
  const HWND name = FileNameBox(box);
  ASSERT_NE(name, nullptr);
  SetText(name, "picked.ts2");
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5000));
  EXPECT_TRUE(WaitUntil([&] { return s.Text(IDC_FILE_NAME) == s.PathOf("picked.ts2"); }, 3000))
      << s.Text(IDC_FILE_NAME);
}

}  // namespace
}  // namespace e2e
