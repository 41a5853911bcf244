// What the user or Windows does while a library call runs the program's
// messages: the stand-in's SaveFile runs them for 2.5 s before it starts.
// Commands wait for the tick's pass; the end of the session cannot wait.
// Journals are compared whole, without the keep-alives.
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

const Texts kSlowStart = {"QUORVANE_STANDIN_SAVEFILE_MS=2500"};

// Due lines on channels 21 up to 20 + n, and their start and stop calls in
// the order the pass makes them (from the last line up, handles from 1).
Texts Due(int n) {
  Texts lines;
  for (int ch = 21; ch <= 20 + n; ++ch)
    lines.push_back(Line({2008, 1, 1, 0, 0, ch}, {2099, 1, 1, 0, 0, 0}, Said(u8"@%d", ch),
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

// Delete of the first line, three times over, during the first of four
// starts: each delete is of the line then first, which has started by the
// time the pass ends; none goes, all four start.
TEST(ReEntry, DeletesDuringAStartTakeTheSelectedLineOnly) {
  Session s;
  s.Write(kSchedule, CrLf(Due(4)));
  ASSERT_TRUE(s.Start(kSlowStart));
  ASSERT_TRUE(WaitUntil([&] { return Begun(s) == 1; }, 10000));
  for (int i = 0; i < 3; ++i) s.Select(0), s.Click(IDC_DELETE);
  ASSERT_TRUE(WaitUntil(
      [&] { return Split(s.Read("journal.txt"), "\tQuorvane_SaveFile").size() == 5; }, 15000));
  EXPECT_TRUE(WaitUntil([&] { return s.Read(kSchedule).empty(); }));
  s.Post(IDC_EXIT);
  EXPECT_EQ(s.Exit(), 0u);
  Texts calls;
  for (int ch = 24, handle = 1; ch >= 21; --ch) calls = Cat(calls, StartOf(ch, handle++));
  EXPECT_EQ(s.Calls(), Cat(calls, {StopCall(1), StopCall(2), StopCall(3), StopCall(4)}));
}

// The session ends while one task records and another starts: the first is
// stopped and the list saved at once; the second is stopped as soon as its
// start returns, nothing more starts, and the program ends by itself.
TEST(ReEntry, SessionEndDuringAStartStopsAndSavesAtOnce) {
  Session s;
  const std::string later = Line({2099, 3, 1, 0, 0, 0}, {2099, 3, 1, 1, 0, 0}, "@15", "c.ts2");
  s.Write(kSchedule, CrLf(Cat(Due(3), {later})));
  ASSERT_TRUE(s.Start(kSlowStart));
  ASSERT_TRUE(WaitUntil([&] { return Begun(s) == 2; }, 10000));
  SendMessageA(s.dialog, WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(s.Calls(), Cat(StartOf(23, 1),
                           {StartOf(22, 2)[0], StartOf(22, 2)[1], StartOf(22, 2)[2], StopCall(1)}));
  EXPECT_EQ(s.Read(kSchedule), CrLf({Due(1)[0], later}));
  EXPECT_EQ(s.Exit(10000), 0u);
  EXPECT_EQ(s.Calls(), Cat(StartOf(23, 1), {StartOf(22, 2)[0], StartOf(22, 2)[1], StartOf(22, 2)[2],
                                            StopCall(1), StartOf(22, 2)[3], StopCall(2)}));
  EXPECT_EQ(s.Read(kSchedule), CrLf({Due(1)[0], later}));
}

}  // namespace
}  // namespace e2e
