#!/usr/bin/env bash
# Builds the collection-file fuzzer (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer; clang) into build-fuzz/, writes its seed
# corpus and runs it for a bounded time. Fails on any crash, leak, undefined
# behaviour or broken invariant; the input that did it is left in
# build-fuzz/artifacts/.
#   scripts/fuzz.sh                 60 seconds
#   FUZZ_SECONDS=600 scripts/fuzz.sh
#   FUZZ_RUNS=10000000 scripts/fuzz.sh   stops after that many inputs (or the time)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
FUZZ_RUNS=${FUZZ_RUNS:--1}

CXX=${FUZZ_CXX:-clang++} cmake -S fuzz -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j2

# The corpus grows between runs; the seeds are written afresh each time.
mkdir -p "$BUILD_DIR/corpus" "$BUILD_DIR/artifacts"
"$BUILD_DIR/make_seeds" "$BUILD_DIR/corpus"

limit="${FUZZ_SECONDS} s"
[ "$FUZZ_RUNS" != -1 ] && limit="$FUZZ_RUNS inputs (at most $limit)"
echo "== fuzzing the collection reader and validation pass for $limit =="
"$BUILD_DIR/collection_fuzz" \
  -max_total_time="$FUZZ_SECONDS" \
  -runs="$FUZZ_RUNS" \
  -max_len=8192 \
  -timeout=10 \
  -rss_limit_mb=2048 \
  -dict=fuzz/collection.dict \
  -artifact_prefix="$BUILD_DIR/artifacts/" \
  -print_final_stats=1 \
  "$BUILD_DIR/corpus" 2>"$BUILD_DIR/fuzz.log" || {
  tail -n 60 "$BUILD_DIR/fuzz.log"
  echo "fuzzing found a failure; see $BUILD_DIR/artifacts/" >&2
  exit 1
}
grep -E "^(Done|stat::number_of_executed_units|stat::peak_rss_mb)" "$BUILD_DIR/fuzz.log" || true
