// Faults from outside the program: a flapping tuner manager, a library call
// that runs a nested message loop, the clock jumping, and odd, huge or
// unwritable schedule files.
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

const char* const kKeepAlive = "Quorvane_UpdateTimeout";
const Time kLongAgo = {2008, 1, 1, 0, 0, 0};
const Time kFar = {2099, 12, 31, 0, 0, 0};
const std::string kLater = Line({2099, 12, 30, 1, 0, 0}, {2099, 12, 30, 2, 0, 0}, "@13", "l.ts2");

// A message of the program's table, its numbers filled in.
std::string Said(const char8_t* format, int a = 0, int b = 0) {
  char text[256];
  std::snprintf(text, sizeof text, Cp932(format).c_str(), a, b);
  return text;
}
std::string StartedLog(int slot, int channel) {
  return Said(u8"タスク%d(%d,0)を開始しました。", slot, channel);
}
[[maybe_unused]] std::string FailedLog(int slot, int channel) {
  return Said(u8"タスク%d(%d,0)を開始できませんでした。", slot, channel);
}
std::string StoppedLog(int slot) {
  return Said(u8"タスク%dを停止しました。", slot);
}
const std::string kNoManager = Cp932(u8"チューナマネージャがみつかりません。");

// The journal of one start of a plain channel: ping, frequency, SaveFile
// (handle 0: refused).
std::vector<std::string> Started(int channel, const std::string& name, int handle) {
  const int khz = channel >= 13 && channel <= 62 ? 473143 + (channel - 13) * 6000 : 0;
  const std::string f = std::to_string(khz);
  return {"Quorvane_ManagerPing\t=1",
          "Quorvane_ChannelToFreq\t" + std::to_string(channel) + "\t0\t=" + f,
          Join({"Quorvane_SaveFile", f, "0\t1\t5", name, handle != 0 ? "=1" : "=0",
                "handle=" + std::to_string(handle)},
               "\t")};
}
std::string Stop(int handle) {
  return "Quorvane_Stop\t" + std::to_string(handle) + "\t=1";
}
// "f" + std::to_string(n) trips GCC 12's -Wrestrict.
std::string Numbered(const char* before, int n, const char* after = "") {
  return std::string(before).append(std::to_string(n)).append(after);
}

bool Journalled(const Session& s, const std::string& text) {
  return s.Read("journal.txt").find(text) != std::string::npos;
}

TEST(Library, FlappingManagerStartsEveryOtherDueEntryAndConsumesTheRest) {
  Session s;
  std::vector<std::string> due;
  for (int channel = 21; channel <= 24; ++channel) {
    due.push_back(Line(kLongAgo, kFar, Numbered("@", channel), Numbered("f", channel, ".ts2")));
  }
  s.Write(kSchedule, CrLf(Cat(due, {kLater})));
  ASSERT_TRUE(s.Start({"QUORVANE_STANDIN_FLAP=ping"}));
  // Visited from the last line (@24) up; the pings answer 1, 0, 1, 0.
  ASSERT_TRUE(WaitUntil([&] { return Journalled(s, "Quorvane_UpdateTimeout\t2"); }, 8000));
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), std::vector<std::string>{kLater});
  EXPECT_EQ(s.Read(kSchedule), kLater + "\r\n");
  EXPECT_EQ(s.Log(), (std::vector<std::string>{kNoManager, StartedLog(1, 22), kNoManager,
                                               StartedLog(0, 24)}));
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);
  EXPECT_EQ(s.Calls(kKeepAlive),
            Cat(Cat(Started(24, "f24.ts2", 1), {"Quorvane_ManagerPing\t=0"}),
                Cat(Started(22, "f22.ts2", 2), {"Quorvane_ManagerPing\t=0", Stop(1), Stop(2)})));
  for (int channel = 21; channel <= 24; ++channel) {
    const std::string name = s.Path(kElsewhere + Numbered("f", channel, ".ts2"));
    EXPECT_EQ(GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES, channel % 2 == 0)
        << name;
  }
}

// The library runs the program's messages for 2.5 s in each SaveFile; the
// ticks meanwhile must be dropped, not run inside the pass.
TEST(Library, TicksDuringASaveFileThatRunsMessagesAreDropped) {
  Session s;
  s.Write(kSchedule, CrLf({kLater}));
  ASSERT_TRUE(s.Start({"QUORVANE_STANDIN_SAVEFILE_MS=2500"}));
  const int64_t startMs = (NowMs() / 1000 + 2) * 1000, endMs = startMs + 7000;
  const std::string a = Line(LocalAt(startMs), LocalAt(endMs), "@27", "a.ts2");
  const std::string b = Line(LocalAt(startMs), LocalAt(endMs), "@28", "b.ts2");
  for (const std::string& line : {a, b}) {
    s.Fill(line);
    s.Click(IDC_ADD);
  }
  ASSERT_TRUE(WaitUntil([&] { return Journalled(s, "#savefile-begin"); }, 8000));
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutA(s.dialog, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &answer), 0)
      << "the blocked SaveFile runs no messages";
  ASSERT_TRUE(
      WaitUntil([&] { return Journalled(s, Stop(2)); }, static_cast<int>(endMs - NowMs()) + 5000));
  EXPECT_EQ(s.Log(), (std::vector<std::string>{StoppedLog(1), StoppedLog(0), StartedLog(1, 27),
                                               StartedLog(0, 28)}));
  EXPECT_EQ(s.Read(kSchedule), kLater + "\r\n");
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);

  // Nothing between a begin and its SaveFile; keep-alives only once both run.
  const std::vector<Call> calls = s.Journal();
  const std::vector<std::string> texts = s.Calls();
  const auto keepAlives = std::count_if(
      texts.begin(), texts.end(), [](const std::string& t) { return t.starts_with(kKeepAlive); });
  EXPECT_GE(keepAlives, 2);
  std::vector<std::string> expected = Cat(Started(28, "b.ts2", 1), Started(27, "a.ts2", 2));
  expected.insert(expected.begin() + 5, "#savefile-begin\ta.ts2");
  expected.insert(expected.begin() + 2, "#savefile-begin\tb.ts2");
  for (int i = 0; i < keepAlives / 2; ++i) {
    expected.insert(expected.end(),
                    {"Quorvane_UpdateTimeout\t1\t=1", "Quorvane_UpdateTimeout\t2\t=1"});
  }
  ASSERT_EQ(texts, Cat(expected, {Stop(1), Stop(2)}));
  EXPECT_GE(calls[0].ms, startMs);
  EXPECT_GE(calls[3].ms - calls[2].ms, 2500);
  EXPECT_GE(calls[7].ms - calls[6].ms, 2500);
  EXPECT_GE(calls.end()[-2].ms, endMs);
  EXPECT_LT(calls.back().ms, endMs + 2000);
}

}  // namespace
}  // namespace e2e
