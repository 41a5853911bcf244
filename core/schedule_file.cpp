#include "core/schedule_file.h"

#include <cstring>
#include <string_view>

namespace quorvane {
namespace {

constexpr char kScheduleExtension[] = "ini";
constexpr char kChannelFileName[] = "CHANNEL.TXT";
// The save is written here first and then moved over the schedule file.
constexpr char kPendingSaveSuffix[] = ".new";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// A save writes in blocks of this size, from the stack.
constexpr std::size_t kSaveBlockSize = 65536;

// Copies `prefixLength` bytes of `path` followed by `tail`; false if too long.
bool JoinPath(const char* path, std::size_t prefixLength, const char* tail,
              std::span<char> buffer) {
  const std::size_t tailLength = std::strlen(tail);
  if (prefixLength + tailLength >= buffer.size()) {
    if (!buffer.empty()) buffer[0] = '\0';
    return false;
  }
  std::memmove(buffer.data(), path, prefixLength);
  std::memcpy(buffer.data() + prefixLength, tail, tailLength + 1);
  return true;
}

// Length of the path up to and including the last `mark`, walking whole
// characters; 0 when there is none.
std::size_t PrefixThroughLast(const char* path, char mark, NextCharRule nextChar) {
  std::size_t prefix = 0;
  for (const char* at = path; *at != '\0'; at = nextChar(at)) {
    if (*at == mark) prefix = static_cast<std::size_t>(at - path) + 1;
  }
  return prefix;
}

}  // namespace

int32_t ReadLine(Files& files, FileHandle file, std::span<char> buffer) {
  if (buffer.size() < 2) return 0;
  const int32_t read = files.Read(file, buffer.first(buffer.size() - 1));
  if (read <= 0) return 0;
  const std::size_t end = static_cast<std::size_t>(read);
  buffer[end] = '\0';
  std::size_t consumed = 0;
  while (buffer[consumed] != '\0') {
    if (buffer[consumed] == '\r' && buffer[consumed + 1] == '\n') {
      buffer[consumed] = '\0';
      consumed += 2;
      break;
    }
    ++consumed;
  }
  if (consumed < end) files.MoveBack(file, static_cast<int32_t>(end - consumed));
  return static_cast<int32_t>(consumed);
}

bool ScheduleFilePath(const char* exePath, NextCharRule nextChar, std::span<char> buffer) {
  return JoinPath(exePath, PrefixThroughLast(exePath, '.', nextChar), kScheduleExtension, buffer);
}

bool ChannelFilePath(const char* exePath, NextCharRule nextChar, std::span<char> buffer) {
  return JoinPath(exePath, PrefixThroughLast(exePath, '\\', nextChar), kChannelFileName, buffer);
}

void ReadLinesInto(LineSink& sink, Files& files, const char* path) {
  const FileHandle file = files.OpenForReading(path);
  if (file == kNoFile) return;
  char line[kTextCapacity];
  const int32_t headLength = files.Read(file, std::span(line, kByteOrderMark.size()));
  const std::string_view head(line, headLength > 0 ? static_cast<std::size_t>(headLength) : 0);
  if (!head.empty() && head != kByteOrderMark) files.MoveBack(file, headLength);
  while (ReadLine(files, file, line) != 0) sink.AddLine(line);
  files.Close(file);
}

void LoadScheduleFile(ScheduleList& list, Files& files, const char* path) {
  ReadLinesInto(list, files, path);
}

bool SaveScheduleFile(ScheduleList& list, Files& files, const char* path) {
  char pendingPath[kTextCapacity];
  if (!JoinPath(path, std::strlen(path), kPendingSaveSuffix, pendingPath)) return false;
  const FileHandle file = files.CreateAnew(pendingPath);
  if (file == kNoFile) return false;
  // Lines are gathered and written in large blocks: one system call per
  // block instead of two per line.
  char block[kSaveBlockSize];
  std::size_t filled = 0;
  bool written = true;
  const int32_t count = list.Count();
  for (int32_t i = 0; i < count; ++i) {
    if (kSaveBlockSize - filled < kTextCapacity + 1) {
      written = files.Write(file, std::span<const char>(block, filled));
      if (!written) break;
      filled = 0;
    }
    // The line is read straight into the block; it and its CR LF fit.
    char* line = block + filled;
    // A list that cannot be read whole is not saved: the file keeps what it had.
    if (!list.GetLine(i, std::span(line, kTextCapacity))) {
      written = false;
      break;
    }
    filled += std::strlen(line);
    block[filled++] = '\r';
    block[filled++] = '\n';
  }
  if (written && filled != 0) written = files.Write(file, std::span<const char>(block, filled));
  written = written && files.Flush(file);
  files.Close(file);
  if (written && files.Replace(pendingPath, path)) return true;
  files.Remove(pendingPath);
  return false;
}

}  // namespace quorvane
