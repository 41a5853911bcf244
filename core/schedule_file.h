// The schedule file beside the executable: one entry per CR LF line.
#pragma once

#include <cstdint>
#include <span>

#include "core/surroundings.h"

namespace quorvane {

// Reads one CR LF line (at most buffer.size() - 1 bytes at a time) to the
// start of the buffer, NUL-terminated. Returns the bytes consumed, 0 at the
// end of data or at a NUL byte.
int32_t ReadLine(Files& files, FileHandle file, std::span<char> buffer);

// The executable's path with everything after its last '.' made "ini".
// False when the result would not fit the buffer.
bool ScheduleFilePath(const char* exePath, NextCharRule nextChar, std::span<char> buffer);

// The executable's directory with "CHANNEL.TXT" in place of its name.
bool ChannelFilePath(const char* exePath, NextCharRule nextChar, std::span<char> buffer);

// Hands every line of the file to the sink. A UTF-8 byte-order mark at the
// start, which some editors write, is skipped: the program never writes one.
// A missing file gives nothing.
void ReadLinesInto(LineSink& sink, Files& files, const char* path);

// Appends the file's lines to the list.
void LoadScheduleFile(ScheduleList& list, Files& files, const char* path);

// Replaces the file with the list's lines. The lines go to a temporary file
// beside it that takes the file's place only once completely written, so a
// failure leaves the old file as it was. False when the save failed.
bool SaveScheduleFile(ScheduleList& list, Files& files, const char* path);

}  // namespace quorvane
