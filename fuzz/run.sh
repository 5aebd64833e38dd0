#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang, libFuzzer, ASan + UBSan), replays each
# seed corpus, then fuzzes each target for the given number of seconds.
# Usage: fuzz/run.sh [seconds-per-target]   (default 20; a long run: fuzz/run.sh 600)
#
# The seeds in fuzz/corpus/<target>/ are only read. What libFuzzer adds goes to a scratch
# folder that is removed at the end; an input that breaks a target is kept in
# build/fuzz/crashes/<target>/, and each target's output in build/fuzz/logs/<target>.log.
# Exits non-zero when any target crashed, leaked, hung or broke one of its properties.
set -euo pipefail
cd "$(dirname "$0")/.."
top="$PWD"
seconds="${1:-20}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: fuzz/run.sh [seconds-per-target]" >&2
  exit 2
fi
targets=(fuzz_link fuzz_settings fuzz_parameters fuzz_values fuzz_log_name fuzz_log_line
  fuzz_service_request fuzz_mqtt_payload fuzz_history_messages fuzz_browser_message)

source scripts/deps.sh
kelvaro_install_deps "${kelvaro_fuzz_packages[@]}"

echo "== Configuring and building (preset fuzz)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

bin="$top/build/fuzz/fuzz"
logs="$top/build/fuzz/logs"
crashes="$top/build/fuzz/crashes"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/kelvaro-fuzz.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$logs"

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=()
summary=()
for target in "${targets[@]}"; do
  seeds="$top/fuzz/corpus/$target"
  log="$logs/$target.log"
  artifacts="$crashes/$target"
  mkdir -p "$scratch/$target" "$artifacts"
  echo "== $target: replaying $(find "$seeds" -type f | wc -l) seeds, then fuzzing ${seconds} s"
  # Replay: each seed runs once; any failure stops here.
  if ! "$bin/$target" -artifact_prefix="$artifacts/" "$seeds"/* >"$log" 2>&1; then
    echo "!! $target fails on a seed (log: $log)"
    tail -n 30 "$log"
    failed+=("$target")
    summary+=("$target: seed replay failed")
    continue
  fi
  # Fuzz: new inputs go to the scratch folder (first corpus folder), the seeds are read only.
  status=0
  "$bin/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -dict="$top/fuzz/$target.dict" -artifact_prefix="$artifacts/" \
    "$scratch/$target" "$seeds" >>"$log" 2>&1 || status=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)"
  if [ "$status" -ne 0 ]; then
    echo "!! $target failed (exit $status; input kept in $artifacts, log: $log)"
    tail -n 40 "$log"
    failed+=("$target")
    summary+=("$target: FAILED after ${runs:-?} executions")
  else
    summary+=("$target: ${runs:-?} executions in ${seconds} s (${rate:-?}/s), corpus $(find "$scratch/$target" -type f | wc -l) new + seeds")
  fi
done

echo "== Fuzzing summary"
printf '  %s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "== Failed: ${failed[*]}"
  exit 1
fi
echo "== All fuzz targets passed"
