#!/usr/bin/env bash
# The demo: installs what is missing, builds, makes an older sample client
# and a release package, runs the real updater on it under wine with its
# window on a virtual display, and shows the log, the exit code, what
# changed and a picture of the finished window. A second run then finds the
# client current and replaces nothing.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export QUENFAR8_BUILD_DIR="${QUENFAR8_BUILD_DIR:-$root/build}"
"$root/scripts/build.sh"
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$root/scripts/demo-run.sh"
