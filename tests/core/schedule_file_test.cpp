#include "core/schedule_file.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/fakes/fake_files.h"
#include "tests/fakes/surroundings_fakes.h"

namespace quorvane {
namespace {

using fakes::Cp932Next;
using Lines = std::vector<std::string>;

std::string SchedulePath(const char* exePath, std::size_t capacity = kTextCapacity) {
  std::vector<char> buffer(capacity, '#');
  const bool fits = ScheduleFilePath(exePath, Cp932Next, buffer);
  return fits ? buffer.data() : "(refused:" + std::string(buffer.data()) + ")";
}

std::string ChannelPath(const char* exePath) {
  char buffer[kTextCapacity];
  return ChannelFilePath(exePath, Cp932Next, buffer) ? buffer : "(refused)";
}

TEST(FilePaths, ReplaceTheExtensionOrTheName) {
  EXPECT_EQ(SchedulePath("C:\\dir\\sched.exe"), "C:\\dir\\sched.ini");
  EXPECT_EQ(SchedulePath("C:\\dir\\sched.v2.exe"), "C:\\dir\\sched.v2.ini");
  EXPECT_EQ(SchedulePath("C:\\my.dir\\sched"), "C:\\my.ini");
  EXPECT_EQ(SchedulePath("C:\\dir\\sched"), "ini");
  EXPECT_EQ(ChannelPath("C:\\dir\\sched.exe"), "C:\\dir\\CHANNEL.TXT");
  EXPECT_EQ(ChannelPath("sched.exe"), "CHANNEL.TXT");
  EXPECT_EQ(SchedulePath("C:\\dir\\sched.exe", 16), "(refused:)");
  EXPECT_EQ(SchedulePath("C:\\dir\\sched.exe", 17), "C:\\dir\\sched.ini");
}

TEST(FilePaths, TrailByteBackslashIsNoSeparator) {
  // "ソ" (0x83 0x5C) and "表" (0x95 0x5C) end in the byte of '\'.
  EXPECT_EQ(ChannelPath("C:\\\x83\x5C\\x.exe"), "C:\\\x83\x5C\\CHANNEL.TXT");
  EXPECT_EQ(ChannelPath("C:\\dir\\\x83\x5Cx.exe"), "C:\\dir\\CHANNEL.TXT");
  EXPECT_EQ(ChannelPath("C:\\dir\\\x95\x5C.exe"), "C:\\dir\\CHANNEL.TXT");
  EXPECT_EQ(SchedulePath("C:\\\x95\x5C\\\x83\x5C.exe"), "C:\\\x95\x5C\\\x83\x5C.ini");
}

class ScheduleFile : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(files.openFiles, 0); }

  // Every entry ReadLine gives for the file, in file order.
  Lines ReadAll(const std::string& bytes) {
    dir.Write("in.txt", bytes);
    const FileHandle file = files.OpenForReading(dir.Path("in.txt").c_str());
    Lines lines;
    char buffer[kTextCapacity];
    while (ReadLine(files, file, buffer) != 0 && lines.size() < 100) lines.emplace_back(buffer);
    files.Close(file);
    return lines;
  }

  fakes::TempDir dir;
  fakes::RealFiles files;
  std::string path = dir.Path("sched.ini");
};

TEST_F(ScheduleFile, ReadLineSplitsAtCrLfOnly) {
  EXPECT_EQ(ReadAll("abc\r\nxyz\r\n"), (Lines{"abc", "xyz"}));
  EXPECT_EQ(ReadAll("abc\r\nxyz"), (Lines{"abc", "xyz"}));
  EXPECT_EQ(ReadAll("abc\r\n\r\nxyz\r\n"), (Lines{"abc", "", "xyz"}));
  EXPECT_EQ(ReadAll("ab\ncd\r\nx\ry\r\n"), (Lines{"ab\ncd", "x\ry"}));
  EXPECT_EQ(ReadAll("abc\r"), (Lines{"abc\r"}));
  EXPECT_EQ(ReadAll(""), (Lines{}));
  EXPECT_EQ(ReadAll(std::string("abc\r\nde\0f\r\nghi\r\n", 16)), (Lines{"abc", "de"}));
  EXPECT_EQ(ReadAll(std::string("\0abc\r\n", 6)), (Lines{}));
}

TEST_F(ScheduleFile, ReadLineAroundThe1023ByteRead) {
  const std::string l1021(1021, 'a'), l1022(1022, 'b'), l1023(1023, 'c');
  EXPECT_EQ(ReadAll(l1021 + "\r\nnext\r\n"), (Lines{l1021, "next"}));
  // The CR is the last byte of the read and its LF comes with the next one.
  EXPECT_EQ(ReadAll(l1022 + "\r\nnext\r\n"), (Lines{l1022 + "\r", "\nnext"}));
  EXPECT_EQ(ReadAll(l1023 + "\r\nnext\r\n"), (Lines{l1023, "", "next"}));
  const std::string l2000(2000, 'd');
  EXPECT_EQ(ReadAll(l2000 + "\r\n"), (Lines{l2000.substr(0, 1023), l2000.substr(1023)}));
}

TEST_F(ScheduleFile, SaveThenLoadGivesTheSameLines) {
  fakes::FakeScheduleList list;
  const std::string longest(1021, 'z');
  for (const char* line :
       {"2009\t01\t05\t21\t00\t00\t\x83\x40@27\t", "", "b\tc", longest.c_str()}) {
    list.AddLine(line);
  }
  dir.Write("sched.ini", std::string(5000, 'o'));  // longer than the new content
  ASSERT_TRUE(SaveScheduleFile(list, files, path.c_str()));
  std::string expected;
  for (const std::string& line : list.lines) expected += line + "\r\n";
  EXPECT_EQ(dir.Read("sched.ini"), expected);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"sched.ini"}));

  fakes::FakeScheduleList loaded;
  LoadScheduleFile(loaded, files, path.c_str());
  EXPECT_EQ(loaded.lines, list.lines);

  fakes::FakeScheduleList empty;
  ASSERT_TRUE(SaveScheduleFile(empty, files, path.c_str()));
  ASSERT_TRUE(dir.Exists("sched.ini"));
  EXPECT_EQ(dir.Read("sched.ini"), "");
  LoadScheduleFile(empty, files, path.c_str());
  EXPECT_EQ(empty.Count(), 0);
}

TEST_F(ScheduleFile, LoadingAMissingFileAddsNothing) {
  fakes::FakeScheduleList list;
  list.AddLine("kept");
  LoadScheduleFile(list, files, dir.Path("absent.ini").c_str());
  EXPECT_EQ(list.lines, (Lines{"kept"}));
}

struct Fault {
  const char* name;
  void (*arm)(fakes::FaultyFiles&);
};

TEST_F(ScheduleFile, FailedSaveLeavesTheOldFileAsItWas) {
  const Fault faults[] = {
      {"create", [](fakes::FaultyFiles& f) { f.failCreate = true; }},
      {"first write", [](fakes::FaultyFiles& f) { f.failWrite = 1; }},
      {"line end", [](fakes::FaultyFiles& f) { f.failWrite = 2; }},
      {"last write", [](fakes::FaultyFiles& f) { f.failWrite = 6; }},
      {"flush", [](fakes::FaultyFiles& f) { f.failFlush = true; }},
      {"replace", [](fakes::FaultyFiles& f) { f.failReplace = true; }},
  };
  fakes::FakeScheduleList list;
  for (const char* line : {"one\tline", "two\tlines", "three\tlines"}) list.AddLine(line);
  const std::string old = "old\tentry\r\nsecond\tentry\r\n";
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    dir.Write("sched.ini", old);
    fakes::FaultyFiles faulty;
    fault.arm(faulty);
    EXPECT_FALSE(SaveScheduleFile(list, faulty, path.c_str()));
    EXPECT_EQ(dir.Read("sched.ini"), old);
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"sched.ini"}));
    EXPECT_EQ(faulty.openFiles, 0);
  }
}

}  // namespace
}  // namespace quorvane
