#include "core/destination.h"

#include <cstring>

#include "core/power.h"
#include "core/schedule_entry.h"
#include "resources/resource_ids.h"

namespace quorvane {
namespace {

constexpr int64_t kBytesPerMegabyte = 1024 * 1024;

// The name's folder, up to and including its last '\' or '/', walked by
// characters so that a trail byte 0x5C is never taken for one; without one,
// the current folder, where the library puts such a name.
void DestinationFolder(const char* name, NextCharRule nextChar, std::span<char> folder) {
  const char* end = name;
  for (const char* at = name; *at != '\0'; at = nextChar(at)) {
    if (*at == '\\' || *at == '/') end = at + 1;
  }
  if (end == name) {
    FormatText(folder, ".\\", {});
    return;
  }
  const std::size_t length = static_cast<std::size_t>(end - name);
  const std::size_t kept = length < folder.size() ? length : folder.size() - 1;
  std::memcpy(folder.data(), name, kept);
  folder[kept] = '\0';
}

}  // namespace

int64_t RecordingNeed(std::string_view line, const LocalTime& now) {
  LocalTime start;
  LocalTime end;
  if (!RealStartOf(EntryEndKey(line), end)) return 0;
  int64_t seconds = RealSecondsBetween(now, end);
  // A start with no real instant (a wrapped key) is due at once: from now.
  if (RealStartOf(EntryStartKey(line), start)) {
    const int64_t fromStart = RealSecondsBetween(start, end);
    if (fromStart < seconds) seconds = fromStart;
  }
  if (seconds <= 0) return 0;
  return (seconds < kLongestJudgedSeconds ? seconds : kLongestJudgedSeconds) *
         kBroadcastBytesPerSecond;
}

void CheckDestination(const Surroundings& world, std::string_view line) {
  char name[kTextCapacity];
  CopyField(line, kFileNameField, name);
  if (name[0] == '\0') DefaultRecordingName(line, name);
  char folder[kTextCapacity];
  DestinationFolder(name, world.nextChar, folder);
  uint64_t available = 0;
  if (!world.files.FreeSpace(folder, available)) {
    LogMessage(world, IDS_DESTINATION_UNREACHABLE, {});
    return;
  }
  const int64_t need = RecordingNeed(line, world.clock.Now());
  if (available >= static_cast<uint64_t>(need)) return;
  // Both fit %d: the space is below the need, which is at most 30,900 MB.
  LogMessage(world, IDS_DESTINATION_SMALL,
             {static_cast<int32_t>(available / kBytesPerMegabyte),
              static_cast<int32_t>((need + kBytesPerMegabyte - 1) / kBytesPerMegabyte)});
}

}  // namespace quorvane
