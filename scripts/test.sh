#!/usr/bin/env bash
# Builds everything and runs every test under a virtual display. Extra
# arguments go to ctest (for example -R fetch). On a machine that runs no
# 32-bit code the tests run on the 64-bit twin (scripts/build-trees.sh).
# The native release tool's tests (build-linux/) run natively, before them.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/build-trees.sh"
build_trees_for_this_machine
# The native release tool's tests first: they need no wine and take seconds.
(cd "$QUENFAR8_NATIVE_BUILD_DIR" && ctest --output-on-failure "$@")
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$root/scripts/run-ctest.sh" "$@"
