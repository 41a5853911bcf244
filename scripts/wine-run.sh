#!/usr/bin/env bash
# Runs a Windows program with its arguments under Wine, 32-bit or 64-bit as
# the program is, and exits with its exit code: the emulator through which
# CTest runs the cross-built tests of both Windows trees.
#
# With WINEPREFIX set, as scripts/test.sh does after preparing a prefix and a
# server, it runs the program there. Without it, it uses a prefix in the build
# tree the program belongs to (wine-prefix/, created on first use) and a
# server that lingers a minute after the last test, so that
# `ctest --preset win64` (or win32) works by hand too. Tests that open windows need an X
# display (DISPLAY; e.g. `Xvfb :99 & export DISPLAY=:99`).
set -euo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: wine-run.sh PROGRAM.exe [ARGUMENT...]" >&2
  exit 2
fi

# shellcheck source=scripts/lib/wine.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/wine.sh"
quorvane_wine_env

if [[ -z ${WINEPREFIX:-} ]]; then
  tree=$(cd "$(dirname "$1")" && pwd)
  while [[ $tree != / && ! -f $tree/CMakeCache.txt ]]; do
    tree=$(dirname "$tree")
  done
  if [[ ! -f $tree/CMakeCache.txt ]]; then
    tree=${XDG_CACHE_HOME:-$HOME/.cache}/quorvane-scheduler
    mkdir -p "$tree"
  fi
  export WINEPREFIX=$tree/wine-prefix
  # Tests may start in parallel: one of them creates the prefix and the
  # server, the others wait for it. The lock is flock's own (-o): a server
  # started under it would otherwise hold it, and every later test would
  # wait for the server's minute of lingering.
  flock -o "$tree/wine-prefix.lock" bash -c 'source "$0" &&
    quorvane_prepare_prefix "$1" && quorvane_start_wineserver "$1" 60 trace' \
    "$(dirname "${BASH_SOURCE[0]}")/lib/wine.sh" "$WINEPREFIX"
fi

loader=$(quorvane_wine_loader "$1")
# Wine hands the standard error on to the desktop process that a windowed
# program starts, which outlives the program, and CTest would wait for it to
# close the pipe: the error output goes through a file, replayed at the end.
errors=$(mktemp "${TMPDIR:-/tmp}/quorvane-wine-run.XXXXXX")
# Where a test finds what Wine prints for the programs it starts, and the
# server's timer requests (scripts/lib/wine.sh).
export QUORVANE_E2E_WINE_STDERR=$errors QUORVANE_E2E_SERVER_TRACE=$WINEPREFIX.trace
status=0
env LC_ALL=ja_JP.UTF-8 "$loader" "$@" 2>"$errors" || status=$?
cat "$errors" >&2
rm -f "$errors"
exit "$status"
