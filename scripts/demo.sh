#!/usr/bin/env bash
# Installs what is missing, builds, makes a demo suite folder and starts the
# window on it when a display is available.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=build scripts/build.sh

DEMO_ROOT=${DEMO_ROOT:-$PWD/demo-suite}
rm -rf "$DEMO_ROOT"
build/src/cli/kiv2700 init --root "$DEMO_ROOT"
echo "demo suite folder: $DEMO_ROOT"
if [ -n "${DISPLAY:-}" ] && [ -x build/src/shell/Kiv2700P1 ]; then
  KIV_ROOT="$DEMO_ROOT" build/src/shell/Kiv2700P1 demo/operator/context
fi
