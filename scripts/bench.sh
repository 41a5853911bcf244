#!/usr/bin/env bash
# The core's benchmarks (Google Benchmark, bench/core_bench.cpp), built by the
# linux preset with the core optimised as in a Release build. Prints the time
# per operation, per line and the fitted growth of each; keeps the figures in
# build/linux/bench/core_bench.json.
#
#   bash scripts/bench.sh [--plot FILE.png] [Google Benchmark options...]
#
# e.g. --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
# for the median of five runs (the picture then uses the medians).
#
# --plot draws the cost of each operation against the list length on
# log-log axes (gnuplot).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
plot=
if [[ ${1:-} == --plot ]]; then
  plot=$(realpath -m "$2")
  shift 2
fi
# shellcheck source=scripts/lib/deps.sh
source scripts/lib/deps.sh
quorvane_install_deps >/dev/null
cmake --preset linux >/dev/null
cmake --build --preset linux --target core_bench -j2 >/dev/null

out=build/linux/bench/core_bench.json
echo "== core benchmarks: $(uname -m), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-)"
build/linux/bench/core_bench --benchmark_out="$out" --benchmark_out_format=json "$@"
echo "figures: $out"

[[ -n $plot ]] || exit 0
data=$(mktemp)
trap 'rm -f "$data"' EXIT
# One block per operation: list length, nanoseconds per operation.
python3 - "$out" >"$data" <<'EOF'
import json, sys
scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
cost = {}  # run name -> ns; with repetitions, their median
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    kind, name = b.get("run_type"), b.get("run_name", b["name"])
    if kind == "aggregate" and b.get("aggregate_name") != "median" or kind not in ("iteration", "aggregate"):
        continue
    if kind == "iteration" and name in cost:
        continue
    cost[name] = b["cpu_time"] * scale[b["time_unit"]]
runs = {}
for name, ns in cost.items():
    family, _, n = name.partition("/")
    points = runs.setdefault(family, [])
    if n:
        points.append((int(n), ns))
    else:  # no list involved: the same cost at every length
        points += [(100, ns), (10000, ns)]
for name, points in runs.items():
    print(f'"{name}"')
    for n, ns in points:
        print(n, ns)
    print("\n")
EOF
gnuplot <<EOF
set terminal pngcairo size 900,600 font "sans,10"
set output "$plot"
set title "Cost of the core's operations against the length of the schedule list"
set logscale xy
set xlabel "lines in the schedule list"
set ylabel "time per operation (ns, CPU)"
set format y "10^{%L}"
set xrange [70:14000]
set key outside right top
set grid
plot for [i=0:*] "$data" index i using 1:2 with linespoints title columnheader(1), \
     30 * x with lines dashtype 2 linecolor rgb "gray50" title "linear: 30 ns a line"
EOF
echo "picture: $plot"
