#!/usr/bin/env bash
# The long run of the INI reader's differential check: the native release
# tool and the Windows one (under wine) judge thousands of the suite's
# hostile manifests, which must come out the same, seed by seed. The suite
# runs 300 of them (Native.SameVerdictsAsWindows); this runs the seeds from
# <first> on, split over two processes, and prints each half's tally and
# every seed judged differently.
#   bench/differential-ini.sh [count [first seed]]   (default 5000 from 0)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
count=${1:-5000} first=${2:-0}
. "$root/scripts/build-trees.sh"
build_trees_for_this_machine
native=$QUENFAR8_NATIVE_BUILD_DIR
half=$(( count / 2 ))
rc=0
"$root/tests/native/differential_ini_test.sh" "$native/quenfar8-release" "$native/tools" "$native/differential-1" \
  "$QUENFAR8_BUILD_DIR" "$root/scripts" "$first" "$half" > "$native/differential-1.log" 2>&1 &
one=$!
"$root/tests/native/differential_ini_test.sh" "$native/quenfar8-release" "$native/tools" "$native/differential-2" \
  "$QUENFAR8_BUILD_DIR" "$root/scripts" "$(( first + half ))" "$(( count - half ))" > "$native/differential-2.log" 2>&1 &
two=$!
wait "$one" || rc=1
wait "$two" || rc=1
cat "$native/differential-1.log" "$native/differential-2.log"
exit "$rc"
