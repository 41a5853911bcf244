#!/usr/bin/env bash
# The installers under Wine's msiexec, for each architecture Wine runs here
# (x86 only where the kernel runs 32-bit programs): a silent install, the
# program started from its Start menu shortcut and again at sign-in, an
# upgrade to a newer build, start at sign-in turned off, and an uninstall
# that keeps the user's files. Prints "msi: N passed, M failed" for each.
#
#   bash tests/install/msi-test.sh
#
# Uses WINEPREFIX and DISPLAY when set (scripts/test.sh sets both; run it
# after the other Wine tests: the sign-in check restarts the prefix's Wine
# session); otherwise makes its own prefix and Xvfb and removes them after.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root" || exit 1
# shellcheck source=scripts/lib/wine.sh
source scripts/lib/wine.sh
quorvane_wine_env

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-msi.XXXXXX")
own_prefix=
# shellcheck disable=SC2317 # called by the trap
cleanup() {
  [[ -z $own_prefix ]] || quorvane_stop_wineserver "$WINEPREFIX"
  quorvane_stop_xvfb
  rm -rf "$work"
}
trap cleanup EXIT
if [[ -z ${WINEPREFIX:-} ]]; then
  own_prefix=1
  export WINEPREFIX=$work/wine
  quorvane_prepare_prefix "$WINEPREFIX" && quorvane_start_wineserver "$WINEPREFIX" || exit 1
fi
[[ -n ${DISPLAY:-} ]] || quorvane_start_xvfb || exit 1

presets=(win64)
if /usr/lib/wine/wine --version >/dev/null 2>&1 && [[ -d $WINEPREFIX/drive_c/windows/syswow64 ]]; then
  presets+=(win32)
else
  echo "msi: no x86 test: this kernel or prefix does not run 32-bit programs"
fi

# The packages of this source, and of a newer build of it (one patch
# version up), as scripts/package.sh makes them.
version=$(sed -n 's/^project(QuorvaneScheduler VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
newer=${version%.*}.$((${version##*.} + 1))
for build in "$work/old" "$work/new --patch ${newer##*.}"; do
  # shellcheck disable=SC2086 # the words of $build
  bash scripts/package.sh --out $build "${presets[@]}" >"$work/package.log" 2>&1 || {
    cat "$work/package.log"
    echo "msi: 0 passed, 1 failed (scripts/package.sh)"
    exit 1
  }
done
x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -Wall -Wextra -Wpedantic -Wshadow -Wconversion \
  -Wsign-conversion -Werror -I. -static -o "$work/msi_probe.exe" tests/install/msi_probe.cpp \
  -lole32 -luuid -lshell32 || exit 1

windows() { quorvane_wine cmd /c echo "$1" | tr -d '\r'; }
unix() { quorvane_wine winepath -u "$1" | tr -d '\r'; }
folder=$(windows '%LOCALAPPDATA%')'\Programs\Quorvane Scheduler'
menu=$(windows '%APPDATA%')'\Microsoft\Windows\Start Menu\Programs'
program=$folder'\QuorvaneScheduler.exe'
dir=$(unix "$folder") menu_dir=$(unix "$menu")
line=$'2099\t01\t02\t03\t04\t05\t2099\t01\t02\t04\t00\t00\t@27\tmsi.ts2'
IFS=$'\t' read -ra fields <<<"$line"

msiexec() { quorvane_wine msiexec "$1" "Z:${2//\//\\}" /qn "${@:3}"; }
# shellcheck disable=SC2317 # called through check
probe() { quorvane_wine "$work/msi_probe.exe" "$@" 2>&1 | tr -d '\r'; }
shortcuts() { ls "$menu_dir/Quorvane Scheduler.lnk" "$menu_dir/StartUp/Quorvane Scheduler.lnk" 2>/dev/null | wc -l; }
listing() { (cd "$dir" 2>/dev/null && ls | tr '\n' ' '); }
check() {
  local what=$1 expected=$2 found
  found=$(eval "$3")
  if [[ $found == "$expected" ]]; then
    passed=$((passed + 1)) && echo "ok: $what"
  else
    failed=$((failed + 1)) && printf 'FAIL: %s\n  expected: %q\n  found:    %q\n' "$what" "$expected" "$found"
  fi
}

# No trace of an earlier run, or of this one when done, whatever failed.
reset() {
  msiexec /x "$new.msi" >/dev/null 2>&1
  msiexec /x "$old.msi" >/dev/null 2>&1
  rm -rf "$dir" "$work/user"
  quorvane_wine reg delete 'HKCU\Software\Quorvane Scheduler' /f >/dev/null 2>&1
}
users="CHANNEL.TXT QuorvaneControl.dll QuorvaneScheduler.ini recording.ts2 "

status=0
for preset in "${presets[@]}"; do
  # shellcheck disable=SC2034 # used in the checks' commands
  triple=$([[ $preset == win64 ]] && echo x86_64-w64-mingw32 || echo i686-w64-mingw32)
  old=$work/old/QuorvaneScheduler-$version-$preset new=$work/new/QuorvaneScheduler-$newer-$preset
  passed=0 failed=0
  echo "== msi test: $preset ($(basename "$old").msi, then $(basename "$new").msi)"
  reset

  check "installs silently" 0 'msiexec /i "$old.msi"; echo $?'
  check "installs the program, its readme and the sample CHANNEL.TXT, not the stand-in" \
    "CHANNEL.TXT QuorvaneScheduler.exe README.txt sample" \
    'listing; cmp -s "$dir/CHANNEL.TXT" resources/CHANNEL.TXT && echo sample'
  check "Start menu and Startup shortcuts start the program in its folder" \
    "$(printf '%s\n%s\\\n' "$program" "$folder" "$program" "$folder")" \
    'probe link "$menu\Quorvane Scheduler.lnk"; probe link "$menu\StartUp\Quorvane Scheduler.lnk"'

  python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))' \
    "$old.zip" "$(basename "$old")/standin/QuorvaneControl.dll" >"$dir/QuorvaneControl.dll"
  check "started from the Start menu, shows its tray icon, takes a task and quits" \
    $'tray icon\ntasks 1\nexit 0' 'probe run "$menu\Quorvane Scheduler.lnk" "$program" "${fields[@]}"'
  check "the schedule file holds the task" "$line"$'\r' 'cat "$dir/QuorvaneScheduler.ini"'
  # A new Wine session is a sign-in: wineboot starts the Startup folder's items.
  check "starts at sign-in" $'tray icon\nexit 0' \
    'quorvane_stop_wineserver "$WINEPREFIX"; quorvane_start_wineserver "$WINEPREFIX"; probe run - "$program"'

  # The user's own channel list and a recording; copies of the user's files.
  printf '%s\r\n' "$(iconv -f UTF-8 -t CP932 <<<'港北ソフト院 @18')" >"$dir/CHANNEL.TXT"
  echo recording >"$dir/recording.ts2"
  mkdir -p "$work/user" && cp "$dir"/{QuorvaneScheduler.ini,CHANNEL.TXT,QuorvaneControl.dll,recording.ts2} "$work/user/"
  mine='(cd "$work/user" && for f in *; do cmp "$f" "$dir/$f" && echo -n "$f "; done)'
  check "a newer build installs over it" 0 'msiexec /i "$new.msi"; echo $?'
  check "the program is the newer build" " FILEVERSION ${newer//./, }, 0" \
    '"$triple-windres" -J coff -O rc -i "$dir/QuorvaneScheduler.exe" | grep FILEVERSION'
  check "the upgrade kept the schedule, CHANNEL.TXT, the library and the recording" \
    "$users" "$mine"
  check "REMOVE=StartAtSignIn takes only the Startup shortcut away" $'1\nQuorvaneScheduler.exe' \
    'msiexec /i "$new.msi" REMOVE=StartAtSignIn; shortcuts; ls "$dir" | grep exe'
  check "uninstalls" 0 'msiexec /x "$new.msi"; echo $?'
  check "uninstalling removed the program and the shortcuts and kept the user's files" \
    "${users}0"$'\n'"$users" 'listing; shortcuts; eval "$mine"'

  reset
  echo "msi: $passed passed, $failed failed"
  [[ $failed -eq 0 ]] || status=1
done
exit "$status"
