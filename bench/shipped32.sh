#!/usr/bin/env bash
# The shipped 32-bit updater measured inside the emulated machine that runs
# 32-bit code (scripts/vm32/), beside its 64-bit twin on this machine, as
# ratios (absolute times in the emulated machine say little: it is about
# ten times slower, and its files come over a 9p share):
#   - bench/measure.sh: a no-op update run against three bare hashing
#     passes over the same files, with <files> files of <MiB> MiB;
#   - step 4 of bench/resilient_measure.sh: a <MiB> MiB file from nginx,
#     network=resilient against the default mode (throughput, peak memory).
#   bench/shipped32.sh [files] [MiB per file] [MiB of the large file]   (defaults: 20, 10 and 256)
# QUENFAR8_BENCH_REPEAT=n as for those two (default 1 and 3). Not a test.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
files=${1:-20}
mib=${2:-10}
large_mib=${3:-256}
. "$root/scripts/build-trees.sh"
build_trees_for_this_machine
if [ -z "${QUENFAR8_SHIPPED_BUILD_DIR:-}" ]; then
  echo "This machine runs 32-bit code: bench/run.sh and bench/resilient.sh measure the shipped build here."
  exit 2
fi
twin=$QUENFAR8_BUILD_DIR
shipped=$QUENFAR8_SHIPPED_BUILD_DIR
out=$shipped/bench/shipped32
mkdir -p "$out"
cmake --build "$twin" --target hash_pass >/dev/null
cmake --build "$shipped" --target hash_pass >/dev/null

xvfb=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp")
# measure <label> <log> <command...>: runs both measurements with the
# command prefix and keeps their output in <log>.
measure() {
  local label=$1 log=$2
  shift 2
  echo "== $label"
  "$@" "$root/bench/measure.sh" "$files" "$mib" | tee "$log"
  QUENFAR8_BENCH_STEPS=4 "$@" "$root/bench/resilient_measure.sh" "$large_mib" 0 | tee -a "$log"
}
QUENFAR8_BUILD_DIR=$twin measure "64-bit twin, wine64 on this machine" "$out/twin.txt" "${xvfb[@]}"
QUENFAR8_BUILD_DIR=$shipped QUENFAR8_VM32_TIMEOUT=${QUENFAR8_VM32_TIMEOUT:-5400} \
  measure "shipped 32-bit, 32-bit wine in the emulated machine" "$out/shipped32.txt" "$root/scripts/vm32/run.sh"

# figure <log> <line's beginning>: the first number after the colon.
figure() { grep -m1 "^$2" "$1" | sed 's/^[^:]*: *//' | awk '{ print $1 }'; }
echo
echo "== side by side ($files files of $mib MiB; a $large_mib MiB file)"
printf '%-48s %12s %12s\n' "" "twin" "shipped32"
for row in "ratio run / (3 x bare pass)" "throughput resilient / default"; do
  printf '%-48s %12s %12s\n' "$row" "$(figure "$out/twin.txt" "$row")" "$(figure "$out/shipped32.txt" "$row")"
done
for row in "update run" "one bare pass" "peak memory of a run, 1 file"; do
  printf '%-48s %12s %12s\n' "$row" "$(figure "$out/twin.txt" "$row")" "$(figure "$out/shipped32.txt" "$row")"
done
printf '%-48s %12s %12s\n' "peak memory default / resilient (KiB)" \
  "$(grep -m1 '^peak memory: default' "$out/twin.txt" | awk '{ print $4 "/" $7 }')" \
  "$(grep -m1 '^peak memory: default' "$out/shipped32.txt" | awk '{ print $4 "/" $7 }')"
