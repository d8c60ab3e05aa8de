#!/usr/bin/env bash
# Times `kiv2700 post` on a generated school of N students and a matching
# collection file of N lines (every kind of line represented), and reports
# lines per second and peak resident memory; then the same run without the
# journal (bench_post_run --bare) on a copy of the same school, and the share of
# the run the journal costs: (with - without) / with, by CPU time and by
# elapsed time. Each figure is the best of RUNS runs (default 1), each on a
# fresh copy of the school.
#   bench/post/run.sh [N ...]     (default: 10000 100000)
#   CALLGRIND=N bench/post/run.sh ...
#       also counts the instructions of both runs on N students with
#       valgrind's callgrind: a measure that other work on a shared machine
#       cannot disturb. Batches are then closed by their line count alone, as
#       in a real run, however slowly the counted run goes.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR=${BUILD_DIR:-build-release}
BUILD_DIR=$BUILD_DIR BUILD_TYPE=Release scripts/build.sh -DKIV_BUILD_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
tool="$BUILD_DIR/src/cli/kiv2700"
runner="$BUILD_DIR/bench/bench_post_run"
RUNS=${RUNS:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs one post on a fresh copy of the school; prints "elapsed cpu peak_kib".
timed_post() {
  local school=$1 program=$2 copy="$work/copy"
  rm -rf "$copy"
  cp -r "$school" "$copy"
  if [ "$program" = journal ]; then
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$tool" post --root "$copy" --json "$copy/medi/post1003.dat" \
      >"$work/out.json" 2>/dev/null
  else
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$runner" --bare "$copy" "$copy/medi/post1003.dat" >"$work/out.json"
  fi
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time"
}

# The best of RUNS: least elapsed, least CPU, and the largest peak seen.
best_of() {
  local school=$1 program=$2 best="" run
  for ((r = 0; r < RUNS; ++r)); do
    run=$(timed_post "$school" "$program")
    best=$(printf "%s\n%s\n" "$best" "$run" | awk 'NF == 3 {
      if (!seen || $1 < e) e = $1; if (!seen || $2 < c) c = $2; if ($3 > m) m = $3; seen = 1 }
      END { print e, c, m }')
  done
  echo "$best"
}

echo "load: $(uptime | sed 's/.*load average: //')"
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(10000 100000)
printf "%8s %8s | %9s %8s %9s %8s | %9s %8s %9s %8s | %7s %7s\n" students lines \
  "s" "cpu_s" "lines/s" "peak_MB" "bare_s" "cpu_s" "lines/s" "peak_MB" "share" "cpu_sh"
for n in "${sizes[@]}"; do
  school="$work/school-$n"
  lines=$("$tool" demo --root "$school" --students "$n" | sed -n 's/.*(\([0-9]*\) lines)/\1/p')
  read -r secs cpu kb <<<"$(best_of "$school" journal)"
  read -r bsecs bcpu bkb <<<"$(best_of "$school" bare)"
  awk -v n="$n" -v l="$lines" -v s="$secs" -v c="$cpu" -v k="$kb" -v bs="$bsecs" -v bc="$bcpu" -v bk="$bkb" 'BEGIN {
    printf "%8d %8d | %9.2f %8.2f %9.0f %8.1f | %9.2f %8.2f %9.0f %8.1f | %6.1f%% %6.1f%%\n",
      n, l, s, c, (s > 0 ? l / s : 0), k / 1024, bs, bc, (bs > 0 ? l / bs : 0), bk / 1024,
      (s > 0 ? 100 * (s - bs) / s : 0), (c > 0 ? 100 * (c - bc) / c : 0) }'
done
echo "share: of the run with the journal, the part the journal costs (elapsed; cpu_sh by CPU time)"

if [ -n "${CALLGRIND:-}" ]; then
  school="$work/school-cg"
  "$tool" demo --root "$school" --students "$CALLGRIND" >/dev/null
  count() {
    rm -rf "$work/copy"
    cp -r "$school" "$work/copy"
    valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$runner" --commit-ms 100000000 "$@" \
      "$work/copy" "$work/copy/medi/post1003.dat" >/dev/null 2>&1
    sed -n 's/^summary: *//p; s/^totals: *//p' "$work/cg.out" | head -1
  }
  with=$(count)
  without=$(count --bare)
  awk -v n="$CALLGRIND" -v w="$with" -v b="$without" 'BEGIN {
    printf "callgrind, %d students: %.0f instructions with the journal, %.0f without; the journal %.1f%%\n",
      n, w, b, 100 * (w - b) / w }'
fi
