#!/usr/bin/env bash
# Fuzzes the portable core with libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer (clang, tree build/fuzz). Each of the three
# targets in tests/fuzz runs for SECONDS/3, starting from a copy of its
# committed inputs, which stay as they are. A crash or a failed property leaves its
# input under build/fuzz/findings/<target>/, prints the path and fails the run.
#
#   bash scripts/fuzz.sh [SECONDS]     (default 120, in all)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
total=${1:-120}
if [[ ! $total =~ ^[0-9]+$ ]]; then
  echo "usage: bash scripts/fuzz.sh [SECONDS]" >&2
  exit 2
fi
each=$((total / 3 > 0 ? total / 3 : 1))
targets=(schedule_file fields activity_log)

# shellcheck source=scripts/lib/deps.sh
source scripts/lib/deps.sh
quorvane_install_deps

echo "+ cmake -S tests/fuzz -B build/fuzz -DCMAKE_CXX_COMPILER=clang++"
cmake -S tests/fuzz -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz -j2

findings=$root/build/fuzz/findings
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
export UBSAN_OPTIONS=print_stacktrace=1
passed=0
failed=0
summary=()
for target in "${targets[@]}"; do
  echo "== fuzz_$target for ${each}s"
  mkdir -p "$work/$target" "$findings/$target"
  cp tests/fuzz/corpus/"$target"/* "$work/$target/"
  log=$findings/$target/fuzz.log
  set +e
  build/fuzz/fuzz_"$target" -max_total_time="$each" -max_len=4096 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$findings/$target/" "$work/$target" 2>&1 |
    tee "$log" | grep --line-buffered -E '^#[0-9]+.(INITED|pulse|DONE)|property failed|^SUMMARY'
  status=${PIPESTATUS[0]}
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  corpus=$(find "$work/$target" -type f | wc -l)
  if ((status == 0)); then
    passed=$((passed + 1))
    verdict=passed
  else
    failed=$((failed + 1))
    verdict="FAILED (exit $status)"
    input=$(sed -n 's/.*Test unit written to //p' "$log")
    echo "   input: ${input:-none written}"
    echo "   log:   $log"
    echo "   again: build/fuzz/fuzz_$target ${input:-INPUT}"
  fi
  summary+=("fuzz_$target: $verdict, ${runs:-?} runs, corpus of $corpus inputs")
done
echo
printf '%s\n' "${summary[@]}"
echo "fuzz: $passed passed, $failed failed"
((failed == 0))
