#!/usr/bin/env bash
# Runs CTest on a display that scripts/test.sh has set up.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/wine-env.sh"
prepare_wine_prefix
start_wineserver
trap stop_wineserver EXIT
ctest --test-dir "$QUENFAR8_BUILD_DIR" --output-on-failure -j2 "$@"
