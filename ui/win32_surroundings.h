// The core's seams on the dialog's controls and the kernel's calls.
#pragma once

#include <windows.h>

#include "core/due_events.h"
#include "core/surroundings.h"
#include "ui/system_power.h"

class ListBoxScheduleList final : public quorvane::ScheduleList {
 public:
  explicit ListBoxScheduleList(HWND listBox) : listBox_(listBox) {}
  int32_t Count() override;
  bool GetLine(int32_t index, std::span<char> buffer) override;
  void DeleteLine(int32_t index) override;
  void AddLine(const char* line) override;

 private:
  HWND listBox_;
};

class EditLogPane final : public quorvane::LogPane {
 public:
  explicit EditLogPane(HWND edit) : edit_(edit) {}
  void ReadText(std::span<char> buffer) override;
  void ReplaceText(const char* text) override;
  void Notify(const char* message) override;

 private:
  HWND edit_;
};

class LocalClock final : public quorvane::Clock {
 public:
  quorvane::LocalTime Now() override;
};

class ResourceMessageTable final : public quorvane::MessageTable {
 public:
  explicit ResourceMessageTable(HINSTANCE instance) : instance_(instance) {}
  void Load(int32_t id, std::span<char> buffer) override;

 private:
  HINSTANCE instance_;
};

class Win32Files final : public quorvane::Files {
 public:
  quorvane::FileHandle OpenForReading(const char* path) override;
  quorvane::FileHandle CreateAnew(const char* path) override;
  int32_t Read(quorvane::FileHandle file, std::span<char> buffer) override;
  void MoveBack(quorvane::FileHandle file, int32_t distance) override;
  bool Write(quorvane::FileHandle file, std::span<const char> bytes) override;
  bool Flush(quorvane::FileHandle file) override;
  void Close(quorvane::FileHandle file) override;
  bool Replace(const char* from, const char* to) override;
  void Remove(const char* path) override;
  bool FreeSpace(const char* folder, uint64_t& bytes) override;
};

// The tick is timer 0 of the dialog, delivered as WM_TIMER.
class DialogTickTimer final : public quorvane::TickTimer {
 public:
  explicit DialogTickTimer(HWND dialog) : dialog_(dialog) {}
  void SetTickTimer(int32_t delayMs) override;

 private:
  HWND dialog_;
};

// Browse and the window's end, on the dialog.
class DialogFrontEnd final : public quorvane::FrontEnd {
 public:
  explicit DialogFrontEnd(HWND dialog) : dialog_(dialog) {}
  void BrowseForFile() override;
  void CloseWindow(bool shownFirst) override;

 private:
  HWND dialog_;
};

inline constexpr UINT_PTR kTickTimer = 0;

const char* AnsiNextChar(const char* text);

// Everything the core needs, built on the stack around one dialog.
class DialogSurroundings {
 public:
  explicit DialogSurroundings(HWND dialog);
  const quorvane::Surroundings& world() const { return world_; }
  ListBoxScheduleList& list() { return list_; }
  // The schedule file of this run, read into the list.
  void LoadSchedule();

 private:
  ListBoxScheduleList list_;
  EditLogPane log_;
  LocalClock clock_;
  ResourceMessageTable messages_;
  Win32Files files_;
  SystemPower power_;
  DialogTickTimer tickTimer_;
  DialogFrontEnd frontEnd_;
  quorvane::Surroundings world_;
};
