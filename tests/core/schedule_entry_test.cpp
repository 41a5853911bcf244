// Time keys, the formatter, the schedule file's paths and its save. Fields,
// names, composed lines, the line reader, load and the log are held to
// reference models by the fuzz targets.
#include "core/schedule_entry.h"

#include <gtest/gtest.h>

#include "core/schedule_file.h"
#include "core/text_format.h"
#include "tests/fakes/fakes.h"

namespace quorvane {
namespace {

TEST(TimeKey, CarriesIntoTheNextUnitWrapsAndIsDueFromItsSecondOn) {
  const TimeKey now = {MinuteKey(2009, 1, 5, 21, 0), 30};
  EXPECT_TRUE(IsDue(now, now) && IsDue({now.key - 1, 59}, now));
  EXPECT_FALSE(IsDue({now.key, 31}, now) || IsDue({now.key + 1, 0}, now));
  // Minute 75, hour 24, day 32 and month 13 carry, as nothing checks ranges.
  EXPECT_EQ(MinuteKey(2009, 12, 32, 24, 75), MinuteKey(2010, 1, 2, 1, 15));
  // Year 4100 takes the key past INT32_MAX: it wraps negative and is due at once.
  EXPECT_TRUE(IsDue(EntryStartKey("4100\t12\t31\t23\t59\t59"), now));
}

TEST(FormatText, LikeWsprintf) {
  char text[64];
  FormatText(text, "%d|%02d|%02d|%04d|%s|%d %02d|%d(%d,%d)",
             {-7, 5, -5, -5, "abc", INT32_MIN, INT32_MIN, 1});
  EXPECT_STREQ(text, "-7|05|-5|-005|abc|-2147483648 -2147483648|1(,)");
  EXPECT_EQ(FormatText(std::span(text, 5), "ab%dcd", {123}), 4u);
  EXPECT_EQ(std::string(text, 6), std::string("ab12\0|", 6));  // '|' is left from before
  // A width that would overflow an int is capped, not undefined.
  EXPECT_EQ(FormatText(text, "%99999999999d", {7}), sizeof text - 1);
}

TEST(ScheduleFile, PathsStepOverDoubleByteCharacters) {
  // 0x83 '\' is one katakana.
  const std::tuple<decltype(&ScheduleFilePath), const char*, const char*> cases[] = {
      {ScheduleFilePath, "C:\\dir\\sched.exe", "C:\\dir\\sched.ini"},
      {ScheduleFilePath, "C:\\my.dir\\sched", "C:\\my.ini"},
      {ChannelFilePath, "C:\\\x83\\\\x.exe", "C:\\\x83\\\\CHANNEL.TXT"},
      {ChannelFilePath, "C:\\dir\\\x83\\x.exe", "C:\\dir\\CHANNEL.TXT"},
  };
  char path[kTextCapacity];
  for (const auto& [rule, exe, expected] : cases) {
    EXPECT_STREQ(rule(exe, fakes::Cp932Next, std::span(path)) ? path : "(refused)", expected);
  }
}

TEST(ScheduleFile, AFailedSaveLeavesTheOldFileAsItWas) {
  // Create, four writes, flush and replace fail in turn; the eighth save works.
  for (int step = 1; step <= 8; ++step) {
    fakes::FakeWorld w;
    w.lines = {"one", "two"};
    w.disk["s.ini"] = "old\r\n";
    w.failStep = step;
    EXPECT_EQ(SaveScheduleFile(w, w, "s.ini"), step == 8) << step;
    const std::map<std::string, std::string> disk = {
        {"s.ini", step == 8 ? "one\r\ntwo\r\n" : "old\r\n"}};
    EXPECT_EQ(w.disk, disk) << step;
    EXPECT_EQ(w.openCount, 0) << step;
  }
}

}  // namespace
}  // namespace quorvane
