#!/usr/bin/env bash
# What the MQTT bridge costs kelvaro-recorder: two recorders side by side, each with its
# own simulated board at the demo's pace (a poll every 250 ms at 9600 baud) and the demo's
# settings, one of them with --mqtt (and --mqtt-control) to a Mosquitto started here on a
# free loopback port with a password file, over SECONDS once both run. Prints each one's
# CPU time and peak resident memory and the difference. Goal: below 0.2 % of a core and
# 3 MiB more with MQTT.
# Usage: bench/recorder_mqtt_resources.sh [build folder] [seconds]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$top/build/default}" && pwd)"
seconds="${2:-120}"
ticks_per_second="$(getconf CLK_TCK)"
cmake --build "$build" --target kelvaro-recorder kelvaro-board-sim >/dev/null

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

# A loopback port nobody listens on (bash's /dev/tcp: no other tool needed).
port=$((20000 + RANDOM % 40000))
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
  port=$((20000 + RANDOM % 40000))
done
mosquitto_passwd -c -b "$work/passwords" kelvaro bench-pass
printf 'bench-pass\n' >"$work/password" && chmod 600 "$work/password"
printf 'listener %s 127.0.0.1\nallow_anonymous false\npassword_file %s\npersistence false\nuser %s\n' \
  "$port" "$work/passwords" "$(id -un)" >"$work/mosquitto.conf"
/usr/sbin/mosquitto -c "$work/mosquitto.conf" >"$work/broker.log" 2>&1 &
pids+=($!)

start_board() { # folder
  mkdir -p "$1"
  "$top/scripts/run" --write-settings "$1" >/dev/null
  "$build/tools/board-sim/kelvaro-board-sim" --folder "$1" --port 1 </dev/null >"$1/sim.log" 2>&1 &
  pids+=($!)
  until grep -q '^kelvaro-board-sim: port 1 is ' "$1/sim.log"; do sleep 0.1; done
}
start_board "$work/plain"
start_board "$work/mqtt"

run_recorder() { # folder, options...
  local folder="$1"
  shift
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    "$build/src/app/kelvaro-recorder" --dir "$folder" "$@" </dev/null 2>"$folder.journal" &
  pids+=($!)
}
run_recorder "$work/plain"
plain=$!
run_recorder "$work/mqtt" --mqtt "mqtt://kelvaro@127.0.0.1:$port" \
  --mqtt-password-file "$work/password" --board-id bench --mqtt-control
mqtt=$!
sleep 5
grep -q 'MQTT: connected' "$work/mqtt.journal" || { cat "$work/mqtt.journal" >&2; exit 1; }

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
plain_before="$(cpu_ticks "$plain")"
mqtt_before="$(cpu_ticks "$mqtt")"
sleep "$seconds"
plain_ticks=$(($(cpu_ticks "$plain") - plain_before))
mqtt_ticks=$(($(cpu_ticks "$mqtt") - mqtt_before))
peak() { awk '/VmHWM/ {print $2}' "/proc/$1/status"; }

awk -v p="$plain_ticks" -v m="$mqtt_ticks" -v hz="$ticks_per_second" -v s="$seconds" \
  -v pk="$(peak "$plain")" -v mk="$(peak "$mqtt")" 'BEGIN {
    printf "kelvaro-recorder:            CPU %.2f s over %d s = %.3f %% of a core, peak resident %.1f MiB\n", p / hz, s, 100 * p / hz / s, pk / 1024
    printf "kelvaro-recorder --mqtt:     CPU %.2f s over %d s = %.3f %% of a core, peak resident %.1f MiB\n", m / hz, s, 100 * m / hz / s, mk / 1024
    printf "MQTT adds:                   %.3f %% of a core, %.1f MiB\n", 100 * (m - p) / hz / s, (mk - pk) / 1024
  }'
