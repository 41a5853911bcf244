// In-memory stand-ins for the dialog's list, log pane, clock, string table and
// the system's next-character rule.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/surroundings.h"

namespace quorvane::fakes {

// Copies the text cut to the buffer and NUL-terminated, as the controls do.
inline void CopyCut(std::string_view text, std::span<char> buffer) {
  if (buffer.empty()) return;
  const std::size_t length = std::min(text.size(), buffer.size() - 1);
  std::memcpy(buffer.data(), text.data(), length);
  buffer[length] = '\0';
}

// CharNextA under code page 932: a lead byte takes its trail byte along
// unless the text ends right after it.
inline const char* Cp932Next(const char* text) {
  const auto byte = static_cast<unsigned char>(*text);
  if (byte == 0) return text;
  const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
  return lead && text[1] != '\0' ? text + 2 : text + 1;
}

// A sorted list box: lines in byte order, equal lines kept apart.
class FakeScheduleList final : public ScheduleList {
 public:
  std::vector<std::string> lines;

  int32_t Count() override { return static_cast<int32_t>(lines.size()); }
  void GetLine(int32_t index, std::span<char> buffer) override {
    CopyCut(Exists(index) ? std::string_view(lines[Index(index)]) : std::string_view(), buffer);
  }
  void DeleteLine(int32_t index) override {
    if (Exists(index)) lines.erase(lines.begin() + index);
  }
  void AddLine(const char* line) override {
    const std::string text(line);
    lines.insert(std::upper_bound(lines.begin(), lines.end(), text), text);
  }

 private:
  bool Exists(int32_t index) const { return index >= 0 && Index(index) < lines.size(); }
  static std::size_t Index(int32_t index) { return static_cast<std::size_t>(index); }
};

class FakeLogPane final : public LogPane {
 public:
  std::string text;
  int replaced = 0;

  void ReadText(std::span<char> buffer) override { CopyCut(text, buffer); }
  void ReplaceText(const char* newText) override {
    text = newText;
    ++replaced;
  }
};

class FakeClock final : public Clock {
 public:
  LocalTime now{2009, 1, 5, 7, 3, 9};
  LocalTime Now() override { return now; }
};

// The scheduler's strings 101 to 106 as the resources hold them, in code
// page 932.
class FakeMessageTable final : public MessageTable {
 public:
  std::map<int32_t, std::string> texts{
      // "タスクが多すぎます。"
      {101,
       "\x83^\x83X\x83N\x82\xAA\x91\xBD\x82\xB7\x82\xAC\x82\xDC\x82\xB7\x81"
       "B"},
      // "チューナマネージャがみつかりません。"
      {102,
       "\x83`\x83\x85\x81[\x83i\x83}\x83l\x81[\x83W\x83\x83\x82\xAA\x82\xDD\x82\xC2\x82\xA9"
       "\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81"
       "B"},
      // "タスク%d(%d,%d)を開始できませんでした。"
      {103,
       "\x83^\x83X\x83N%d(%d,%d)\x82\xF0\x8AJ\x8En\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1"
       "\x82\xC5\x82\xB5\x82\xBD\x81"
       "B"},
      // "タスク%d(%d,%d)を開始しました。"
      {104,
       "\x83^\x83X\x83N%d(%d,%d)\x82\xF0\x8AJ\x8En\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81"
       "B"},
      // "タスク%dを停止できませんでした。"
      {105,
       "\x83^\x83X\x83N%d\x82\xF0\x92\xE2\x8E~\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x82"
       "\xC5\x82\xB5\x82\xBD\x81"
       "B"},
      // "タスク%dを停止しました。"
      {106,
       "\x83^\x83X\x83N%d\x82\xF0\x92\xE2\x8E~\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81"
       "B"},
  };

  void Load(int32_t id, std::span<char> buffer) override {
    const auto found = texts.find(id);
    CopyCut(found == texts.end() ? std::string_view() : std::string_view(found->second), buffer);
  }

  // The text with each "%d" replaced by the next number, for expectations
  // that do not lean on the formatter under test.
  std::string Expand(int32_t id, std::initializer_list<int64_t> numbers) const {
    std::string text = texts.at(id);
    std::size_t at = 0;
    for (const int64_t number : numbers) {
      at = text.find("%d", at);
      const std::string digits = std::to_string(number);
      text.replace(at, 2, digits);
      at += digits.size();
    }
    return text;
  }
};

}  // namespace quorvane::fakes
