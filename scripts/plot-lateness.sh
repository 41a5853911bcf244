#!/usr/bin/env bash
# Draws the lateness of starts and stops as a histogram (gnuplot, PNG).
#
#   bash scripts/plot-lateness.sh LATENESS OUT.png [BIN_MS]
#
# LATENESS holds one call a line: "start|stop <lateness_ms>", or the soak's
# TAB-separated list whose header names a lateness_ms column
# (build/soak/lateness.tsv). BIN_MS is the bar width, 50 ms by default.
set -euo pipefail

if [[ $# -lt 2 ]]; then
  echo "usage: plot-lateness.sh LATENESS OUT.png [BIN_MS]" >&2
  exit 2
fi
input=$1
output=$2
bin=${3:-50}
data=$(mktemp)
trap 'rm -f "$data"' EXIT

# Counts per bin: bin start, starts, stops.
awk -v bin="$bin" '
  NR == 1 { column = 2; for (i = 1; i <= NF; i++) if ($i == "lateness_ms") column = i }
  NR == 1 && column != 2 { next }
  $1 == "start" || $1 == "stop" {
    b = int($column / bin) * bin
    count[$1, b]++; bins[b] = 1; total[$1]++
    if (b > top) top = b
  }
  END {
    if (total["start"] + total["stop"] == 0) { print "no start or stop lines" > "/dev/stderr"; exit 1 }
    for (b = 0; b <= top; b += bin) printf "%d %d %d\n", b, count["start", b], count["stop", b]
    printf "# %d starts, %d stops\n", total["start"], total["stop"]
  }' "$input" >"$data"
totals=$(sed -n 's/^# //p' "$data")

gnuplot <<EOF
set terminal pngcairo size 900,500 font "sans,10"
set output "$output"
set title "Lateness of starts and stops after their second ($totals)"
set xlabel "lateness (ms), bars of $bin ms"
set ylabel "calls"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set boxwidth 0.9
set key top right
set grid ytics
set xtics rotate by -45 nomirror
plot "$data" using 2:xtic(int(\$0) % 2 == 0 ? sprintf("%d", \$1) : "") title "start", \
     "" using 3 title "stop"
EOF
echo "picture: $output ($totals)"
