#!/usr/bin/env bash
# Runs a Windows program of the build under wine, in the build tree's own
# prefix, with wine's debug output off. The test command prepares the prefix
# and keeps a wineserver running; see scripts/test.sh.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
QUENFAR8_BUILD_DIR="${QUENFAR8_BUILD_DIR:-$here/../build}"
outer_prefix="${WINEPREFIX:-}"
. "$here/../scripts/wine-env.sh"
if [ -n "$outer_prefix" ]; then export WINEPREFIX="$outer_prefix"; fi
exec wine "$@"
