#!/usr/bin/env bash
# One command for the tables of docs/performance.md: builds the benchmark
# (Release, in build-bench/ or $BUILD_DIR) and runs tools/bench-report.py with
# instruction counts from callgrind.  Prints ns and instructions per operation
# of this library and of protobuf-c on the same client record, their ratios,
# and the text size of the libraries.  Takes 5-10 minutes on 2 cores.
#
#   tools/install-deps.sh --bench     # once: protobuf-c, valgrind
#   tools/bench-callgrind.sh [more benchmark options...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVA_BENCH=ON -DORVA_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
exec python3 tools/bench-report.py --callgrind "$build/bench/wire_bench" \
  --benchmark_min_time=0.2 --benchmark_repetitions=5 "$@"
