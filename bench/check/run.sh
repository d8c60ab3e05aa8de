#!/usr/bin/env bash
# Speed and memory of `kiv2700 check` (the validation pass) on large files.
# Builds Release, generates valid collection files of 100,000 and 1,000,000
# lines, and reports lines per second and peak resident memory for each. The
# peak must not grow with the file, since the reader keeps one line at a time:
# the run fails when the larger file's peak exceeds the smaller's by more than
# 2 MiB.
#
#   bench/check/run.sh            (BUILD_DIR overrides the Release build folder)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build-release}
RUNS=${RUNS:-3}

cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2 --target kiv2700 bench_gen_collection >/dev/null
TOOL=$BUILD_DIR/src/cli/kiv2700
GEN=$BUILD_DIR/bench/bench_gen_collection

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Runs "$@" and prints its peak resident set in KiB on stdout; the command's
# own output goes to $WORK/out. Fails when the command fails.
peak_rss_kib() {
  if /usr/bin/time -v true >/dev/null 2>&1; then
    /usr/bin/time -v -o "$WORK/time" "$@" >"$WORK/out" 2>&1
    awk -F': ' '/Maximum resident set size/ {print $2}' "$WORK/time"
  else
    # No GNU time: watch the high-water mark in /proc while the command runs.
    "$@" >"$WORK/out" 2>&1 &
    local pid=$! peak=0 hwm
    while kill -0 "$pid" 2>/dev/null; do
      hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
      [[ -n "$hwm" && "$hwm" -gt "$peak" ]] && peak=$hwm
      sleep 0.01
    done
    wait "$pid"
    echo "$peak"
  fi
}

printf '%10s %10s %8s %14s %14s\n' lines "file MiB" seconds "lines/second" "peak RSS KiB"
first_peak=""
for lines in 100000 1000000; do
  file=$WORK/post1003_$lines.dat
  "$GEN" "$lines" "$file"
  cat "$file" >/dev/null  # read from the page cache in every run alike
  best=""
  peak=0
  for _ in $(seq "$RUNS"); do
    # Timed on its own: the memory probe's own start-up would blur small files.
    start=$(date +%s%N)
    "$TOOL" check "$file" >"$WORK/out" || { cat "$WORK/out"; echo "check failed" >&2; exit 1; }
    end=$(date +%s%N)
    grep -qx accepted "$WORK/out" || { cat "$WORK/out"; echo "generated file was not accepted" >&2; exit 1; }
    grep -qx "lines: $lines" "$WORK/out" || { cat "$WORK/out"; echo "wrong line count" >&2; exit 1; }
    ns=$((end - start))
    [[ -z "$best" || "$ns" -lt "$best" ]] && best=$ns
    rss=$(peak_rss_kib "$TOOL" check "$file") || { cat "$WORK/out"; echo "check failed" >&2; exit 1; }
    ((rss > peak)) && peak=$rss
  done
  mib=$(awk -v b="$(stat -c %s "$file")" 'BEGIN {printf "%.1f", b / 1048576}')
  awk -v n="$lines" -v ns="$best" -v mib="$mib" -v rss="$peak" \
    'BEGIN {printf "%10d %10s %8.3f %14.0f %14d\n", n, mib, ns / 1e9, n / (ns / 1e9), rss}'
  rm -f "$file"
  [[ -z "$first_peak" ]] && first_peak=$peak
  if ((peak > first_peak + 2048)); then
    echo "peak resident memory grew with the file: $first_peak KiB -> $peak KiB" >&2
    exit 1
  fi
done
