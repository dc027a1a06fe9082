#!/usr/bin/env bash
# Fuzzes the wire decoder for a while: configures and builds the instrumented
# build (build-fuzz, clang 14), writes the seed corpus, and runs wire_fuzz on
# it.  Exits non-zero when the fuzzer reports a finding (the reproducer is
# left in build-fuzz/findings/).  Installs nothing: tools/install-deps.sh
# brings clang-14 and its runtimes.
#
#   tools/fuzz-smoke.sh [seconds]     (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
case "$seconds" in
  '' | *[!0-9]*) echo "usage: $0 [seconds]" >&2; exit 2 ;;
esac
build=build-fuzz

CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DORVA_FUZZ=ON -DORVA_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target wire_fuzz make_seeds

# The corpus starts from the seeds every run; what a run adds is kept in it.
mkdir -p "$build/corpus" "$build/findings"
"$build/fuzz/make_seeds" "$build/corpus"

echo "== wire_fuzz for ${seconds}s"
status=0
ASAN_OPTIONS="abort_on_error=0:detect_leaks=1:${ASAN_OPTIONS:-}" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}" \
  "$build/fuzz/wire_fuzz" "$build/corpus" \
    -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/findings/" \
    >"$build/fuzz.log" 2>&1 || status=$?
# The start, the last progress lines and the final statistics.
grep -E '^INFO: (Seed|Loaded|seed corpus)|INITED' "$build/fuzz.log" || true
grep -E '^#[0-9]+' "$build/fuzz.log" | tail -n 3 || true
grep -E '^(stat::|Done )' "$build/fuzz.log" || true
echo "corpus: $(find "$build/corpus" -type f | wc -l) files"

if [ "$status" -ne 0 ]; then
  echo "== wire_fuzz found something (exit $status); log: $build/fuzz.log" >&2
  grep -E -A40 '^(==[0-9]+==ERROR|wire_fuzz: |.*runtime error:)' "$build/fuzz.log" | head -n 80 >&2 || true
  ls -l "$build/findings" >&2 || true
  exit 1
fi
echo "== wire_fuzz: no finding in ${seconds}s"
