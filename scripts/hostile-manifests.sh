#!/usr/bin/env bash
# The larger run of hostile manifests: builds, then tries <count> seeds of
# the manifest generator from <first> on the real updater, split over
# <processes> test processes of their own client each (one per core by
# default), and prints each process's tally and every seed that broke a
# property, with what the generator did to the manifest.
#
#   scripts/hostile-manifests.sh [count [first [processes]]]   # 5000 0 <cores>
#
# A seed reported here replays alone with
#   scripts/hostile-manifests.sh 1 <seed> 1
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export QUENFAR8_BUILD_DIR="${QUENFAR8_BUILD_DIR:-$root/build}"
count=${1:-5000}
first=${2:-0}
processes=${3:-$(nproc)}

if [ "${QUENFAR8_HOSTILE_INSIDE:-}" != 1 ]; then
  "$root/scripts/build.sh" >/dev/null
  export QUENFAR8_HOSTILE_INSIDE=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$count" "$first" "$processes"
fi

. "$root/scripts/wine-env.sh"
enter_wine_session
program="$QUENFAR8_BUILD_DIR/test-programs/hostile_manifest_tests.exe"
logs="$QUENFAR8_BUILD_DIR/hostile-manifests"
mkdir -p "$logs"
rm -f "$logs"/seeds-*.log
start=$(date +%s)
pids=()
share=$(( (count + processes - 1) / processes ))
for (( p = 0; p < processes; p++ )); do
  from=$(( first + p * share ))
  n=$(( count - p * share < share ? count - p * share : share ))
  [ "$n" -gt 0 ] || break
  QUENFAR8_HOSTILE_SEEDS="$from:$n" wine "$program" --gtest_filter='HostileManifestsLargerRun.*' \
    </dev/null >"$logs/seeds-$from.log" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do
  wait "$pid" || status=1
done
for log in "$logs"/seeds-*.log; do
  grep -E '^(seeds |  [0-9]+ x |  written |.*Failure|seed [0-9]+:|Expected|  Actual|Which is|Value of)' "$log" || true
done
echo "$count manifests from seed $first in $(( $(date +%s) - start )) s; logs in $logs"
[ "$status" -eq 0 ] && echo "every property held" || echo "SOME PROPERTY BROKE: see above"
exit "$status"
