#!/usr/bin/env bash
# The download benchmark's measurements, on a display that bench/download.sh
# set up. Starts its own throwaway test authority (trusted in the build
# tree's wine prefix, as the tests do) and its own nginx with the shipped
# site configuration, in build/bench/download; stops them at the end.
set -euo pipefail
# nginx lies in /usr/sbin, which a user other than root may not have on PATH.
export PATH="$PATH:/usr/sbin:/sbin"
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/wine-env.sh"
enter_wine_session

files=$1
mib=$2
repeat=${QUENFAR8_BENCH_REPEAT:-5}
build=$QUENFAR8_BUILD_DIR
work=$build/bench/download
run_wine() { "$root/cmake/wine-run.sh" "$@"; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

stop_servers() {
  "$root/tests/nginx/stop.sh" "$work/nginx"
  "$root/tests/https/stop.sh" "$work/https"
  stop_wineserver
}
trap stop_servers EXIT
"$root/tests/https/start.sh" "$work/https" "$build/tools/trust_ca.exe" >/dev/null
"$root/tests/nginx/start.sh" "$work/nginx" "$work/https" "$root/deploy/nginx/quenfar8-feed.conf"
port=$(cat "$work/nginx/port")
ca=$work/https/pki/ca.pem
feed_dir=$work/nginx/www/feed
feed_url=https://localhost:$port/feed/

# The release: <files> files of <mib> MiB named by their digest, as the
# release tool names them, and a stand-in game. The random files are kept
# between benchmark runs; nginx's root is made afresh, with links to them.
echo "preparing ${files} files of ${mib} MiB ..."
mkdir -p "$work/blobs" "$feed_dir/files"
paths=()
{
  printf '[release]\r\nformat=1\r\ncount=%d\r\nlaunch=Quenfar8.exe\r\n' $((files + 1))
  printf 'stand-in game' > "$work/blobs/game"
  game_sum=$(sha256sum "$work/blobs/game" | cut -c1-64)
  ln -f "$work/blobs/game" "$feed_dir/files/$game_sum"
  printf '[file.0]\r\nname=Quenfar8.exe\r\nsha256=%s\r\nsize=13\r\nfull=files/%s\r\npatches=0\r\n' "$game_sum" "$game_sum"
  for i in $(seq 0 $((files - 1))); do
    blob=$work/blobs/$i
    if [ ! -f "$blob" ] || [ "$(stat -c %s "$blob")" -ne $((mib * 1048576)) ]; then
      head -c $((mib * 1048576)) /dev/urandom > "$blob"
    fi
    sum=$(sha256sum "$blob" | cut -c1-64)
    ln -f "$blob" "$feed_dir/files/$sum"
    paths+=("files/$sum")
    printf '[file.%d]\r\nname=data-%03d.pak\r\nsha256=%s\r\nsize=%d\r\nfull=files/%s\r\npatches=0\r\n' \
      $((i + 1)) "$i" "$sum" $((mib * 1048576)) "$sum"
  done
} > "$feed_dir/manifest.ini"
cat "$feed_dir/files"/* > /dev/null  # nginx serves from a warm page cache

# seconds <prepare command> <command...>: the wall time of one run of the
# command, after the prepare command (untimed).
seconds() {
  local prepare=$1 start end
  shift
  $prepare
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { printf '%s\n' "$@" | sort -g | awk '{ t[NR] = $1 } END { printf "%.2f", (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'; }

out=$work/out
install=$work/install
fresh_out() { rm -rf "$out"; mkdir -p "$out"; }
# An install folder with only the updater (the release build) and its INI.
fresh_install() {
  rm -rf "$install"
  mkdir -p "$install"
  cp "$build/Quenfar8Updater.exe" "$install/"
  printf '[updater]\r\nfeed=%s\r\n' "$feed_url" > "$install/Quenfar8Updater.ini"
}
update() {
  run_wine "$install/Quenfar8Updater.exe" /quiet
}
curl_all() {
  local args=() i=0 p
  for p in "${paths[@]}"; do args+=(-o "$out/$i.bin" "$feed_url$p"); i=$((i + 1)); done
  curl -sS --fail --cacert "$ca" "${args[@]}"
}

# Each program once, checked, before anything is timed.
fresh_install
update || { echo "the update run failed; see $install/.quenfar8-update"; exit 1; }
for i in $(seq 0 $((files - 1))); do
  cmp -s "$work/blobs/$i" "$install/$(printf 'data-%03d.pak' "$i")" || { echo "data-$i differs"; exit 1; }
done
fresh_out; run_wine "$build/bench/download_loop.exe" "$feed_url" "$(winpath "$out")" "${paths[@]}" >/dev/null
fresh_out; run_wine "$build/bench/fetch_pass.exe" "$feed_url" "$(winpath "$out")" $((mib * 1048576)) "${paths[@]}" >/dev/null
fresh_out; curl_all
# The hashing pass reads the files that the update run installed.
rm -rf "$work/hashed"
mkdir -p "$work/hashed"
mv "$install"/data-*.pak "$work/hashed/"

# The measurements take turns, round after round, so that a change in the
# machine's load during the benchmark touches them all alike.
bare=() fetcher=() run=() hash=() curl_s=()
for i in $(seq 1 "$repeat"); do
  bare+=("$(seconds fresh_out run_wine "$build/bench/download_loop.exe" "$feed_url" "$(winpath "$out")" "${paths[@]}")")
  fetcher+=("$(seconds fresh_out run_wine "$build/bench/fetch_pass.exe" "$feed_url" "$(winpath "$out")" \
    $((mib * 1048576)) "${paths[@]}")")
  run+=("$(seconds fresh_install update)")
  hash+=("$(seconds true run_wine "$build/bench/hash_pass.exe" "$(winpath "$work/hashed")")")
  curl_s+=("$(seconds fresh_out curl_all)")
done
bare=$(median "${bare[@]}")
fetcher=$(median "${fetcher[@]}")
run=$(median "${run[@]}")
hash=$(median "${hash[@]}")
curl_s=$(median "${curl_s[@]}")
rm -rf "$out" "$install" "$work/hashed"

total=$((files * mib))
# line <label> <seconds> [<seconds of the bare loop>]
line() {
  printf '%-52s %6.2f s %7.1f MiB/s' "$1" "$2" "$(echo "$total / $2" | bc -l)"
  [ $# -lt 3 ] || printf '  %.3f of the bare loop' "$(echo "$3 / $2" | bc -l)"
  echo
}
echo
echo "feed: ${files} files of ${mib} MiB (${total} MiB) from nginx over HTTPS on loopback; median of ${repeat} runs"
line "bare WinHTTP loop (download, write, flush)" "$bare"
line "the updater's fetcher alone (the same, its checks)" "$fetcher" "$bare"
line "update run into an empty install folder" "$run" "$bare"
line "one hashing pass over the same files" "$hash"
line "curl (one connection, no flush)" "$curl_s"
# The run's floor: its download, as the fetcher alone does it, and its four
# hashing passes over each new file (download check, final-file check, the
# re-check of the staged file before the commit, final verification).
floor=$(echo "$fetcher + 4 * $hash" | bc -l)
printf '%-52s %6.2f s  update run / floor: %.3f\n' "floor: the fetcher alone + 4 hashing passes" "$floor" \
  "$(echo "$run / $floor" | bc -l)"
