# shellcheck shell=bash
# Lateness figures of soak runs, for scripts/soak.sh and
# scripts/plot-lateness.sh. Sourced; defines functions only.

# Prints "LABEL: median M, p95 P, largest L ms, early E" for the lateness
# figures (ms, one a line) on standard input, E counting those before their
# second; nothing when there are none. With $2 "goal", a second line says
# whether they meet the goal: p95 at most 100 ms, largest at most 250 ms,
# none early.
quorvane_lateness() {
  sort -n | awk -v label="$1" -v goal="${2:-}" '{ v[NR] = $1; early += $1 < 0 } END {
    if (!NR) exit
    p95 = v[int(NR * 0.95 + 0.999)]
    printf "%s: median %d, p95 %d, largest %d ms, early %d\n", label, v[int((NR + 1) / 2)], p95,
      v[NR], early
    if (goal) printf "goal p95 <= 100 ms, largest <= 250 ms, none early: %s\n",
      p95 <= 100 && v[NR] <= 250 && !early ? "met" : "missed" }'
}
