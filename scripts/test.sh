#!/usr/bin/env bash
# The project's test command, also CI's. Installs what is missing (Debian 12),
# builds the native trees and both Windows trees, and runs every test: the
# native unit tests, plain and with the address and undefined-behaviour
# sanitizers, then the 64-bit and the 32-bit Windows tests (unit, stand-in,
# end-to-end and binary checks) under Wine, both in one Wine prefix made fresh
# for this run. Where the kernel runs no 32-bit program, the 32-bit tree gets
# its binary checks only. Then a bounded fuzzing run of the core, a short
# soak under Wine and the installers under Wine's msiexec.
#
#   bash scripts/test.sh
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
# shellcheck source=scripts/lib/deps.sh
source scripts/lib/deps.sh
# shellcheck source=scripts/lib/wine.sh
source scripts/lib/wine.sh

SECONDS=0
steps=0
step() {
  steps=$((steps + 1))
  printf '\n== %s [%dm%02ds]\n' "$*" $((SECONDS / 60)) $((SECONDS % 60))
}
run() {
  echo "+ $*"
  "$@"
}

# The prefix, its server and Xvfb are this run's own; all go at the end.
workdir=
cleanup() {
  set +e
  if [[ -n $workdir ]]; then
    quorvane_stop_wineserver "$workdir/wine"
  fi
  quorvane_stop_xvfb
  if [[ -n $workdir ]]; then
    rm -rf "$workdir"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

step "packages"
quorvane_install_deps
# The 32-bit tree's Windows tests need 32-bit Wine, and so a kernel that runs
# i386 programs; where it does not, that tree is built and its binaries are
# checked, and the one line below says why nothing of it ran.
if win32_skipped=$(quorvane_wine32_runs); then
  win32_tests=ON
else
  win32_tests=OFF
fi

step "build: linux"
run cmake --preset linux
run cmake --build --preset linux -j2

step "tests: linux"
run ctest --preset linux

step "build: asan"
run cmake --preset asan
run cmake --build --preset asan -j2

step "tests: asan"
run ctest --preset asan

step "build: win64"
run cmake --preset win64
run cmake --build --preset win64 -j2

step "build: win32"
run cmake --preset win32 -DQUORVANE_RUN_WINDOWS_TESTS=$win32_tests
run cmake --build --preset win32 -j2

step "Wine"
workdir=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-test.XXXXXX")
if [[ -z ${DISPLAY:-} ]]; then
  echo "+ Xvfb (no DISPLAY)"
  quorvane_start_xvfb
  echo "DISPLAY=$DISPLAY"
fi
quorvane_wine_env
export WINEPREFIX=$workdir/wine
echo "+ wineboot -i (WINEPREFIX=$WINEPREFIX)"
quorvane_prepare_prefix "$WINEPREFIX"
# A prefix made without 32-bit Wine would start no i686 program.
if [[ $win32_tests == ON && ! -d $WINEPREFIX/drive_c/windows/syswow64 ]]; then
  echo "error: the new Wine prefix has no syswow64 for 32-bit programs" >&2
  exit 1
fi
echo "+ wineserver -f -d1 -p (timer requests kept in $WINEPREFIX.trace)"
quorvane_start_wineserver "$WINEPREFIX" "" trace

# Two at a time: each end-to-end case has a program and a folder of its own.
step "tests: win64"
run ctest --preset win64 --timeout 600 -j2

step "tests: win32"
if [[ $win32_tests == OFF ]]; then
  echo "== 32-bit run skipped: $win32_skipped"
fi
run ctest --preset win32 --timeout 600 -j2

# Two minutes of coverage-guided inputs against the core's properties.
step "fuzz: bounded run"
run bash scripts/fuzz.sh 120

step "soak: short run"
run bash scripts/soak.sh

# Last among the Wine steps: its sign-in check restarts the Wine session.
step "install: msiexec"
run bash tests/install/msi-test.sh

# Any failure has ended the run before this line.
printf '\n== done [%dm%02ds]\nsteps: %d passed, 0 failed\n' $((SECONDS / 60)) $((SECONDS % 60)) "$steps"
