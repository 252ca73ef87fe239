#!/usr/bin/env bash
# Builds everything and runs every test under a virtual display. Extra
# arguments go to ctest (for example -R fetch). On a machine that runs no
# 32-bit code the tests run on the 64-bit twin (scripts/build-trees.sh).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/build-trees.sh"
build_trees_for_this_machine
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$root/scripts/run-ctest.sh" "$@"
