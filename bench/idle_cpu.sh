#!/usr/bin/env bash
# CPU time the real program uses while its port is open and the board is silent, and at
# the demo's pace (a poll every 250 ms at 9600 baud), each over SECONDS once running.
# Usage: bench/idle_cpu.sh [build folder] [seconds]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$top/build/default}" && pwd)"
seconds="${2:-30}"
ticks_per_second="$(getconf CLK_TCK)"
cmake --build "$build" --target kelvaro kelvaro-board-sim >/dev/null

measure() { # name, simulator options...
  local name="$1"
  shift
  local dir
  dir="$(mktemp -d)"
  "$top/scripts/run" --write-settings "$dir" >/dev/null
  "$build/tools/board-sim/kelvaro-board-sim" --folder "$dir" --port 1 "$@" >"$dir/sim.log" 2>&1 &
  local sim=$!
  sleep 0.5
  (cd "$dir" && QT_QPA_PLATFORM=offscreen exec "$build/src/app/kelvaro") 2>/dev/null &
  local program=$!
  sleep 12 # the splash shows for 10 s
  local before after
  before="$(awk '{print $14 + $15}' "/proc/$program/stat")"
  sleep "$seconds"
  after="$(awk '{print $14 + $15}' "/proc/$program/stat")"
  local peak
  peak="$(awk '/VmHWM/ {print $2}' "/proc/$program/status")"
  kill "$program" "$sim"
  wait "$program" "$sim" 2>/dev/null || true
  awk -v n="$name" -v t="$((after - before))" -v hz="$ticks_per_second" -v s="$seconds" -v kb="$peak" \
    'BEGIN { printf "%-28s CPU %.2f s over %d s = %.3f %% of a core, peak resident %.1f MiB\n", n, t / hz, s, 100 * t / hz / s, kb / 1024 }'
  rm -rf "$dir"
}

measure "port open, board silent:" --silent
measure "demo pace (250 ms, 9600):"
