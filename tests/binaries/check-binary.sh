#!/usr/bin/env bash
# Checks of the built Windows binaries that need no Windows to run:
#   check-binary.sh imports   OBJDUMP FILE         only Windows' own DLLs are imported
#   check-binary.sh exports   OBJDUMP FILE NAME... exactly these undecorated names are exported
#   check-binary.sh resources WINDRES FILE         dialog MAIN, icon ICON, strings 100-108
# Exits 0 when the check holds, 1 with a reason when not, 2 on a usage error.
set -euo pipefail
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
[[ $# -ge 3 ]] || { sed -n '2,6p' "$0" >&2 && exit 2; }
command=$1 tool=$2 file=$3
shift 3
[[ -f $file ]] || fail "no such file: $file"

case $command in
  imports)
    dlls=$("$tool" -p "$file" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
    [[ -n $dlls ]] || fail "$file imports nothing (not a PE image?)"
    # DLLs that ship with every Windows; anything else (libstdc++, libgcc,
    # libwinpthread, ...) would have to travel beside the program.
    windows='kernel32|user32|gdi32|shell32|comdlg32|advapi32|comctl32|ws2_32|ole32|shlwapi|msvcrt'
    foreign=$(grep -viE "^($windows|ucrtbase|api-ms-win-(crt|core)-.*)\.dll$" <<<"$dlls" || true)
    [[ -z $foreign ]] || fail "$file needs DLLs that Windows does not ship: ${foreign//$'\n'/ }"
    ;;
  exports)
    actual=$("$tool" -p "$file" |
      sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | LC_ALL=C sort)
    diff <(printf '%s\n' "$@" | LC_ALL=C sort) <(echo "$actual") ||
      fail "$file does not export exactly $* (<: missing, >: unexpected)"
    ;;
  resources)
    # The parts checked, as windres writes them back, each headed by the
    # language in effect (written only where it changes); non-ASCII text
    # turned from L"\x958b" escapes into UTF-8, a NUL shown as \0.
    found=$("$tool" -J coff -O rc -i "$file" | awk '
      /^LANGUAGE / { language = $0 }
      /^"MAIN" DIALOG|^"ICON" 14 / { print language; keep = 1 }
      /^  10[0-8], / { if (!strings++) print language; print }
      keep { sub(/[ \t]*\/\*.*/, ""); if (/[^ ]/) print }
      /^END$/ { keep = 0 }' | while IFS= read -r line; do
      if [[ $line == *'L"'* ]]; then
        line=$(sed -E 's/\\000/\\\\0/g; s/\\x([0-9a-f]{4})/\\u\1/g' <<<"$line")
        line=$(LC_ALL=C.UTF-8 printf '%b' "$line")
      fi
      printf '%s\n' "$line"
    done)
    # Styles are the numeric sums of the window, dialog and control flags.
    diff -u --label expected --label found - <(echo "$found") <<'EOF_RC' ||
LANGUAGE 17, 1
"MAIN" DIALOG 0, 0, 256, 208
STYLE 0x80ca10c2
CAPTION "Quorvane Scheduler"
FONT 12, "SYSTEM"
BEGIN
  CONTROL L"開始日時:", 128, "STATIC", 0x50000002, 8, 10, 48, 14
  CONTROL "", 129, "COMBOBOX", 0x50210002, 64, 8, 32, 96
  CONTROL "", 130, "COMBOBOX", 0x50210002, 96, 8, 24, 96
  CONTROL "", 131, "COMBOBOX", 0x50210002, 120, 8, 24, 96
  CONTROL "", 133, "COMBOBOX", 0x50210002, 152, 8, 24, 96
  CONTROL "", 134, "COMBOBOX", 0x50210002, 176, 8, 24, 96
  CONTROL "", 135, "COMBOBOX", 0x50210002, 200, 8, 24, 96
  CONTROL L"終了日時:", 136, "STATIC", 0x50000002, 8, 26, 48, 14
  CONTROL "", 137, "COMBOBOX", 0x50210002, 64, 24, 32, 96
  CONTROL "", 138, "COMBOBOX", 0x50210002, 96, 24, 24, 96
  CONTROL "", 139, "COMBOBOX", 0x50210002, 120, 24, 24, 96
  CONTROL "", 141, "COMBOBOX", 0x50210002, 152, 24, 24, 96
  CONTROL "", 142, "COMBOBOX", 0x50210002, 176, 24, 24, 96
  CONTROL "", 143, "COMBOBOX", 0x50210002, 200, 24, 24, 96
  CONTROL L"チャネル:", 144, "STATIC", 0x50000002, 8, 42, 48, 14
  CONTROL "", 145, "COMBOBOX", 0x50210002, 64, 40, 184, 96
  CONTROL L"ファイル名:", 146, "STATIC", 0x50000002, 8, 58, 48, 14
  CONTROL "", 147, "EDIT", 0x50810080, 64, 56, 132, 14
  CONTROL L"参照", 148, "BUTTON", 0x50010000, 200, 56, 48, 14
  CONTROL "", 149, "EDIT", 0x50a10804, 8, 76, 240, 52
  CONTROL "", 150, "LISTBOX", 0x50a10103, 8, 130, 240, 52
  CONTROL L"追加", 151, "BUTTON", 0x50010000, 8, 188, 48, 14
  CONTROL L"削除", 152, "BUTTON", 0x50010000, 60, 188, 48, 14
  CONTROL L"終了", 153, "BUTTON", 0x50010000, 200, 188, 48, 14
END
LANGUAGE 17, 1
  100, L"QuorvaneControl.dllのロードに失敗しました"
  101, L"タスクが多すぎます。"
  102, L"チューナマネージャがみつかりません。"
  103, L"タスク%d(%d,%d)を開始できませんでした。"
  104, L"タスク%d(%d,%d)を開始しました。"
  105, L"タスク%dを停止できませんでした。"
  106, L"タスク%dを停止しました。"
  107, L"TS2ファイル (*.ts2)\0*.ts2\0全てのファイル\0*.*\0"
  108, L"スケジュールファイルを保存できませんでした。"
LANGUAGE 17, 1
"ICON" 14
BEGIN
   0, 1, 1,
    "\040\040\020\000", 1, 4, 0x2e8L, 1
END
EOF_RC
      fail "$file lacks the expected dialog MAIN, 32x32 16-colour icon ICON or strings 100-108"
    ;;
  *) fail "unknown check: $command" ;;
esac
echo "PASS: $command of $(basename "$file")"
