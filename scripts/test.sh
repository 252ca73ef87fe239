#!/usr/bin/env bash
# Builds everything and runs every test under a virtual display. Extra
# arguments go to ctest (for example -R fetch). On a machine that runs no
# 32-bit code the tests run on the 64-bit twin (scripts/build-trees.sh),
# after the native release tool's tests (build-linux/, no wine), and then
# the tests labelled shipped32 run on the shipped 32-bit build
# inside an emulated machine that runs 32-bit code (scripts/vm32/lane.sh);
# "-L shipped32" runs that lane alone, QUENFAR8_VM32=0 leaves it out. The
# summary says which build each test ran.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/build-trees.sh"
build_trees_for_this_machine
xvfb=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp")
# The native release tool's tests: they need no wine and take a few
# minutes; then the same tests of the tool built for arm64, under qemu-user
# (arm64_rc says how those went).
arm64_rc=skipped
native_tests() {
  local rc=0
  echo "The native release tool: the tests of $QUENFAR8_NATIVE_BUILD_DIR, run here without wine"
  rm -f "$QUENFAR8_NATIVE_BUILD_DIR/Testing/native-junit.xml"
  (cd "$QUENFAR8_NATIVE_BUILD_DIR" && ctest --output-on-failure --output-junit Testing/native-junit.xml "$@") || rc=1
  echo
  echo "The native release tool for arm64: the tests of $QUENFAR8_ARM64_BUILD_DIR, its program run by qemu-user"
  rm -f "$QUENFAR8_ARM64_BUILD_DIR/Testing/arm64-junit.xml"
  arm64_rc=0
  (cd "$QUENFAR8_ARM64_BUILD_DIR" && ctest --output-on-failure --output-junit Testing/arm64-junit.xml "$@") || arm64_rc=$?
  [ "$arm64_rc" = 0 ] || rc=1
  return "$rc"
}
if [ -z "${QUENFAR8_SHIPPED_BUILD_DIR:-}" ]; then
  native_tests "$@"
  exec "${xvfb[@]}" "$root/scripts/run-ctest.sh" "$@"
fi

# This machine runs no 32-bit code: the twin here, then the lane.
lane_only=0
lane_args=()
while [ $# -gt 0 ]; do
  case $1 in
    -L | --label-regex)
      if [ "${2:-}" = shipped32 ]; then lane_only=1; shift 2; continue; fi ;;
    -Lshipped32) lane_only=1; shift; continue ;;
  esac
  lane_args+=("$1")
  shift
done
twin_junit="$QUENFAR8_BUILD_DIR/Testing/twin64-junit.xml"
rm -f "$twin_junit"
twin_rc=skipped
native_rc=skipped
if [ "$lane_only" = 0 ]; then
  native_rc=0
  native_tests "${lane_args[@]}" || native_rc=$?
  twin_rc=0
  "${xvfb[@]}" "$root/scripts/run-ctest.sh" --output-junit "$twin_junit" "${lane_args[@]}" || twin_rc=$?
fi
lane_rc=skipped
if [ "${QUENFAR8_VM32:-1}" != 0 ]; then
  echo
  echo "The shipped 32-bit build: the tests labelled shipped32 of $QUENFAR8_SHIPPED_BUILD_DIR, in an emulated machine that runs 32-bit code"
  started=$(date +%s)
  lane_rc=0
  QUENFAR8_BUILD_DIR="$QUENFAR8_SHIPPED_BUILD_DIR" "$root/scripts/vm32/lane.sh" "${lane_args[@]}" || lane_rc=$?
  echo "The lane took $(($(date +%s) - started)) s."
fi
python3 "$root/scripts/test-summary.py" \
  "native release tool ($QUENFAR8_NATIVE_BUILD_DIR, no wine)" "$QUENFAR8_NATIVE_BUILD_DIR/Testing/native-junit.xml" "$native_rc" \
  "native release tool for arm64 ($QUENFAR8_ARM64_BUILD_DIR, qemu-user)" \
  "$QUENFAR8_ARM64_BUILD_DIR/Testing/arm64-junit.xml" "$arm64_rc" \
  "64-bit twin ($QUENFAR8_BUILD_DIR, wine64 here)" "$twin_junit" "$twin_rc" \
  "shipped 32-bit ($QUENFAR8_SHIPPED_BUILD_DIR, 32-bit wine in the emulated machine)" \
  "$QUENFAR8_SHIPPED_BUILD_DIR/Testing/shipped32-junit.xml" "$lane_rc"
[ "$native_rc" = 0 ] || [ "$native_rc" = skipped ] || exit 1
[ "$twin_rc" = 0 ] || [ "$twin_rc" = skipped ] || exit 1
[ "$lane_rc" = 0 ] || [ "$lane_rc" = skipped ] || exit 1
