#!/usr/bin/env bash
# Two workstations post the same collection file at the same moment against
# one server, as two offices' clerks might: each line must be settled once.
# Reports each run's time and counts beside one run alone, and checks that
# the two leave every table exactly as the one run does.
#   bench/post/two_workstations.sh [N]   (default 10000 students/lines)
set -euo pipefail
cd "$(dirname "$0")/../.."
n=${1:-10000}
BUILD_DIR=${BUILD_DIR:-build-release} BUILD_TYPE=Release scripts/build.sh -DKIV_BUILD_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
tool="${BUILD_DIR:-build-release}/src/cli/kiv2700"
work=$(mktemp -d)
pg_dir=$(scripts/pg-cluster.sh start)
trap 'rm -rf "$work"; scripts/pg-cluster.sh stop "$pg_dir"' EXIT
trap 'exit 130' INT TERM
superuser() { psql -X -q -v ON_ERROR_STOP=1 -h "$pg_dir" -U postgres -d kiv "$@"; }
echo "load before: $(uptime | sed 's/.*load average/load average/')"
for s in alone shared; do
  superuser -c "CREATE SCHEMA $s AUTHORIZATION kiv" >/dev/null
  "$tool" demo --root "$work/$s" --students "$n" --server "host=$pg_dir dbname=kiv user=kiv options='-csearch_path=$s'" >/dev/null
done

post() {  # post NAME SCHOOL: times one run, its JSON in $work/NAME.json
  local started=$EPOCHREALTIME
  "$tool" post --root "$work/$2" --json "$work/$2/medi/post1003.dat" >"$work/$1.json" 2>/dev/null || true
  awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }' >"$work/$1.secs"
}
field() { sed -n "s/.*\"$2\":\([0-9]*\).*/\1/p" "$work/$1.json"; }
show() {
  printf "%-10s %8s %8s %8s %8s %8s %14s\n" "$1" "$(cat "$work/$1.secs")" "$(field "$1" lines)" "$(field "$1" ok)" \
    "$(field "$1" failed)" "$(field "$1" errors)" "$(field "$1" posted_total)"
}

post alone alone
post first shared &
post second shared &
wait
printf "%-10s %8s %8s %8s %8s %8s %14s\n" run seconds lines ok failed errors posted_total
show alone
show first
show second
# posted_total is left out: each run rounds its own total to whole units.
for counter in ok failed; do
  both=$(($(field first $counter) + $(field second $counter)))
  [ "$both" -eq "$(field alone $counter)" ] || { echo "FAIL: $counter $both, one run alone $(field alone $counter)"; exit 1; }
done
for table in KIV2_School KIV6_Group KIV7_Student KIV8_Payment KIV9_Payitem KIV10_Agency; do
  for s in alone shared; do
    superuser -c "COPY (SELECT * FROM $s.$table ORDER BY rowid) TO STDOUT" | cut -f2- >"$work/$s.$table"
  done
  cmp -s "$work/alone.$table" "$work/shared.$table" || { echo "FAIL: $table differs from one run alone"; exit 1; }
done
echo "every line settled once; every table as one run alone leaves it"
echo "load after: $(uptime | sed 's/.*load average/load average/')"
