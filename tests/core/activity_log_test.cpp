#include "core/activity_log.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/fakes/surroundings_fakes.h"

namespace quorvane {
namespace {

using fakes::Cp932Next;

constexpr std::size_t kPaneLimit = 32767;  // bytes including the NUL

class ActivityLog : public ::testing::Test {
 protected:
  void Append(const char* message) { AppendLog(pane, clock, Cp932Next, message); }

  fakes::FakeLogPane pane;
  fakes::FakeClock clock;  // 2009-01-05 07:03:09
};

TEST_F(ActivityLog, StampsEachLineAndPutsTheNewestFirst) {
  Append("first");
  EXPECT_EQ(pane.text, "*2009/01/05 07:03:09 first\r\n");
  Append("same second");
  clock.now = {12345, 12, 31, 23, 59, 0};
  Append("later");
  EXPECT_EQ(pane.text,
            "*12345/12/31 23:59:00 later\r\n"
            "*2009/01/05 07:03:09 same second\r\n"
            "*2009/01/05 07:03:09 first\r\n");
}

TEST_F(ActivityLog, KeepsAsMuchOldTextAsFitsWhenFull) {
  const std::string line = "*2009/01/05 07:03:09 msg\r\n";
  std::string old;
  for (int i = 0; old.size() < 40000; ++i) old += "line " + std::to_string(i) + "\r\n";
  pane.text = old.substr(0, kPaneLimit - 1);
  Append("msg");
  EXPECT_EQ(pane.text.size() + 1, kPaneLimit);
  EXPECT_EQ(pane.text, line + old.substr(0, kPaneLimit - line.size() - 1));

  // Every further line pushes as many bytes out at the end.
  const std::string before = pane.text;
  Append("msg");
  EXPECT_EQ(pane.text, line + before.substr(0, kPaneLimit - line.size() - 1));

  pane.text = "short\r\n";
  Append("msg");
  EXPECT_EQ(pane.text, line + "short\r\n");
}

TEST_F(ActivityLog, CutNeverSplitsADoubleByteCharacter) {
  const std::string line = "*2009/01/05 07:03:09 msg\r\n";
  const std::size_t keep = kPaneLimit - line.size() - 1;
  const std::string hiragana = "\x82\xA0";  // lead 0x82, trail 0xA0
  std::string tail;
  for (int i = 0; i < 100; ++i) tail += hiragana;

  // The cut would fall between lead and trail byte: the character goes whole.
  pane.text = std::string(keep - 1, 'a') + tail;
  Append("msg");
  EXPECT_EQ(pane.text, line + std::string(keep - 1, 'a'));

  // A character that ends right at the cut stays.
  pane.text = std::string(keep - 2, 'a') + tail;
  Append("msg");
  EXPECT_EQ(pane.text, line + std::string(keep - 2, 'a') + hiragana);

  // Double-byte text all the way: the kept part is whole characters.
  pane.text.assign(1, 'a');
  while (pane.text.size() < 40000) pane.text += tail;
  Append("msg");
  const std::string kept = pane.text.substr(line.size());
  EXPECT_LE(kept.size(), keep);
  EXPECT_GE(kept.size(), keep - 1);
  EXPECT_EQ(kept.size() % 2, 1u);  // "a" and whole pairs
}

}  // namespace
}  // namespace quorvane
