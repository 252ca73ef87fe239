#!/usr/bin/env bash
# The demo's steps on a display that scripts/demo.sh has set up.
#   demo-run.sh [--object-store]
set -euo pipefail
object_store=0
[ "${1:-}" != --object-store ] || object_store=1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/wine-env.sh"
enter_wine_session

build=$QUENFAR8_BUILD_DIR
demo=$build/demo
releases=$demo/releases
feed=$demo/feed
install=$demo/install
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
digest() { sha256sum "$1" | cut -c1-64; }
size() { stat -c %s "$1"; }
# The publisher's side runs natively: quenfar8-release, the release tool
# built for Linux from the same sources as Quenfar8Release.exe.
native=${QUENFAR8_NATIVE_BUILD_DIR:-$root/build-linux}
release_tool() { "$native/quenfar8-release" "$@"; }
step() { printf '\n=== %s\n' "$*"; }
indent() { sed 's/\r$//; s/^/    /'; }

stop_servers() {
  "$root/tests/nginx/stop.sh" "$demo/nginx"
  "$root/tests/nginx/stop.sh" "$demo/s3-front"
  "$root/tests/ceph/stop.sh" "$demo/ceph"
  "$root/tests/https/stop.sh" "$demo/https"
  stop_wineserver
}
trap stop_servers EXIT
# Servers an interrupted demo left running; the wine session stays.
"$root/tests/nginx/stop.sh" "$demo/nginx" >/dev/null 2>&1 || true
"$root/tests/nginx/stop.sh" "$demo/s3-front" >/dev/null 2>&1 || true
"$root/tests/ceph/stop.sh" "$demo/ceph" >/dev/null 2>&1 || true
"$root/tests/https/stop.sh" "$demo/https" >/dev/null 2>&1 || true
rm -rf "$demo"
mkdir -p "$releases/1.0" "$releases/1.1"

# Two releases of a sample client. 1.1 keeps the game, rewrites the readme,
# changes the data file in a few places and adds a music track.
cp "$build/tools/Quenfar8.exe" "$releases/1.0/Quenfar8.exe"
printf 'Quenfar8 release 1.0\r\n' > "$releases/1.0/readme.txt"
head -c 3000000 /dev/urandom > "$releases/1.0/data.pak"
cp "$releases/1.0/Quenfar8.exe" "$releases/1.0/data.pak" "$releases/1.1/"
printf 'Quenfar8 release 1.1\r\nNew: a music track.\r\n' > "$releases/1.1/readme.txt"
printf 'LEVEL-1.1' | dd of="$releases/1.1/data.pak" bs=1 seek=1500000 conv=notrunc status=none
head -c 200000 /dev/urandom > "$releases/1.1/music.ogg"

# The project's own stand-ins for HDiffPatch's hdiffz and hpatchz: the same
# command lines, a patch format of their own, built natively for the
# release tool and for Windows for the client. The demo's client runs the
# test build of the updater, which accepts that hpatchz.exe; the released
# build accepts only the distributed one.
differ=$native/tools/make_patch
patcher=$native/tools/hpatchz

# With --object-store: a throwaway Ceph cluster with its S3 gateway, and
# nginx as the bucket's HTTPS front, on loopback, before anything is packed,
# so that each release is published as soon as it is packed.
if [ "$object_store" = 1 ]; then
  "$root/tests/https/start.sh" "$demo/https" "$build/tools/trust_ca.exe" >/dev/null
  step "start a throwaway Ceph cluster (one monitor, one OSD in memory, the S3 gateway)"
  "$root/tests/ceph/start.sh" "$demo/ceph" | indent
  "$root/tests/ceph/front.sh" "$demo/s3-front" "$demo/ceph" "$demo/https" "$root/deploy/nginx/quenfar8-s3-front.conf"
  target=s3://$(cat "$demo/ceph/bucket")/live/
fi
# publish <release>: with --object-store, publishes the feed folder into the
# bucket with the publishers' script.
publish() {
  [ "$object_store" = 1 ] || return 0
  step "publish release $1 to $target with deploy/s3/publish.sh"
  (. "$demo/ceph/env" && "$root/deploy/s3/publish.sh" "$feed" "$target" --endpoint-url "$(cat "$demo/ceph/endpoint")") |
    indent
}

step "pack release 1.0 into the feed folder"
release_tool pack "$releases/1.0" "$feed" --version 1.0 | indent
publish 1.0
step "pack release 1.1, with patches for clients of 1.0"
release_tool pack "$releases/1.1" "$feed" --version 1.1 \
  --from "$releases/1.0" --diff-tool "$differ" --patch-tool "$patcher" | indent
publish 1.1
step "the feed folder"
(cd "$feed" && find . -type f | sort | sed 's|^\./||' | while read -r f; do printf '%10s  %s\n' "$(size "$f")" "$f"; done) | indent
step "check the feed folder, with the plan for a 1.0 client"
release_tool check "$feed" --client "$releases/1.0" --patch-tool "$patcher" | indent

if [ "$object_store" = 1 ]; then
  # The front answers for the bucket; its access log counts the bytes.
  server=$demo/s3-front
  url=https://localhost:$(cat "$server/port")/live/
  step "check it in the bucket, through the nginx front at $url"
else
  # nginx over HTTPS on loopback, with the site configuration publishers
  # get and a throwaway test authority trusted in the demo's wine prefix
  # only.
  "$root/tests/https/start.sh" "$demo/https" "$build/tools/trust_ca.exe" >/dev/null
  "$root/tests/nginx/start.sh" "$demo/nginx" "$demo/https" "$root/deploy/nginx/quenfar8-feed.conf"
  cp -r "$feed" "$demo/nginx/www/live"
  server=$demo/nginx
  url=https://localhost:$(cat "$server/port")/live/
  step "serve it with nginx at $url and check it there"
fi
# The test authority is trusted in the demo's wine prefix, and named to the
# native tool with --ca-file.
release_tool check "$url" --ca-file "$demo/https/pki/ca.pem" | indent

# The player's older client, release 1.0, with the updater pointing at it.
mkdir -p "$install"
cp "$releases/1.0"/* "$install/"
cp "$build/test-build/Quenfar8Updater.exe" "$build/tools/hpatchz.exe" "$install/"
printf '[updater]\r\nfeed=%s\r\n' "$url" > "$install/Quenfar8Updater.ini"

listing() { (cd "$install" && for f in $(ls | sort); do printf '%s  %10s  %s\n' "$(digest "$f" | cut -c1-16)" "$(size "$f")" "$f"; done); }
# bytes_served <from line>: body bytes nginx logged from that access-log line on.
bytes_served() { tail -n +"$1" "$server/access.log" | awk '{ n += $4 } END { printf "%.0f\n", n }'; }

# run <label> [<release folder>]: runs the updater with its window,
# pictures the finished window and closes it the way a player would.
run() {
  local label=$1 release=${2:-$releases/1.1} before after picture=$demo/window-$1 log_from
  before=$(listing)
  log_from=$(($(wc -l < "$server/access.log") + 1))
  (cd "$install" && "$root/cmake/wine-run.sh" "$install/Quenfar8Updater.exe") &
  local updater=$!
  local status
  status=$("$root/cmake/wine-run.sh" "$build/tools/window_shot.exe" "$(winpath "$picture.bmp")" 120)
  local code=0
  wait "$updater" || code=$?
  convert "$picture.bmp" "$picture.png" && rm -f "$picture.bmp"
  after=$(listing)
  local run_folder
  # Run folders only: not the partial store, nor one whose removal began.
  run_folder=$(ls -d "$install/.quenfar8-update"/[0-9]*[0-9]/ | sort | tail -n 1)
  step "$label run of the updater"
  echo "updater.log ($run_folder):"
  indent < "$run_folder/updater.log"
  echo "status line when the window was closed: $status"
  echo "exit code: $code"
  echo "install folder (sha256 prefix, size, name) before -> after:"
  diff <(echo "$before") <(echo "$after") | sed -n 's/^</    before: /p; s/^>/    after:  /p' || true
  [ "$before" = "$after" ] && echo "    nothing changed"
  echo "backups kept: $(ls "$run_folder/backup" | tr '\n' ' ')"
  echo "left in new\\: $(ls "$run_folder/new" | wc -l) files"
  sleep 1  # nginx writes a request's log line once the connection is done with it
  local whole
  whole=$(cat "$release"/* | wc -c)
  echo "fetched from nginx: $(bytes_served "$log_from") bytes, manifest included; the whole release is $whole bytes"
  echo "picture of the finished window: $picture.png"
}

run first
run second

# Release 1.2 adds a large file, and the client gets the options publishers
# ship (network=resilient, keep_runs=3, progress=bytes). Its download is
# interrupted at about 90%, as a player closing the machine would; the next
# start fetches only the rest.
mkdir -p "$releases/1.2"
cp "$releases/1.1"/* "$releases/1.2/"
head -c $((96 * 1048576)) /dev/urandom > "$releases/1.2/movie.pak"
step "pack release 1.2, which adds a 96 MiB file, and serve it"
release_tool pack "$releases/1.2" "$feed" --version 1.2 \
  --from "$releases/1.1" --diff-tool "$differ" --patch-tool "$patcher" | indent
if [ "$object_store" = 1 ]; then
  publish 1.2
else
  rm -rf "$demo/nginx/www/live"
  cp -r "$feed" "$demo/nginx/www/live"
fi
printf '[updater]\r\nfeed=%s\r\nnetwork=resilient\r\nkeep_runs=3\r\nprogress=bytes\r\n' "$url" \
  > "$install/Quenfar8Updater.ini"
echo "Quenfar8Updater.ini:"
indent < "$install/Quenfar8Updater.ini"
movie_size=$(size "$releases/1.2/movie.pak")
partial=$install/.quenfar8-update/partial/$(digest "$releases/1.2/movie.pak")
held=$(kill_when_held "$partial" $((movie_size / 10 * 9)) "$root/cmake/wine-run.sh" "$install/Quenfar8Updater.exe" /quiet)
step "interrupted: the updater was killed with $held of $movie_size bytes of movie.pak in .quenfar8-update/partial"
run resumed "$releases/1.2"
echo "(the whole of movie.pak is $movie_size bytes; the resumed start asked nginx only for the rest)"
