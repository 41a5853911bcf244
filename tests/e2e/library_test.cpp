// Binding the tuner library: missing, incomplete, or only in the current
// folder.
#include <gtest/gtest.h>

#include "resources/resource_ids.h"
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

// The static text of a message box, if any of its children shows text.
bool ShowsText(HWND box, const std::string& text) {
  for (HWND child : ChildWindows(box)) {
    if (ClassName(child) == "Static" && GetText(child) == text) return true;
  }
  return false;
}

// The program shows error box 100 and nothing else, and ends with 0 once the
// box is dismissed.
void ExpectLoadErrorAndCleanExit(Session& s) {
  const std::string message = Cp932(u8"QuorvaneControl.dllのロードに失敗しました");
  HWND box = nullptr;
  const bool shown = WaitUntil(
      [&] {
        box = s.FindOtherDialog();
        return (box != nullptr && IsWindowVisible(box) && ShowsText(box, message)) || !s.Running();
      },
      10000);
  ASSERT_TRUE(shown && s.Running()) << "no error box";
  EXPECT_EQ(s.FindMainDialog(), nullptr);

  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  bool dialogSeen = false;
  WaitUntil(
      [&] {
        dialogSeen = dialogSeen || s.FindMainDialog() != nullptr;
        return !s.Running();
      },
      5000);
  EXPECT_FALSE(dialogSeen) << "main dialog created after the error";
  DWORD code = 1;
  ASSERT_TRUE(s.WaitForExit(0, &code)) << "still running after the error box";
  EXPECT_EQ(code, 0u);
}

TEST(Library, MissingShowsLoadErrorAndEnds) {
  Session s;
  LaunchOptions options;
  options.copyLibrary = false;
  ASSERT_TRUE(s.Launch(options));
  ExpectLoadErrorAndCleanExit(s);
}

TEST(Library, LackingAnEntryPointShowsLoadErrorAndEnds) {
  const std::string lacking = LackingLibraryPath();
  ASSERT_FALSE(lacking.empty()) << "the lacking variant is not built";
  Session s;
  LaunchOptions options;
  options.librarySource = lacking;
  ASSERT_TRUE(s.Launch(options));
  ExpectLoadErrorAndCleanExit(s);
}

TEST(Library, PlantedInTheCurrentFolderOnlyIsNotLoaded) {
  Session s;
  CreateDirectoryA(s.PathOf("elsewhere").c_str(), nullptr);
  ASSERT_TRUE(
      CopyFileA(LibraryPath().c_str(), s.PathOf("elsewhere\\QuorvaneControl.dll").c_str(), FALSE));
  LaunchOptions options;
  options.copyLibrary = false;
  options.exeFolder = "program";
  options.currentFolder = "elsewhere";
  ASSERT_TRUE(s.Launch(options));
  ExpectLoadErrorAndCleanExit(s);
}

TEST(Library, BesideTheProgramLoadsWhateverTheCurrentFolder) {
  Session s;
  LaunchOptions options;
  options.exeFolder = "program";
  options.currentFolder = "elsewhere";
  ASSERT_TRUE(s.Start(options));
  EXPECT_FALSE(s.Visible());
  s.PostClick(IDC_EXIT);
  DWORD code = 1;
  ASSERT_TRUE(s.WaitForExit(5000, &code));
  EXPECT_EQ(code, 0u);
  // The schedule file lives beside the program, not in the current folder.
  EXPECT_TRUE(s.FileExists("program\\QuorvaneScheduler.ini"));
  EXPECT_FALSE(s.FileExists("elsewhere\\QuorvaneScheduler.ini"));
}

}  // namespace
}  // namespace e2e
