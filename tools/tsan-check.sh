#!/bin/sh
# ThreadSanitizer check: builds everything with -fsanitize=thread in its own
# build directory and runs the threads test and the runtime tests there.
# Any report stops the test that made it (halt_on_error), so ctest fails.
#
# The module and internals suites are not run here: their death tests fork
# the process, which ThreadSanitizer does not support well, and they start
# no threads of their own; the threads test covers the module's code paths
# under concurrency.
#
#   tools/tsan-check.sh [build-dir]      (default: build-tsan)
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$src/build-tsan"}
jobs=${ORVA_JOBS:-2}

cmake -S "$src" -B "$build" -G Ninja -DORVA_TSAN=ON -DORVA_SANITIZE=OFF
cmake --build "$build" -j "$jobs" --target threads_tests runtime_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
  ctest --test-dir "$build" --output-on-failure -j "$jobs" -L '^(threads|runtime)$'
