#include "core/activity_log.h"

#include <cstring>
#include <string_view>

#include "core/text_format.h"

namespace quorvane {
namespace {

// Length of the longest prefix of `text` (which holds `available` bytes)
// that ends on a character boundary and is at most `limit` bytes long.
std::size_t WholeCharacterPrefix(const char* text, std::size_t available, std::size_t limit,
                                 NextCharRule nextChar) {
  if (available <= limit) return available;
  // A LF is never a lead byte, so a character ends with it whether it stands
  // alone or trails a lead byte: the walk may start behind the last LF before
  // the cut instead of at the top of a full pane.
  const std::size_t lastLineFeed = std::string_view(text, limit).rfind('\n');
  const char* at = lastLineFeed == std::string_view::npos ? text : text + lastLineFeed + 1;
  for (;;) {
    const char* next = nextChar(at);
    if (next == at || static_cast<std::size_t>(next - text) > limit) break;
    at = next;
  }
  return static_cast<std::size_t>(at - text);
}

}  // namespace

void AppendLog(LogPane& pane, Clock& clock, NextCharRule nextChar, const char* message) {
  static_assert(kLogCapacity > kTextCapacity + 1);
  char text[kLogCapacity];
  const LocalTime now = clock.Now();
  const std::size_t lineLength =
      FormatText(std::span(text, kTextCapacity), "*%d/%02d/%02d %02d:%02d:%02d %s\r\n",
                 {now.year, now.month, now.day, now.hour, now.minute, now.second, message});
  // The pane keeps at most kLogCapacity - 1 bytes with the NUL. Read one byte
  // more than may be kept, to see whether the cut would split a character.
  char* old = text + lineLength;
  const std::size_t keepLimit = kLogCapacity - 2 - lineLength;
  pane.ReadText(std::span(old, kLogCapacity - lineLength));
  const std::size_t oldLength = std::strlen(old);
  old[WholeCharacterPrefix(old, oldLength, keepLimit, nextChar)] = '\0';
  pane.ReplaceText(text);
}

}  // namespace quorvane
