#!/usr/bin/env bash
# The installers under Wine's msiexec, for each architecture Wine runs here
# (x86 only where the kernel runs 32-bit programs): the shortcuts the package
# declares, a silent install, the program started from its Start menu
# shortcut, an upgrade to a newer build, start at sign-in turned off, and an
# uninstall that keeps the user's files.
# Prints "msi: N passed, M failed" for each.
#
#   bash tests/install/msi-test.sh
#
# Uses WINEPREFIX and DISPLAY when set (scripts/test.sh sets both); otherwise
# makes its own prefix and Xvfb and removes them after.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/../.." || exit 1
# shellcheck source=scripts/lib/wine.sh
source scripts/lib/wine.sh
quorvane_wine_env

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-msi.XXXXXX")
trap '[[ -z ${own_prefix:-} ]] || quorvane_stop_wineserver "$WINEPREFIX"
  quorvane_stop_xvfb; rm -rf "$work"' EXIT
if [[ -z ${WINEPREFIX:-} ]]; then
  own_prefix=1 && export WINEPREFIX=$work/wine
  quorvane_prepare_prefix "$WINEPREFIX" && quorvane_start_wineserver "$WINEPREFIX" || exit 1
fi
[[ -n ${DISPLAY:-} ]] || quorvane_start_xvfb || exit 1

presets=(win64)
[[ -d $WINEPREFIX/drive_c/windows/syswow64 ]] && quorvane_wine32_runs >/dev/null &&
  presets+=(win32) || echo "msi: no x86 test: this kernel or prefix does not run 32-bit programs"

# The packages of this source, and of a newer build of it (one patch
# version up), as scripts/package.sh makes them.
version=$(sed -n 's/^project(QuorvaneScheduler VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
newer=${version%.*}.$((${version##*.} + 1))
for build in "$work/old" "$work/new --patch ${newer##*.}"; do
  # shellcheck disable=SC2086 # the words of $build
  bash scripts/package.sh --out $build "${presets[@]}" >"$work/package.log" 2>&1 ||
    { cat "$work/package.log" && echo "msi: 0 passed, 1 failed (scripts/package.sh)" && exit 1; }
done
x86_64-w64-mingw32-g++-posix -std=c++20 -Wall -Wextra -Wconversion -Werror -I. -static \
  -o "$work/msi_probe.exe" tests/install/msi_probe.cpp -lshell32 || exit 1

folder=$(quorvane_wine cmd /c echo %LOCALAPPDATA% | tr -d '\r')'\Programs\Quorvane Scheduler'
menu=$(quorvane_wine cmd /c echo %APPDATA% | tr -d '\r')'\Microsoft\Windows\Start Menu\Programs'
# The folder is emptied between runs: never anything but the program's.
dir=$(quorvane_wine winepath -u "$folder" | tr -d '\r')
[[ $dir == /*/Quorvane\ Scheduler ]] || exit 1
links=("$menu\Quorvane Scheduler.lnk" "$menu\StartUp\Quorvane Scheduler.lnk")
# The form's fourteen fields of a task.
# shellcheck disable=SC2034 # used in the checks' commands
fields=(2099 01 02 03 04 05 2099 01 02 04 00 00 @27 msi.ts2)

msiexec() { quorvane_wine msiexec "$1" "Z:${2//\//\\}" /qn "${@:3}"; }
# shellcheck disable=SC2317 # called through check
probe() { quorvane_wine "$work/msi_probe.exe" "$@" 2>&1 | tr -d '\r'; }
listing() { (cd "$dir" 2>/dev/null && ls | tr '\n' ' '); }
# shellcheck disable=SC2317 # called through check
installed() { # + or - for each of the shortcuts
  for link in "${links[@]}"; do
    [[ -e $(quorvane_wine winepath -u "$link" | tr -d '\r') ]] && echo -n + || echo -n -
  done && echo
}
check() {
  local found && found=$(eval "$3")
  [[ $found == "$2" ]] && passed=$((passed + 1)) && echo "ok: $1" && return
  failed=$((failed + 1)) && printf 'FAIL: %s\n  expected: %q\n  found:    %q\n' "$1" "$2" "$found"
}

# No trace of an earlier run or architecture, whatever failed.
reset() {
  for msi in "$new" "$old"; do msiexec /x "$msi.msi" &>/dev/null; done
  rm -rf "$dir" "$work/user"
  quorvane_wine reg delete 'HKCU\Software\Quorvane Scheduler' /f >/dev/null 2>&1
}
users="CHANNEL.TXT QuorvaneControl.dll QuorvaneScheduler.ini recording.ts2 "
mine='(cd "$work/user" && for f in *; do cmp "$f" "$dir/$f" && echo -n "$f "; done)'

status=0
for preset in "${presets[@]}"; do
  old=$work/old/QuorvaneScheduler-$version-$preset new=$work/new/QuorvaneScheduler-$newer-$preset
  passed=0 failed=0
  echo "== msi test: $preset ($(basename "$old").msi, then $(basename "$new").msi)"
  reset

  # Target, arguments and working folder: Wine's shortcuts may lack the arguments.
  check "both shortcuts start the program in its folder, the Startup one with /background" \
    $'StartMenu\t[INSTALLDIR]QuorvaneScheduler.exe\t\tINSTALLDIR\nStartup\t[INSTALLDIR]QuorvaneScheduler.exe\t/background\tINSTALLDIR' \
    'msiinfo export "$old.msi" Shortcut | tail -n +4 | cut -f 1,5,6,12 | tr -d "\r" | sort'
  check "installs silently" 0 'msiexec /i "$old.msi"; echo $?'
  check "installs the program, its readme and the sample CHANNEL.TXT, not the stand-in" \
    "CHANNEL.TXT QuorvaneScheduler.exe README.txt sample" \
    'listing; cmp -s "$dir/CHANNEL.TXT" resources/CHANNEL.TXT && echo sample'
  check "puts the Start menu and Startup shortcuts in" ++ installed

  cp "build/$preset/tuner/standin/QuorvaneControl.dll" "$dir/"
  check "started from the Start menu, shows its tray icon, takes a task and quits" \
    $'tray icon\ntasks 1\nexit 0' \
    'quorvane_wine start "${links[0]}" &>/dev/null; probe run "${fields[@]}"'

  # The user's own channel list and a recording; copies of the user's files.
  printf '%s\r\n' "$(iconv -f UTF-8 -t CP932 <<<'港北ソフト院 @18')" >"$dir/CHANNEL.TXT"
  echo recording >"$dir/recording.ts2"
  # shellcheck disable=SC2086 # the names in $users
  mkdir -p "$work/user" && (cd "$dir" && cp $users "$work/user/")
  check "a newer build installs over it" 0 'msiexec /i "$new.msi"; echo $?'
  # x86_64's windres reads i386 programs too.
  check "the program is the newer build" " FILEVERSION ${newer//./, }, 0" \
    'x86_64-w64-mingw32-windres -J coff -O rc -i "$dir/QuorvaneScheduler.exe" | grep FILEVERSION'
  check "the upgrade kept the schedule, CHANNEL.TXT, the library and the recording" "$users" "$mine"
  check "REMOVE=StartAtSignIn takes only the Startup shortcut away" +- \
    'msiexec /i "$new.msi" REMOVE=StartAtSignIn; installed'
  check "uninstalls" 0 'msiexec /x "$new.msi"; echo $?'
  check "uninstalling removed the program and the shortcuts and kept the user's files" \
    "$users"$'\n--\n'"$users" 'listing; echo; installed; eval "$mine"'

  echo "msi: $passed passed, $failed failed"
  [[ $failed -eq 0 ]] || status=1
done
exit "$status"
