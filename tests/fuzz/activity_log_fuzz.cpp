// The activity log; the input is the old text's length (two bytes, low
// first), the message up to the first LF, and a pattern repeated to that
// length as the pane's old text, which may hold any bytes. The new text is
// the time-stamped line and the longest whole-character prefix of the old
// text that keeps the pane within 32767 bytes with its NUL.
#include <algorithm>

#include "core/activity_log.h"
#include "tests/fuzz/fuzz_model.h"

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view input = fuzz::Bytes(data + 2, size - 2);
  const std::string message(input.substr(0, input.find('\n')));
  const std::string_view pattern = input.substr(std::min(input.size(), message.size() + 1));
  const std::size_t length = std::size_t(data[0] | data[1] << 8);
  fakes::FakeWorld pane;  // its clock says 2009/01/05 07:03:09
  while (!pattern.empty() && pane.log.size() < length) pane.log += pattern;
  pane.log.resize(std::min(pane.log.size(), length));
  const std::string old = pane.log.c_str();  // what the pane shows ends at a NUL
  AppendLog(pane, pane, fakes::Cp932Next, message.c_str());

  // The line is cut, as the core cuts it, to a text of kTextCapacity bytes.
  const std::string line =
      fakes::Printf("*2009/01/05 07:03:09 %s\r\n", message.c_str()).substr(0, kTextCapacity - 1);
  PROPERTY(pane.log.size() + 1 <= 32767 && pane.log.starts_with(line));
  const std::string_view kept = std::string_view(pane.log).substr(line.size());
  // Whole characters of the old text as far as they fit: at most one
  // double-byte character short of the room, never half of one.
  const std::size_t room = std::min(old.size(), 32766 - line.size());
  std::size_t whole = 0;
  for (std::size_t at = 0; at < room;) {
    at = std::size_t(fakes::Cp932Next(old.c_str() + at) - old.c_str());
    if (at <= room) whole = at;
  }
  PROPERTY(kept == std::string_view(old).substr(0, whole));
  return 0;
}
