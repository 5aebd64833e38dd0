#!/usr/bin/env bash
# End-to-end figures of the real program on the simulated board's pseudo-terminal:
#  1. the exchange rate with the board polling flat out (--poll-ms 0 --baud 0) over at
#     least 10 000 exchanges, for min_responder (the least any program can do on the line)
#     and for kelvaro, with the simulator's counters: polls, answers, blocks, lost;
#  2. kelvaro's CPU share and resident memory at the demo's pace (--poll-ms 250, 9600
#     baud) over 30 s, logging on as in the demo.
# Not run by CI: it takes about a minute and a half.
# Usage: bench/e2e_throughput.sh [build folder]   (default build/default, built as needed)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$top/build/default}" && pwd)"
pace_seconds="${PACE_SECONDS:-30}"
min_exchanges=10000

echo "== Building kelvaro, kelvaro-board-sim and min_responder in $build"
cmake --build "$build" --target kelvaro kelvaro-board-sim min_responder >/dev/null
program="$build/src/app/kelvaro"
simulator="$build/tools/board-sim/kelvaro-board-sim"
responder="$build/bench/min_responder"

work="$(mktemp -d)"
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# start_board NAME OPTIONS...: the simulator for port 1 in $work/NAME, commands through
# file descriptor 3 (a fifo), its output in $work/NAME/sim.out.
start_board() {
  local dir="$work/$1"
  shift
  mkdir -p "$dir"
  mkfifo "$dir/sim.in"
  exec 3<>"$dir/sim.in"
  "$simulator" --folder "$dir" --port 1 "$@" <"$dir/sim.in" >"$dir/sim.out" 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  board="$dir"
  until grep -q '^kelvaro-board-sim: port 1 is ' "$dir/sim.out"; do sleep 0.05; done
}

# stop_board: ends the simulator and whatever answers it, so the next figures run alone.
stop_board() {
  if [ -n "${program_pid:-}" ]; then
    kill -TERM "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null || true
    program_pid=""
  fi
  echo quit >&3
  wait "$sim_pid" 2>/dev/null || true
  exec 3>&-
  wait 2>/dev/null || true
}

# stats: the simulator's current counters line.
stats() {
  local before
  before="$(grep -c '^stats ' "$board/sim.out" || true)"
  echo stats >&3
  while [ "$(grep -c '^stats ' "$board/sim.out" || true)" -le "$before" ]; do sleep 0.01; done
  grep '^stats ' "$board/sim.out" | tail -n 1
}

# count LINE NAME: the counter NAME in a stats line.
count() {
  sed -n "s/.* $2=\([0-9]*\).*/\1/p" <<<"$1"
}

now() {
  date +%s.%N
}

start_program() {
  (cd "$board" && QT_QPA_PLATFORM=offscreen exec "$program" >"$board/program.out" 2>&1) &
  program_pid=$!
  pids+=("$program_pid")
  # The splash shows for 10 s before the main window opens the port.
  echo "   waiting for the program's first answer (after its 10 s splash)"
  until [ "$(count "$(stats)" answers)" -gt 0 ]; do sleep 0.5; done
}

# measure_rate LABEL: counts exchanges until at least $min_exchanges and 3 s have passed.
measure_rate() {
  local first last t0 t1 polls answers blocks lost seconds
  sleep 0.5
  first="$(stats)"
  t0="$(now)"
  while :; do
    sleep 1
    last="$(stats)"
    t1="$(now)"
    blocks=$(($(count "$last" blocks) - $(count "$first" blocks)))
    if [ "$blocks" -ge "$min_exchanges" ] && awk "BEGIN{exit !($t1 - $t0 >= 3)}"; then
      break
    fi
  done
  polls=$(($(count "$last" polls) - $(count "$first" polls)))
  answers=$(($(count "$last" answers) - $(count "$first" answers)))
  lost=$(($(count "$last" lost) - $(count "$first" lost)))
  seconds="$(awk "BEGIN{printf \"%.2f\", $t1 - $t0}")"
  printf '%-14s polls %7d  answers %7d  blocks %7d  lost %d  in %5s s: %7.0f exchanges/s\n' \
    "$1" "$polls" "$answers" "$blocks" "$lost" "$seconds" "$(awk "BEGIN{print $blocks / $seconds}")"
  [ "$lost" -eq 0 ] || echo "   LOST EXCHANGES: $lost"
}

echo "== Exchange rate, board polling flat out (--poll-ms 0 --baud 0)"
start_board responder --poll-ms 0 --baud 0
"$responder" "$board" &
pids+=($!)
measure_rate "min_responder"
stop_board

start_board program --poll-ms 0 --baud 0
"$top/scripts/run" --write-settings "$board" >/dev/null
start_program
measure_rate "kelvaro"
stop_board

echo "== kelvaro at the demo's pace (--poll-ms 250, 9600 baud), logging on, ${pace_seconds} s"
start_board pace --poll-ms 250 --baud 9600
"$top/scripts/run" --write-settings "$board" >/dev/null
start_program
ticks_per_second="$(getconf CLK_TCK)"
cpu_ticks() {
  awk '{print $14 + $15}' "/proc/$program_pid/stat"
}
first="$(stats)"
c0="$(cpu_ticks)"
t0="$(now)"
sleep "$pace_seconds"
c1="$(cpu_ticks)"
t1="$(now)"
last="$(stats)"
rss="$(awk '/^VmRSS/{print $2}' "/proc/$program_pid/status")"
hwm="$(awk '/^VmHWM/{print $2}' "/proc/$program_pid/status")"
awk -v c="$((c1 - c0))" -v hz="$ticks_per_second" -v t0="$t0" -v t1="$t1" \
  'BEGIN{printf "   CPU %.2f s in %.1f s: %.2f %% of one core\n", c / hz, t1 - t0, 100 * c / hz / (t1 - t0)}'
echo "   resident memory ${rss} KiB now, ${hwm} KiB at most"
echo "   exchanges $(($(count "$last" blocks) - $(count "$first" blocks))), lost $(($(count "$last" lost) - $(count "$first" lost)))"
echo "   log lines $(cat "$board"/??-??-????.txt 2>/dev/null | wc -l)"
stop_board
