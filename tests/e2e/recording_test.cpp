// Recordings started and stopped by the clock through the stand-in library,
// the library's refusals, and quitting while a task records.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "resources/resource_ids.h"
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

constexpr const char* kPing = "Quorvane_ManagerPing";
constexpr const char* kToFreq = "Quorvane_ChannelToFreq";
constexpr const char* kSave = "Quorvane_SaveFile";
constexpr const char* kKeepAlive = "Quorvane_UpdateTimeout";
constexpr const char* kStop = "Quorvane_Stop";

auto Named(const char* name) {
  return [name](const JournalCall& call) { return call.name == name; };
}

std::vector<JournalCall> CallsNamed(const std::vector<JournalCall>& calls, const char* name) {
  std::vector<JournalCall> found;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(found), Named(name));
  return found;
}

std::string DefaultName(std::string line) {
  std::replace(line.begin(), line.end(), '\t', '_');
  return line + ".ts2";
}

// The log's lines without their "*YYYY/MM/DD hh:mm:ss " stamps; the stamps go
// to *stamps.
std::vector<std::string> LogMessages(const Session& s, std::vector<std::string>* stamps) {
  static const std::regex kStamp(R"(^\*(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d) )");
  std::vector<std::string> messages;
  for (const std::string& line : s.LogLines()) {
    std::smatch match;
    if (std::regex_search(line, match, kStamp)) {
      if (stamps != nullptr) stamps->push_back(match[1]);
      messages.push_back(line.substr(static_cast<size_t>(match.length(0))));
    } else {
      if (stamps != nullptr) stamps->push_back("");
      messages.push_back("(no stamp) " + line);
    }
  }
  return messages;
}

// An entry long due (it starts at the first tick) and one far ahead.
std::string DueLine(const SYSTEMTIME& end, const std::string& channel = "@27",
                    const std::string& fileName = "") {
  return JoinFields(FormFields(At(2008, 1, 1, 0, 0, 0), end, channel, fileName));
}
const std::string kLaterLine = JoinFields(
    FormFields(At(2099, 12, 30, 1, 0, 0), At(2099, 12, 30, 2, 0, 0), "@13", "later.ts2"));

TEST(Recording, StartedAndStoppedByTheClock) {
  Session s;
  ASSERT_TRUE(s.Start());
  // Counted from now that the dialog is up, however slowly it started.
  const int64_t startMs = (NowEpochMs() / 1000 + 3) * 1000;
  const int64_t endMs = startMs + 3000;
  // A station name in the channel text makes a Japanese default name, which
  // the recording file must be created under.
  const std::vector<std::string> fields =
      FormFields(LocalTimeAt(startMs), LocalTimeAt(endMs), Cp932(u8"みなと総合テレビ @27"), "");
  const std::string line = JoinFields(fields);
  s.FillForm(fields);
  s.Click(IDC_ADD);
  ASSERT_EQ(s.ScheduleLines(), std::vector<std::string>{line});
  EXPECT_EQ(s.Schedule(), line + "\r\n");

  ASSERT_TRUE(s.WaitForCall(Named(kSave), static_cast<int>(startMs - NowEpochMs()) + 5000));
  ASSERT_TRUE(s.WaitForCall(Named(kStop), static_cast<int>(endMs - NowEpochMs()) + 5000));
  // One more tick: nothing may follow the stop.
  Sleep(1300);
  const std::vector<JournalCall> calls = s.Journal();

  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls[0].name, kPing);
  EXPECT_EQ(calls[0].result, "1");
  EXPECT_EQ(calls[1].name, kToFreq);
  EXPECT_EQ(calls[1].args, (std::vector<std::string>{"27", "0"}));
  ASSERT_TRUE(calls[1].result.has_value());
  const JournalCall& save = calls[2];
  EXPECT_EQ(save.name, kSave);
  EXPECT_EQ(save.args,
            (std::vector<std::string>{*calls[1].result, "0", "1", "5", DefaultName(line)}));
  EXPECT_EQ(save.result, "1");
  const uint32_t handle = SavedHandle(save).value_or(0);
  ASSERT_NE(handle, 0u);
  EXPECT_GE(save.ms, startMs);
  EXPECT_LT(save.ms, startMs + 2500);

  size_t keepAlives = 0;
  size_t i = 3;
  for (; i < calls.size() && calls[i].name == kKeepAlive; ++i) {
    EXPECT_EQ(calls[i].args, std::vector<std::string>{std::to_string(handle)});
    ++keepAlives;
  }
  EXPECT_GE(keepAlives, 2u);
  EXPECT_LE(keepAlives, 4u);
  ASSERT_LT(i, calls.size());
  EXPECT_EQ(calls[i].name, kStop);
  EXPECT_EQ(calls[i].args, std::vector<std::string>{std::to_string(handle)});
  EXPECT_EQ(calls[i].result, "1");
  EXPECT_GE(calls[i].ms, endMs);
  EXPECT_EQ(calls.size(), i + 1) << "calls after the stop: " << calls.back().name;

  std::vector<std::string> stamps;
  EXPECT_EQ(LogMessages(s, &stamps),
            (std::vector<std::string>{Cp932(u8"タスク0を停止しました。"),
                                      Cp932(u8"タスク0(27,0)を開始しました。")}));
  ASSERT_EQ(stamps.size(), 2u);
  EXPECT_GE(stamps[1], StampText(LocalTimeAt(startMs)));
  EXPECT_GE(stamps[0], StampText(LocalTimeAt(endMs)));
  EXPECT_LE(stamps[0], StampText(LocalTimeAt(endMs + 3000)));
  const std::string log = s.Text(IDC_LOG);
  EXPECT_EQ(log.substr(log.size() >= 2 ? log.size() - 2 : 0), "\r\n");

  const std::string recording = s.ReadFile(DefaultName(line)).value_or("");
  ASSERT_FALSE(recording.empty()) << "no recording " << DefaultName(line);
  EXPECT_EQ(recording[0], '\x47');
  EXPECT_TRUE(s.ScheduleLines().empty());
  EXPECT_EQ(s.Schedule(), "");
}

TEST(Refusal, TunerManagerAbsentLogs102AndStartsNothing) {
  Session s;
  LaunchOptions options;
  options.environment = {{"QUORVANE_STANDIN_REFUSE", "ping"}};
  s.WriteFile(kScheduleName, JoinCrLf({DueLine(At(2099, 12, 31, 0, 0, 0)), kLaterLine}));
  ASSERT_TRUE(s.Start(options));
  const auto ping = s.WaitForCall(Named(kPing), 5000);
  ASSERT_TRUE(ping);
  EXPECT_EQ(ping->result, "0");
  EXPECT_TRUE(WaitUntil([&] { return s.Schedule() == kLaterLine + "\r\n"; }, 3000))
      << "the due line stays in the file";
  EXPECT_EQ(s.ScheduleLines(), std::vector<std::string>{kLaterLine});
  Sleep(1200);
  const std::vector<JournalCall> calls = s.Journal();
  EXPECT_EQ(CallsNamed(calls, kPing).size(), 1u);
  EXPECT_TRUE(CallsNamed(calls, kToFreq).empty());
  EXPECT_TRUE(CallsNamed(calls, kSave).empty());
  EXPECT_TRUE(CallsNamed(calls, kKeepAlive).empty());
  EXPECT_EQ(LogMessages(s, nullptr),
            std::vector<std::string>{Cp932(u8"チューナマネージャがみつかりません。")});
}

// Start refused; with dirty set, the library also leaves garbage in the
// handle. Two due lines: a slot still holding garbage would push the second
// into slot 1.
void ExpectRefusedStartLeavesNothingRunning(bool dirty) {
  Session s;
  LaunchOptions options;
  options.environment = {{"QUORVANE_STANDIN_REFUSE", "start"}};
  if (dirty) options.environment.emplace_back("QUORVANE_STANDIN_DIRTY_REFUSAL", "1");
  s.WriteFile(kScheduleName, JoinCrLf({DueLine(At(2099, 12, 31, 0, 0, 0), "@28"),
                                       DueLine(At(2099, 12, 31, 0, 0, 0), "@27"), kLaterLine}));
  ASSERT_TRUE(s.Start(options));
  ASSERT_TRUE(WaitUntil([&] { return CallsNamed(s.Journal(), kSave).size() == 2; }, 5000));
  for (const JournalCall& save : CallsNamed(s.Journal(), kSave)) {
    EXPECT_EQ(save.result, "0");
    EXPECT_EQ(SavedHandle(save), dirty ? 0xDEADBEEFu : 0u);
  }
  EXPECT_TRUE(WaitUntil([&] { return s.Schedule() == kLaterLine + "\r\n"; }, 3000));
  // The list visits its last line (@28) first; the newest log line is on top.
  EXPECT_EQ(LogMessages(s, nullptr),
            (std::vector<std::string>{Cp932(u8"タスク0(27,0)を開始できませんでした。"),
                                      Cp932(u8"タスク0(28,0)を開始できませんでした。")}));

  // Several ticks, then quit: nothing may treat a refused task as running.
  Sleep(2200);
  s.PostClick(IDC_EXIT);
  DWORD code = 1;
  ASSERT_TRUE(s.WaitForExit(5000, &code));
  EXPECT_EQ(code, 0u);
  const std::vector<JournalCall> calls = s.Journal();
  EXPECT_TRUE(CallsNamed(calls, kKeepAlive).empty()) << "keep-alive for a task never started";
  EXPECT_TRUE(CallsNamed(calls, kStop).empty()) << "stop for a task never started";
  EXPECT_EQ(CallsNamed(calls, kSave).size(), 2u);
  EXPECT_EQ(s.Schedule(), kLaterLine + "\r\n");
}

TEST(Refusal, StartRefusedLogs103) {
  ExpectRefusedStartLeavesNothingRunning(false);
}

TEST(Refusal, StartRefusedWithGarbageHandleIsNeverKeptAliveOrStopped) {
  ExpectRefusedStartLeavesNothingRunning(true);
}

TEST(Refusal, StopRefusedLogs105AndTheTaskIsForgotten) {
  Session s;
  LaunchOptions options;
  options.environment = {{"QUORVANE_STANDIN_REFUSE", "stop"}};
  // Ended long ago too: started at one tick, stopped at the next.
  s.WriteFile(kScheduleName, DueLine(At(2008, 1, 1, 0, 0, 1)) + "\r\n");
  ASSERT_TRUE(s.Start(options));
  const auto stop = s.WaitForCall(Named(kStop), 6000);
  ASSERT_TRUE(stop);
  EXPECT_EQ(stop->result, "0");
  Sleep(1500);
  const std::vector<JournalCall> calls = s.Journal();
  const std::vector<JournalCall> saves = CallsNamed(calls, kSave);
  ASSERT_EQ(saves.size(), 1u);
  EXPECT_EQ(saves[0].result, "1");
  EXPECT_EQ(stop->args,
            std::vector<std::string>{std::to_string(SavedHandle(saves[0]).value_or(0))});
  // The stop tick's own keep-alive comes before the stop; none may follow it.
  const auto stopAt = std::find_if(calls.begin(), calls.end(), Named(kStop));
  EXPECT_EQ(std::count_if(stopAt, calls.end(), Named(kKeepAlive)), 0)
      << "keep-alive after the refused stop";
  EXPECT_EQ(LogMessages(s, nullptr),
            (std::vector<std::string>{Cp932(u8"タスク0を停止できませんでした。"),
                                      Cp932(u8"タスク0(27,0)を開始しました。")}));

  s.PostClick(IDC_EXIT);
  DWORD code = 1;
  ASSERT_TRUE(s.WaitForExit(5000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(CallsNamed(s.Journal(), kStop).size(), 1u) << "stopped again at quit";
}

enum class QuitBy { kExitButton, kClose, kSystemClose, kTrayRightClick };

class QuitWhileRecording : public ::testing::TestWithParam<QuitBy> {};

TEST_P(QuitWhileRecording, StopsTheTaskSavesAndExits) {
  Session s;
  // The channel's first character has '@' as its trail byte.
  const std::string due = DueLine(At(2099, 12, 31, 0, 0, 0), Cp932(u8"ァ院@C40"), "quit.ts2");
  s.WriteFile(kScheduleName, JoinCrLf({due, kLaterLine}));
  ASSERT_TRUE(s.Start());
  const auto save = s.WaitForCall(Named(kSave), 5000);
  ASSERT_TRUE(save);
  ASSERT_EQ(save->result, "1");
  const uint32_t handle = SavedHandle(*save).value_or(0);
  ASSERT_NE(handle, 0u);
  const auto toFreq = s.WaitForCall(Named(kToFreq), 0);
  ASSERT_TRUE(toFreq);
  EXPECT_EQ(toFreq->args, (std::vector<std::string>{"40", "1"}));
  EXPECT_EQ(save->args.back(), "quit.ts2");

  // The pass saved the list without the started line; only the quit's own
  // save can bring the file back.
  ASSERT_TRUE(WaitUntil([&] { return s.Schedule() == kLaterLine + "\r\n"; }, 3000));
  ASSERT_TRUE(s.RemoveFile(kScheduleName));

  const HWND dialog = s.Dialog();
  switch (GetParam()) {
    case QuitBy::kExitButton:
      s.TrayClick(WM_LBUTTONDOWN);
      s.PostClick(IDC_EXIT);
      break;
    case QuitBy::kClose:
      s.TrayClick(WM_LBUTTONDOWN);
      PostMessageA(dialog, WM_CLOSE, 0, 0);
      break;
    case QuitBy::kSystemClose:
      s.TrayClick(WM_LBUTTONDOWN);
      PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
    case QuitBy::kTrayRightClick:
      PostMessageA(dialog, kTrayMessage, 0, WM_RBUTTONDOWN);
      break;
  }
  DWORD code = 1;
  ASSERT_TRUE(s.WaitForExit(5000, &code)) << "still running";
  EXPECT_EQ(code, 0u);
  const std::vector<JournalCall> stops = CallsNamed(s.Journal(), kStop);
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_EQ(stops[0].args, std::vector<std::string>{std::to_string(handle)});
  EXPECT_EQ(s.Schedule(), kLaterLine + "\r\n");
  EXPECT_TRUE(s.FileExists("quit.ts2"));
}

INSTANTIATE_TEST_SUITE_P(Quit, QuitWhileRecording,
                         ::testing::Values(QuitBy::kExitButton, QuitBy::kClose,
                                           QuitBy::kSystemClose, QuitBy::kTrayRightClick),
                         [](const ::testing::TestParamInfo<QuitBy>& quit) {
                           switch (quit.param) {
                             case QuitBy::kExitButton:
                               return "ExitButton";
                             case QuitBy::kClose:
                               return "Close";
                             case QuitBy::kSystemClose:
                               return "SystemClose";
                             case QuitBy::kTrayRightClick:
                               return "TrayRightClick";
                           }
                           return "Unknown";
                         });

}  // namespace
}  // namespace e2e
