#!/usr/bin/env bash
# Pack benchmark: Quenfar8Release.exe pack of a client of about 1 GiB in 100
# files into an empty feed folder, against one bare hashing pass over the
# same files (bench/hash_pass.cpp) plus one bare copy of them
# (bench/copy_pass.cpp), timed with hyperfine (medians of each). Pack reads each
# file once, hashing and copying it in the same pass; the goal is within
# 1.3 times the baseline. Not a test: nothing here is part of CTest.
#   bench/pack.sh [files] [MiB per file]      (defaults: 100 and 10)
# QUENFAR8_BENCH_REPEAT=n pairs (default 3).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# On a machine that runs no 32-bit code this measures the 64-bit twin
# (scripts/build-trees.sh says so first).
. "$root/scripts/build-trees.sh"
build_trees_for_this_machine
cmake --build "$QUENFAR8_BUILD_DIR" --target hash_pass copy_pass >/dev/null
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$root/bench/pack_measure.sh" "${1:-100}" "${2:-10}"
