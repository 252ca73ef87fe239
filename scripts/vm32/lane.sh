#!/usr/bin/env bash
# The shipped 32-bit build's lane: runs the tests labelled shipped32 of the
# 32-bit build tree (QUENFAR8_BUILD_DIR, default build/) with CTest inside
# the emulated machine that runs 32-bit code (scripts/vm32/run.sh), with
# the tests' deadlines and time limits stretched by
# QUENFAR8_TEST_TIME_FACTOR (default 8) for its speed. Extra arguments go
# to ctest. The results land in <tree>/Testing/shipped32-junit.xml.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export QUENFAR8_BUILD_DIR="${QUENFAR8_BUILD_DIR:-$root/build}"
export QUENFAR8_TEST_TIME_FACTOR="${QUENFAR8_TEST_TIME_FACTOR:-8}"
# One death point in five of the run from a package: a share of them.
export QUENFAR8_ROBUST_PACKAGE_STRIDE="${QUENFAR8_ROBUST_PACKAGE_STRIDE:-5}"
# Every 80th of the hostile manifests' fixed seeds: 2 of each batch's 160.
export QUENFAR8_HOSTILE_SEED_STRIDE="${QUENFAR8_HOSTILE_SEED_STRIDE:-80}"
# The whole lane, boot included, stays within its budget.
export QUENFAR8_VM32_TIMEOUT="${QUENFAR8_VM32_TIMEOUT:-1500}"
junit="$QUENFAR8_BUILD_DIR/Testing/shipped32-junit.xml"
mkdir -p "$(dirname "$junit")"
rm -f "$junit"
cd "$root"
exec "$root/scripts/vm32/run.sh" "$root/scripts/run-ctest.sh" -L shipped32 --output-junit "$junit" "$@"
