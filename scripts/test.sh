#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen

echo "== build and test =="
BUILD_DIR=build scripts/build.sh
ctest --test-dir build --output-on-failure -j2
