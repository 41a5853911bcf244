#!/usr/bin/env bash
# Reads the version resource of a built binary back and compares it whole:
#   check-version.sh WINDRES FILE VERSION program|standin
# Exits 0 when it matches, 1 with the difference when not, 2 on a usage error.
set -euo pipefail
[[ $# -eq 4 && -f $2 ]] || { sed -n '2,4p' "$0" >&2 && exit 2; }
windres=$1 file=$2 version=$3
case $4 in
  program)
    type=0x1 name=QuorvaneScheduler.exe
    ja='Quorvane Scheduler テレビ録画スケジューラ'
    en='Quorvane Scheduler television recording scheduler'
    ;;
  standin)
    type=0x2 name=QuorvaneControl.dll
    ja='Quorvane Scheduler プロジェクトの代替チューナ制御ライブラリ(チューナメーカーのライブラリではありません)'
    en="Quorvane Scheduler project's stand-in tuner control library, not the tuner maker's library"
    ;;
  *) sed -n '2,4p' "$0" >&2 && exit 2 ;;
esac
numbers="${version//./, }, 0"

# The resource as windres writes it back, with its language; wide texts
# (L"\x30c6...") turned into plain UTF-8 ones.
found=$("$windres" -J coff -O rc -i "$file" | awk '
  /^LANGUAGE / { language = $0 }
  / VERSIONINFO$/ { print language; keep = 1 }
  keep { print } /^END$/ { keep = 0 }' | while IFS= read -r line; do
  [[ $line == *'L"'* ]] && line=$(LC_ALL=C.UTF-8 printf '%b' "${line//\\x/\\u}") && line=${line/L\"/\"}
  printf '%s\n' "$line"
done)

block() {
  printf '    BLOCK "%s"\n    BEGIN\n' "$1"
  printf '      VALUE "%s", "%s"\n' FileDescription "$2" FileVersion "$version" LegalCopyright "$3" \
    OriginalFilename "$name" ProductName "Quorvane Scheduler" ProductVersion "$version"
  printf '    END\n'
}
expected=$(
  printf 'LANGUAGE 0, 0\n1 VERSIONINFO\n FILEVERSION %s\n PRODUCTVERSION %s\n' "$numbers" "$numbers"
  printf ' FILEFLAGSMASK 0x3f\n FILEOS 0x40004\n FILETYPE %s\nBEGIN\n' "$type"
  printf '  BLOCK "StringFileInfo"\n  BEGIN\n'
  block 041103a4 "$ja" 'Copyright (C) 2026 Quorvane Scheduler の作者'
  block 040904e4 "$en" 'Copyright (C) 2026 the Quorvane Scheduler authors'
  printf '  END\n  BLOCK "VarFileInfo"\n  BEGIN\n'
  printf '    VALUE "Translation", 0x411, 932, 0x409, 1252\n  END\nEND\n'
)
diff -u --label expected --label found <(echo "$expected") <(echo "$found") || {
  echo "FAIL: the version resource of $file is not that of $name $version" >&2
  exit 1
}
echo "PASS: version $version of $(basename "$file")"
