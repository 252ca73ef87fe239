#!/usr/bin/env bash
# Resilient delivery benchmark (network=resilient), against nginx with the
# shipped site configuration and the test suite's misbehaving feed:
#   - an update of a 1 GiB whole file killed at 90%, then started again:
#     the bytes the second start fetched, against the file (goal: at most
#     0.1 of it plus 1 MiB);
#   - the same file from a feed that resets the connection every 128 MiB:
#     the run completes, and the bytes sent against the file (goal: at most
#     1.02);
#   - 127 files of 64 KiB and the game (128 files, the most a manifest may
#     name): one connection for the run against a connection per file (the
#     default mode), timed with hyperfine;
#   - the 1 GiB file, resilient against default: throughput ratio (goal: at
#     least 0.97) and peak memory;
#   - a 3 GiB whole file in resilient mode: it arrives and installs, and the
#     bytes nginx sent against the file (goal: at most 1.01).
# Not a test: nothing here is part of CTest. Needs about 10 GiB of disk.
#   bench/resilient.sh [MiB of the large file] [MiB of the huge file]   (defaults: 1024 and 3072)
# QUENFAR8_BENCH_REPEAT=n runs per hyperfine measurement (default 3).
# QUENFAR8_BENCH_STEPS="3 5" runs only those of the steps 1 to 5 above.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# On a machine that runs no 32-bit code this measures the 64-bit twin
# (scripts/build-trees.sh says so first).
. "$root/scripts/build-trees.sh"
build_trees_for_this_machine
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$root/bench/resilient_measure.sh" "${1:-1024}" "${2:-3072}"
