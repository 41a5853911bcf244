#include "ui/channel_list.h"

#include "core/schedule_file.h"
#include "core/text_format.h"
#include "resources/resource_ids.h"
#include "ui/application.h"
#include "ui/win32_surroundings.h"

namespace {

constexpr int kFirstTerrestrialChannel = 13;
constexpr int kLastTerrestrialChannel = 62;
constexpr int kFirstCableChannel = 36;
constexpr int kLastCableChannel = 63;

void AddChannel(HWND channelBox, const char* text) {
  SendMessageA(channelBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

class ChannelBoxLines final : public quorvane::LineSink {
 public:
  explicit ChannelBoxLines(HWND channelBox) : channelBox_(channelBox) {}
  void AddLine(const char* line) override { AddChannel(channelBox_, line); }

 private:
  HWND channelBox_;
};

}  // namespace

void LoadChannelFile(HWND dialog) {
  char path[quorvane::kTextCapacity];
  if (g_application.exePath[0] == '\0') return;
  if (!quorvane::ChannelFilePath(g_application.exePath, AnsiNextChar, path)) return;
  Win32Files files;
  ChannelBoxLines channelBox(GetDlgItem(dialog, IDC_CHANNEL));
  quorvane::ReadLinesInto(channelBox, files, path);
}

void AddGeneratedChannels(HWND dialog) {
  const HWND channelBox = GetDlgItem(dialog, IDC_CHANNEL);
  char text[16];
  for (int32_t channel = kFirstTerrestrialChannel; channel <= kLastTerrestrialChannel; ++channel) {
    quorvane::FormatText(text, "@%02d", {channel});
    AddChannel(channelBox, text);
  }
  for (int32_t channel = kFirstCableChannel; channel <= kLastCableChannel; ++channel) {
    quorvane::FormatText(text, "@C%02d", {channel});
    AddChannel(channelBox, text);
  }
  SendMessageA(channelBox, CB_SETCURSEL, 0, 0);
}
