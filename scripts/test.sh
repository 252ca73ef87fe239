#!/usr/bin/env bash
# Builds everything and runs every test under a virtual display. Extra
# arguments go to ctest (for example -R fetch).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export QUENFAR8_BUILD_DIR="${QUENFAR8_BUILD_DIR:-$root/build}"
"$root/scripts/build.sh"
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$root/scripts/run-ctest.sh" "$@"
