#!/usr/bin/env bash
# Installs what is missing, builds, makes a demo suite folder with a school
# and an ordinary day's collection file, and posts it with the headless tool,
# showing the summary, the counters and the error log.
#   scripts/demo.sh          headless run
#   scripts/demo.sh --gui    open the window on the same suite folder instead
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=build scripts/build.sh

DEMO_ROOT=${DEMO_ROOT:-$PWD/demo-suite}
rm -rf "$DEMO_ROOT"
build/src/cli/kiv2700 demo --root "$DEMO_ROOT"

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
exit $status
