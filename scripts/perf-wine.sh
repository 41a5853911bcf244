#!/usr/bin/env bash
# Whole-program figures under Wine, for each architecture that runs here:
# the executable's size, the 10,000-line save before and after writing in
# blocks, what the destination check adds to a start or an Add (the call on
# the local disk, and the core's whole check), start-up to the dialog in the
# tray with its list loaded and to the first tick (empty, 1,000- and
# 10,000-line schedule), one due pass over 1,000 and 10,000 lines, and CPU
# time and memory over an idle soak in the tray with no task and with ten
# tasks recording.
#
#   bash scripts/perf-wine.sh [--soak SECONDS] [--runs N]
#
# Defaults: a 300 s soak, start-ups and passes repeated 5 times (median).
# Each soak runs in a Wine prefix and server of its own, all at once (they
# are idle), so that each server's CPU time belongs to one program; one more
# prefix with no program gives the share of Wine's own services. The
# figures are printed and kept in build/perf-wine/figures.txt.
set -euo pipefail

soak=300
runs=5
while [[ $# -gt 0 ]]; do
  case $1 in
    --soak) soak=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) echo "usage: perf-wine.sh [--soak SECONDS] [--runs N]" >&2; exit 2 ;;
  esac
done

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
# shellcheck source=scripts/lib/deps.sh
source scripts/lib/deps.sh
# shellcheck source=scripts/lib/wine.sh
source scripts/lib/wine.sh

work=
prefixes=()
cleanup() {
  set +e
  for prefix in "${prefixes[@]}"; do quorvane_stop_wineserver "$prefix"; done
  quorvane_stop_xvfb
  [[ -n $work ]] && rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

quorvane_install_deps >/dev/null
for preset in win64 win32; do
  targets=(QuorvaneScheduler QuorvaneControl save_wine destination_wine)
  [[ $preset == win64 ]] && targets+=(wine_figures)
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 --target "${targets[@]}" >/dev/null
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-perf.XXXXXX")
out=$root/build/perf-wine
mkdir -p "$out"
[[ -n ${DISPLAY:-} ]] || quorvane_start_xvfb
quorvane_wine_env
export LC_ALL=ja_JP.UTF-8
quorvane_prepare_prefix "$work/base"

# The Unix process id of the server of prefix $1.
server_pid() {
  local pid
  for pid in $(pgrep -x wineserver64; pgrep -x wineserver); do
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$1"; then
      echo "$pid"
      return 0
    fi
  done
  return 1
}
# A prefix of its own, $work/$1, a copy of the base, with its server.
new_prefix() {
  local prefix=$work/$1
  cp -a "$work/base" "$prefix"
  quorvane_start_wineserver "$prefix"
  prefixes+=("$prefix")
}
# wine_in PREFIX PROGRAM ARGS...: runs a program there with the loader of
# its architecture.
wine_in() {
  local prefix=$1 loader
  shift
  loader=$(quorvane_wine_loader "$1")
  WINEPREFIX=$prefix QUORVANE_WINESERVER_PID=$(server_pid "$prefix") "$loader" "$@"
}
win() { echo "Z:${1//\//\\}"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

new_prefix main
main=$work/main
driver=$root/build/win64/bench/wine_figures.exe
arches=(x86_64)
# 32-bit Windows programs need 32-bit Wine (wine32) and a kernel that runs
# i386 programs; a probe save tells.
if wine_in "$main" "$root/build/win32/bench/save_wine.exe" 10 1 >/dev/null 2>&1; then
  arches+=(i686)
else
  echo "note: 32-bit programs do not run under Wine here; x86_64 only"
fi
tree() { [[ $1 == x86_64 ]] && echo build/win64 || echo build/win32; }

figures=$out/figures.txt
: >"$figures"
record() { # ARCH then "name value unit" lines on stdin
  awk -v arch="$1" '{ printf "%-7s %-28s %12s %s\n", arch, $1, $2, $3 }' | tee -a "$figures"
}

echo "== Wine figures: $(/usr/lib/wine/wine64 --version), $(nproc) cores, $(date -u +%FT%TZ)," \
  "load $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$figures"

# The median of each figure NAME... over $runs runs of the driver's KIND
# (startup or pass) with a schedule of LINES lines, for the current $arch.
measure() {
  local kind=$1 lines=$2 name i && shift 2
  for ((i = 0; i < runs; i++)); do
    wine_in "$main" "$driver" "$kind" "$exe" "$dll" "$(win "$work/run-$arch")" "$lines"
  done >"$work/$kind.$arch.$lines"
  for name; do
    echo "$name.$lines $(awk -v n="$name" '$1 == n { print $2 }' "$work/$kind.$arch.$lines" | median) ms"
  done | record "$arch"
}
for arch in "${arches[@]}"; do
  t=$(tree "$arch")
  exe=$(win "$root/$t/ui/QuorvaneScheduler.exe")
  dll=$(win "$root/$t/tuner/standin/QuorvaneControl.dll")
  echo "exe.size $(stat -c %s "$t/ui/QuorvaneScheduler.exe") bytes" | record "$arch"
  (cd "$work" && wine_in "$main" "$root/$t/bench/save_wine.exe" 10000 7) | sed "s/^/$arch  /" |
    tee -a "$figures"
  (cd "$work" && wine_in "$main" "$root/$t/bench/destination_wine.exe" 5000 7) |
    sed "s/^/$arch  /" | tee -a "$figures"
  for lines in 0 1000 10000; do
    measure startup "$lines" startup.to_ready startup.to_first_tick
  done
  for lines in 1000 10000; do
    measure pass "$lines" pass.ui_thread_cpu pass.first_call_to_saved
  done
done

echo "== soak: ${soak}s each, all at once in prefixes of their own"
pids=()
for arch in "${arches[@]}"; do
  t=$(tree "$arch")
  for tasks in 0 10; do
    name=soak-$arch-$tasks
    new_prefix "$name"
    wine_in "$work/$name" "$driver" soak "$(win "$root/$t/ui/QuorvaneScheduler.exe")" \
      "$(win "$root/$t/tuner/standin/QuorvaneControl.dll")" "$(win "$work/run-$name")" \
      "$tasks" "$soak" >"$work/$name.out" 2>&1 &
    pids+=($!)
  done
done
new_prefix soak-none
wine_in "$work/soak-none" "$driver" server "$soak" >"$work/soak-none.out" 2>&1 &
pids+=($!)
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
for arch in "${arches[@]}"; do
  for tasks in 0 10; do
    sed "s/^/tasks$tasks./" "$work/soak-$arch-$tasks.out" | record "$arch"
  done
done
sed 's/^/no-program./' "$work/soak-none.out" | record "-"
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$figures"
echo "figures: $figures"
exit "$failed"
