#include "ui/form_commands.h"

#include <commdlg.h>

#include <cstddef>
#include <span>
#include <string_view>

#include "core/schedule_entry.h"
#include "resources/resource_ids.h"
#include "ui/application.h"
#include "ui/main_dialog.h"
#include "ui/win32_surroundings.h"

#if defined(_WIN32) && !defined(_WIN64)
// The SDK macro is not a constant expression; check the layout it measures.
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76,
              "first-version OPENFILENAMEA layout");
#endif

namespace {

constexpr int kFormFieldCapacity = 512;
constexpr int kFilterCapacity = 512;

// The form's controls in the order of the entry's fields.
constexpr int kFormControls[quorvane::kEntryFieldCount] = {
    IDC_START_YEAR,   IDC_START_MONTH, IDC_START_DAY, IDC_START_HOUR, IDC_START_MINUTE,
    IDC_START_SECOND, IDC_END_YEAR,    IDC_END_MONTH, IDC_END_DAY,    IDC_END_HOUR,
    IDC_END_MINUTE,   IDC_END_SECOND,  IDC_CHANNEL,   IDC_FILE_NAME,
};

// False when no line is selected or it cannot be read.
bool ReadSelectedLine(HWND dialog, std::span<char, quorvane::kTextCapacity> line) {
  const LRESULT selected = SendDlgItemMessageA(dialog, IDC_SCHEDULE_LIST, LB_GETCURSEL, 0, 0);
  return selected != LB_ERR && ListBoxScheduleList(GetDlgItem(dialog, IDC_SCHEDULE_LIST))
                                   .GetLine(static_cast<int32_t>(selected), line);
}

}  // namespace

void AddEntryFromForm(HWND dialog) {
  char texts[quorvane::kEntryFieldCount][kFormFieldCapacity];
  std::string_view fields[quorvane::kEntryFieldCount];
  for (int i = 0; i < quorvane::kEntryFieldCount; ++i) {
    const UINT length = GetDlgItemTextA(dialog, kFormControls[i], texts[i], kFormFieldCapacity);
    fields[i] = std::string_view(texts[i], length);
  }
  char line[quorvane::kTextCapacity];
  if (!quorvane::ComposeEntryLine(fields, line)) {
    // The schedule file could not give such a line back unchanged.
    MessageBeep(MB_ICONWARNING);
    return;
  }
  GiveCommand(dialog, quorvane::CommandKind::kAdd, line);
}

void ShowSelectedEntry(HWND dialog) {
  char line[quorvane::kTextCapacity];
  if (!ReadSelectedLine(dialog, line)) return;
  char field[quorvane::kTextCapacity];
  for (int i = 0; i < quorvane::kEntryFieldCount; ++i) {
    quorvane::CopyField(line, i, field);
    SetDlgItemTextA(dialog, kFormControls[i], field);
  }
}

// The line goes by its text: a Delete held while a tick runs finds it
// wherever the tick left it, or not at all once it has started.
void DeleteSelectedEntry(HWND dialog) {
  char line[quorvane::kTextCapacity];
  GiveCommand(dialog, quorvane::CommandKind::kDelete,
              ReadSelectedLine(dialog, line) ? line : nullptr);
}

void BrowseForFile(HWND dialog) {
  char filter[kFilterCapacity] = {};
  LoadStringA(g_application.instance, IDS_OPEN_FILE_FILTER, filter, kFilterCapacity);
  char fileName[kFormFieldCapacity] = {};
  char defaultExtension[] = "";
  OPENFILENAMEA request = {};
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  request.hwndOwner = dialog;
  request.lpstrFilter = filter;
  request.nFilterIndex = 0;
  request.lpstrFile = fileName;
  request.nMaxFile = kFormFieldCapacity;
  request.lpstrDefExt = defaultExtension;
  request.Flags = 0;
  if (GetOpenFileNameA(&request)) SetDlgItemTextA(dialog, IDC_FILE_NAME, fileName);
}
