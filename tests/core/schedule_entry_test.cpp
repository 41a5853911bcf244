#include "core/schedule_entry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "tests/fakes/surroundings_fakes.h"

namespace quorvane {
namespace {

using fakes::Cp932Next;

// Code page 932 characters whose trail byte is an ASCII mark.
constexpr std::string_view kSmallA = "\x83\x40";     // 'ァ', trail '@'
constexpr std::string_view kWideSpace = "\x81\x40";  // full-width space, trail '@'
constexpr std::string_view kSo = "\x83\x5C";         // 'ソ', trail '\'
constexpr std::string_view kHyou = "\x95\x5C";       // '表', trail '\'

std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (std::string_view part : parts) text += part;
  return text;
}

TEST(GetField, SplitsOnTabsOnly) {
  EXPECT_EQ(GetField("a\tbb\t\tc", 0), "a");
  EXPECT_EQ(GetField("a\tbb\t\tc", 1), "bb");
  EXPECT_EQ(GetField("a\tbb\t\tc", 2), "");
  EXPECT_EQ(GetField("a\tbb\t\tc", 3), "c");
  EXPECT_EQ(GetField("a\tbb\t\tc", 4), "");
  EXPECT_EQ(GetField("no tab here", 0), "no tab here");
  EXPECT_EQ(GetField("no tab here", 1), "");
  EXPECT_EQ(GetField("", 0), "");
  EXPECT_EQ(GetField("x\t", 1), "");
}

TEST(CopyField, CutsToTheBufferAndGivesEmptyForMissingFields) {
  char buffer[4] = {'#', '#', '#', '#'};
  CopyField("a\tlonger", 1, buffer);
  EXPECT_STREQ(buffer, "lon");
  CopyField("a\tlonger", 13, buffer);
  EXPECT_STREQ(buffer, "");
}

TEST(GetField, TabInsideChannelTextShiftsTheFollowingFields) {
  const std::string line = "2009\t01\t05\t21\t00\t00\t2009\t01\t05\t21\t54\t00\tNHK\t@27\tmine.ts2";
  EXPECT_EQ(GetField(line, 12), "NHK");
  EXPECT_EQ(GetField(line, 13), "@27");
  EXPECT_EQ(GetField(line, 14), "mine.ts2");
  const ChannelChoice choice = ParseChannelField(GetField(line, 12), Cp932Next);
  EXPECT_EQ(choice.channel, 0);
  EXPECT_EQ(choice.catvFlag, 0);
}

TEST(ParseDecimal, ReadsLeadingDigitsAndWrapsModulo2To32) {
  const std::pair<std::string_view, int32_t> cases[] = {
      {"", 0},
      {"0", 0},
      {"0042", 42},
      {"123abc4", 123},
      {" 5", 0},
      {"-5", 0},
      {"+5", 0},
      {"x5", 0},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MIN},
      {"4294967295", -1},
      {"4294967296", 0},
      {"4294967297", 1},
      {"99999999999", 1215752191},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseDecimal(text), value) << text;
}

TEST(MinuteKey, IsLinearOnTwelveMonthsOf31Days) {
  EXPECT_EQ(MinuteKey(0, 0, 0, 0, 1), 1);
  EXPECT_EQ(MinuteKey(0, 0, 0, 1, 0), 60);
  EXPECT_EQ(MinuteKey(0, 0, 1, 0, 0), 1440);
  EXPECT_EQ(MinuteKey(0, 1, 0, 0, 0), 44640);
  EXPECT_EQ(MinuteKey(1, 0, 0, 0, 0), 535680);
  EXPECT_EQ(MinuteKey(2009, 1, 5, 7, 3), 2009 * 535680 + 44640 + 5 * 1440 + 7 * 60 + 3);
}

TEST(MinuteKey, OutOfRangeValuesCarry) {
  EXPECT_EQ(MinuteKey(2009, 1, 5, 10, 75), MinuteKey(2009, 1, 5, 11, 15));
  EXPECT_EQ(MinuteKey(2009, 1, 5, 24, 0), MinuteKey(2009, 1, 6, 0, 0));
  EXPECT_EQ(MinuteKey(2009, 1, 32, 0, 0), MinuteKey(2009, 2, 1, 0, 0));
  EXPECT_EQ(MinuteKey(2009, 13, 1, 0, 0), MinuteKey(2010, 1, 1, 0, 0));
  // An impossible 31 February sorts between 28 February and 1 March.
  EXPECT_LT(MinuteKey(2009, 2, 28, 0, 0), MinuteKey(2009, 2, 31, 0, 0));
  EXPECT_LT(MinuteKey(2009, 2, 31, 0, 0), MinuteKey(2009, 3, 1, 0, 0));
}

TEST(TimeKey, SecondsBreakTiesAndEqualIsDue) {
  const TimeKey now = {MinuteKey(2009, 1, 5, 21, 0), 30};
  EXPECT_TRUE(IsDue(now, now));
  EXPECT_TRUE(IsDue({now.key, 29}, now));
  EXPECT_FALSE(IsDue({now.key, 31}, now));
  EXPECT_TRUE(IsDue({now.key - 1, 59}, now));
  EXPECT_FALSE(IsDue({now.key + 1, 0}, now));
  EXPECT_TRUE(IsEarlier({5, 1}, {5, 2}));
  EXPECT_FALSE(IsEarlier({5, 2}, {5, 2}));
  EXPECT_TRUE(IsEarlier({4, 59}, {5, 0}));
  // Second 60 never matches the clock; it comes due with the next minute.
  EXPECT_FALSE(IsDue({now.key, 60}, {now.key, 59}));
  EXPECT_TRUE(IsDue({now.key, 60}, {now.key + 1, 0}));
}

TEST(TimeKey, EntryKeysComeFromTheirOwnFields) {
  const std::string line = "2009\t01\t05\t21\t00\t07\t2009\t01\t06\t02\t30\t09\tNHK@27\t";
  const TimeKey start = EntryStartKey(line);
  const TimeKey end = EntryEndKey(line);
  EXPECT_EQ(start.key, MinuteKey(2009, 1, 5, 21, 0));
  EXPECT_EQ(start.second, 7);
  EXPECT_EQ(end.key, MinuteKey(2009, 1, 6, 2, 30));
  EXPECT_EQ(end.second, 9);
  EXPECT_TRUE(EntryStartKey("garbage") == (TimeKey{0, 0}));
}

TEST(TimeKey, HugeAndTwoDigitYearsAreDueAtOnce) {
  const TimeKey now = {MinuteKey(2009, 1, 5, 21, 0), 0};
  const TimeKey huge = EntryStartKey("4100\t12\t31\t23\t59\t59");
  EXPECT_LT(huge.key, 0);
  EXPECT_TRUE(IsDue(huge, now));
  EXPECT_TRUE(IsDue(EntryStartKey("08\t12\t31\t23\t59\t59"), now));
  EXPECT_FALSE(IsDue(EntryStartKey("2099\t01\t01\t00\t00\t00"), now));
}

struct ChannelCase {
  std::string text;
  int32_t channel;
  int32_t catvFlag;
};

TEST(ParseChannelField, ReadsTheNumberAfterTheFirstAtSign) {
  const ChannelCase cases[] = {
      {"NHK@27", 27, 0},
      {"@C40", 40, 1},
      {"@c40", 0, 0},
      {"@", 0, 0},
      {"NHK 27", 0, 0},
      {"", 0, 0},
      {"A@12@C34", 12, 0},
      {"@CC5", 0, 1},
      // A trail byte 0x40 before the real '@' is no '@'.
      {Cat({kSmallA, "@C13"}), 13, 1},
      {Cat({"BS", kWideSpace, "@7"}), 7, 0},
      {Cat({kSo, kHyou, "@5"}), 5, 0},
      // The only 0x40 byte is a trail byte: there is no channel.
      {Cat({kSmallA, "12"}), 0, 0},
      {Cat({"x", kWideSpace, "C9"}), 0, 0},
      // A lone lead byte at the end stops the walk there.
      {"NHK\x83", 0, 0},
  };
  for (const ChannelCase& c : cases) {
    const ChannelChoice choice = ParseChannelField(c.text, Cp932Next);
    EXPECT_EQ(choice.channel, c.channel) << c.text;
    EXPECT_EQ(choice.catvFlag, c.catvFlag) << c.text;
  }
}

// A name buffer of `size` bytes followed by a guard that must stay untouched.
struct GuardedName {
  static constexpr std::size_t kGuard = 64;
  explicit GuardedName(std::size_t capacity) : size(capacity) { bytes.fill('\xA5'); }
  std::span<char> Span() { return std::span(bytes.data(), size); }
  std::string Text() const {
    return std::string(bytes.data(), std::find(bytes.data(), bytes.data() + size, '\0'));
  }
  bool GuardIntact() const {
    for (std::size_t i = size; i < bytes.size(); ++i) {
      if (bytes[i] != '\xA5') return false;
    }
    return true;
  }
  std::size_t size;
  std::array<char, kTextCapacity + kGuard> bytes;
};

TEST(DefaultRecordingName, TurnsTabsIntoUnderscoresAndAppendsTheExtension) {
  GuardedName name(kTextCapacity);
  DefaultRecordingName("2009\t01\t05\t21\t00\t00\t2009\t01\t05\t21\t54\t00\tNHK@27\t", name.Span());
  EXPECT_EQ(name.Text(), "2009_01_05_21_00_00_2009_01_05_21_54_00_NHK@27_.ts2");
  DefaultRecordingName("single", name.Span());
  EXPECT_EQ(name.Text(), "single.ts2");
  DefaultRecordingName("", name.Span());
  EXPECT_EQ(name.Text(), ".ts2");
  EXPECT_TRUE(name.GuardIntact());
}

TEST(DefaultRecordingName, AnOverlongLineIsCutAndStillEndsInTheExtension) {
  for (const std::size_t length : {1019u, 1020u, 1023u, 2000u}) {
    GuardedName name(kTextCapacity);
    const std::string line(length, 'x');
    DefaultRecordingName(line, name.Span());
    const std::string text = name.Text();
    ASSERT_LT(text.size(), kTextCapacity) << length;  // NUL inside the buffer
    EXPECT_EQ(text, std::string(std::min<std::size_t>(length, 1019), 'x') + ".ts2") << length;
    EXPECT_TRUE(name.GuardIntact()) << length;
  }
  GuardedName tiny(4);
  DefaultRecordingName("abc", tiny.Span());
  EXPECT_TRUE(tiny.GuardIntact());
  EXPECT_EQ(tiny.Text(), "");
}

TEST(ComposeEntryLine, AcceptsUpTo1021BytesAndNoMore) {
  std::array<std::string_view, kEntryFieldCount> fields = {
      "2009", "01", "05", "21", "00", "00", "2009", "01", "05", "21", "54", "00", "NHK@27", {}};
  char line[kTextCapacity];
  ASSERT_TRUE(ComposeEntryLine(fields, line));
  EXPECT_STREQ(line, "2009\t01\t05\t21\t00\t00\t2009\t01\t05\t21\t54\t00\tNHK@27\t");

  std::size_t others = kEntryFieldCount - 1;
  for (int i = 0; i < kChannelField; ++i) others += fields[static_cast<std::size_t>(i)].size();
  others += fields[kChannelField].size();
  const std::string name(1021 - others, 'n');
  fields[kFileNameField] = name;
  ASSERT_TRUE(ComposeEntryLine(fields, line));
  EXPECT_EQ(std::strlen(line), 1021u);
  EXPECT_EQ(GetField(line, kFileNameField), name);

  const std::string longer = name + "n";
  fields[kFileNameField] = longer;
  EXPECT_FALSE(ComposeEntryLine(fields, line));
  EXPECT_STREQ(line, "");
}

}  // namespace
}  // namespace quorvane
