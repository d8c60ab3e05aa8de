#!/usr/bin/env bash
# Times `kiv2700 post` on a generated school of N students and a matching
# collection file of N lines (every kind of line represented).
#   bench/post/run.sh [N ...]            the file store (default: 10000 100000)
#     Three programs on fresh copies of the same school, alternating over
#     ROUNDS rounds (default 3), medians reported: the program; the program
#     without its journal (bench_post_run --bare); and the floor, the bare
#     database work of the same file (bench_post_floor: an ordinary
#     write-off's five statements per line, prepared once, one transaction).
#     Prints lines/s, peak memory, the ratio to the floor and the share of
#     the run the journal costs.
#   CALLGRIND=N bench/post/run.sh ...    also counts instructions of the run
#     with and without its journal on N students (undisturbed by other load).
#   bench/post/run.sh --server [N ...]   the server store, on a throwaway
#       PostgreSQL cluster reached over a unix socket, beside its floor: the
#       same statements the run sent (taken from the server's statement log
#       of a second, identical run), each prepared once, replayed through
#       libpq in one transaction.
set -euo pipefail
cd "$(dirname "$0")/../.."
server=0
if [ "${1:-}" = "--server" ]; then
  server=1
  shift
fi
BUILD_DIR=${BUILD_DIR:-build-release}
BUILD_DIR=$BUILD_DIR BUILD_TYPE=Release scripts/build.sh -DKIV_BUILD_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
tool="$BUILD_DIR/src/cli/kiv2700"
runner="$BUILD_DIR/bench/bench_post_run"
floor="$BUILD_DIR/bench/bench_post_floor"
ROUNDS=${ROUNDS:-3}
work=$(mktemp -d)
pg_dir=""
cleanup() {
  rm -rf "$work"
  [ -n "$pg_dir" ] && scripts/pg-cluster.sh stop "$pg_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(10000 100000)
echo "load before: $(uptime | sed 's/.*load average/load average/')"

# Runs a command under /usr/bin/time; sets secs and mb.
timed() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@"
  read -r secs kb <"$work/time"
  mb=$(awk -v k="$kb" 'BEGIN { printf "%.1f", k / 1024 }')
}
rate() { awk -v l="$1" -v s="$2" 'BEGIN { printf "%.0f", (s > 0 ? l / s : 0) }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

if [ $server -eq 0 ]; then
  printf "%8s | %8s %8s %7s | %8s %7s | %8s | %6s %8s\n" \
    lines program lines/s peak_MB bare peak_MB floor ratio journal
  for n in "${sizes[@]}"; do
    school="$work/school-$n"
    lines=$("$tool" demo --root "$school" --students "$n" --every-case | sed -n 's/.*(\([0-9]*\) lines)/\1/p')
    : >"$work/program" && : >"$work/bare" && : >"$work/floor" && : >"$work/mem" && : >"$work/bare_mem"
    for ((r = 0; r < ROUNDS; ++r)); do
      for who in program bare floor; do
        rm -rf "$work/copy" && cp -r "$school" "$work/copy"
        case $who in
          program) timed "$tool" post --root "$work/copy" --json "$work/copy/medi/post1003.dat" >/dev/null 2>&1 || true
                   echo "$mb" >>"$work/mem" ;;
          bare) timed "$runner" --bare "$work/copy" "$work/copy/medi/post1003.dat" >/dev/null
                echo "$mb" >>"$work/bare_mem" ;;
          floor) timed "$floor" "$work/copy/mdb/KIV.mdb" "$work/copy/medi/post1003.dat" >/dev/null ;;
        esac
        echo "$secs" >>"$work/$who"
      done
    done
    p=$(median <"$work/program") b=$(median <"$work/bare") f=$(median <"$work/floor")
    pm=$(sort -n "$work/mem" | tail -1) bm=$(sort -n "$work/bare_mem" | tail -1)
    awk -v l="$lines" -v p="$p" -v b="$b" -v f="$f" -v pm="$pm" -v bm="$bm" 'BEGIN {
      printf "%8d | %8.2f %8.0f %7.1f | %8.2f %7.1f | %8.2f | %6.2f %7.1f%%\n",
        l, p, (p > 0 ? l / p : 0), pm, b, bm, f, (f > 0 ? p / f : 0), (p > 0 ? 100 * (p - b) / p : 0) }'
  done
  echo "seconds are medians of $ROUNDS alternating rounds; ratio = program / floor; journal = (program - bare) / program"
  if [ -n "${CALLGRIND:-}" ]; then
    school="$work/school-cg"
    "$tool" demo --root "$school" --students "$CALLGRIND" --every-case >/dev/null
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
  echo "load after: $(uptime | sed 's/.*load average/load average/')"
  exit 0
fi

floor="$BUILD_DIR/bench/bench_post_floor_server"
pg_dir=$(scripts/pg-cluster.sh start)
superuser() { psql -X -q -v ON_ERROR_STOP=1 -h "$pg_dir" -U postgres -d kiv "$@"; }
school() {  # school NAME N: a demo school in schema NAME, its folder $work/NAME
  superuser -c "CREATE SCHEMA $1 AUTHORIZATION kiv" >/dev/null
  "$tool" demo --root "$work/$1" --students "$2" --every-case \
    --server "host=$pg_dir dbname=kiv user=kiv options='-csearch_path=$1'" | sed -n 's/.*(\([0-9]*\) lines)/\1/p'
}
printf "%8s %8s | %8s %8s %8s | %8s %8s %8s | %6s %8s\n" \
  students lines seconds lines/s peak_MB floor_s lines/s peak_MB ratio stmts
for n in "${sizes[@]}"; do
  lines=$(school "run_$n" "$n")
  school "trace_$n" "$n" >/dev/null
  school "floor_$n" "$n" >/dev/null
  superuser -c "ANALYZE" >/dev/null 2>&1

  timed "$tool" post --root "$work/run_$n" --json "$work/run_$n/medi/post1003.dat" >"$work/out.json" 2>/dev/null
  run_secs=$secs run_mb=$mb

  # The same run again, its statements logged by the server.
  log="$pg_dir/server.log"
  offset=$(stat -c %s "$log")
  KIV_DATABASE="host=$pg_dir dbname=kiv user=postgres options='-csearch_path=trace_$n -clog_statement=all'" \
    "$tool" post --root "$work/trace_$n" --json "$work/trace_$n/medi/post1003.dat" >"$work/trace.json" 2>/dev/null
  tail -c +$((offset + 1)) "$log" >"$work/trace_$n.log"
  if ! cmp -s <(sed 's/err27_[0-9]*//g; s#/trace_#/run_#g' "$work/trace.json") <(sed 's/err27_[0-9]*//g' "$work/out.json"); then
    echo "the traced run did not do what the timed run did:" >&2; cat "$work/trace.json" "$work/out.json" >&2
    exit 1
  fi

  timed "$floor" "$work/trace_$n.log" "host=$pg_dir dbname=kiv user=kiv password=QZMPW options='-csearch_path=floor_$n'" \
    >"$work/floor.out"
  floor_secs=$(awk '{ print $(NF-1) }' "$work/floor.out")
  stmts=$(awk '{ print $1 }' "$work/floor.out")
  ratio=$(awk -v a="$run_secs" -v b="$floor_secs" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
  printf "%8s %8s | %8s %8s %8s | %8s %8s %8s | %6s %8s\n" "$n" "$lines" "$run_secs" "$(rate "$lines" "$run_secs")" \
    "$run_mb" "$floor_secs" "$(rate "$lines" "$floor_secs")" "$mb" "$ratio" "$stmts"
done
echo "load after: $(uptime | sed 's/.*load average/load average/')"
