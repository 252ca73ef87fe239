#!/usr/bin/env bash
# The demo, a publisher's whole path: installs what is missing, builds,
# packs two releases of a sample client into a feed with the release tool
# (the second with patches from the first), checks the feed, serves it with
# nginx over HTTPS, brings an older client up to date with the real updater
# in its window on a virtual display, and shows the log, what changed, the
# bytes fetched and a picture of the finished window. A second run then
# finds the client current and replaces nothing.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export QUENFAR8_BUILD_DIR="${QUENFAR8_BUILD_DIR:-$root/build}"
"$root/scripts/build.sh"
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$root/scripts/demo-run.sh"
