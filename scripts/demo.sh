#!/usr/bin/env bash
# The demo, a publisher's whole path: installs what is missing, builds,
# packs two releases of a sample client into a feed with the release tool
# built for Linux (the second with patches from the first), checks the
# feed, serves it with nginx over HTTPS, brings an older client up to date
# with the real updater in its window on a virtual display, and shows the
# log, what changed, the bytes fetched and a picture of the finished window. A second run then
# finds the client current and replaces nothing.
#
#   demo.sh [--object-store]
#
# With --object-store the feed is kept in an object store instead of a
# folder: a throwaway Ceph cluster's S3 gateway on loopback, each release
# published into its bucket with deploy/s3/publish.sh (blobs first, the
# manifest last), and nginx as the bucket's HTTPS front and cache with
# deploy/nginx/quenfar8-s3-front.conf.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
case "${1:-}" in
  "" | --object-store) ;;
  *) echo "usage: demo.sh [--object-store]" >&2; exit 2 ;;
esac
# On a machine that runs no 32-bit code the demo runs the 64-bit twin
# (scripts/build-trees.sh).
. "$root/scripts/build-trees.sh"
build_trees_for_this_machine
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$root/scripts/demo-run.sh" "$@"
