// The dialog: now and the channels in its boxes, and the form commands.
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

TEST(Dialog, ShowsNowAndTheChannelsAndEditsTheScheduleFile) {
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
  EXPECT_EQ(SendMessageA(s.Control(IDC_CHANNEL), CB_GETCURSEL, 0, 0), 0);

  // The list is loaded after the tray icon is up.
  ASSERT_TRUE(WaitUntil([&] { return s.Items(IDC_SCHEDULE_LIST) == Texts{other, full, partial}; }));
  s.Select(1);
  EXPECT_EQ(s.Form(), full);
  s.Select(2);
  EXPECT_EQ(s.Form(), partial + std::string(11, '\t')) << "missing fields not emptied";
  s.Click(IDC_DELETE);
  EXPECT_EQ(s.Read(kSchedule), CrLf({other, full}));
  // With no line selected nothing goes, but the file is written all the same.
  s.Write(kSchedule, "stale\r\n");
  s.Select(-1);
  s.Click(IDC_DELETE);
  EXPECT_EQ(s.Read(kSchedule), CrLf({other, full}));

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
