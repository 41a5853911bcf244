#!/usr/bin/env bash
# The project's test command, also CI's. Installs what is missing (Debian 12),
# builds the native tree and both Windows trees, and runs every test: the
# native unit tests, the binary checks of both Windows builds and the 64-bit
# Windows tests under Wine, in a Wine prefix made fresh for this run.
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
step() {
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

for preset in linux win64 win32; do
  step "build: $preset"
  run cmake --preset "$preset"
  run cmake --build --preset "$preset" -j2
done

step "tests: linux"
run ctest --preset linux

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
echo "+ wineserver -p"
quorvane_start_wineserver "$WINEPREFIX"

step "tests: win32 (binary checks)"
run ctest --preset win32 --timeout 600

step "tests: win64"
run ctest --preset win64 --timeout 600
