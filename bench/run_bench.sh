#!/usr/bin/env bash
# The performance benchmark: builds the program's benchmark host, the floor responder, the
# driver and bench_core in build/bench (Release), then plays the board against the program
# and against the floor and prints one table on stdout (progress goes to stderr).
# Usage: bench/run_bench.sh [--quick] [--seconds S] [driver options; --help lists them]
#        --line-host measures kelvaro-recorder, the line path without any window
# A full run takes about ten minutes; --quick about one.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build/bench"
{
  source "$top/scripts/deps.sh"
  kelvaro_install_deps
  echo "== Configuring and building the benchmark (Release, $build)"
  cmake --preset default -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target bench_core kelvaro-bench-host kelvaro-recorder kelvaro-bench-driver \
    min_responder
} >&2
exec "$build/bench/kelvaro-bench-driver" "$@"
