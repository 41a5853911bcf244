#!/usr/bin/env bash
# Checks of the built Windows binaries that need no Windows to run:
#
#   check-binary.sh imports   OBJDUMP FILE         only Windows' own DLLs are imported
#   check-binary.sh exports   OBJDUMP FILE NAME... exactly these undecorated names are exported
#   check-binary.sh resources WINDRES FILE         dialog "MAIN", icon "ICON", strings 100-107
#
# OBJDUMP and WINDRES are the MinGW tools of the file's architecture. Exits 0
# when the check holds, 1 with a reason when not, 2 on a usage error.
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

usage() {
  sed -n '2,8p' "$0" >&2
  exit 2
}

# DLLs that ship with every Windows; anything else (libstdc++, libgcc,
# libwinpthread, ...) would have to travel beside the program.
windows_dll() {
  case "${1,,}" in
    kernel32.dll | user32.dll | gdi32.dll | shell32.dll | comdlg32.dll | advapi32.dll) return 0 ;;
    comctl32.dll | ws2_32.dll | ole32.dll | shlwapi.dll | msvcrt.dll | ucrtbase.dll) return 0 ;;
    api-ms-win-crt-*.dll | api-ms-win-core-*.dll) return 0 ;;
    *) return 1 ;;
  esac
}

check_imports() {
  local objdump=$1 file=$2 dump dll bad=0
  dump=$("$objdump" -p "$file") || fail "$objdump cannot read $file"
  mapfile -t dlls < <(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$dump")
  [[ ${#dlls[@]} -gt 0 ]] || fail "$file imports nothing (not a PE image?)"
  for dll in "${dlls[@]}"; do
    if windows_dll "$dll"; then
      echo "ok: $dll"
    else
      echo "not a Windows DLL: $dll" >&2
      bad=1
    fi
  done
  [[ $bad -eq 0 ]] || fail "$file needs DLLs that Windows does not ship"
  echo "PASS: $(basename "$file") imports only Windows DLLs"
}

check_exports() {
  local objdump=$1 file=$2 dump
  shift 2
  [[ $# -gt 0 ]] || usage
  dump=$("$objdump" -p "$file") || fail "$objdump cannot read $file"
  local actual expected
  actual=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' \
    <<<"$dump" | LC_ALL=C sort)
  expected=$(printf '%s\n' "$@" | LC_ALL=C sort)
  echo "exports of $(basename "$file"):"
  # shellcheck disable=SC2001 # indents every line
  sed 's/^/  /' <<<"$actual"
  if [[ $actual != "$expected" ]]; then
    diff <(echo "$expected") <(echo "$actual") | sed -n 's/^< /missing: /p; s/^> /unexpected: /p'
    fail "$file does not export exactly the expected names"
  fi
  echo "PASS: $(basename "$file") exports exactly $# undecorated names"
}

# windres writes non-ASCII text as L"\x958b..." escapes; turn those (and
# octal NULs) back into UTF-8, showing a NUL as the two characters \0.
decode_escapes() {
  local line
  while IFS= read -r line; do
    if [[ $line == *'L"'* ]]; then
      line=$(sed -E 's/\\000/\\\\0/g; s/\\x([0-9a-f]{4})/\\u\1/g' <<<"$line")
      LC_ALL=C.UTF-8 printf '%b\n' "$line"
    else
      printf '%s\n' "$line"
    fi
  done
}

# One resource as windres shows it, from its "Name:" comment to its END,
# headed by the language in effect for it (windres writes LANGUAGE only
# where it changes).
resource_block() {
  local rc=$1 name=$2
  awk -v name="$name" '
    /^LANGUAGE / { lang = $0; next }
    /^   Name: / { found = ($0 == "   Name: " name ".  */") }
    found { body = body $0 "\n" }
    found && /^END$/ { printf "%s\n%s", lang, body; exit }
  ' <<<"$rc"
}

check_resources() {
  local windres=$1 file=$2 rc
  rc=$("$windres" -J coff -O rc -i "$file" | decode_escapes) || fail "$windres cannot read $file"

  local dialog
  dialog=$(resource_block "$rc" '"MAIN"')
  [[ -n $dialog ]] || fail "no dialog \"MAIN\" in $file"
  # The template as the resource compiler writes it back; styles are the
  # numeric sums of the window, dialog and control style flags.
  local expected_dialog
  expected_dialog=$(
    cat <<'EOF'
LANGUAGE 17, 1
   Name: "MAIN".  */

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
EOF
  )
  if [[ $dialog != "$expected_dialog" ]]; then
    diff -u --label expected --label found <(echo "$expected_dialog") <(echo "$dialog") || true
    fail "dialog \"MAIN\" differs from the expected template"
  fi
  echo "ok: dialog \"MAIN\" with its 24 controls"

  local icon
  icon=$(resource_block "$rc" '"ICON"')
  grep -q '^LANGUAGE 17, 1$' <<<"$icon" || fail "icon \"ICON\" is not in Japanese"
  grep -q '^"ICON" 14 /\* RT_GROUP_ICON \*/' <<<"$icon" || fail "no icon \"ICON\" in $file"
  grep -q '"\\040\\040\\020\\000", 1, 4,' <<<"$icon" ||
    fail "icon \"ICON\" is not one 32x32 16-colour image: $icon"
  echo "ok: icon \"ICON\", 32x32, 16 colours"

  local strings expected_strings
  # Strings 96 to 111 make up block 7 of the string table.
  strings=$(resource_block "$rc" 7)
  grep -q '^LANGUAGE 17, 1$' <<<"$strings" || fail "strings 100-107 are not in Japanese"
  strings=$(grep -E '^  1[0-9][0-9], ' <<<"$strings" || true)
  expected_strings=$(
    cat <<'EOF'
  100, L"QuorvaneControl.dllのロードに失敗しました"
  101, L"タスクが多すぎます。"
  102, L"チューナマネージャがみつかりません。"
  103, L"タスク%d(%d,%d)を開始できませんでした。"
  104, L"タスク%d(%d,%d)を開始しました。"
  105, L"タスク%dを停止できませんでした。"
  106, L"タスク%dを停止しました。"
  107, L"TS2ファイル (*.ts2)\0*.ts2\0全てのファイル\0*.*\0"
EOF
  )
  if [[ $strings != "$expected_strings" ]]; then
    diff -u --label expected --label found <(echo "$expected_strings") <(echo "$strings") || true
    fail "the message strings differ from the expected ones"
  fi
  echo "ok: strings 100-107"
  echo "PASS: $(basename "$file") holds dialog MAIN, icon ICON and strings 100-107"
}

[[ $# -ge 3 ]] || usage
command=$1
shift
[[ -f $2 ]] || fail "no such file: $2"
case $command in
  imports)
    [[ $# -eq 2 ]] || usage
    check_imports "$@"
    ;;
  exports) check_exports "$@" ;;
  resources)
    [[ $# -eq 2 ]] || usage
    check_resources "$@"
    ;;
  *) usage ;;
esac
