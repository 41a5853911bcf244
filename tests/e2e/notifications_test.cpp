// Failures logged while the dialog is hidden in the tray are shown as a
// notification balloon; Wine's tray draws one as a visible tooltip window of
// explorer.exe, about two seconds after the program asks. The tray shows one
// balloon at a time, whichever program asked, so this test runs alone.
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

bool Balloon() {
  DWORD explorer = 0;  // the process of the tray, which draws the balloons
  GetWindowThreadProcessId(FindWindowA("Shell_TrayWnd", nullptr), &explorer);
  DWORD process = 0;
  for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "tooltips_class32", nullptr));)
    if (GetWindowThreadProcessId(w, &process) && process == explorer && IsWindowVisible(w))
      return true;
  return false;
}

// The tuner manager answers 1, 0, 1, 0: a start that works while hidden
// shows nothing; with the window shown, one refused (102) in a pass with one
// that works shows nothing, neither then nor once the window is hidden
// again; a start refused while hidden shows a balloon.
TEST(Notifications, AFailureLoggedWhileHiddenShowsABalloonNothingElseDoes) {
  ASSERT_TRUE(WaitUntil([] { return !Balloon(); }, 30000)) << "another program's balloon";
  Session s;
  ASSERT_TRUE(s.Start({"QUORVANE_STANDIN_FLAP=ping"}));
  // Timed from the program's being up; each step has seconds to spare.
  const int64_t t = (NowMs() / 1000 + 3) * 1000;
  const auto task = [&](int64_t at, const char* file) {
    return Line(LocalAt(at), LocalAt(at), "@13", file);  // stopped a second later, needs no room
  };
  s.Add({task(t, "a.ts2"), task(t + 6000, "b.ts2"), task(t + 6000, "c.ts2"),
         task(t + 14000, "d.ts2")});
  ASSERT_LT(NowMs(), t) << "added too slowly to time the first task";
  const auto pings = [&](const std::string& answer) {
    return Split(s.Read("journal.txt"), "Quorvane_ManagerPing\t=" + answer).size() - 1;
  };
  ASSERT_TRUE(WaitUntil([&] { return pings("1") == 1; }, 6000));
  EXPECT_FALSE(WaitUntil(Balloon, 2500)) << "for a start that worked";
  s.Tray(WM_LBUTTONDOWN);
  ASSERT_TRUE(WaitUntil([&] { return pings("0") == 1; }, 6000));
  EXPECT_FALSE(WaitUntil(Balloon, 2500)) << "while the window was shown";
  SendMessageA(s.dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_FALSE(WaitUntil(Balloon, 2500)) << "once it was hidden again";
  ASSERT_TRUE(WaitUntil([&] { return pings("0") == 2; }, 10000));
  EXPECT_TRUE(WaitUntil(Balloon, 5000)) << "for the tuner manager's absence while hidden";
}

}  // namespace
}  // namespace e2e
