#!/usr/bin/env bash
# The large-file check benchmark's measurements, on a display that
# bench/check_large.sh set up. Starts its own throwaway test authority
# (tests/https) and its own nginx with the shipped site configuration, in
# build/bench/check-large; stops them at the end. Exit code 1 when check
# does not behave as it must.
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin"
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/wine-env.sh"
enter_wine_session

large_mib=$1
build=$QUENFAR8_BUILD_DIR
work=$build/bench/check-large
wine_run="$root/cmake/wine-run.sh"

stop_servers() {
  "$root/tests/nginx/stop.sh" "$work/nginx"
  "$root/tests/https/stop.sh" "$work/https"
  stop_wineserver
}
trap stop_servers EXIT
"$root/tests/https/start.sh" "$work/https" "$build/tools/trust_ca.exe" >/dev/null
"$root/tests/nginx/start.sh" "$work/nginx" "$work/https" "$root/deploy/nginx/quenfar8-feed.conf"
nginx_port=$(cat "$work/nginx/port")
mkdir -p "$work/blobs"

# The large file, kept between benchmark runs; small ones of 70 bytes to
# 64 KiB after it.
large=$work/blobs/large
if [ ! -f "$large" ] || [ "$(stat -c %s "$large")" -ne $((large_mib * 1048576)) ]; then
  head -c $((large_mib * 1048576)) /dev/urandom > "$large"
fi
printf 'stand-in game' > "$work/blobs/game"
smalls=()
for size in 70 1000 65536 4096 70; do
  small=$work/blobs/small-${#smalls[@]}
  head -c "$size" /dev/urandom > "$small"
  smalls+=("$small")
done

# The feed: data-001.pak the large file, data-002.pak on the small ones,
# Quenfar8.exe last; each under files/<sha256>, linked, not copied.
dir=$work/nginx/www/large
rm -rf "$dir"
mkdir -p "$dir/files"
add() {  # add <n> <name> <file>
  local sum
  sum=$(sha256sum "$3" | cut -c1-64)
  ln -f "$3" "$dir/files/$sum"
  printf '[file.%d]\r\nname=%s\r\nsha256=%s\r\nsize=%d\r\nfull=files/%s\r\npatches=0\r\n' \
    "$1" "$2" "$sum" "$(stat -c %s "$3")" "$sum"
}
{
  printf '[release]\r\nformat=1\r\ncount=%d\r\nlaunch=Quenfar8.exe\r\n' $((${#smalls[@]} + 2))
  add 0 data-001.pak "$large"
  n=1
  for small in "${smalls[@]}"; do
    add "$n" "data-$(printf %03d $((n + 1))).pak" "$small"
    n=$((n + 1))
  done
  add "$n" Quenfar8.exe "$work/blobs/game"
} > "$dir/manifest.ini"
cat "$dir/files"/* > /dev/null

# nginx_lines <path>: "<status> <body bytes>" of each request for the path,
# oldest first.
nginx_lines() { awk -v p="$1" '$2 == p { print $3, $4 }' "$work/nginx/access.log"; }

echo "== check over HTTPS of a ${large_mib} MiB file, then ${#smalls[@]} small files and the game (nginx)"
: > "$work/nginx/access.log"
start=$(date +%s.%N)
set +e
"$wine_run" "$build/Quenfar8Release.exe" check "https://localhost:$nginx_port/large/" > "$work/check.out" 2>&1
code=$?
set -e
end=$(date +%s.%N)
cat "$work/check.out"
echo "exit code $code after $(echo "$end - $start" | bc -l | cut -c1-7) s"
sleep 1  # nginx writes its log line once the answer has gone
failed=0
[ "$code" = 0 ] || { echo "FAILED: exit code $code, not 0"; failed=1; }
if grep -q '^problem: ' "$work/check.out"; then echo "FAILED: check reports a problem"; failed=1; fi
large_sum=$(sha256sum "$large" | cut -c1-64)
if ! grep -q "^note: files/$large_sum .*default updater cannot fetch.*network=resilient" "$work/check.out"; then
  echo "FAILED: no note on the large file"
  failed=1
fi
echo "requests for the large file (status, body bytes):"
nginx_lines "/large/files/$large_sum" | sed 's/^/  /'
sent=$(nginx_lines "/large/files/$large_sum" | awk '{ s += $2 } END { printf "%.0f", s }')
over=$(nginx_lines "/large/files/$large_sum" | awk '$2 >= 2147483647' | wc -l)
echo "bytes sent for it: $sent of $(stat -c %s "$large"); bodies of 2 GiB or more: $over"
[ "$over" = 0 ] || { echo "FAILED: a body reached 2 GiB"; failed=1; }
for small in "${smalls[@]}" "$work/blobs/game"; do
  sum=$(sha256sum "$small" | cut -c1-64)
  asks=$(nginx_lines "/large/files/$sum" | wc -l)
  echo "$(basename "$small") ($(stat -c %s "$small") bytes): $asks request(s): $(nginx_lines "/large/files/$sum" | tr '\n' ' ')"
  [ "$asks" = 1 ] || { echo "FAILED: not exactly one request"; failed=1; }
done
exit "$failed"
