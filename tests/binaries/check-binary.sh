#!/usr/bin/env bash
# Checks of the built Windows binaries that need no Windows to run:
#   check-binary.sh imports   OBJDUMP FILE          only Windows' own DLLs are imported
#   check-binary.sh exports   OBJDUMP FILE NAME...  exactly these undecorated names are exported
#   check-binary.sh heap      NM FILE...            no heap allocation referenced (FILE: a;b;c too)
#   check-binary.sh size      BYTES FILE            FILE is at most BYTES long
#   check-binary.sh resources WINDRES FILE VERSION  the program's dialog, strings and icon, and
#                                                   the program's or stand-in's version resource
#   check-binary.sh manifest  XMLLINT FILE          the program's manifest: well-formed, asInvoker,
#                                                   Windows 10, Common Controls 6.0, no code page
# Exits 0 when the check holds, 1 with a reason when not, 2 on a usage error.
set -euo pipefail
fail() { echo "FAIL: $*" >&2 && exit 1; }
[[ $# -ge 3 ]] || { sed -n '2,11p' "$0" >&2 && exit 2; }
command=$1 tool=$2 file=$3 && shift 3

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
      sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | sort)
    diff <(printf '%s\n' "$@" | sort) <(echo "$actual") || fail "exports of $file (<: missing, >: extra)"
    ;;
  size)
    size=$(stat -c %s "$file") && ((size <= tool)) || fail "$file is $size bytes, over $tool"
    ;;
  heap)
    # Itanium-mangled operator new and new[] (size_t is m, j or y; std::string,
    # std::vector and std::function end there) and the C allocators, with or
    # without the leading underscore of 32-bit Windows.
    # shellcheck disable=SC2086,SC2048 # the ;-separated lists' words
    found=$("$tool" -u --no-demangle ${file//;/ } ${*//;/ } | awk '{print $NF}' | sort -u |
      { grep -E '^_{0,2}(_Zn[wa][mjy]|malloc|calloc|realloc|strdup|_strdup)$' || true; })
    [[ -z $found ]] || fail "heap allocation referenced by product code:" $found
    ;;
  resources)
    # The resources of FILE's section below, as windres reads them back, each
    # on lines headed by its language:
    # the dialog's controls as id, class, style, x,y,w,h and text, a row of
    # the dialog to a line (four controls at most), the version's values
    # three to a line; L"\x958b" escapes become UTF-8.
    found=$("$tool" -J coff -O rc -i "$file" | awk '
      { sub(/[ \t]*\/\*.*\*\//, "") }
      /^LANGUAGE / { language = $2 $3 }
      /^"MAIN" DIALOG|^"ICON" 14|^1 VERSIONINFO/ { out = language " " $0; keep = 1; y = -9; next }
      keep && /^  CONTROL / {
        split(substr($0, 11), f, ", ")
        if (f[6] - y > 2 || ++n == 4) { out = out "\n "; n = 0 } else out = out " |"
        out = out " " f[2] " " f[3] " " f[4] " " f[5] "," f[6] "," f[7] "," f[8]
        out = out (f[1] == "\"\"" ? "" : " " substr(f[1], 2)); y = f[6]; next }
      keep && /^ *BLOCK / { sub(/^ */, /String/ ? " " : "\n  "); out = out $0; v = 0; next }
      keep && /^ *VALUE / {
        sub(/^ *VALUE/, v++ == 0 ? "" : v % 3 == 1 ? "\n   " : " |"); out = out $0; next }
      keep && /^END$/ { print out; keep = 0 }
      keep && /[^ ]/ && !/^ *(BEGIN|END)$/ { sub(/^ */, " "); out = out $0 }
      /^  1(0[0-9]|1[0-3]), / { print language $0 }' | perl -CS -pe 's/\\x([0-9a-f]{4})/chr hex $1/ge')
    v=$1 n="${1//./, }, 0"
    # The version resource of a file of TYPE named NAME described in Japanese
    # and English: the program's and the stand-in's differ in nothing else.
    version() {
      cat <<EOF_VERSION
0,0 1 VERSIONINFO FILEVERSION $n PRODUCTVERSION $n FILEFLAGSMASK 0x3f FILEOS 0x40004 FILETYPE $1 BLOCK "StringFileInfo"
  BLOCK "041103a4" "FileDescription", L"$3" | "FileVersion", "$v" | "LegalCopyright", L"Copyright (C) 2026 Quorvane Scheduler の作者"
    "OriginalFilename", "$2" | "ProductName", "Quorvane Scheduler" | "ProductVersion", "$v"
  BLOCK "040904e4" "FileDescription", "$4" | "FileVersion", "$v" | "LegalCopyright", "Copyright (C) 2026 the Quorvane Scheduler authors"
    "OriginalFilename", "$2" | "ProductName", "Quorvane Scheduler" | "ProductVersion", "$v"
  BLOCK "VarFileInfo" "Translation", 0x411, 932, 0x409, 1252
EOF_VERSION
    }
    expected=$(awk -v f="${file##*/}:" '/^Quorvane.*:$/ { on = $0 == f; next } on' <<EOF_RC
QuorvaneScheduler.exe:
17,1 "MAIN" DIALOG 0, 0, 256, 208 STYLE 0x80ca10c2 CAPTION "Quorvane Scheduler" FONT 12, "SYSTEM"
  128 "STATIC" 0x50000002 8,10,48,14 "開始日時:" | 129 "COMBOBOX" 0x50210002 64,8,32,96 | 130 "COMBOBOX" 0x50210002 96,8,24,96 | 131 "COMBOBOX" 0x50210002 120,8,24,96
  133 "COMBOBOX" 0x50210002 152,8,24,96 | 134 "COMBOBOX" 0x50210002 176,8,24,96 | 135 "COMBOBOX" 0x50210002 200,8,24,96
  136 "STATIC" 0x50000002 8,26,48,14 "終了日時:" | 137 "COMBOBOX" 0x50210002 64,24,32,96 | 138 "COMBOBOX" 0x50210002 96,24,24,96 | 139 "COMBOBOX" 0x50210002 120,24,24,96
  141 "COMBOBOX" 0x50210002 152,24,24,96 | 142 "COMBOBOX" 0x50210002 176,24,24,96 | 143 "COMBOBOX" 0x50210002 200,24,24,96
  144 "STATIC" 0x50000002 8,42,48,14 "チャネル:" | 145 "COMBOBOX" 0x50210002 64,40,184,96
  146 "STATIC" 0x50000002 8,58,48,14 "ファイル名:" | 147 "EDIT" 0x50810080 64,56,132,14 | 148 "BUTTON" 0x50010000 200,56,48,14 "参照"
  149 "EDIT" 0x50a10804 8,76,240,52
  150 "LISTBOX" 0x50a10103 8,130,240,52
  151 "BUTTON" 0x50010000 8,188,48,14 "追加" | 152 "BUTTON" 0x50010000 60,188,48,14 "削除" | 153 "BUTTON" 0x50010000 200,188,48,14 "終了"
17,1  100, L"QuorvaneControl.dllのロードに失敗しました"
17,1  101, L"タスクが多すぎます。"
17,1  102, L"チューナマネージャがみつかりません。"
17,1  103, L"タスク%d(%d,%d)を開始できませんでした。"
17,1  104, L"タスク%d(%d,%d)を開始しました。"
17,1  105, L"タスク%dを停止できませんでした。"
17,1  106, L"タスク%dを停止しました。"
17,1  107, L"TS2ファイル (*.ts2)\000*.ts2\000全てのファイル\000*.*\000"
17,1  108, L"スケジュールファイルを保存できませんでした。"
17,1  109, L"録画中にスリープに入ります。"
17,1  110, L"スリープからの復帰を予約できませんでした。"
17,1  111, L"録画中です。"
17,1  112, L"録画先の空き容量が足りない可能性があります(空き%dMB、必要%dMB)。"
17,1  113, L"録画先のフォルダーにアクセスできません。"
17,1 "ICON" 14 0, 1, 1, "\040\040\020\000", 1, 4, 0x2e8L, 1
$(version 0x1 QuorvaneScheduler.exe "Quorvane Scheduler テレビ録画スケジューラ" \
  "Quorvane Scheduler television recording scheduler")
QuorvaneControl.dll:
$(version 0x2 QuorvaneControl.dll \
  "Quorvane Scheduler プロジェクトの代替チューナ制御ライブラリ(チューナメーカーのライブラリではありません)" \
  "Quorvane Scheduler project's stand-in tuner control library, not the tuner maker's library")
EOF_RC
    )
    diff -u --label expected --label found <(echo "$expected") <(echo "$found") || fail "$file"
    ;;
  manifest)
    # Kept verbatim among the resources. Neither a code page of its own nor
    # DPI awareness: the text rules need the system's, the raster font
    # Windows' scaling.
    xml=$(perl -0777 -ne 'print $1 if /(<\?xml.*?<\/assembly>)/s' "$file")
    [[ -n $xml ]] || fail "$file has no manifest"
    "$tool" --noout - <<<"$xml" || fail "$file: the manifest is not well-formed"
    while IFS='|' read -r xpath expected what; do
      [[ $("$tool" --xpath "$xpath" - <<<"$xml") == "$expected" ]] || fail "$file: $what"
    done <<'EOF_CHECKS'
string(//*[local-name()='requestedExecutionLevel']/@level)|asInvoker|not asInvoker
count(//*[local-name()='supportedOS'][@Id='{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'])|1|not for Windows 10
count(//*[@name='Microsoft.Windows.Common-Controls' and @version='6.0.0.0'])|1|no Common Controls 6.0
count(//*[local-name()='activeCodePage' or local-name()='dpiAware' or local-name()='dpiAwareness'])|0|a code page or DPI awareness
EOF_CHECKS
    ;;
  *) fail "unknown check: $command" ;;
esac
