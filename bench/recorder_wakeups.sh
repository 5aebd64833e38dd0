#!/usr/bin/env bash
# Wake-ups of kelvaro-recorder per block at the line's own pace: the simulated board polls
# every 250 ms and sends each byte at 9600 baud, as in the demo. Counts the recorder's
# calls of poll() over SECONDS with `strace -c` (each one a return of the event loop from
# its wait: a wake-up) and divides by the blocks the board sent meanwhile; beside it the
# voluntary context switches of all its threads from /proc (which also count every sleep
# on a kernel lock, so they run higher on a loaded machine).
# With a second build folder, measures that build's recorder too, in the same run, as the
# figure to compare with (e.g. a build of the last release). Goal: at most 5 per block.
# Usage: bench/recorder_wakeups.sh [build folder] [seconds] [baseline build folder]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$top/build/default}" && pwd)"
seconds="${2:-20}"
baseline="${3:-}"

work="$(mktemp -d)"
pids=()
cleanup() {
  if ((${#pids[@]})); then
    kill "${pids[@]}" 2>/dev/null || true
    wait "${pids[@]}" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

switches() { # pid: voluntary context switches of all its threads
  cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'
}
blocks() { # sim log: the blocks counted in its last stats line
  sed -n 's/^stats .*blocks=\([0-9]*\).*/\1/p' "$1" | tail -n 1
}

measure() { # name, build folder
  local name="$1" dir="$2" folder="$work/$1"
  cmake --build "$dir" --target kelvaro-recorder kelvaro-board-sim >/dev/null
  mkdir -p "$folder"
  "$top/scripts/run" --write-settings "$folder" >/dev/null
  # The board reads commands on stdin: "stats" prints its counters.
  mkfifo "$folder/sim.in"
  "$dir/tools/board-sim/kelvaro-board-sim" --folder "$folder" --port 1 <"$folder/sim.in" \
    >"$folder/sim.log" 2>&1 &
  local sim=$!
  pids+=("$sim")
  exec 7>"$folder/sim.in"
  until grep -q '^kelvaro-board-sim: port 1 is ' "$folder/sim.log"; do sleep 0.1; done
  "$dir/src/app/kelvaro-recorder" --dir "$folder" </dev/null 2>"$folder/journal" &
  local recorder=$!
  pids+=("$recorder")
  sleep 3 # settled: the line open, the first blocks logged
  echo stats >&7
  sleep 0.2
  local blocks_before switches_before
  blocks_before="$(blocks "$folder/sim.log")"
  switches_before="$(switches "$recorder")"
  timeout -s INT "$seconds" strace -f -c -e trace=poll,ppoll -p "$recorder" -o "$folder/strace" \
    2>/dev/null || true
  local switches_after polls
  switches_after="$(switches "$recorder")"
  polls="$(awk '$NF == "poll" || $NF == "ppoll" { n += $4 } END { print n + 0 }' "$folder/strace")"
  echo stats >&7
  sleep 0.2
  local n=$(($(blocks "$folder/sim.log") - blocks_before))
  local w=$((switches_after - switches_before))
  awk -v name="$name" -v p="$polls" -v w="$w" -v n="$n" -v s="$seconds" \
    'BEGIN { printf "%-28s %4d blocks in %d s: %6d poll() calls, %.1f per block; %.1f context switches per block\n", name, n, s, p, n ? p / n : 0, n ? w / n : 0 }'
  kill "$recorder" "$sim" 2>/dev/null || true
  wait "$recorder" "$sim" 2>/dev/null || true
  exec 7>&-
  pids=()
}

measure "kelvaro-recorder (this)" "$build"
if [ -n "$baseline" ]; then
  measure "kelvaro-recorder (baseline)" "$(cd "$baseline" && pwd)"
fi
