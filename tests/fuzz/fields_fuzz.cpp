// Entry texts; the input is a line, then up to fourteen form texts, each
// behind an LF. Fields, numbers, time keys, the channel and the recording
// name agree with plain references; a composed line gives its fields back.
#include <algorithm>
#include <array>
#include <cstring>

#include "core/schedule_entry.h"
#include "tests/fuzz/fuzz_model.h"

using namespace quorvane;

namespace {

std::vector<std::string_view> Split(std::string_view text, char mark) {
  std::vector<std::string_view> parts;
  for (std::size_t at; (at = text.find(mark)) != text.npos; text.remove_prefix(at + 1)) {
    parts.push_back(text.substr(0, at));
  }
  parts.push_back(text);
  return parts;
}

// Two's complement read of a value taken modulo 2^32.
int32_t Wrap(uint64_t value) {
  value %= 1ull << 32;
  return static_cast<int32_t>(int64_t(value) - (value >> 31 ? 1ll << 32 : 0));
}

int32_t Decimal(std::string_view text) {
  uint64_t value = 0;
  for (std::size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value % (1ull << 32) * 10 + uint64_t(text[i] - '0');
  }
  return Wrap(value);
}

// Minutes m + 60 h + 1440 D + 44640 M + 535680 Y and the second, from the six
// fields at `first`.
bool KeyMatches(TimeKey key, const std::vector<std::string_view>& cells, std::size_t first) {
  uint32_t v[6] = {};
  for (std::size_t i = 0; i < 6 && first + i < cells.size(); ++i) {
    v[i] = uint32_t(Decimal(cells[first + i]));
  }
  const uint64_t minutes =
      535680ull * v[0] + 44640ull * v[1] + 1440ull * v[2] + 60ull * v[3] + v[4];
  return key.key == Wrap(minutes) && key.second == Wrap(v[5]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> parts = Split(fuzz::Bytes(data, size), '\n');
  const std::string_view line = parts[0];
  const std::vector<std::string_view> cells = Split(line, '\t');
  for (std::size_t n = 0; n <= cells.size(); ++n) {
    const std::string_view cell = n < cells.size() ? cells[n] : "";
    PROPERTY(GetField(line, int(n)) == cell && ParseDecimal(cell) == Decimal(cell));
  }
  PROPERTY(KeyMatches(EntryStartKey(line), cells, 0) && KeyMatches(EntryEndKey(line), cells, 6));

  // The channel: digits after the first '@' that starts a character of the
  // NUL-terminated copy the core walks (cut to 1023 bytes).
  const std::string copy(line.substr(0, 1023).substr(0, line.find('\0')));
  ChannelChoice expected{0, 0};
  for (const char* at = copy.c_str(); *at != '\0'; at = fuzz::Cp932Next(at)) {
    if (*at != '@') continue;
    expected = {Decimal(at + 1 + (at[1] == 'C')), at[1] == 'C'};
    break;
  }
  const ChannelChoice channel = ParseChannelField(line, fuzz::Cp932Next);
  PROPERTY(channel.channel == expected.channel && channel.catvFlag == expected.catvFlag);

  // The recording name of the line as the list holds it, up to a NUL, with
  // guard bytes behind the buffer.
  const std::string_view held = line.substr(0, line.find('\0'));
  std::string wanted(held);
  std::replace(wanted.begin(), wanted.end(), '\t', '_');
  std::array<char, kTextCapacity + 8> name;
  name.fill('Z');
  DefaultRecordingName(held, std::span(name.data(), kTextCapacity));
  const std::string_view made(name.data(), std::strlen(name.data()));
  PROPERTY(made.size() <= 1023 && made.ends_with(".ts2") &&
           std::count(name.begin() + 1024, name.end(), 'Z') == 8);
  PROPERTY(std::string_view(wanted).starts_with(made.substr(0, made.size() - 4)));
  PROPERTY(wanted.size() + 4 > 1023 || made == wanted + ".ts2");

  // The form: accepted exactly when the joined line fits a stored line.
  std::array<std::string_view, kEntryFieldCount> fields{};
  std::copy_n(parts.begin() + 1, std::min<std::size_t>(parts.size() - 1, 14), fields.begin());
  std::string joined(fields[0]);
  for (std::size_t i = 1; i < fields.size(); ++i) joined.append("\t").append(fields[i]);
  char composed[kTextCapacity];
  const bool accepted = ComposeEntryLine(fields, composed);
  PROPERTY(accepted == (joined.size() <= 1021));
  PROPERTY(accepted ? std::string_view(composed, joined.size() + 1) == joined + '\0' : !*composed);
  const bool noTab = Split(joined, '\t').size() == fields.size();
  for (std::size_t i = 0; accepted && noTab && i < fields.size(); ++i) {
    PROPERTY(GetField(std::string_view(composed, joined.size()), int(i)) == fields[i]);
  }
  return 0;
}
