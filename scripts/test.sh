#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build,
# the install and the Debian package of that build (scripts/package.sh), then
# the whole project under AddressSanitizer and UndefinedBehaviorSanitizer,
# then a bounded fuzzing run of the collection reader. A private PostgreSQL
# cluster runs meanwhile, named by KIV_TEST_PG, so that every test that can
# runs on the server store too; it is stopped and removed at the end, also
# when a step fails.
#   FUZZ_SECONDS=60 (default), TEST_BUILD_DIR=build (default) for the normal build
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
started=$SECONDS

pg_dir=$(scripts/pg-cluster.sh start)
trap 'scripts/pg-cluster.sh stop "$pg_dir"' EXIT
trap 'exit 130' INT TERM
KIV_TEST_PG=$(scripts/pg-cluster.sh uri "$pg_dir")
export KIV_TEST_PG
step() {
  echo "== $1 (at $((SECONDS - started)) s) =="
}

step "build and test"
BUILD_DIR=${TEST_BUILD_DIR:-build} scripts/build.sh
ctest --test-dir "${TEST_BUILD_DIR:-build}" --output-on-failure -j2

step "install and package"
BUILD_DIR=${TEST_BUILD_DIR:-build} scripts/package.sh

step "sanitizers"
scripts/sanitize.sh

step "fuzzing"
scripts/fuzz.sh

step "all passed"
