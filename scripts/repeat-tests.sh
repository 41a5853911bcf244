#!/usr/bin/env bash
# Runs a Windows tree's tests over and over, as a timing fault that comes by
# chance would show: `ctest --preset PRESET -j2 --repeat until-fail:TIMES`
# in a Wine prefix made fresh for the run, with a server that traces timers
# and Xvfb, as scripts/test.sh runs them. --load keeps one CPU-bound process
# running beside it for the whole run. The trees must be built.
#
#   bash scripts/repeat-tests.sh [--load] win64|win32 [TIMES]
#
# Ends with "repeat: PRESET TIMES times (load|no load): passed in S s", or
# "failed", and its exit code.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
# shellcheck source=scripts/lib/wine.sh
source scripts/lib/wine.sh

load=
if [[ ${1:-} == --load ]]; then
  load=1
  shift
fi
preset=${1:-} times=${2:-10}
if [[ ! $preset =~ ^win(64|32)$ || ! $times =~ ^[1-9][0-9]*$ || $# -gt 2 ]]; then
  sed -n '8p' "$0" >&2
  exit 2
fi
[[ -f build/$preset/CMakeCache.txt ]] || { echo "repeat: build the $preset tree first" >&2 && exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-repeat.XXXXXX")
hog=
cleanup() {
  set +e
  [[ -n $hog ]] && kill "$hog" 2>/dev/null && wait "$hog" 2>/dev/null
  quorvane_stop_wineserver "$work/wine"
  quorvane_stop_xvfb
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

echo "repeat: a fresh Wine prefix in $work/wine"
quorvane_fresh_test_wine "$work/wine"
if [[ -n $load ]]; then
  sh -c 'while :; do :; done' &
  hog=$!
  echo "repeat: a CPU-bound process ($hog) runs beside the tests"
fi

SECONDS=0
status=passed
# Every test's output is kept, the passing ones' too, to count what a timed
# case did again: a launch that came up too late to judge, resumes sent too
# late to tell.
log=$root/build/$preset/repeat.log
ctest --preset "$preset" --timeout 600 -j2 --repeat "until-fail:$times" -V >"$log" 2>&1 || status=failed
grep -E '^[0-9]+/[0-9]+ Test|tests passed|tests failed' "$log" | tail -n 3 || true
echo "repeat: soak launches made again (up too late): $(grep -c 'too late, launched again' "$log")"
echo "repeat: resumes sent again (too close to a tick): $(grep -c 'power: resumes sent' "$log") sent for $(grep -c 'Power.Held.*Passed' "$log") passing runs"
echo "repeat: the whole output is in $log"
echo "repeat: $preset $times times ($([[ -n $load ]] && echo load || echo "no load")): $status in $SECONDS s"
[[ $status == passed ]]
