#!/usr/bin/env bash
# Benchmark: an update run over a current client of about 1 GiB in 100
# files, from a package folder, against one bare hashing pass over the same
# files (bench/hash_pass.cpp) and sha256sum. A run reads every file three
# times (check, re-check, final verification), so its floor is three bare
# passes. Also compares the peak memory of a run over 1 file and over 100.
#   bench/run.sh [files] [MiB per file]      (defaults: 100 and 10)
# QUENFAR8_BENCH_REPEAT=n times each measurement n times and keeps the best.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# On a machine that runs no 32-bit code this measures the 64-bit twin
# (scripts/build-trees.sh says so first).
. "$root/scripts/build-trees.sh"
build_trees_for_this_machine
cmake --build "$QUENFAR8_BUILD_DIR" --target hash_pass >/dev/null
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$root/bench/measure.sh" "${1:-100}" "${2:-10}"
