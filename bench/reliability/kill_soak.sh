#!/usr/bin/env bash
# The kill soak: kiv2700 posts a demo school's collection file of 30,000
# lines and is killed (SIGKILL) at a random moment, 200 times. After each
# kill: integrity_check, a comparison with a clean run stopped after the same
# whole lines (built by posting only those lines), and a run of the whole
# file again, which must leave what one whole run leaves. About half an hour
# at low priority; CI runs the bounded sweeps (tests/reliability).
#   bench/reliability/kill_soak.sh [KILLS] [STUDENTS] [SEED]
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR=${SOAK_BUILD_DIR:-build-soak}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_BUILD_GUI=OFF -DKIV_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD_DIR" -j2 --target kill_soak kiv2700 >/dev/null
exec nice -n 10 "$BUILD_DIR/tests/kill_soak" --kills "${1:-200}" --students "${2:-30000}" --seed "${3:-1}"
