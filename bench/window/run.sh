#!/usr/bin/env bash
# Times the window's import run (shown under Xvfb on the xcb platform, started
# with Alt+S) beside `kiv2700 post` on the same school and collection file,
# over several rounds on fresh copies, and prints the medians and their ratio.
#   bench/window/run.sh [LINES] [ROUNDS]     (default: 30000 3)
set -euo pipefail
cd "$(dirname "$0")/../.."
lines=${1:-30000}
rounds=${2:-3}
BUILD_DIR=${BUILD_DIR:-build-release-gui}
BUILD_DIR=$BUILD_DIR BUILD_TYPE=Release scripts/build.sh -DKIV_BUILD_GUI=ON -DBUILD_TESTING=OFF >/dev/null
tool="$BUILD_DIR/src/cli/kiv2700"
window="$BUILD_DIR/bench/bench_window_run"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$tool" demo --root "$work/school" --students "$lines" --every-case >/dev/null
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for round in $(seq "$rounds"); do
  for who in window headless; do
    rm -rf "$work/run" && cp -r "$work/school" "$work/run"
    if [ "$who" = window ]; then
      QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
        "$window" "$work/run" "$work/run/medi/post1003.dat" 2>/dev/null >>"$work/window.times"
    else
      start=$(date +%s.%N)
      "$tool" post --root "$work/run" "$work/run/medi/post1003.dat" >/dev/null 2>&1 || true
      awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN { printf "%.3f\n", a - b }' >>"$work/headless.times"
    fi
  done
done
w=$(median <"$work/window.times")
h=$(median <"$work/headless.times")
printf "lines %s, rounds %s: window %.2f s, kiv2700 post %.2f s, ratio %.2f\n" \
  "$lines" "$rounds" "$w" "$h" "$(awk -v w="$w" -v h="$h" 'BEGIN { print w / h }')"
