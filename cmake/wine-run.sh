#!/usr/bin/env bash
# Runs a Windows program of the build under wine, in the build tree's own
# prefix, with wine's debug output off. The test command prepares the prefix
# and keeps a wineserver running; see scripts/test.sh.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${WINEPREFIX:=${QUENFAR8_BUILD_DIR:-$here/../build}/wineprefix}"
export WINEPREFIX
export WINEARCH=win32
export WINEDEBUG=-all
exec wine "$@"
