#!/usr/bin/env bash
# Builds the whole project (core, kiv2700, the window when it builds, every
# test) with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ and runs every test there. Any memory error, leak or undefined
# behaviour fails the test that met it.
#   scripts/sanitize.sh                 with the window and its tests
#   SANITIZE_GUI=OFF scripts/sanitize.sh
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${SANITIZE_BUILD_DIR:-build-asan}
GUI=${SANITIZE_GUI:-ON}

# -O1 keeps the sanitized tests quick enough while keeping stacks readable.
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DKIV_SANITIZE=ON -DKIV_BUILD_GUI="$GUI" -DKIV_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2
