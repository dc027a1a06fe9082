#!/usr/bin/env bash
# Fuzzes for a while: configures and builds the instrumented build
# (build-fuzz, clang 14) and runs the wire decoder harness (wire_fuzz, on
# the seed corpus that make_seeds writes), the record API operation-sequence
# harness (api_fuzz, from its own corpus directory), the XML engine harness
# (xml_fuzz, on the renderings make_seeds --xml writes), the frame decoder
# harness (frame_fuzz, on the frames make_seeds --frames writes), or several
# in turn, each for the given time.  Exits non-zero when a fuzzer reports a
# finding (the reproducer is left in build-fuzz/findings/,
# build-fuzz/api-findings/, build-fuzz/xml-findings/ or
# build-fuzz/frame-findings/).
# Installs nothing: tools/install-deps.sh brings clang-14 and its runtimes.
#
#   tools/fuzz-smoke.sh [seconds] [wire|api|xml|frame|both|all]
#                                   (default 60, all; both: wire and api)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
which="${2:-all}"
case "$seconds" in
  '' | *[!0-9]*) echo "usage: $0 [seconds] [wire|api|xml|frame|both|all]" >&2; exit 2 ;;
esac
case "$which" in
  wire) targets=(wire_fuzz make_seeds) ;;
  api) targets=(api_fuzz) ;;
  xml) targets=(xml_fuzz make_seeds) ;;
  frame) targets=(frame_fuzz make_seeds) ;;
  both) targets=(wire_fuzz make_seeds api_fuzz) ;;
  all) targets=(wire_fuzz make_seeds api_fuzz xml_fuzz frame_fuzz) ;;
  *) echo "usage: $0 [seconds] [wire|api|xml|frame|both|all]" >&2; exit 2 ;;
esac
build=build-fuzz

CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DORVA_FUZZ=ON -DORVA_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

# run NAME CORPUS FINDINGS LOG MAX_LEN: runs one harness, prints a summary;
# returns non-zero on a finding.
run() {
  local name=$1 corpus=$2 findings=$3 log=$4 max_len=$5 status=0
  mkdir -p "$corpus" "$findings"
  echo "== $name for ${seconds}s"
  ASAN_OPTIONS="abort_on_error=0:detect_leaks=1:${ASAN_OPTIONS:-}" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}" \
    "$build/fuzz/$name" "$corpus" \
      -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$findings/" \
      >"$log" 2>&1 || status=$?
  # The start, the last progress lines and the final statistics.
  grep -E '^INFO: (Seed|Loaded|seed corpus)|INITED' "$log" || true
  grep -E '^#[0-9]+' "$log" | tail -n 3 || true
  grep -E '^(stat::|Done )' "$log" || true
  echo "corpus: $(find "$corpus" -type f | wc -l) files"
  if [ "$status" -ne 0 ]; then
    echo "== $name found something (exit $status); log: $log" >&2
    grep -E -A40 "^(==[0-9]+==ERROR|$name: |.*runtime error:)" "$log" | head -n 80 >&2 || true
    ls -l "$findings" >&2 || true
    return 1
  fi
  echo "== $name: no finding in ${seconds}s"
}

failed=0
if [ "$which" = wire ] || [ "$which" = both ] || [ "$which" = all ]; then
  # The wire corpus starts from the seeds every run; what a run adds is kept.
  mkdir -p "$build/corpus"
  "$build/fuzz/make_seeds" "$build/corpus"
  run wire_fuzz "$build/corpus" "$build/findings" "$build/fuzz.log" 8192 || failed=1
fi
if [ "$which" = api ] || [ "$which" = both ] || [ "$which" = all ]; then
  # The operation sequences start from an empty corpus (kept between runs).
  run api_fuzz "$build/api-corpus" "$build/api-findings" "$build/api-fuzz.log" 1024 || failed=1
fi
if [ "$which" = xml ] || [ "$which" = all ]; then
  # The XML corpus starts from the renderings every run; what a run adds is kept.
  mkdir -p "$build/xml-corpus"
  "$build/fuzz/make_seeds" --xml "$build/xml-corpus"
  run xml_fuzz "$build/xml-corpus" "$build/xml-findings" "$build/xml-fuzz.log" 32768 || failed=1
fi
if [ "$which" = frame ] || [ "$which" = all ]; then
  # The frame corpus starts from the message frames every run; what a run adds is kept.
  mkdir -p "$build/frame-corpus"
  "$build/fuzz/make_seeds" --frames "$build/frame-corpus"
  run frame_fuzz "$build/frame-corpus" "$build/frame-findings" "$build/frame-fuzz.log" 8192 || failed=1
fi
exit "$failed"
