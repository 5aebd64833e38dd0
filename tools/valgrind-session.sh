#!/usr/bin/env bash
# Runs the real program under valgrind memcheck against the simulated board for about a
# minute, then ends it with SIGTERM as a session manager would, and reports invalid
# accesses and definite leaks. Not run by CI (it takes a minute or two).
#
# Usage: tools/valgrind-session.sh [build-dir] [seconds]
#   build-dir  a configured and built tree (default build/default); a RelWithDebInfo or
#              Debug build gives stacks with file names and lines
#   seconds    how long the program runs under valgrind (default 60; the splash alone
#              takes 10)
# Exit status: 0 clean, 3 valgrind found errors or definite leaks, 1 the session failed.
# valgrind's own report is kept in <build-dir>/valgrind-session.log.
#
# While the program runs, the simulated board changes register values (so the display,
# the raw column and the data logger have work), cuts a block short (the block time-out
# drops it), sends a stray byte, and is unplugged and plugged in again (the port reopens).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/default}" && pwd)"
seconds="${2:-60}"
program="$build/src/app/kelvaro"
sim="$build/tools/board-sim/kelvaro-board-sim"
report="$build/valgrind-session.log"
for file in "$program" "$sim"; do
    [[ -x "$file" ]] || { echo "valgrind-session: $file is not built" >&2; exit 1; }
done
command -v valgrind >/dev/null || { echo "valgrind-session: valgrind is not installed" >&2; exit 1; }

work="$(mktemp -d)"
sim_pid=""
program_pid=""
cleanup() {
    exec 3>&- 2>/dev/null || true
    [[ -n "$program_pid" ]] && kill -KILL "$program_pid" 2>/dev/null || true
    [[ -n "$sim_pid" ]] && kill -TERM "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Port 1 at 9600 baud, block time-out 1 s, logging on (counter and average temperature,
# a line per counter change), raw column shown: every periodic path runs.
{
    printf '"[Communication]"\r\n1\r\n9600\r\n#FALSE#\r\n#FALSE#\r\n1\r\n'
    printf '"[Thermistor]"\r\n0\r\n\r\n\r\n0\r\n\r\n\r\n'
    printf '"[Timers]"\r\n\r\n0\r\n10000\r\n'
    printf '"[Logging]"\r\n1\r\n"DD-MM-YYYY"\r\n"Counter_2sec (l08)"\r\n"Average Temperature (i16)"\r\n'
    for _ in 1 2 3 4 5 6 7 8; do printf '"None"\r\n'; done
    printf '"On Counter Change"\r\n'
    printf '"[Acrobat]"\r\n""\r\n"[Manuals]"\r\n""\r\n""\r\n""\r\n""\r\n'
    printf '"[AT90S2313]"\r\n1\r\n"[Celsius-Fareneit]"\r\n#FALSE#\r\n'
} >"$work/Settings.txt"

mkfifo "$work/sim-commands"
"$sim" --folder "$work" --port 1 <"$work/sim-commands" >"$work/sim.out" 2>&1 &
sim_pid=$!
exec 3>"$work/sim-commands"
for _ in $(seq 100); do
    grep -q "port 1 is" "$work/sim.out" 2>/dev/null && break
    sleep 0.1
done
grep -q "port 1 is" "$work/sim.out" || { echo "valgrind-session: the simulator did not start" >&2; cat "$work/sim.out" >&2; exit 1; }

echo "valgrind-session: running $program for $seconds s in $work"
(cd "$work" && exec env QT_QPA_PLATFORM=offscreen valgrind --leak-check=full \
    --errors-for-leak-kinds=definite --error-exitcode=3 --num-callers=30 \
    --suppressions="$root/tools/valgrind.supp" --log-file="$report" "$program") &
program_pid=$!

# The board's script, in seconds after the start.
say() { echo "$1" >&3; }
start=$SECONDS
at() { local wait=$(($1 - (SECONDS - start))); ((wait > 0)) && sleep "$wait"; true; }
at $((seconds * 25 / 100)); say "set 17 2345"
at $((seconds * 35 / 100)); say "stop-block"
at $((seconds * 40 / 100)); say "garbage"
at $((seconds * 50 / 100)); say "stats"; say "close"
at $((seconds * 60 / 100)); say "reopen"
at $((seconds * 75 / 100)); say "set 11 1500"
at "$seconds"
say "stats"

kill -TERM "$program_pid"
status=0
for _ in $(seq 300); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$program_pid" 2>/dev/null; then
    echo "valgrind-session: the program did not end within 30 s of SIGTERM" >&2
    status=1
fi
wait "$program_pid" || status=$?
program_pid=""
say "quit"
wait "$sim_pid" || true
sim_pid=""

echo "--- simulated board"
grep -E "^stats|kelvaro-board-sim:" "$work/sim.out" || true
echo "--- log files written"
for log in "$work"/??-??-????.txt; do
    [[ -e "$log" ]] && echo "$(basename "$log"): $(wc -l <"$log") lines"
done
echo "--- valgrind ($report)"
grep -E "ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|Invalid (read|write|free)|uninitialised|suppressed:" "$report" || true
case $status in
0) echo "valgrind-session: clean exit, no errors, no definite leaks" ;;
3) echo "valgrind-session: valgrind found errors or definite leaks; see $report" ;;
143) echo "valgrind-session: SIGTERM killed the program instead of ending it" ; status=1 ;;
*) echo "valgrind-session: the program ended with status $status" ; status=1 ;;
esac
exit "$status"
