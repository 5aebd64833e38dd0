#!/usr/bin/env bash
# The recorder's service under load: CPU time and peak resident memory of kelvaro-recorder
# with no client and with CLIENTS `kelvaro-ctl watch` clients subscribed, the simulated
# board polling back to back (9600 baud, no idle time) with logging on, over SECONDS each;
# then the time from starting `kelvaro-ctl set` to the write of its frame to the line
# (strace on the recorder), at the demo's pace (a poll every 250 ms) and back to back.
# Goals: with the clients within 1.5 times the figures without; from set to frame at most
# one poll interval plus 50 ms.
# Usage: bench/service_resources.sh [build folder] [seconds] [clients]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$top/build/default}" && pwd)"
seconds="${2:-60}"
clients="${3:-5}"
ticks_per_second="$(getconf CLK_TCK)"
source "$top/scripts/deps.sh"
kelvaro_install_deps "${kelvaro_service_bench_packages[@]}"
cmake --build "$build" --target kelvaro-recorder kelvaro-ctl kelvaro-board-sim >/dev/null
ctl="$build/src/app/kelvaro-ctl"

work="$(mktemp -d)"
pids=()
stop_all() {
  if ((${#pids[@]})); then
    kill "${pids[@]}" 2>/dev/null || true
    wait "${pids[@]}" 2>/dev/null || true
  fi
  pids=()
}
trap 'stop_all; rm -rf "$work"' EXIT

start_recorder() { # folder, poll-ms
  mkdir -p "$1"
  "$top/scripts/run" --write-settings "$1" >/dev/null
  "$build/tools/board-sim/kelvaro-board-sim" --folder "$1" --port 1 --poll-ms "$2" \
    </dev/null >"$1/sim.log" 2>&1 &
  pids+=($!)
  until grep -q '^kelvaro-board-sim: port 1 is ' "$1/sim.log"; do sleep 0.1; done
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    "$build/src/app/kelvaro-recorder" --dir "$1" </dev/null 2>"$1/journal" &
  recorder=$!
  pids+=("$recorder")
  until grep -qs "opened " "$1/journal"; do sleep 0.1; done
}

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

measure() { # name, folder, number of watching clients
  start_recorder "$2" 0
  for ((k = 0; k < $3; ++k)); do
    (cd "$2" && exec "$ctl" watch) >"$2/watch$k" 2>&1 &
    pids+=($!)
  done
  sleep 5
  local before after peak blocks
  before="$(cpu_ticks "$recorder")"
  sleep "$seconds"
  after="$(cpu_ticks "$recorder")"
  peak="$(awk '/VmHWM/ {print $2}' "/proc/$recorder/status")"
  blocks="$( (cd "$2" && "$ctl" status) | sed -n 's/^board: .*, \([0-9]*\) blocks$/\1/p')"
  awk -v n="$1" -v t="$((after - before))" -v hz="$ticks_per_second" -v s="$seconds" -v kb="$peak" -v b="$blocks" \
    'BEGIN { printf "%-30s CPU %.2f s over %d s = %.2f %% of a core, peak resident %.1f MiB, %d blocks\n", n, t / hz, s, 100 * t / hz / s, kb / 1024, b }'
  if (($3 > 0)); then
    echo "  lines each watcher received: $(wc -l <"$2/watch0") (first), $(cat "$2"/watch* | wc -l) in all"
  fi
  stop_all
}

measure "no client:" "$work/alone" 0
measure "$clients clients subscribed:" "$work/watched" "$clients"

latency() { # name, poll-ms
  local folder="$work/latency$2"
  start_recorder "$folder" "$2"
  sleep 2
  strace -q -ttt -s 200 -e trace=read,write -e signal=none -p "$recorder" -o "$folder/trace" &
  local tracer=$!
  sleep 1
  : >"$folder/starts"
  for value in 21.5 22 21.5 22 21.5 22 21.5 22 21.5 22; do
    date +%s.%N >>"$folder/starts"
    (cd "$folder" && "$ctl" set 2 "$value" --unit C)
    sleep 0.$((RANDOM % 10))
  done
  kill "$tracer"
  wait "$tracer" 2>/dev/null || true
  # The frames are the recorder's only 4-byte writes to the line; the requests are the
  # reads of a "set" line from a client.
  grep -E '^[0-9.]+ write\([0-9]+, "\\26\\1.*", 4\) = 4' "$folder/trace" | cut -d' ' -f1 >"$folder/frames"
  grep -E '^[0-9.]+ read\(.*type\\":\\"set' "$folder/trace" | cut -d' ' -f1 >"$folder/requests"
  paste "$folder/starts" "$folder/requests" "$folder/frames" | awk -v n="$1" '
    { d = ($3 - $1) * 1000; r = ($3 - $2) * 1000; sum += d; rsum += r
      if (d > max) max = d; if (r > rmax) rmax = r; ++count }
    END { printf "%-30s kelvaro-ctl started to frame: mean %.0f ms, longest %.0f ms; request read to frame: mean %.0f ms, longest %.0f ms (%d writes)\n", n, sum / count, max, rsum / count, rmax, count }'
  stop_all
}
latency "poll every 250 ms:" 250
latency "polls back to back:" 0
