// A schedule entry is one line of 14 TAB-separated text fields: start year,
// month, day, hour, minute, second, the same six for the end, the channel
// text and the destination file name.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "core/surroundings.h"

namespace quorvane {

inline constexpr int kEntryFieldCount = 14;
inline constexpr int kChannelField = 12;
inline constexpr int kFileNameField = 13;
// A stored line plus its CR LF must fit in one 1023-byte read of the file.
inline constexpr std::size_t kMaxStoredLineLength = kTextCapacity - 3;

// An instant as (minute key, second), compared lexicographically.
struct TimeKey {
  int32_t key;
  int32_t second;
};

inline constexpr TimeKey kNothingPending = {INT32_MAX, INT32_MAX};

inline bool operator==(TimeKey a, TimeKey b) {
  return a.key == b.key && a.second == b.second;
}
inline bool IsEarlier(TimeKey a, TimeKey b) {
  return a.key < b.key || (a.key == b.key && a.second < b.second);
}
// An instant equal to now is due.
inline bool IsDue(TimeKey t, TimeKey now) {
  return !IsEarlier(now, t);
}

// Field n of the line (after the n-th TAB, up to the next TAB or the end),
// empty when the line has fewer fields.
std::string_view GetField(std::string_view line, int n);

// Copies field n into the buffer, cut to fit and NUL-terminated.
void CopyField(std::string_view line, int n, std::span<char> buffer);

// The leading ASCII digits as a 32-bit signed value that wraps modulo 2^32;
// 0 when the text does not begin with a digit.
int32_t ParseDecimal(std::string_view text);

// Minutes on a calendar of twelve 31-day months; wraps modulo 2^32.
int32_t MinuteKey(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute);

TimeKey TimeKeyOf(const LocalTime& time);
TimeKey EntryStartKey(std::string_view line);
TimeKey EntryEndKey(std::string_view line);

struct ChannelChoice {
  int32_t channel;
  int32_t catvFlag;
};

// Reads the physical channel after the first '@' (a double-byte character
// whose trail byte is '@' is stepped over whole); 'C' right after it marks a
// cable channel. No '@' means channel 0.
ChannelChoice ParseChannelField(std::string_view text, NextCharRule nextChar);

// The name used when the entry has no file name: the line with every TAB
// made '_', followed by ".ts2". An over-long line is cut so that the name
// still ends in ".ts2" and fits the buffer.
void DefaultRecordingName(std::string_view line, std::span<char> buffer);

// Joins the fourteen form texts with TABs. Refuses (false, buffer empty) a
// line that the schedule file could not give back unchanged.
bool ComposeEntryLine(std::span<const std::string_view, kEntryFieldCount> fields,
                      std::span<char> buffer);

}  // namespace quorvane
