#!/bin/sh
# ThreadSanitizer check: builds everything with -fsanitize=thread in its own
# build directory and runs the whole test suite there.  Any report stops the
# test that made it (halt_on_error), so ctest fails.  The race check proper is
# threads_tests (ctest label "threads"); the other suites run single-threaded
# and make sure the instrumented build behaves (death tests included).
#
#   tools/tsan-check.sh [build-dir]      (default: build-tsan)
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$src/build-tsan"}
jobs=${ORVA_JOBS:-2}

cmake -S "$src" -B "$build" -G Ninja -DORVA_TSAN=ON -DORVA_SANITIZE=OFF
cmake --build "$build" -j "$jobs"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
  ctest --test-dir "$build" --output-on-failure -j "$jobs"
