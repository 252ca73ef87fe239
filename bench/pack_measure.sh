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

echo
echo "pack into an empty feed (A) against one hashing pass plus one copy (B):"
farm-bench -n "$repeat" --warmup 1 --timeout 3600 --vs "sh -e $bench/baseline-run.sh" -- sh -e "$bench/pack-run.sh"
echo
echo "pack again into the same feed, nothing new to write:"
farm-bench -n "$repeat" --warmup 0 --timeout 3600 -- sh -e "$bench/repack-run.sh"
rm -rf "$bench/copy"
