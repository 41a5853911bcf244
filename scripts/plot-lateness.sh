#!/usr/bin/env bash
# Draws the lateness of every start and stop against the point of a second
# at which its program was launched, for two soaks (gnuplot, PNG): before and
# after a change, each the lateness list of `bash scripts/soak.sh TASKS
# LAUNCHES` (build/soak/lateness.tsv: launch_ms, kind, task, lateness_ms,
# work_ms).
#
#   bash scripts/plot-lateness.sh BEFORE.tsv AFTER.tsv OUT.png [NOTE]
#
# NOTE, say the day and the machine, ends the title.
set -euo pipefail

if [[ $# -lt 3 || $# -gt 4 ]]; then
  echo "usage: plot-lateness.sh BEFORE.tsv AFTER.tsv OUT.png [NOTE]" >&2
  exit 2
fi
before=$1 after=$2 output=$3 note=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One point a call: its launch's phase (starts a little left, stops a little
# right of it) and its lateness; and a summary for the title.
# shellcheck source=scripts/lib/lateness.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/lateness.sh"
for series in before after; do
  awk -F'\t' -v out="$work/$series" 'NR > 1 && ($2 == "start" || $2 == "stop") {
    printf "%d %d\n", $1 + ($2 == "start" ? -12 : 12), $4 > (out "." $2); print $4 }' "${!series}" |
    quorvane_lateness "$series: $(($(wc -l <"${!series}") - 1)) calls" >"$work/$series.summary"
  [[ -s $work/$series.summary ]] || { echo "$series: no start or stop lines" >&2 && exit 1; }
done

gnuplot <<GNUPLOT
set terminal pngcairo size 900,560 font "sans,10"
set output "$output"
set title "Lateness of each start and stop after its second, by when in a second the program was launched\n$(cat "$work/before.summary"); $(cat "$work/after.summary")${note:+\n$note}"
set xlabel "launched this many ms into a second"
set ylabel "lateness (ms)"
set xrange [0:1000]
set yrange [-20:1050]
set xtics 100
set grid
set key top left
plot "$work/before.start" using 1:2 with points pt 7 ps 0.5 lc rgb "#d95f02" title "before: start", \
     "$work/before.stop" using 1:2 with points pt 6 ps 0.5 lc rgb "#d95f02" title "before: stop", \
     "$work/after.start" using 1:2 with points pt 7 ps 0.5 lc rgb "#1b9e77" title "after: start", \
     "$work/after.stop" using 1:2 with points pt 6 ps 0.5 lc rgb "#1b9e77" title "after: stop"
GNUPLOT
echo "picture: $output"
cat "$work/before.summary" "$work/after.summary"
