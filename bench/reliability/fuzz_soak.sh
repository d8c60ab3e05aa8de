#!/usr/bin/env bash
# The fuzzing soak: the collection reader and validation pass fuzzed for at
# least 10 million inputs (CI fuzzes for 60 seconds). Prints the inputs run,
# the time taken and the peak memory; fails on any crash, leak, undefined
# behaviour or broken invariant, leaving the input in build-fuzz/artifacts/.
#   bench/reliability/fuzz_soak.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/../.."
started=$SECONDS
FUZZ_RUNS=${1:-10000000} FUZZ_SECONDS=${FUZZ_SECONDS:-86400} nice -n 10 scripts/fuzz.sh
echo "fuzzing soak: $((SECONDS - started)) s in all"
