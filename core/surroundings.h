// The narrow seams through which the scheduling core reaches the world: the
// schedule list, the log pane, the clock, the message table, files and the
// code page's next-character rule. The Windows front end implements them on
// its controls and kernel calls; the tests implement them with fakes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/tuner_library.h"

namespace quorvane {

// Every list line, path, message and field text fits in this many bytes.
inline constexpr std::size_t kTextCapacity = 1024;

struct LocalTime {
  int32_t year;
  int32_t month;
  int32_t day;
  int32_t hour;
  int32_t minute;
  int32_t second;
  // Only where the ticks fall within a second is read from it.
  int32_t millisecond = 0;
};

class Clock {
 public:
  virtual LocalTime Now() = 0;

 protected:
  ~Clock() = default;
};

// Where the lines of a text file go as they are read.
class LineSink {
 public:
  virtual void AddLine(const char* line) = 0;

 protected:
  ~LineSink() = default;
};

// The sorted list that holds the schedule entries while the program runs.
// AddLine inserts a line at its place in the list's sort order.
class ScheduleList : public LineSink {
 public:
  // 0 once the list is gone with its window.
  virtual int32_t Count() = 0;
  // Copies line `index`, cut to the buffer at a character's end and
  // NUL-terminated. False when there is no such line (the index out of
  // range, the list gone): never an empty line in its place, which would be
  // due at once.
  virtual bool GetLine(int32_t index, std::span<char> buffer) = 0;
  virtual void DeleteLine(int32_t index) = 0;

 protected:
  ~ScheduleList() = default;
};

class LogPane {
 public:
  // Copies the pane's text, cut to buffer.size() - 1 bytes and NUL-terminated.
  virtual void ReadText(std::span<char> buffer) = 0;
  virtual void ReplaceText(const char* text) = 0;
  // A failure or warning just logged, for a user who does not see the pane:
  // shown as a notification while the dialog is hidden, dropped otherwise.
  virtual void Notify(const char* message) = 0;

 protected:
  ~LogPane() = default;
};

class MessageTable {
 public:
  // Copies string `id`, cut to the buffer and NUL-terminated; empty if absent.
  virtual void Load(int32_t id, std::span<char> buffer) = 0;

 protected:
  ~MessageTable() = default;
};

using FileHandle = intptr_t;
inline constexpr FileHandle kNoFile = -1;

class Files {
 public:
  // kNoFile when the file cannot be opened.
  virtual FileHandle OpenForReading(const char* path) = 0;
  // Truncates or makes the file; kNoFile on failure.
  virtual FileHandle CreateAnew(const char* path) = 0;
  // Bytes read at the current position; 0 at the end, on error or for kNoFile.
  virtual int32_t Read(FileHandle file, std::span<char> buffer) = 0;
  virtual void MoveBack(FileHandle file, int32_t distance) = 0;
  // True only when every byte was written.
  virtual bool Write(FileHandle file, std::span<const char> bytes) = 0;
  // True when the written bytes have reached the disk.
  virtual bool Flush(FileHandle file) = 0;
  virtual void Close(FileHandle file) = 0;
  // Puts `from` in place of `to` in one step, replacing it if present.
  virtual bool Replace(const char* from, const char* to) = 0;
  virtual void Remove(const char* path) = 0;
  // The bytes this user may still write on the disk that holds `folder` (a
  // relative one is taken from the current folder); false when the folder
  // cannot be reached. A network folder may take long to answer.
  virtual bool FreeSpace(const char* folder, uint64_t& bytes) = 0;

 protected:
  ~Files() = default;
};

// Keeping the system awake and waking it from sleep. The core calls these
// only when what it wants changes.
class Power {
 public:
  // Takes or releases the hold that keeps the system (not the display) awake.
  virtual void HoldAwake(bool awake) = 0;
  // Arms the one wake timer `leadSeconds` before the local instant `start`,
  // replacing any earlier one. False when the system cannot be woken.
  virtual bool ArmWake(const LocalTime& start, int32_t leadSeconds) = 0;
  virtual void CancelWake() = 0;

 protected:
  ~Power() = default;
};

// The one-second tick's timer.
class TickTimer {
 public:
  // From now on the tick comes every `delayMs` milliseconds, the first one
  // `delayMs` from now.
  virtual void SetTickTimer(int32_t delayMs) = 0;

 protected:
  ~TickTimer() = default;
};

// What only the window can do of the user's commands.
class FrontEnd {
 public:
  // The open-file dialog for the destination: modal, it runs the program's
  // messages until the user closes it.
  virtual void BrowseForFile() = 0;
  // The tray icon and the window go, and with the window the program; the
  // user's quit shows the window for that last moment.
  virtual void CloseWindow(bool shownFirst) = 0;

 protected:
  ~FrontEnd() = default;
};

// The code page's next-character rule (CharNextA): the position of the
// character after the one at `text`, never past the terminating NUL.
using NextCharRule = const char* (*)(const char* text);

}  // namespace quorvane
