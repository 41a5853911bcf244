// The channel box: the channel file's lines, then the generated channels.
#include <gtest/gtest.h>

#include <cstdio>

#include "resources/resource_ids.h"
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

std::vector<std::string> GeneratedChannels() {
  std::vector<std::string> items;
  char text[16];
  for (int channel = 13; channel <= 62; ++channel) {
    std::snprintf(text, sizeof text, "@%02d", channel);
    items.emplace_back(text);
  }
  for (int channel = 36; channel <= 63; ++channel) {
    std::snprintf(text, sizeof text, "@C%02d", channel);
    items.emplace_back(text);
  }
  return items;
}

LRESULT Selected(const Session& s) {
  return SendMessageA(s.Control(IDC_CHANNEL), CB_GETCURSEL, 0, 0);
}

TEST(Channels, WithoutChannelFileOnlyTheGeneratedOnes) {
  Session s;
  ASSERT_TRUE(s.Start());
  const std::vector<std::string> items = ComboItems(s.Control(IDC_CHANNEL));
  EXPECT_EQ(items.size(), 78u);
  EXPECT_EQ(items, GeneratedChannels());
  EXPECT_EQ(s.Text(IDC_CHANNEL), "@13");
  EXPECT_EQ(Selected(s), 0);
}

TEST(Channels, ChannelFileLinesComeFirstInFileOrder) {
  Session s;
  // Double-byte characters whose trail byte is '\' (0x5C) or '@' (0x40), a
  // '.', an empty line, and a last line without CR LF; not in sorted order.
  const std::vector<std::string> lines = {Cp932(u8"ソフト表示局 @27"), Cp932(u8"ァ院 @C40"), "",
                                          "plain.name @16", Cp932(u8"予構噂 能十 @18")};
  s.WriteFile(kChannelName, JoinCrLf({lines[0], lines[1], lines[2], lines[3]}) + lines[4]);
  ASSERT_TRUE(s.Start());

  std::vector<std::string> expected = lines;
  for (const std::string& item : GeneratedChannels()) expected.push_back(item);
  EXPECT_EQ(ComboItems(s.Control(IDC_CHANNEL)), expected);
  EXPECT_EQ(s.Text(IDC_CHANNEL), lines[0]);
  EXPECT_EQ(Selected(s), 0);
}

}  // namespace
}  // namespace e2e
