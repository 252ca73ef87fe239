#!/usr/bin/env bash
# The pack benchmark's measurements, on a display that bench/pack.sh set up.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/wine-env.sh"
enter_wine_session

files=$1
mib=$2
repeat=${QUENFAR8_BENCH_REPEAT:-3}
bench=$QUENFAR8_BUILD_DIR/bench/pack
client=$bench/client
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
wine_run="$root/cmake/wine-run.sh"

echo "preparing a client of ${files} files of ${mib} MiB ..."
mkdir -p "$client"
cp "$QUENFAR8_BUILD_DIR/tools/Quenfar8.exe" "$client/Quenfar8.exe"
for i in $(seq 0 $((files - 1))); do
  name=$(printf '%s/file-%03d.bin' "$client" "$i")
  if [ ! -f "$name" ] || [ "$(stat -c %s "$name")" -ne $((mib * 1048576)) ]; then
    head -c $((mib * 1048576)) /dev/urandom > "$name"
  fi
done
cat "$client"/* > /dev/null  # both sides start from a warm cache

# Each measured command as a script of its own: Windows paths keep their
# backslashes that way.
cat > "$bench/pack-run.sh" <<RUN
rm -rf '$bench/feed'
'$wine_run' '$QUENFAR8_BUILD_DIR/Quenfar8Release.exe' pack '$(winpath "$client")' '$(winpath "$bench/feed")' >/dev/null
RUN
cat > "$bench/baseline-run.sh" <<RUN
rm -rf '$bench/copy'
'$wine_run' '$QUENFAR8_BUILD_DIR/bench/hash_pass.exe' '$(winpath "$client")' >/dev/null
'$wine_run' '$QUENFAR8_BUILD_DIR/bench/copy_pass.exe' '$(winpath "$client")' '$(winpath "$bench/copy")' >/dev/null
RUN
cat > "$bench/repack-run.sh" <<RUN
'$wine_run' '$QUENFAR8_BUILD_DIR/Quenfar8Release.exe' pack '$(winpath "$client")' '$(winpath "$bench/feed")' >/dev/null
RUN

# median_of <json> <index>: the median wall time of one command of a
# hyperfine export, in seconds.
median_of() {
  python3 -c 'import json,sys; print("%.3f" % json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]["median"])' "$1" "$2"
}

echo
echo "pack into an empty feed (A) against one hashing pass plus one copy (B):"
hyperfine --runs "$repeat" --warmup 1 --export-json "$bench/pack.json" \
  -n pack "sh -e $bench/pack-run.sh" -n baseline "sh -e $bench/baseline-run.sh"
pack_s=$(median_of "$bench/pack.json" 0)
base_s=$(median_of "$bench/pack.json" 1)
echo "medians: pack ${pack_s} s, baseline ${base_s} s, pack / baseline $(echo "scale=3; $pack_s / $base_s" | bc)"
echo
echo "pack again into the same feed, nothing new to write:"
hyperfine --runs "$repeat" --warmup 0 -n repack "sh -e $bench/repack-run.sh"
rm -rf "$bench/copy"
