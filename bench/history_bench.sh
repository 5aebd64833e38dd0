#!/usr/bin/env bash
# The history benchmark: writes a year of 2-second log lines (365 daily files x 43 200
# lines, three fields, about 0.5 GB) into a temporary folder, then measures in one run,
# warm cache, the median of several runs:
#  - `kelvaro --report` over the whole year against `cat` of the same files into `wc -l`
#    (the floor), and the report's peak resident memory;
#  - one day's history in the chart window, from choosing the day to the painted chart;
#  - the live trend open at the demo's pace (a block every 250 ms): CPU and repaints.
# Usage: bench/history_bench.sh [RUNS [FOLDER]]  (default 5 runs). Without FOLDER the year
# is written into a temporary folder that is deleted at the end; a FOLDER written before by
# bench/gen_year_logs.py is used as it is and kept.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-5}"
build="$top/build/default"
{
  echo "== Building kelvaro and kelvaro-bench-chart ($build)"
  cmake --preset default >/dev/null
  cmake --build "$build" --target kelvaro kelvaro-bench-chart
} >&2
kelvaro="$build/src/app/kelvaro"
chart="$build/bench/kelvaro-bench-chart"

if [ -n "${2:-}" ]; then
  folder="$(cd "$2" && pwd)"
else
  folder="$(mktemp -d "${TMPDIR:-/tmp}/kelvaro-year.XXXXXX")"
  trap 'rm -rf "$folder"' EXIT
  echo "== Writing a year of log files into $folder" >&2
  python3 "$top/bench/gen_year_logs.py" "$folder" 365 2025-01-01
fi
cd "$folder"
cat ./*-*.txt >/dev/null # warm the page cache

seconds() { # runs "$@" and prints its wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

floor_times=()
report_times=()
for ((i = 0; i < runs; i++)); do
  floor_times+=("$(seconds bash -c 'cat ./*-*.txt | wc -l')")
  report_times+=("$(seconds "$kelvaro" --report)")
done
floor=$(printf '%s\n' "${floor_times[@]}" | median)
report=$(printf '%s\n' "${report_times[@]}" | median)
rss_kib=$(/usr/bin/time -f %M "$kelvaro" --report 2>&1 >/dev/null | tail -n 1)
lines=$(cat ./*-*.txt | wc -l)
bytes=$(cat ./*-*.txt | wc -c)
day=$("$chart" --day "$folder" 2025-06-15 7)
live=$("$chart" --live 60 250)

printf '\n| Measure | Result | Floor | Ratio | Goal |\n|---|---|---|---|---|\n'
printf '| --report, a year (%s lines, %s MB), s | %.2f | %.2f (cat \\| wc -l) | %.2fx | <= 4x floor, <= 1.5 s |\n' \
  "$lines" "$((bytes / 1000000))" "$report" "$floor" "$(echo "$report / $floor" | bc -l)"
printf '| --report peak resident, MiB | %.1f | | | <= 300 |\n' "$(echo "$rss_kib / 1024" | bc -l)"
printf '| One day in the chart window, ms | %s | | | <= 50 |\n' "$(echo "$day" | awk '{print $3 " [" $5 "-" $7 "]"}')"
printf '| Live trend at the demo pace, %% of a core | %s | | | < 1 |\n' "$(echo "$live" | awk '{print $2}')"
printf '| Live trend repaints / blocks (60 s) | %s / %s | | | <= 1 per block |\n' \
  "$(echo "$live" | awk '{print $6}')" "$(echo "$live" | awk '{print $4}')"
