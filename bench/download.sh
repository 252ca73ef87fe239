#!/usr/bin/env bash
# Download benchmark: an update run that fetches whole files of about
# 500 MiB in all from nginx over HTTPS into an empty install folder, against
# a bare WinHTTP loop over the same files with the same chunk size
# (bench/download_loop.cpp), the updater's own fetcher alone
# (bench/fetch_pass.cpp), one bare hashing pass (bench/hash_pass.cpp), and
# curl. Not a test: nothing here is part of CTest.
#   bench/download.sh [files] [MiB per file]      (defaults: 5 and 100)
# QUENFAR8_BENCH_REPEAT=n times each measurement n times (default 5) and
# reports the median.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# On a machine that runs no 32-bit code this measures the 64-bit twin
# (scripts/build-trees.sh says so first).
. "$root/scripts/build-trees.sh"
build_trees_for_this_machine
cmake --build "$QUENFAR8_BUILD_DIR" --target hash_pass download_loop fetch_pass >/dev/null
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$root/bench/download_measure.sh" "${1:-5}" "${2:-100}"
