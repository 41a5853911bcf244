// The activity log; the input is the old text's length (two bytes, low
// first), the message up to the first LF, and a pattern repeated to that
// length as the pane's old text, which may hold any bytes. The new text is
// the time-stamped line and the longest whole-character prefix of the old
// text that keeps the pane within 32767 bytes with its NUL.
#include <algorithm>
#include <cstring>

#include "core/activity_log.h"
#include "tests/fuzz/fuzz_model.h"

using namespace quorvane;

namespace {

struct Pane : LogPane {
  std::string text;
  void ReadText(std::span<char> buffer) override {
    const std::size_t length = std::min(text.size(), buffer.size() - 1);
    std::memcpy(buffer.data(), text.data(), length);
    buffer[length] = '\0';
  }
  void ReplaceText(const char* replaced) override { text = replaced; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view input = fuzz::Bytes(data + 2, size - 2);
  const std::string message(input.substr(0, input.find('\n')));
  const std::string_view pattern = input.substr(std::min(input.size(), message.size() + 1));
  const std::size_t length = std::size_t(data[0] | data[1] << 8);
  Pane pane;
  for (pane.text = pattern; !pattern.empty() && pane.text.size() < length;) pane.text += pane.text;
  pane.text.resize(std::min(pane.text.size(), length));
  const std::string old = pane.text.c_str();  // what the pane shows ends at a NUL
  fakes::FakeWorld clock;                     // 2009/01/05 07:03:09
  AppendLog(pane, clock, fuzz::Cp932Next, message.c_str());

  char line[kTextCapacity];
  std::snprintf(line, sizeof line, "*2009/01/05 07:03:09 %s\r\n", message.c_str());
  const std::string_view text = pane.text;
  PROPERTY(text.size() + 1 <= 32767 && text.starts_with(line));
  const std::string_view kept = text.substr(std::strlen(line));
  PROPERTY(std::string_view(old).starts_with(kept));
  // Whole characters of the old text as far as they fit: at most one
  // double-byte character short of the room, never half of one.
  const std::size_t room = std::min(old.size(), 32766 - std::strlen(line));
  std::size_t whole = 0;
  for (std::size_t at = 0; at < room;) {
    at = std::size_t(fuzz::Cp932Next(old.c_str() + at) - old.c_str());
    if (at <= room) whole = at;
  }
  PROPERTY(kept.size() == whole);
  return 0;
}
