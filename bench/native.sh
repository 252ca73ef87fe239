#!/usr/bin/env bash
# The native release tool (build-linux/quenfar8-release) at the build
# machine's speed. Not a test: nothing here is part of CTest.
#   1. pack of a client of <files> files of <MiB> MiB into an empty feed,
#      against sha256sum of the same files plus cp of them (goal: within
#      1.15 times), and against Quenfar8Release.exe pack under wine;
#   2. check over HTTPS, from nginx with the project's feed site, of a feed
#      with one file of <large> MB and 100 small files, against curl
#      fetching the same files over one connection to /dev/null (goal: at
#      least 0.8 times curl's throughput), and against Quenfar8Release.exe
#      check under wine;
#   3. the peak memory of each (goal: at most 64 MiB).
#   bench/native.sh [files [MiB per file [large MB]]]   (defaults: 100 20 2200)
# QUENFAR8_BENCH_REPEAT=n runs of each (default 3). Needs about 12 GB of
# disk with the defaults.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The wine session's desktop needs a display: the whole run gets one.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$@"
fi
files=${1:-100} mib=${2:-20} large_mb=${3:-2200}
repeat=${QUENFAR8_BENCH_REPEAT:-3}
. "$root/scripts/build-trees.sh"
build_trees_for_this_machine
native=$QUENFAR8_NATIVE_BUILD_DIR
tool=$native/quenfar8-release
bench=$native/bench/native
mkdir -p "$bench"
. "$root/scripts/wine-env.sh"
enter_wine_session
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
# median_of <json> <index>: the median wall time of one command of a
# hyperfine export, in seconds.
median_of() {
  python3 -c 'import json,sys; print("%.3f" % json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]["median"])' "$1" "$2"
}
ratio() { python3 -c 'import sys; print("%.3f" % (float(sys.argv[1]) / float(sys.argv[2])))' "$1" "$2"; }
# peak_mib <command...>: the command's largest resident set, in MiB.
peak_mib() {
  /usr/bin/time -f %M -o "$bench/time.out" "$@" >/dev/null 2>&1
  python3 -c 'import sys; print("%.1f" % (int(open(sys.argv[1]).read().split()[-1]) / 1024))' "$bench/time.out"
}

client=$bench/client
echo "preparing a client of $files files of $mib MiB ..."
mkdir -p "$client"
printf 'MZ stand-in game' > "$client/Quenfar8.exe"
for i in $(seq 0 $((files - 1))); do
  name=$(printf '%s/file-%03d.bin' "$client" "$i")
  if [ ! -f "$name" ] || [ "$(stat -c %s "$name")" -ne $((mib * 1048576)) ]; then
    head -c $((mib * 1048576)) /dev/urandom > "$name"
  fi
done
cat "$client"/* > /dev/null  # every side starts from a warm cache

echo
echo "1. pack into an empty feed (native), sha256sum and cp of the same files, and pack under wine:"
hyperfine --runs "$repeat" --warmup 1 --export-json "$bench/pack.json" \
  -n native "rm -rf '$bench/feed' && '$tool' pack '$client' '$bench/feed'" \
  -n "sha256sum + cp" "rm -rf '$bench/copy' && sha256sum '$client'/* && cp -r '$client' '$bench/copy'" \
  -n wine "rm -rf '$bench/wine-feed' && wine '$QUENFAR8_BUILD_DIR/Quenfar8Release.exe' pack '$(winpath "$client")' '$(winpath "$bench/wine-feed")'"
pack_s=$(median_of "$bench/pack.json" 0)
base_s=$(median_of "$bench/pack.json" 1)
wine_s=$(median_of "$bench/pack.json" 2)
echo "medians: native ${pack_s} s, sha256sum + cp ${base_s} s, under wine ${wine_s} s"
echo "native / (sha256sum + cp) $(ratio "$pack_s" "$base_s") (goal at most 1.15); wine / native $(ratio "$wine_s" "$pack_s")"
rm -rf "$bench/feed"
pack_peak=$(peak_mib "$tool" pack "$client" "$bench/feed")
rm -rf "$bench/feed" "$bench/copy" "$bench/wine-feed"

echo
echo "2. check over HTTPS: one file of $large_mb MB and 100 small files, from nginx"
served=$bench/served
rm -rf "$served"
mkdir -p "$served"
printf 'MZ stand-in game' > "$served/Quenfar8.exe"
truncate -s "$((large_mb * 1000000))" "$served/large.pak"
printf 'end' | dd of="$served/large.pak" bs=1 seek=$((large_mb * 1000000 - 3)) conv=notrunc status=none
for i in $(seq 0 99); do head -c $((4096 + i * 997)) /dev/urandom > "$(printf '%s/small-%03d.dat' "$served" "$i")"; done
stop_servers() {
  "$root/tests/nginx/stop.sh" "$bench/nginx" >/dev/null 2>&1 || true
  "$root/tests/https/stop.sh" "$bench/https" >/dev/null 2>&1 || true
  stop_wineserver
}
trap stop_servers EXIT
# The test authority is trusted in the wine prefix too, for the Windows
# program's check.
"$root/tests/https/start.sh" "$bench/https" "$QUENFAR8_BUILD_DIR/tools/trust_ca.exe" >/dev/null
"$root/tests/nginx/start.sh" "$bench/nginx" "$bench/https" "$root/deploy/nginx/quenfar8-feed.conf"
ca=$bench/https/pki/ca.pem
url=https://localhost:$(cat "$bench/nginx/port")/feed/
"$tool" pack "$served" "$bench/nginx/www/feed" >/dev/null
# curl's side: every blob the manifest names, in one command (one
# connection), to /dev/null.
: > "$bench/curl.cfg"
for blob in "$bench/nginx/www/feed/files"/*; do
  printf 'url = "%sfiles/%s"\noutput = "/dev/null"\n' "$url" "$(basename "$blob")" >> "$bench/curl.cfg"
done
bytes=$(du -b --apparent-size -s "$bench/nginx/www/feed/files" | cut -f1)
hyperfine --runs "$repeat" --warmup 1 --export-json "$bench/check.json" \
  -n check "'$tool' check '$url' --ca-file '$ca'" \
  -n curl "curl -sS --fail --cacert '$ca' -K '$bench/curl.cfg'" \
  -n wine "wine '$QUENFAR8_BUILD_DIR/Quenfar8Release.exe' check '$url'"
check_s=$(median_of "$bench/check.json" 0)
curl_s=$(median_of "$bench/check.json" 1)
wine_check_s=$(median_of "$bench/check.json" 2)
echo "medians: check ${check_s} s, curl ${curl_s} s, check under wine ${wine_check_s} s, for $bytes bytes"
echo "check's throughput / curl's $(ratio "$curl_s" "$check_s") (goal at least 0.8); wine / native $(ratio "$wine_check_s" "$check_s")"
check_peak=$(peak_mib "$tool" check "$url" --ca-file "$ca")

echo
echo "3. peak memory: pack $pack_peak MiB, check over HTTPS $check_peak MiB (goal at most 64 MiB each)"
rm -rf "$served" "$bench/nginx/www/feed"
