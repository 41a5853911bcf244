#!/usr/bin/env bash
# Instruction counts of the core's timer work under valgrind's callgrind,
# which do not depend on the machine's load: per tick idle and with ten
# running tasks, per due pass, per line of ComputeNextEvent.
#
#   bash scripts/callgrind.sh            build the probe, print the figures
#   bash scripts/callgrind.sh --check P  the test command's budget check with
#                                        the probe P (exit 77: no valgrind)
#
# The probe (bench/tick_probe.cpp) runs the core built as in a Release build
# against lean in-memory seams; only the named function and what it calls
# are counted (--toggle-collect).
set -euo pipefail

# Instructions of one tick with ten running tasks and nothing due. Measured
# 165 with GCC 12 -O3 (2026); the headroom allows for another compiler, not
# for a loop over the list or a heap allocation creeping into the tick.
QUORVANE_TICK_BUDGET=${QUORVANE_TICK_BUDGET:-250}

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
check=false
if [[ ${1:-} == --check ]]; then
  check=true
  shift
fi
probe=${1:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-callgrind.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [[ -z $probe ]]; then
  cd "$root"
  # shellcheck source=scripts/lib/deps.sh
  source scripts/lib/deps.sh
  quorvane_install_deps >/dev/null
  cmake --preset linux >/dev/null
  cmake --build --preset linux --target tick_probe -j2 >/dev/null
  probe=$root/build/linux/bench/tick_probe
elif ! command -v valgrind >/dev/null; then
  echo "valgrind is not installed (Debian package valgrind): tick budget not checked"
  exit 77
fi

# instructions FUNCTION SCENARIO LINES COUNT: instructions per call.
instructions() {
  local out=$work/cg.$2.$3
  valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect="quorvane::$1(*" \
    "$probe" "$2" "$3" "$4" 2>"$out.log" || {
    cat "$out.log" >&2
    return 1
  }
  awk -v n="$4" '/^summary:/ { printf "%d\n", $2 / n }' "$out"
}

if $check; then
  per_tick=$(instructions OnTick tick-ten 100 1000)
  echo "tick with ten running tasks, nothing due: $per_tick instructions (budget $QUORVANE_TICK_BUDGET)"
  if ((per_tick <= 0 || per_tick > QUORVANE_TICK_BUDGET)); then
    echo "FAIL: over the budget"
    exit 1
  fi
  exit 0
fi

echo "Instructions (valgrind $(valgrind --version | sed 's/valgrind-//'), callgrind), core built -O3"
printf '  %-46s %12s\n' "tick, nothing running, nothing due" "$(instructions OnTick tick-idle 100 1000) per tick"
printf '  %-46s %12s\n' "tick, ten running, nothing due" "$(instructions OnTick tick-ten 100 1000) per tick"
printf '  %-46s (budget %d)\n' "" "$QUORVANE_TICK_BUDGET"
declare -A pass next
for lines in 100 1000 10000; do
  pass[$lines]=$(instructions RunDueEvents due-pass "$lines" 3)
  printf '  %-46s %12s\n' "due pass starting ten of $lines lines" "${pass[$lines]} per pass"
done
printf '  %-46s %12s\n' "due pass, each further line" "$(((pass[10000] - pass[100]) / 9900)) per line"
printf '  %-46s %12s\n' "AppendLog on a full pane" "$(instructions AppendLog append-log 0 100) per line"
for lines in 100 1000 10000; do
  next[$lines]=$(instructions ComputeNextEvent next-event "$lines" 10)
  printf '  %-46s %12s\n' "ComputeNextEvent over $lines lines" "${next[$lines]} per call"
done
printf '  %-46s %12s\n' "ComputeNextEvent, each further line" \
  "$(((next[10000] - next[100]) / 9900)) per line"
