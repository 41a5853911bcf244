// Entry texts; the input is a line, then up to fourteen form texts, each
// behind an LF. Fields, numbers, time keys, the channel and the recording
// name agree with plain references; a form is joined exactly when it fits.
#include <algorithm>
#include <array>

#include "core/schedule_entry.h"
#include "tests/fuzz/fuzz_model.h"

using namespace quorvane;

namespace {

// The leading digits modulo 2^64, of which a 32-bit two's complement value
// keeps the low 32 bits.
int32_t Decimal(std::string_view text) {
  uint64_t value = 0;
  for (std::size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10 + uint64_t(text[i] - '0');
  return static_cast<int32_t>(value);
}

// Minutes m + 60 h + 1440 D + 44640 M + 535680 Y and the second, from the six
// fields at `first`.
bool KeyMatches(TimeKey key, std::string_view line, int first) {
  uint64_t v[6];
  for (int i = 0; i < 6; ++i) v[i] = uint32_t(ParseDecimal(GetField(line, first + i)));
  const uint64_t minutes = 535680 * v[0] + 44640 * v[1] + 1440 * v[2] + 60 * v[3] + v[4];
  return key.key == static_cast<int32_t>(minutes) && key.second == static_cast<int32_t>(v[5]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::vector<std::string> parts = fakes::Split(std::string(fuzz::Bytes(data, size)), "\n");
  const std::string_view line = parts[0];
  const std::vector<std::string> cells = fakes::Split(parts[0], "\t");
  for (std::size_t n = 0; n <= cells.size(); ++n) {
    const std::string_view cell = n < cells.size() ? std::string_view(cells[n]) : "";
    PROPERTY(GetField(line, int(n)) == cell && ParseDecimal(cell) == Decimal(cell));
  }
  PROPERTY(KeyMatches(EntryStartKey(line), line, 0) && KeyMatches(EntryEndKey(line), line, 6));

  // The channel: digits after the first '@' that starts a character of the
  // NUL-terminated copy the core walks (cut to 1023 bytes).
  const std::string copy(line.substr(0, std::min<std::size_t>(1023, line.find('\0'))));
  const char* at = copy.c_str();
  while (*at != '\0' && *at != '@') at = fakes::Cp932Next(at);
  const bool catv = *at == '@' && at[1] == 'C';
  const ChannelChoice channel = ParseChannelField(line, fakes::Cp932Next);
  PROPERTY(channel.channel == (*at ? Decimal(at + 1 + catv) : 0) && channel.catvFlag == catv);

  // The recording name of the line as the list holds it, up to a NUL, with
  // guard bytes behind the buffer: TABs made '_', cut to leave room for ".ts2".
  std::string wanted(line.substr(0, line.find('\0')));
  std::array<char, kTextCapacity + 8> name;
  name.fill('Z');
  DefaultRecordingName(wanted, std::span(name.data(), kTextCapacity));
  std::replace(wanted.begin(), wanted.end(), '\t', '_');
  PROPERTY(name.data() == wanted.substr(0, 1019) + ".ts2");
  PROPERTY(std::count(name.begin() + kTextCapacity, name.end(), 'Z') == 8);

  // The form: accepted exactly when the joined line fits a stored line.
  std::array<std::string_view, kEntryFieldCount> fields{};
  std::copy_n(parts.begin() + 1, std::min<std::size_t>(parts.size() - 1, 14), fields.begin());
  std::string joined(fields[0]);
  for (std::size_t i = 1; i < fields.size(); ++i) joined.append("\t").append(fields[i]);
  char composed[kTextCapacity];
  const bool accepted = ComposeEntryLine(fields, composed);
  PROPERTY(accepted == (joined.size() <= 1021));
  PROPERTY(accepted ? std::string_view(composed, joined.size() + 1) == joined + '\0' : !*composed);
  return 0;
}
