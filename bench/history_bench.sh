#!/usr/bin/env bash
# The history benchmark: writes a year of 2-second log lines (365 daily files x 43 200
# lines, three fields, about 0.5 GB) into a temporary folder, then measures in one run,
# warm cache, the median of several runs:
#  - `kelvaro --report` over the whole year against `cat` of the same files into `wc -l`
#    (the floor), and the report's peak resident memory;
#  - `kelvaro --plot` of the whole year and the chart window's history of the whole year:
#    time and peak resident memory;
#  - one day's history in the chart window, from choosing the day to the painted chart;
#  - the live trend open at the demo's pace (a block every 250 ms): CPU and repaints.
# The year's plot and history, and the day, are measured again with a build of BASELINE
# (a commit, default 3cac755, the history before it kept every line in memory), built from
# `git archive` in a temporary folder with this tree's chart benchmark, and shown beside;
# BASELINE=none leaves that out.
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
baseline="${BASELINE:-3cac755}"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/kelvaro-bench.XXXXXX")"
cleanup() { rm -rf "$scratch" ${folder_is_temporary:+"$folder"}; }
trap cleanup EXIT
if [ "$baseline" != none ]; then
  {
    echo "== Building kelvaro and kelvaro-bench-chart of $baseline"
    mkdir -p "$scratch/src"
    git -C "$top" archive "$baseline" | tar -x -C "$scratch/src"
    cp "$top/bench/bench_chart.cpp" "$scratch/src/bench/bench_chart.cpp"
    (cd "$scratch/src" && cmake --preset default >/dev/null &&
      cmake --build build/default --target kelvaro kelvaro-bench-chart)
  } >&2
  old_kelvaro="$scratch/src/build/default/src/app/kelvaro"
  old_chart="$scratch/src/build/default/bench/kelvaro-bench-chart"
fi

if [ -n "${2:-}" ]; then
  folder="$(cd "$2" && pwd)"
else
  folder="$(mktemp -d "${TMPDIR:-/tmp}/kelvaro-year.XXXXXX")"
  folder_is_temporary=1
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

# The year's plot and history, and one day, with a given build: "PLOT-S PLOT-MIB VIEW-S
# VIEW-MIB DAY-MS".
year_figures() { # KELVARO CHART
  local times=() t rss_plot rss_view view dayms
  for ((i = 0; i < runs; i++)); do
    times+=("$(seconds "$1" --plot "$scratch/year.png")")
  done
  t=$(printf '%s\n' "${times[@]}" | median)
  rss_plot=$(/usr/bin/time -f %M "$1" --plot "$scratch/year.png" 2>&1 >/dev/null | tail -n 1)
  view=$(/usr/bin/time -f 'rss %M' "$2" --range "$folder" 2025-01-01 2025-12-31 3 2>&1)
  rss_view=$(echo "$view" | awk '/^rss/ {print $2}')
  dayms=$("$2" --day "$folder" 2025-06-15 7 | awk '{print $3}')
  echo "$t $(echo "$rss_plot / 1024" | bc -l) $(echo "$view" | awk '/^range_ms/ {print $3 / 1000}') $(echo "$rss_view / 1024" | bc -l) $dayms"
}
new=$(year_figures "$kelvaro" "$chart")
old="- - - - -"
if [ "$baseline" != none ]; then
  old=$(year_figures "$old_kelvaro" "$old_chart")
fi
field() { echo "$1" | awk -v n="$2" '{ if ($n == "-") print "-"; else printf "%.2f", $n }'; }

printf '\n| Measure | Result | Floor | Ratio | Goal |\n|---|---|---|---|---|\n'
printf '| --report, a year (%s lines, %s MB), s | %.2f | %.2f (cat \\| wc -l) | %.2fx | <= 4x floor, <= 1.5 s |\n' \
  "$lines" "$((bytes / 1000000))" "$report" "$floor" "$(echo "$report / $floor" | bc -l)"
printf '| --report peak resident, MiB | %.1f | | | <= 300 |\n' "$(echo "$rss_kib / 1024" | bc -l)"
printf '| One day in the chart window, ms | %s | | | <= 50 |\n' "$(echo "$day" | awk '{print $3 " [" $5 "-" $7 "]"}')"
printf '| Live trend at the demo pace, %% of a core | %s | | | < 1 |\n' "$(echo "$live" | awk '{print $2}')"
printf '| Live trend repaints / blocks (60 s) | %s / %s | | | <= 1 per block |\n' \
  "$(echo "$live" | awk '{print $6}')" "$(echo "$live" | awk '{print $4}')"

printf '\n| A year of history (%s lines) | This tree | %s | Goal |\n|---|---|---|---|\n' "$lines" "$baseline"
printf '| --plot of the year, s (median of %s) | %s | %s | <= 1.5 |\n' "$runs" "$(field "$new" 1)" "$(field "$old" 1)"
printf '| --plot of the year, peak resident MiB | %s | %s | <= 100 |\n' "$(field "$new" 2)" "$(field "$old" 2)"
printf '| History view of the year, s (median of 3) | %s | %s | <= 1.5 |\n' "$(field "$new" 3)" "$(field "$old" 3)"
printf '| History view of the year, peak resident MiB | %s | %s | <= 100 |\n' "$(field "$new" 4)" "$(field "$old" 4)"
printf '| History view of one day, ms (median of 7) | %s | %s | <= 50 |\n' "$(field "$new" 5)" "$(field "$old" 5)"
