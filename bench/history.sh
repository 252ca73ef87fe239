#!/usr/bin/env bash
# History benchmark: Quenfar8Release.exe history and prune on a feed of 50
# releases of 100 files each, packed with the real tool (each release
# changes 10 files, with patches for the release before); times with
# hyperfine, and the peak memory of both commands on that feed and on the
# same feed with 20,000 more blobs that no release names, to show that
# memory grows with the blobs only by their names. Not a test: nothing
# here is part of CTest.
#   bench/history.sh [releases] [files]      (defaults: 50 and 100)
# QUENFAR8_BENCH_REPEAT=n timed runs (default 5).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# On a machine that runs no 32-bit code this measures the 64-bit twin
# (scripts/build-trees.sh says so first).
. "$root/scripts/build-trees.sh"
build_trees_for_this_machine
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$root/bench/history_measure.sh" "${1:-50}" "${2:-100}"
