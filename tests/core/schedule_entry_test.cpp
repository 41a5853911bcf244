// Entry texts, the formatter, the activity log and the schedule file.
#include "core/schedule_entry.h"

#include <gtest/gtest.h>

#include <array>

#include "core/activity_log.h"
#include "core/schedule_file.h"
#include "core/text_format.h"
#include "tests/fakes/fakes.h"

namespace quorvane {
namespace {

using fakes::Cp932Next;
using Disk = std::map<std::string, std::string>;

TEST(ScheduleEntry, FieldsDecimalsAndTimes) {
  // A TAB typed into the channel shifts the later fields; field 15 is missing.
  const std::string shifted = fakes::Entry(210000, 215400, "NHK\t@27\tmine.ts2");
  EXPECT_EQ(GetField(shifted, kChannelField), "NHK");
  EXPECT_EQ(GetField(shifted, kFileNameField), "@27");
  EXPECT_EQ(GetField(shifted, 15), "");
  const std::pair<std::string_view, int32_t> decimals[] = {
      {"0042", 42}, {"123abc", 123}, {" 5", 0},         {"-5", 0},
      {"+5", 0},    {"x5", 0},       {"4294967296", 0}, {"2147483648", INT32_MIN},
  };
  for (const auto& [text, value] : decimals) EXPECT_EQ(ParseDecimal(text), value) << text;
  const TimeKey now = {MinuteKey(2009, 1, 5, 21, 0), 30};
  EXPECT_TRUE(IsDue(now, now) && IsDue({now.key - 1, 59}, now));
  EXPECT_FALSE(IsDue({now.key, 31}, now));
  EXPECT_EQ(MinuteKey(2009, 1, 5, 10, 75), MinuteKey(2009, 1, 5, 11, 15));
  // Year 4100 takes the key past INT32_MAX: it wraps negative and is due at once.
  EXPECT_TRUE(IsDue(EntryStartKey("4100\t12\t31\t23\t59\t59"), now));
}

TEST(ScheduleEntry, ChannelFollowsTheFirstWholeCharacterAt) {
  // 0x83 '@' is one katakana.
  const std::pair<std::string_view, std::pair<int32_t, int32_t>> cases[] = {
      {"NHK@27", {27, 0}},  {"@C40", {40, 1}},      {"@c40", {0, 0}},    {"NHK 27", {0, 0}},
      {"A@12@C3", {12, 0}}, {"\x83@@C13", {13, 1}}, {"\x83@12", {0, 0}},
  };
  for (const auto& [text, expected] : cases) {
    const ChannelChoice choice = ParseChannelField(text, Cp932Next);
    EXPECT_EQ(std::pair(choice.channel, choice.catvFlag), expected) << text;
  }
}

TEST(ScheduleEntry, DefaultNameStaysInItsBufferAndEndsInTs2) {
  for (const std::size_t length : {0u, 1016u, 1017u, 2000u}) {
    std::string bytes(kTextCapacity + 8, '#');  // the last 8 guard the buffer
    DefaultRecordingName("a\tb" + std::string(length, 'x'), std::span(bytes.data(), kTextCapacity));
    EXPECT_EQ(bytes.substr(0, bytes.find('\0')),
              ("a_b" + std::string(length, 'x')).substr(0, 1019) + ".ts2");
    EXPECT_EQ(bytes.substr(kTextCapacity), "########");
  }
}

TEST(ScheduleEntry, ComposedLineFitsOneRead) {
  std::array<std::string_view, kEntryFieldCount> fields{};
  const std::string name(1009, 'n');  // with the 13 TABs: 1022 bytes
  fields[kFileNameField] = std::string_view(name).substr(1);
  char line[kTextCapacity];
  ASSERT_TRUE(ComposeEntryLine(fields, line));
  EXPECT_EQ(line, std::string(13, '\t') + name.substr(1));
  fields[kFileNameField] = name;
  EXPECT_FALSE(ComposeEntryLine(fields, line));
  EXPECT_STREQ(line, "");
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

TEST(ActivityLog, CutsTheOldestTextOnWholeCharacters) {
  // The due-event tests check the stamp and the order. Text and NUL stay
  // within 32767 bytes, the oldest bytes go first, and 0x82 0xA0 goes whole.
  fakes::FakeWorld w;
  const std::string line = "*2009/01/05 07:03:09 m\r\n";
  const std::size_t keep = 32767 - line.size() - 1;
  for (const std::size_t as : {keep - 3, keep - 2}) {
    w.log = "b" + std::string(as, 'a') + "\x82\xA0\x82\xA0";
    AppendLog(w, w, Cp932Next, "m");
    EXPECT_EQ(w.log, line + "b" + std::string(as, 'a') + (as == keep - 3 ? "\x82\xA0" : ""));
  }
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
    EXPECT_STREQ(rule(exe, Cp932Next, std::span(path)) ? path : "(refused)", expected);
  }
}

TEST(ScheduleFile, ReadLineSplitsAtCrLfOnlyAroundThe1023ByteRead) {
  const std::string a(1021, 'a'), b(1022, 'b'), c(1023, 'c');
  const std::pair<std::string, std::string> cases[] = {
      {"ab\ncd\r\nx\ry", "ab\ncd|x\ry|"},
      {"abc\r", "abc\r|"},
      {std::string("ab\r\nc\0d\r\nx", 10), "ab|c|"},
      {a + "\r\nz\r\n", a + "|z|"},
      {b + "\r\nz\r\n", b + "\r|\nz|"},  // the CR ends the read, its LF starts the next
      {c + "\r\nz\r\n", c + "||z|"},
  };
  for (const auto& [bytes, expected] : cases) {
    fakes::FakeWorld w;
    w.disk["in"] = bytes;
    const FileHandle file = w.OpenForReading("in");
    std::string lines;
    for (char line[kTextCapacity]; ReadLine(w, file, line) != 0 && lines.size() < 5000;) {
      lines += line + std::string("|");
    }
    EXPECT_EQ(lines, expected);
  }
}

TEST(ScheduleFile, SaveAndLoadRoundTrip) {
  fakes::FakeWorld w, loaded;
  w.lines = {"b\tc", std::string(1021, 'z'), "\x83@27\t"};
  w.disk["s.ini"] = std::string(5000, 'o');
  ASSERT_TRUE(SaveScheduleFile(w, w, "s.ini"));
  EXPECT_EQ(w.disk, (Disk{{"s.ini", "b\tc\r\n" + w.lines[1] + "\r\n\x83@27\t\r\n"}}));
  LoadScheduleFile(loaded, w, "s.ini");
  LoadScheduleFile(loaded, w, "absent.ini");
  EXPECT_EQ(loaded.lines, w.lines);
  // A byte-order mark, which an editor may put first, is skipped; anything
  // shorter or different is text.
  fakes::FakeWorld marked;
  for (const char* bytes : {"\xEF\xBB\xBF",
                            "\xEF\xBB\xBF"
                            "2099\t1\r\n",
                            "\xEF\xBB", "\xEF\xBB\xBE"}) {
    marked.disk["m.ini"] = bytes;
    LoadScheduleFile(marked, marked, "m.ini");
  }
  EXPECT_EQ(marked.lines, (std::vector<std::string>{"2099\t1", "\xEF\xBB", "\xEF\xBB\xBE"}));
  w.lines.clear();
  ASSERT_TRUE(SaveScheduleFile(w, w, "s.ini"));
  EXPECT_EQ(w.disk, (Disk{{"s.ini", ""}}));
}

TEST(ScheduleFile, AFailedSaveLeavesTheOldFileAsItWas) {
  // Create, four writes, flush and replace.
  for (int step = 1; step <= 7; ++step) {
    fakes::FakeWorld w;
    w.lines = {"one", "two"};
    w.disk["s.ini"] = "old\r\n";
    w.failStep = step;
    EXPECT_FALSE(SaveScheduleFile(w, w, "s.ini")) << step;
    EXPECT_EQ(w.disk, (Disk{{"s.ini", "old\r\n"}})) << step;
    EXPECT_EQ(w.openCount, 0) << step;
  }
}

}  // namespace
}  // namespace quorvane
