#!/usr/bin/env bash
# Soak: TASKS back-to-back recordings (20 by default, about a minute and a
# half; a real soak is 200 or more over 5 launches or more, about 15 seconds
# and a second a task for each launch), split over LAUNCHES launches of the
# program (5 by default) at points spread over a second (50, 250, 450 ...
# ms), one after the other. In each launch one task starts every second from
# the third and each lasts its launch's task count in seconds, ten at most,
# so that up to ten record at once. The driver is the end-to-end case Soak.BackToBackRecordings: it
# writes the schedule file, starts the program under Wine, waits until every
# task has stopped and checks, from the stand-in library's journal, that each
# started and stopped once, never before its second and within 350 ms after
# it, and that memory and handles did not grow. Then every recording must
# exist and be read without errors as an MPEG transport stream by ffprobe,
# as long as the task lasted.
#
#   bash scripts/soak.sh [--i686] [TASKS [LAUNCHES]]
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
# shellcheck source=scripts/lib/lateness.sh
source scripts/lib/lateness.sh

preset=win64
if [[ ${1:-} == --i686 ]]; then
  preset=win32
  shift
fi
tasks=${1:-20}
launches=${2:-5}
if [[ ! $tasks =~ ^[1-9][0-9]*$ || ! $launches =~ ^[1-9][0-9]*$ || $# -gt 2 ]]; then
  echo "usage: soak.sh [--i686] [TASKS [LAUNCHES]]" >&2
  exit 2
fi
# Each launch's tasks last as many seconds as it has tasks, ten at most.
seconds=$((tasks / launches))
((seconds < 1)) && seconds=1
((seconds > 10)) && seconds=10

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

echo "soak: $tasks tasks of the $preset program in $launches launches (about $((tasks + launches * (seconds + 10))) s); Wine prefix $WINEPREFIX, display $DISPLAY"
results=$root/build/soak
mkdir -p "$results"
rm -f "$results/driver.log" "$results/figures.txt" "$results/lateness.tsv"
passed=0
failed=0
# Into a file, not a pipe: Wine's desktop process inherits the output and
# outlives the driver.
status=0
QUORVANE_E2E_SOAK_TASKS=$tasks QUORVANE_E2E_SOAK_LAUNCHES=$launches QUORVANE_E2E_SOAK_DIR=$recordings \
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
  echo "soak: launches made again, up too late to judge: $(grep -c 'too late, launched again' "$results/driver.log")" |
    tee -a "$results/figures.txt"
  passed=$((passed + 1))
else
  cat "$results/driver.log"
  echo "soak: the driver failed (exit $status)"
  failed=$((failed + 1))
fi
if [[ -f $results/lateness.tsv ]]; then
  # The starts and the stops of each launch and of all; then all calls
  # against the goal.
  for launch in $(awk -F'\t' 'NR > 1 { print $1 }' "$results/lateness.tsv" | sort -nu) all; do
    for kind in start stop; do
      awk -F'\t' -v k="$kind" -v l="$launch" 'NR > 1 && $2 == k && (l == "all" || $1 == l) { print $4 }' \
        "$results/lateness.tsv" |
        quorvane_lateness "$kind lateness, $([[ $launch == all ]] && echo "all launches" || echo "launched $launch ms into a second")"
    done
  done
  awk -F'\t' 'NR > 1 { print $4 }' "$results/lateness.tsv" | quorvane_lateness "all calls" goal
fi | sed 's/^/soak: /' | tee -a "$results/figures.txt"

# Each recording: read to its end by ffprobe (-count_packets) as MPEG-TS
# without a word of complaint, lasting about as long as its task; and, as
# ffprobe resynchronises silently, whole 188-byte packets each starting with
# the sync byte 0x47.
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
    # A start may come up to 350 ms after its second while the stop comes on
    # time, or the other way round; a recording's first and last packets
    # round it by a little more.
    if ! awk -v d="$duration" -v s="$seconds" 'BEGIN { exit !(d != "" && d > s - 0.6 && d < s + 0.6) }'; then
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
