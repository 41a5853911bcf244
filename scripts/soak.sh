#!/usr/bin/env bash
# Soak: TASKS back-to-back recordings (20 by default, under a minute; 200 or
# more for a real soak, about TASKS + 20 seconds), one starting every second
# and each lasting ten (fewer for fewer tasks), so that up to ten record at
# once. The driver is the end-to-end case Soak.BackToBackRecordings: it writes
# the schedule file, starts the program under Wine, waits until every task has
# stopped and checks, from the stand-in library's journal, that each started
# and stopped once, at the first tick at or after its second, and that memory
# and handles did not grow. Then every recording must exist and be read without errors as an
# MPEG transport stream by ffprobe, as long as the task lasted.
#
#   bash scripts/soak.sh [--i686] [TASKS]
#
# --i686 soaks the 32-bit program and stand-in (32-bit Wine needed); the
# driver stays 64-bit. Uses WINEPREFIX and DISPLAY when set, else makes its
# own prefix and Xvfb. The last line is "soak: N passed, M failed", counting
# checks: the driver's run (one check) and each recording (one each). The
# figures and the per-call lateness list stay in build/soak/; the recordings
# only when something failed.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
# shellcheck source=scripts/lib/deps.sh
source scripts/lib/deps.sh
# shellcheck source=scripts/lib/wine.sh
source scripts/lib/wine.sh

preset=win64
if [[ ${1:-} == --i686 ]]; then
  preset=win32
  shift
fi
tasks=${1:-20}
if [[ ! $tasks =~ ^[1-9][0-9]*$ || $# -gt 1 ]]; then
  echo "usage: soak.sh [--i686] [TASKS]" >&2
  exit 2
fi

if [[ $preset == win32 ]] && ! why=$(quorvane_wine32_runs); then
  echo "soak.sh: --i686 needs 32-bit Wine: $why" >&2
  exit 2
fi

workdir=
own_prefix=
cleanup() {
  set +e
  [[ -n $own_prefix ]] && quorvane_stop_wineserver "$own_prefix"
  quorvane_stop_xvfb
  [[ -n $workdir ]] && rm -rf "$workdir/wine"
  [[ -n $workdir && ! -d $workdir/recordings ]] && rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

quorvane_install_deps
workdir=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-soak.XXXXXX")
for p in win64 $preset; do
  [[ -f build/$p/CMakeCache.txt ]] || cmake --preset "$p" >"$workdir/build.log" 2>&1 ||
    { cat "$workdir/build.log" >&2; exit 1; }
  cmake --build --preset "$p" -j2 >"$workdir/build.log" 2>&1 || { cat "$workdir/build.log" >&2; exit 1; }
done
recordings=$workdir/recordings
mkdir -p "$recordings"
if [[ -z ${DISPLAY:-} ]]; then
  quorvane_start_xvfb
fi
quorvane_wine_env
if [[ -z ${WINEPREFIX:-} ]]; then
  export WINEPREFIX=$workdir/wine
  own_prefix=$WINEPREFIX
  quorvane_prepare_prefix "$WINEPREFIX"
  quorvane_start_wineserver "$WINEPREFIX"
else
  quorvane_start_wineserver "$WINEPREFIX" 60
fi
if [[ $preset == win32 ]]; then
  export QUORVANE_E2E_PROGRAM=$root/build/win32/ui/QuorvaneScheduler.exe
  export QUORVANE_E2E_LIBRARY=$root/build/win32/tuner/standin/QuorvaneControl.dll
fi

echo "soak: $tasks tasks of the $preset program (about $((tasks + 20)) s); Wine prefix $WINEPREFIX, display $DISPLAY"
results=$root/build/soak
mkdir -p "$results"
rm -f "$results/driver.log" "$results/figures.txt" "$results/lateness.tsv"
passed=0
failed=0
# Into a file, not a pipe: Wine's desktop process inherits the output and
# outlives the driver.
status=0
QUORVANE_E2E_SOAK_TASKS=$tasks QUORVANE_E2E_SOAK_DIR=$recordings \
  bash scripts/wine-run.sh build/win64/tests/e2e/e2e_tests.exe \
  --gtest_filter=Soak.BackToBackRecordings >"$workdir/driver.log" 2>&1 || status=$?
# Windows text files end their lines in CR LF.
tr -d '\r' <"$workdir/driver.log" >"$results/driver.log"
if [[ -f $recordings/lateness.tsv ]]; then
  tr -d '\r' <"$recordings/lateness.tsv" >"$results/lateness.tsv"
  rm "$recordings/lateness.tsv"
fi
if [[ $status -eq 0 ]]; then
  grep '^soak:' "$results/driver.log" | tee "$results/figures.txt" || true
  passed=$((passed + 1))
else
  cat "$results/driver.log"
  echo "soak: the driver failed (exit $status)"
  failed=$((failed + 1))
fi
if [[ -f $results/lateness.tsv ]]; then
  # Median, 95th percentile and largest lateness of the starts and the stops.
  for kind in start stop; do
    awk -F'\t' -v k="$kind" '$1 == k { print $3 }' "$results/lateness.tsv" | sort -n |
      awk -v k="$kind" '{ v[NR] = $1 } END { if (NR) printf "soak: %s lateness ms: median %d, p95 %d, largest %d\n",
        k, v[int((NR + 1) / 2)], v[int(NR * 0.95 + 0.999)], v[NR] }'
  done
  awk -F'\t' 'NR > 1 { d = $3 - $4; if (NR == 2 || d < lo) lo = d; if (NR == 2 || d > hi) hi = d }
    END { if (NR > 1) printf "soak: lateness less the tick'"'"'s work ms: %d to %d\n", lo, hi }' \
    "$results/lateness.tsv"
fi

# Each recording: read to its end by ffprobe (-count_packets) as MPEG-TS
# without a word of complaint, lasting about as long as its task; and, as
# ffprobe resynchronises silently, whole 188-byte packets each starting with
# the sync byte 0x47.
seconds=$((tasks < 10 ? tasks : 10))
bad=0
for ((i = 0; i < tasks; i++)); do
  file=$(printf '%s/予約ソ-%04d.ts' "$recordings" "$i")
  problem=
  if [[ ! -f $file ]]; then
    problem="missing"
  elif ! info=$(ffprobe -v error -count_packets -show_format -show_streams -of compact "$file" 2>"$workdir/err"); then
    problem="ffprobe failed: $(head -c 300 "$workdir/err")"
  elif [[ -s $workdir/err ]]; then
    problem="ffprobe: $(head -c 300 "$workdir/err")"
  elif [[ $info != *"|format_name=mpegts|"* ]]; then
    problem="not read as mpegts"
  elif (($(stat -c %s "$file") % 188 != 0)); then
    problem="size $(stat -c %s "$file") is not a whole number of packets"
  elif ! od -An -v -tx1 -w188 "$file" | awk '$1 != "47" { exit 1 }'; then
    problem="a packet without the sync byte"
  else
    duration=$(grep -o '^format|.*|duration=[0-9.]*' <<<"$info" | sed 's/.*duration=//')
    # A start may come up to a timer period and the tick's work after its
    # second while the stop comes on time, or the other way round.
    if ! awk -v d="$duration" -v s="$seconds" 'BEGIN { exit !(d != "" && d > s - 1.5 && d < s + 1.5) }'; then
      problem="lasts ${duration:-?} s, not about $seconds s"
    fi
  fi
  if [[ -z $problem ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    bad=$((bad + 1))
    ((bad <= 10)) && echo "soak: $(basename "$file"): $problem"
  fi
done
echo "soak: recordings: $((tasks - bad)) of $tasks read by ffprobe as MPEG-TS of about $seconds s"

if ((failed > 0)); then
  echo "soak: recordings kept in $recordings"
else
  rm -rf "$recordings"
fi
echo "soak: $passed passed, $failed failed"
((failed == 0))
