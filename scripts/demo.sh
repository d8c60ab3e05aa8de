#!/usr/bin/env bash
# Installs what is missing, builds, makes a demo suite folder with a school
# and an ordinary day's collection file, and posts it with the headless tool,
# showing the summary, the counters and the error log.
#   scripts/demo.sh            headless run
#   scripts/demo.sh --gui      open the window on the same suite folder instead
#   scripts/demo.sh --server   the school's database on a throwaway PostgreSQL
#                              cluster (a unix socket in a temporary folder,
#                              stopped and removed at the end)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=build scripts/build.sh

DEMO_ROOT=${DEMO_ROOT:-$PWD/demo-suite}
rm -rf "$DEMO_ROOT"
if [ "${1:-}" = "--server" ]; then
  pg_dir=$(scripts/pg-cluster.sh start)
  trap 'scripts/pg-cluster.sh stop "$pg_dir"' EXIT
  trap 'exit 130' INT TERM
  uri=$(scripts/pg-cluster.sh uri "$pg_dir")
  echo "== a throwaway PostgreSQL cluster: $uri =="
  build/src/cli/kiv2700 demo --root "$DEMO_ROOT" --server "$uri"
  echo "$DEMO_ROOT/mdb/KIV.pgconn: $(cat "$DEMO_ROOT/mdb/KIV.pgconn")"
else
  build/src/cli/kiv2700 demo --root "$DEMO_ROOT"
fi

if [ "${1:-}" = "--gui" ]; then
  echo "opening the window on $DEMO_ROOT (choose the path option and $DEMO_ROOT/medi/post1003.dat, or press 確認 S with the floppy folder)"
  export KIV_ROOT="$DEMO_ROOT" KIV_FLOPPY="$DEMO_ROOT/medi"
  if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a build/src/shell/Kiv2700P1 demo/operator/context
  fi
  exec build/src/shell/Kiv2700P1 demo/operator/context
fi

echo
echo "== kiv2700 post $DEMO_ROOT/medi/post1003.dat =="
set +e
build/src/cli/kiv2700 post --root "$DEMO_ROOT" "$DEMO_ROOT/medi/post1003.dat" 2>/dev/null
status=$?
set -e
log=$(ls "$DEMO_ROOT"/medi/err27_*.txt 2>/dev/null | head -1 || true)
if [ -n "$log" ]; then
  echo
  echo "== first lines of the error log $log =="
  head -n 12 "$log" | tr -d '\r'
fi
if [ -n "${pg_dir:-}" ]; then
  echo
  echo "== on the server: payment records by outcome =="
  PGPASSWORD=QZMPW psql -X "$uri" -c "SELECT payway, pay_record, paystas, unusual, count(*) AS records,
    sum(payamt) AS payamt, sum(realamt) AS realamt FROM KIV8_Payment GROUP BY 1, 2, 3, 4 ORDER BY 1, 2, 3, 4"
fi
exit $status
