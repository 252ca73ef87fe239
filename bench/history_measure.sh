#!/usr/bin/env bash
# The history benchmark's measurements, on a display that bench/history.sh
# set up.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/wine-env.sh"
enter_wine_session

releases=$1
files=$2
repeat=${QUENFAR8_BENCH_REPEAT:-5}
bench=$QUENFAR8_BUILD_DIR/bench/history
tool=$QUENFAR8_BUILD_DIR/Quenfar8Release.exe
differ=$QUENFAR8_BUILD_DIR/tools/make_patch.exe
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
wine_run="$root/cmake/wine-run.sh"
feed=$bench/feed
rm -rf "$bench"
mkdir -p "$bench"

# Release r changes files 10r .. 10r+9 (modulo the count) of the one before.
echo "packing ${releases} releases of ${files} files ..."
client=$bench/client
mkdir -p "$client"
cp "$QUENFAR8_BUILD_DIR/tools/Quenfar8.exe" "$client/Quenfar8.exe"
for i in $(seq 0 $((files - 2))); do
  head -c 8192 /dev/urandom > "$(printf '%s/file-%03d.bin' "$client" "$i")"
done
start=$(date +%s)
for r in $(seq 1 "$releases"); do
  rm -rf "$bench/older"
  cp -r "$client" "$bench/older"
  if [ "$r" -gt 1 ]; then
    for j in $(seq 0 9); do
      i=$(( (r * 10 + j) % (files - 1) ))
      name=$(printf '%s/file-%03d.bin' "$client" "$i")
      # A few bytes changed in the middle: worth a patch.
      printf 'release %04d' "$r" | dd of="$name" bs=1 seek=4000 conv=notrunc status=none
    done
    from=(--from "$(winpath "$bench/older")" --diff-tool "$(winpath "$differ")")
  else
    from=()
  fi
  "$wine_run" "$tool" pack "$(winpath "$client")" "$(winpath "$feed")" --version "1.$r" "${from[@]}" >/dev/null
done
echo "packed in $(( $(date +%s) - start )) s: $(ls "$feed/history" | wc -l) entries, $(ls "$feed/files" | wc -l) files, $(ls "$feed/patches" | wc -l) patches"

cat > "$bench/history-run.sh" <<RUN
'$wine_run' '$tool' history '$(winpath "$feed")' >/dev/null
RUN
cat > "$bench/prune-dry-run.sh" <<RUN
'$wine_run' '$tool' prune '$(winpath "$feed")' --keep 5 --dry-run >/dev/null
RUN
cat > "$bench/prune-run.sh" <<RUN
rm -rf '$bench/pruned'
cp -r '$feed' '$bench/pruned'
'$wine_run' '$tool' prune '$(winpath "$bench/pruned")' --keep 5 >/dev/null
RUN
cat > "$bench/copy-run.sh" <<RUN
rm -rf '$bench/pruned'
cp -r '$feed' '$bench/pruned'
RUN
"$wine_run" "$tool" history "$(winpath "$feed")" | tail -n 3
"$wine_run" "$tool" prune "$(winpath "$feed")" --keep 5 --dry-run | tail -n 3

echo
hyperfine -N --runs "$repeat" --warmup 1 \
  -n history "sh -e $bench/history-run.sh" \
  -n "prune --keep 5 --dry-run" "sh -e $bench/prune-dry-run.sh" \
  -n "copy of the feed" "sh -e $bench/copy-run.sh" \
  -n "copy of the feed + prune --keep 5" "sh -e $bench/prune-run.sh"

# peak_kib <command> <feed> <arguments...>: the peak resident memory.
peak_kib() {
  local command=$1 folder=$2
  shift 2
  /usr/bin/time -f %M -o "$bench/peak" "$wine_run" "$tool" "$command" "$(winpath "$folder")" "$@" >/dev/null
  cat "$bench/peak"
}
history_plain=$(peak_kib history "$feed")
prune_plain=$(peak_kib prune "$feed" --keep 5 --dry-run)
# 20,000 more blobs that no release names: digest names, one byte each.
python3 - "$feed/files" <<'PY'
import hashlib, os, sys
for n in range(20000):
    name = hashlib.sha256(b"stray %d" % n).hexdigest()
    with open(os.path.join(sys.argv[1], name), "wb") as f:
        f.write(b"x")
PY
history_more=$(peak_kib history "$feed")
prune_more=$(peak_kib prune "$feed" --keep 5 --dry-run)
echo
echo "peak memory, ${releases} releases of ${files} files:"
echo "  history:                                  ${history_plain} KiB"
echo "  history, 20,000 more blobs:               ${history_more} KiB"
echo "  prune --keep 5 --dry-run:                 ${prune_plain} KiB"
echo "  prune --keep 5 --dry-run, 20,000 more:    ${prune_more} KiB (each blob to remove is held by its name)"
