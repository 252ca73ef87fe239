#!/usr/bin/env bash
# Runs CTest on a display that scripts/test.sh has set up.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/wine-env.sh"
enter_wine_session
ctest --test-dir "$QUENFAR8_BUILD_DIR" --output-on-failure -j2 "$@"
