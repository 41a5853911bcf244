// Start-up state, the tray icon and the dialog's trips to and from the tray.
#include <gtest/gtest.h>

#include <cstdio>

#include "resources/resource_ids.h"
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

std::vector<std::string> Numbers(int from, int to, const char* format) {
  std::vector<std::string> items;
  for (int value = from; value <= to; ++value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    items.emplace_back(text);
  }
  return items;
}

std::string ShownTime(const Session& s, int year, int month, int day, int hour, int minute,
                      int second) {
  return s.Text(year) + "/" + s.Text(month) + "/" + s.Text(day) + " " + s.Text(hour) + ":" +
         s.Text(minute) + ":" + s.Text(second);
}

TEST(StartUp, HiddenInTrayShowingNowWithOfferedItems) {
  Session s;
  LaunchOptions options;
  // Neither a command line nor a show state may bring the dialog up.
  options.commandTail = " /show extra";
  options.showState = SW_SHOWNORMAL;
  const std::string before = StampText(LocalTimeAt(NowEpochMs()));
  ASSERT_TRUE(s.Start(options));
  const std::string after = StampText(LocalTimeAt(NowEpochMs()));

  EXPECT_FALSE(s.Visible());
  EXPECT_TRUE(s.TrayIcon());
  for (HWND window : TopLevelWindows(s.ProcessId())) {
    EXPECT_FALSE(IsWindowVisible(window)) << "visible window of class " << ClassName(window);
  }

  const std::string start = ShownTime(s, IDC_START_YEAR, IDC_START_MONTH, IDC_START_DAY,
                                      IDC_START_HOUR, IDC_START_MINUTE, IDC_START_SECOND);
  const std::string end = ShownTime(s, IDC_END_YEAR, IDC_END_MONTH, IDC_END_DAY, IDC_END_HOUR,
                                    IDC_END_MINUTE, IDC_END_SECOND);
  EXPECT_EQ(start, end);
  EXPECT_GE(start, before);
  EXPECT_LE(start, after);

  const std::vector<std::string> years = Numbers(2008, 2099, "%d");
  const std::vector<std::string> months = Numbers(1, 12, "%02d");
  const std::vector<std::string> days = Numbers(1, 31, "%02d");
  const std::vector<std::string> hours = Numbers(0, 23, "%02d");
  const std::vector<std::string> sixty = Numbers(0, 59, "%02d");
  for (int offset : {0, IDC_END_YEAR - IDC_START_YEAR}) {
    EXPECT_EQ(ComboItems(s.Control(IDC_START_YEAR + offset)), years);
    EXPECT_EQ(ComboItems(s.Control(IDC_START_MONTH + offset)), months);
    EXPECT_EQ(ComboItems(s.Control(IDC_START_DAY + offset)), days);
    EXPECT_EQ(ComboItems(s.Control(IDC_START_HOUR + offset)), hours);
    EXPECT_EQ(ComboItems(s.Control(IDC_START_MINUTE + offset)), sixty);
    EXPECT_EQ(ComboItems(s.Control(IDC_START_SECOND + offset)), sixty);
  }
  EXPECT_TRUE(s.ScheduleLines().empty());
  EXPECT_EQ(s.Text(IDC_LOG), "");
  EXPECT_EQ(s.Text(IDC_FILE_NAME), "");
}

TEST(Tray, MinimiseHidesToTrayAndLeftClickRestores) {
  Session s;
  ASSERT_TRUE(s.Start());

  // Only the left button going down restores.
  s.TrayClick(WM_LBUTTONUP);
  s.TrayClick(WM_LBUTTONDBLCLK);
  s.TrayClick(WM_MOUSEMOVE);
  EXPECT_FALSE(s.Visible());
  EXPECT_TRUE(s.TrayIcon());

  s.TrayClick(WM_LBUTTONDOWN);
  EXPECT_TRUE(WaitUntil([&] { return s.Visible(); }, 3000));
  EXPECT_FALSE(s.TrayIcon());

  SendMessageA(s.Dialog(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(WaitUntil([&] { return !s.Visible(); }, 3000));
  EXPECT_TRUE(s.TrayIcon());
  EXPECT_FALSE(IsIconic(s.Dialog())) << "minimised the ordinary way instead of to the tray";

  s.TrayClick(WM_LBUTTONDOWN);
  EXPECT_TRUE(WaitUntil([&] { return s.Visible(); }, 3000));
  EXPECT_FALSE(s.TrayIcon());
  EXPECT_FALSE(IsIconic(s.Dialog()));
  EXPECT_TRUE(s.Running());
}

TEST(Tray, IconComesBackWhenTheNotificationAreaRestartsWhileHidden) {
  Session s;
  ASSERT_TRUE(s.Start());
  const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
  ASSERT_NE(taskbarCreated, 0u);

  // A restarted notification area has forgotten the icon.
  ASSERT_TRUE(DeleteTrayIcon(s.Dialog()));
  ASSERT_FALSE(s.TrayIcon());
  SendMessageA(s.Dialog(), taskbarCreated, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return s.TrayIcon(); }, 3000));
  EXPECT_FALSE(s.Visible());

  // Shown, the program has no icon to put back.
  s.TrayClick(WM_LBUTTONDOWN);
  ASSERT_TRUE(WaitUntil([&] { return s.Visible() && !s.TrayIcon(); }, 3000));
  SendMessageA(s.Dialog(), taskbarCreated, 0, 0);
  EXPECT_FALSE(s.TrayIcon());
  EXPECT_TRUE(s.Visible());

  // Hidden again, it re-adds the icon, and a left click still restores.
  SendMessageA(s.Dialog(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitUntil([&] { return !s.Visible() && s.TrayIcon(); }, 3000));
  ASSERT_TRUE(DeleteTrayIcon(s.Dialog()));
  SendMessageA(s.Dialog(), taskbarCreated, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return s.TrayIcon(); }, 3000));
  s.TrayClick(WM_LBUTTONDOWN);
  EXPECT_TRUE(WaitUntil([&] { return s.Visible() && !s.TrayIcon(); }, 3000));
}

}  // namespace
}  // namespace e2e
