#!/usr/bin/env bash
# check over HTTPS of a feed with a file over 2 GiB, against nginx with the
# shipped site configuration: the large file first, then small files (down
# to a 70-byte one). Quenfar8Release.exe check must report no problem, give
# the note that the default updater cannot fetch the large file under Wine,
# fetch the large file in ranges below 2 GiB (nginx's log: every request
# and its bytes) and each small file with exactly one request. Also timed.
# Not a test: nothing here is part of CTest. Needs about 5 GiB of disk.
#   bench/check_large.sh [MiB of the large file]   (default 2200: 2,306,867,200 bytes)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# On a machine that runs no 32-bit code this measures the 64-bit twin
# (scripts/build-trees.sh says so first).
. "$root/scripts/build-trees.sh"
build_trees_for_this_machine
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$root/bench/check_large_measure.sh" "${1:-2200}"
