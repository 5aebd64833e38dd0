#!/usr/bin/env bash
# kelvaro-web's cost: the simulated board at the demo's pace (a poll every 250 ms), the
# recorder on it, and SECONDS without kelvaro-web, then SECONDS with kelvaro-web and COUNT
# browsers' WebSockets on the board. Prints each process's share of one core and its peak
# resident memory in each phase, the time a fresh page takes to its first values (median of
# five) and the size of the whole page.
# Goals: kelvaro-web under 2 % of a core and 40 MiB; the recorder as without it (within
# 0.5 % of a core); first values within 500 ms; the page at most 200 KB.
# Usage: bench/web_cost.sh [build folder] [seconds] [count]   (default build/default 60 50)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$top/build/default}" && pwd)"
seconds="${2:-60}"
count="${3:-50}"
work="$(mktemp -d "${TMPDIR:-/tmp}/kelvaro-web-cost.XXXXXX")"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
hz="$(getconf CLK_TCK)"

# cpu_ticks PID: user + system time so far, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
peak_kib() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status"; }
share() { awk -v t="$1" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.2f", 100 * t / hz / s }'; }

board="$work/demo"
mkdir -p "$board"
"$top/scripts/run" --write-settings "$board" >/dev/null
"$build/tools/board-sim/kelvaro-board-sim" --folder "$board" --port 1 </dev/null >"$work/sim.log" 2>&1 &
pids+=($!)
until grep -q '^kelvaro-board-sim: port 1 is ' "$work/sim.log"; do sleep 0.1; done
"$build/src/app/kelvaro-recorder" --dir "$board" --socket "$board/kelvaro.sock" 2>"$work/recorder.log" &
recorder=$!
pids+=("$recorder")
until [ -S "$board/kelvaro.sock" ]; do sleep 0.1; done
sleep 2

echo "== $seconds s without kelvaro-web"
r0="$(cpu_ticks "$recorder")"
sleep "$seconds"
r1="$(cpu_ticks "$recorder")"
recorder_alone="$(share $((r1 - r0)))"
recorder_alone_kib="$(peak_kib "$recorder")"

port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
"$build/src/app/kelvaro-web" --listen "127.0.0.1:$port" --socket "$board/kelvaro.sock" 2>"$work/web.log" &
web=$!
pids+=("$web")
until grep -q 'the page is at' "$work/web.log"; do sleep 0.1; done
sleep 1
page_bytes=0
for file in / app.js style.css icon.svg; do
  page_bytes=$((page_bytes + $(curl -s "http://127.0.0.1:$port/${file#/}" | wc -c)))
done

echo "== $seconds s with kelvaro-web and $count WebSockets"
"$build/bench/kelvaro-bench-web-clients" "http://127.0.0.1:$port/" demo "$count" "$((seconds + 4))" >"$work/clients.log" &
clients=$!
pids+=("$clients")
until grep -q '^ready' "$work/clients.log"; do sleep 0.1; done
sleep 2
r0="$(cpu_ticks "$recorder")"
w0="$(cpu_ticks "$web")"
sleep "$seconds"
r1="$(cpu_ticks "$recorder")"
w1="$(cpu_ticks "$web")"
wait "$clients" || true
recorder_with="$(share $((r1 - r0)))"
web_share="$(share $((w1 - w0)))"
web_kib="$(peak_kib "$web")"
recorder_with_kib="$(peak_kib "$recorder")"

echo
printf '%-34s %10s %14s\n' "" "CPU (% of a core)" "peak memory"
printf '%-34s %10s %11s MiB\n' "kelvaro-recorder alone" "$recorder_alone" "$((recorder_alone_kib / 1024))"
printf '%-34s %10s %11s MiB\n' "kelvaro-recorder with the page" "$recorder_with" "$((recorder_with_kib / 1024))"
printf '%-34s %10s %11s MiB\n' "kelvaro-web, $count WebSockets" "$web_share" "$((web_kib / 1024))"
sed -n 's/^first_values_ms /first values (ms): /p; s/^sockets_open /WebSockets open: /p' "$work/clients.log"
echo "page: $page_bytes bytes"
awk -v w="$web_share" -v k="$web_kib" -v a="$recorder_alone" -v b="$recorder_with" -v p="$page_bytes" 'BEGIN {
  ok = (w < 2 && k < 40 * 1024 && b - a < 0.5 && p <= 200 * 1024)
  print ok ? "== within the goals" : "== NOT within the goals"
  exit ok ? 0 : 1 }'
median="$(sed -n 's/^first_values_ms .* median \([0-9-]*\) .*/\1/p' "$work/clients.log")"
[ "${median:-9999}" -ge 0 ] && [ "${median:-9999}" -le 500 ]
