#!/usr/bin/env bash
# CPU time and peak resident memory of kelvaro-recorder (no display) and of the window
# program (offscreen), run side by side, each with its own simulated board at the demo's
# pace (a poll every 250 ms at 9600 baud) and the demo's settings (logging on), over
# SECONDS once both are running. Goal for the recorder: below 0.3 % of a core and 15 MiB.
# Usage: bench/recorder_resources.sh [build folder] [seconds]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$top/build/default}" && pwd)"
seconds="${2:-60}"
ticks_per_second="$(getconf CLK_TCK)"
cmake --build "$build" --target kelvaro kelvaro-recorder kelvaro-board-sim >/dev/null

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

start_board() { # folder
  mkdir -p "$1"
  "$top/scripts/run" --write-settings "$1" >/dev/null
  "$build/tools/board-sim/kelvaro-board-sim" --folder "$1" --port 1 </dev/null >"$1/sim.log" 2>&1 &
  pids+=($!)
  until grep -q '^kelvaro-board-sim: port 1 is ' "$1/sim.log"; do sleep 0.1; done
}
start_board "$work/recorder"
start_board "$work/window"

env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
  "$build/src/app/kelvaro-recorder" --dir "$work/recorder" </dev/null 2>"$work/recorder.journal" &
recorder=$!
pids+=("$recorder")
(cd "$work/window" && QT_QPA_PLATFORM=offscreen exec "$build/src/app/kelvaro") </dev/null 2>/dev/null &
window=$!
pids+=("$window")
sleep 12 # the window program's splash shows for 10 s

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
log_lines() { { cat "$1"/??-??-????.txt 2>/dev/null || true; } | wc -l; }
recorder_before="$(cpu_ticks "$recorder")"
window_before="$(cpu_ticks "$window")"
recorder_lines="$(log_lines "$work/recorder")"
window_lines="$(log_lines "$work/window")"
sleep "$seconds"
recorder_after="$(cpu_ticks "$recorder")"
window_after="$(cpu_ticks "$window")"

report() { # name, pid, ticks before, ticks after, log lines before, folder
  local peak lines
  peak="$(awk '/VmHWM/ {print $2}' "/proc/$2/status")"
  lines=$(($(log_lines "$6") - $5))
  awk -v n="$1" -v t="$(($4 - $3))" -v hz="$ticks_per_second" -v s="$seconds" -v kb="$peak" -v l="$lines" \
    'BEGIN { printf "%-34s CPU %.2f s over %d s = %.3f %% of a core, peak resident %.1f MiB, %d log lines\n", n, t / hz, s, 100 * t / hz / s, kb / 1024, l }'
  # A program that logged nothing did not do the work measured: most likely another
  # program (a recorder still retrying a device of that name) took its line first.
  if ((lines == 0)); then
    echo "  warning: no log lines; is another program holding the line? (see /var/lock)" >&2
  fi
}
report "kelvaro-recorder (no display):" "$recorder" "$recorder_before" "$recorder_after" \
  "$recorder_lines" "$work/recorder"
report "kelvaro (window, offscreen):" "$window" "$window_before" "$window_after" \
  "$window_lines" "$work/window"

# The boards' counters (polls answered, blocks sent), as the simulators end.
kill "${pids[@]}" 2>/dev/null || true
wait "${pids[@]}" 2>/dev/null || true
pids=()
for side in recorder window; do
  sed -n "s/^stats /board of the ${side}: /p" "$work/$side/sim.log" | tail -n 1
done
