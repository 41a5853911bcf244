// What the tuner manager and the user or Windows do while a library call
// runs the program's messages: the stand-in's SaveFile runs them for 2.5 s
// before it starts. Commands wait for the tick's pass; the end of the
// session cannot wait. Journals are compared whole, without the keep-alives.
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

const Texts kSlowStart = {"QUORVANE_STANDIN_SAVEFILE_MS=2500"};
const std::string kLater = Line({2099, 3, 1, 0, 0, 0}, {2099, 3, 1, 1, 0, 0}, "@15", "c.ts2");

// Due lines on channels 21 up to 20 + n, ending in `endYear`, and the calls
// of a start with the stand-in's begin of SaveFile.
Texts Due(int n, int endYear = 2099) {
  Texts lines;
  for (int ch = 21; ch <= 20 + n; ++ch)
    lines.push_back(Line({2008, 1, 1, 0, 0, ch}, {endYear, 1, 1, 0, 0, 0}, Said(u8"@%d", ch),
                         Said(u8"%d.ts2", ch)));
  return lines;
}
Texts StartOf(int ch, int handle) {
  Texts calls = StartCalls(ch, Said(u8"%d.ts2", ch), handle);
  calls.insert(calls.begin() + 2, Said(u8"#savefile-begin\t%d.ts2", ch));
  return calls;
}
size_t Begun(const Session& s) {
  return Split(s.Read("journal.txt"), "#savefile-begin").size() - 1;
}

// From the last line up, the pings answer 1, 0, 1, 0: @24 and @22 start, all
// four are consumed. The ticks during each SaveFile are dropped, not run
// inside the call (nothing is journalled between its begin and its end), and
// go on after the pass: the next stops both, whose ends passed with their
// starts (so they need no room on disk). During the first start the first
// line is deleted three times over: each delete waits for the pass and is of
// the line first at the click, consumed by then; none goes.
TEST(ReEntry, FlappingManagerAndDeletesDuringASaveFileThatRunsMessages) {
  Session s;
  s.Write(kSchedule, CrLf(Cat(Due(4, 2008), {kLater})));
  ASSERT_TRUE(s.Start(Cat(kSlowStart, {"QUORVANE_STANDIN_FLAP=ping"})));
  ASSERT_TRUE(WaitUntil([&] { return Begun(s) == 1; }, 10000));
  for (int i = 0; i < 3; ++i) s.Select(0), s.Click(IDC_DELETE);
  ASSERT_TRUE(WaitUntil([&] { return s.Log().size() == 6; }, 15000));
  EXPECT_EQ(s.Items(IDC_CHANNEL).size(), 78u) << "without a channel file, not the generated ones";
  EXPECT_EQ(s.Items(IDC_SCHEDULE_LIST), Texts{kLater});
  EXPECT_EQ(s.Read(kSchedule), CrLf({kLater}));
  const std::string kNoManager = Cp932(u8"チューナマネージャがみつかりません。");
  const char8_t *started = u8"タスク%d(%d,0)を開始しました。",
                *stopped = u8"タスク%dを停止しました。";
  EXPECT_EQ(s.Log(), (Texts{Said(stopped, 1), Said(stopped, 0), kNoManager, Said(started, 1, 22),
                            kNoManager, Said(started, 0, 24)}));
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);
  EXPECT_EQ(s.Calls(), Cat(Cat(Cat(StartOf(24, 1), {"Quorvane_ManagerPing\t=0"}), StartOf(22, 2)),
                           {"Quorvane_ManagerPing\t=0", StopCall(1), StopCall(2)}));
  for (size_t i : {2u, 7u}) EXPECT_GE(s.Journal().at(i + 1).ms - s.Journal().at(i).ms, 2500) << i;
}

// Quit clicked during the first start: the pass starts all three due lines,
// then the quit stops them and saves. The later line was hand-edited past
// 1023 bytes with a stray lead byte at the cut, which the list box gives
// back as a whole character: its first piece is read cut to 1022 bytes,
// never as an empty line due at once.
TEST(ReEntry, QuitDuringAStartWaitsForThePass) {
  Session s;
  const std::string head = Line({2099, 1, 1, 0, 0, 0}, {2099, 1, 1, 1, 0, 0}, "@13",
                                std::string(978, 'x')),
                    tail = Line({2099, 2, 1, 0, 0, 0}, {2099, 2, 1, 1, 0, 0}, "@14", "y.ts2");
  s.Write(kSchedule, CrLf(Cat(Due(3), {head + "\x83" + tail})));
  ASSERT_TRUE(s.Start(kSlowStart));
  ASSERT_TRUE(WaitUntil([&] { return Begun(s) == 1; }, 10000));
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(20000), 0u);
  EXPECT_EQ(s.Calls(), Cat(Cat(Cat(StartOf(23, 1), StartOf(22, 2)), StartOf(21, 3)),
                           {StopCall(1), StopCall(2), StopCall(3)}));
  EXPECT_EQ(s.Read(kSchedule), CrLf({head, tail}));
}

// The session ends while one task records and another starts: the first is
// stopped and the list saved at once; the second is stopped as soon as its
// start returns, nothing more starts, and the program ends by itself.
TEST(ReEntry, SessionEndDuringAStartStopsAndSavesAtOnce) {
  Session s;
  s.Write(kSchedule, CrLf(Cat(Due(3), {kLater})));
  ASSERT_TRUE(s.Start(kSlowStart));
  ASSERT_TRUE(WaitUntil([&] { return Begun(s) == 2; }, 10000));
  SendMessageA(s.dialog, WM_ENDSESSION, TRUE, 0);
  const Texts second = StartOf(22, 2),
              atOnce = Cat(StartOf(23, 1), {second[0], second[1], second[2], StopCall(1)});
  EXPECT_EQ(s.Calls(), atOnce);
  EXPECT_EQ(s.Read(kSchedule), CrLf({Due(1)[0], kLater}));
  EXPECT_EQ(s.Exit(10000), 0u);
  EXPECT_EQ(s.Calls(), Cat(atOnce, {second[3], StopCall(2)}));
  EXPECT_EQ(s.Read(kSchedule), CrLf({Due(1)[0], kLater}));
}

}  // namespace
}  // namespace e2e
