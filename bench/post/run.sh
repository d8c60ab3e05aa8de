#!/usr/bin/env bash
# Times `kiv2700 post` on a generated school of N students and a matching
# collection file of N lines (every kind of line represented), and reports
# lines per second and peak resident memory.
#   bench/post/run.sh [N ...]     (default: 10000 100000)
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR=${BUILD_DIR:-build-release} BUILD_TYPE=Release scripts/build.sh -DKIV_BUILD_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
tool="${BUILD_DIR:-build-release}/src/cli/kiv2700"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(10000 100000)
printf "%10s %10s %12s %12s %10s %8s %8s\n" students lines seconds lines/s peak_MB ok errors
for n in "${sizes[@]}"; do
  root="$work/suite-$n"
  lines=$("$tool" demo --root "$root" --every-case --students "$n" | sed -n 's/.*(\([0-9]*\) lines)/\1/p')
  /usr/bin/time -f "%e %M" -o "$work/time" "$tool" post --root "$root" --json "$root/medi/post1003.dat" >"$work/out.json" 2>/dev/null
  read -r secs kb <"$work/time"
  ok=$(sed -n 's/.*"ok":\([0-9]*\).*/\1/p' "$work/out.json")
  errors=$(sed -n 's/.*"errors":\([0-9]*\).*/\1/p' "$work/out.json")
  rate=$(awk -v l="$lines" -v s="$secs" 'BEGIN { printf "%.0f", (s > 0 ? l / s : 0) }')
  printf "%10s %10s %12s %12s %10.1f %8s %8s\n" "$n" "$lines" "$secs" "$rate" "$(awk -v k="$kb" 'BEGIN{print k/1024}')" "$ok" "$errors"
done
