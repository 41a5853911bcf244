#!/usr/bin/env bash
# Plants, one at a time, the faults that the end-to-end tests exist to catch,
# and shows that each makes its tests fail: a test that still passed would
# be a check that cannot fail. Each fault is built into a clone of the last
# commit (the checkout is left alone) and its tests are run in the tree of
# that build, in a Wine prefix made fresh for the run.
#
#   bash scripts/plant-faults.sh [win64|win32]
#
# Prints each fault as "caught" or "MISSED", and ends with
# "plant: N caught, M missed" and exit code 0 only when every fault is caught.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
preset=${1:-win64}
[[ $preset =~ ^win(64|32)$ && $# -le 1 ]] || { sed -n '8p' "$0" >&2 && exit 2; }
# shellcheck source=scripts/lib/wine.sh
source "$root/scripts/lib/wine.sh"

# Name | file | the line as it is | the line planted | the tests that must fail.
faults=(
  "a tick a second late|core/due_events.h|kTickWindowFirstMs = 20;|kTickWindowFirstMs = 1020;|Soak"
  "a resume that runs two ticks|core/power.cpp|sinceTickMs >= kShortestTickGapMs) OnTick|sinceTickMs > -1000000) OnTick|Power.Held"
  "commands carried out inside a tick|core/commands.cpp|if (state.busy == 0) {|if (true) {|ReEntry\\."
  "a line read too long taken as an empty one|ui/win32_surroundings.cpp|std::size_t kept = static_cast<std::size_t>(bytes);|std::size_t kept = static_cast<std::size_t>(bytes); if (kept >= buffer.size()) return true;|ReEntry.Quit"
)

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-plant.XXXXXX")
cleanup() {
  set +e
  quorvane_stop_wineserver "$work/wine"
  quorvane_stop_xvfb
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

git clone -q "$root" "$work/src"
cd "$work/src"
quorvane_fresh_test_wine "$work/wine"
cmake --preset "$preset" >/dev/null

caught=0 missed=0
for fault in "${faults[@]}"; do
  IFS='|' read -r name file line planted tests <<<"$fault"
  git checkout -q -- .
  if ! grep -qF -- "$line" "$file"; then
    echo "MISSED: $name: $file no longer has the line to plant it in"
    missed=$((missed + 1)) && continue
  fi
  LINE=$line PLANTED=$planted perl -0pi -e 's/\Q$ENV{LINE}\E/$ENV{PLANTED}/' "$file"
  echo "== planted: $name ($file); running $tests"
  cmake --build --preset "$preset" -j2 >"$work/build.log" 2>&1 || { cat "$work/build.log" && exit 1; }
  if ctest --preset "$preset" --timeout 600 -j2 -R "$tests" >"$work/ctest.log" 2>&1; then
    echo "MISSED: $name: $tests passed" && missed=$((missed + 1))
  else
    echo "caught: $name: $(grep -c '\*\*\*' "$work/ctest.log") of its tests failed"
    caught=$((caught + 1))
  fi
done
echo "plant: $caught caught, $missed missed"
((missed == 0))
