#include "core/schedule_entry.h"

#include <cstring>

namespace quorvane {
namespace {

constexpr char kFieldSeparator = '\t';
constexpr std::string_view kRecordingExtension = ".ts2";

// Unsigned arithmetic wraps by definition; the conversion back to signed is
// modular since C++20.
int32_t WrapToSigned(uint32_t value) {
  return static_cast<int32_t>(value);
}

void CopyCut(std::string_view text, std::span<char> buffer) {
  if (buffer.empty()) return;
  const std::size_t length = text.size() < buffer.size() ? text.size() : buffer.size() - 1;
  // An empty view may hold a null pointer, which memcpy must not be given.
  if (length != 0) std::memcpy(buffer.data(), text.data(), length);
  buffer[length] = '\0';
}

}  // namespace

std::string_view GetField(std::string_view line, int n) {
  std::size_t begin = 0;
  for (int separators = 0; separators < n; ++separators) {
    const std::size_t tab = line.find(kFieldSeparator, begin);
    if (tab == std::string_view::npos) return {};
    begin = tab + 1;
  }
  const std::size_t tab = line.find(kFieldSeparator, begin);
  const std::size_t end = tab == std::string_view::npos ? line.size() : tab;
  // Not substr: `begin` never passes the end, and substr would bring in the
  // runtime's exception support for a case that cannot happen.
  return std::string_view(line.data() + begin, end - begin);
}

void CopyField(std::string_view line, int n, std::span<char> buffer) {
  CopyCut(GetField(line, n), buffer);
}

int32_t ParseDecimal(std::string_view text) {
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10u + static_cast<uint32_t>(c - '0');
  }
  return WrapToSigned(value);
}

int32_t MinuteKey(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute) {
  uint32_t key = static_cast<uint32_t>(year);
  key = key * 12u + static_cast<uint32_t>(month);
  key = key * 31u + static_cast<uint32_t>(day);
  key = key * 24u + static_cast<uint32_t>(hour);
  key = key * 60u + static_cast<uint32_t>(minute);
  return WrapToSigned(key);
}

TimeKey TimeKeyOf(const LocalTime& time) {
  return {MinuteKey(time.year, time.month, time.day, time.hour, time.minute), time.second};
}

namespace {

TimeKey KeyFromFields(std::string_view line, int firstField) {
  int32_t values[6];
  for (int i = 0; i < 6; ++i) values[i] = ParseDecimal(GetField(line, firstField + i));
  return {MinuteKey(values[0], values[1], values[2], values[3], values[4]), values[5]};
}

}  // namespace

TimeKey EntryStartKey(std::string_view line) {
  return KeyFromFields(line, 0);
}
TimeKey EntryEndKey(std::string_view line) {
  return KeyFromFields(line, 6);
}

ChannelChoice ParseChannelField(std::string_view text, NextCharRule nextChar) {
  // The walk needs a NUL-terminated text for the next-character rule.
  char copy[kTextCapacity];
  CopyCut(text, copy);
  const char* at = copy;
  while (*at != '\0' && *at != '@') at = nextChar(at);
  if (*at != '@') return {0, 0};
  ++at;
  int32_t catvFlag = 0;
  if (*at == 'C') {
    catvFlag = 1;
    ++at;
  }
  return {ParseDecimal(at), catvFlag};
}

void DefaultRecordingName(std::string_view line, std::span<char> buffer) {
  if (buffer.size() <= kRecordingExtension.size()) {
    CopyCut({}, buffer);
    return;
  }
  const std::size_t room = buffer.size() - kRecordingExtension.size() - 1;
  const std::size_t kept = line.size() < room ? line.size() : room;
  for (std::size_t i = 0; i < kept; ++i) {
    buffer[i] = line[i] == kFieldSeparator ? '_' : line[i];
  }
  std::memcpy(buffer.data() + kept, kRecordingExtension.data(), kRecordingExtension.size());
  buffer[kept + kRecordingExtension.size()] = '\0';
}

bool ComposeEntryLine(std::span<const std::string_view, kEntryFieldCount> fields,
                      std::span<char> buffer) {
  if (buffer.empty()) return false;
  buffer[0] = '\0';
  std::size_t length = kEntryFieldCount - 1;  // the separators
  for (std::string_view field : fields) length += field.size();
  if (length > kMaxStoredLineLength || length >= buffer.size()) return false;
  std::size_t at = 0;
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) buffer[at++] = kFieldSeparator;
    first = false;
    if (!field.empty()) std::memcpy(buffer.data() + at, field.data(), field.size());
    at += field.size();
  }
  buffer[at] = '\0';
  return true;
}

}  // namespace quorvane
