#!/usr/bin/env bash
# Checks deploy/s3/publish.sh against the real Ceph gateway of the test
# fixture, by the gateway's own request log: blobs first, a listing after
# them, the manifest last; a blob already there never written again; a feed
# whose key record goes up after its blobs and before its manifest; a feed
# whose manifest names a blob it lacks, a blob in the bucket with another
# size and a path outside files/ and patches/ refused with nothing
# published; --delete removes what the feed no longer has but never the
# manifest nor a blob the live manifest names, and works on a prefix with
# no manifest yet; and a reader polling all along never sees a manifest
# that names a blob not there.
#   check_publish.sh <publish.sh> <object store state folder> <work folder>
set -uo pipefail
publish=$1
store=$2
work=$3
endpoint=$(cat "$store/endpoint") || exit 1
bucket=$(cat "$store/bucket") || exit 1
log=$store/log/client.rgw.log
. "$store/env"
aws=/usr/bin/aws
[ -x "$aws" ] || aws=aws
run=publish-check-$$-$(date +%s)
# A folder of this run's own: a run left behind by an interrupted one must
# not share the reader's files.
rm -rf "$work"
work=$work/$run
mkdir -p "$work"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
ok() { echo "ok   $*"; }

# feed <folder> <content>...: a feed folder whose manifest names one file
# per content, stored as files/<its sha256>.
feed() {
  local folder=$1 n=0 content digest
  shift
  rm -rf "$folder"
  mkdir -p "$folder/files"
  {
    printf '[release]\r\nformat=1\r\ncount=%d\r\nlaunch=Quenfar8.exe\r\n' $#
    for content in "$@"; do
      printf '%s' "$content" > "$folder/blob.tmp"
      digest=$(sha256sum "$folder/blob.tmp" | cut -c1-64)
      mv "$folder/blob.tmp" "$folder/files/$digest"
      printf '\r\n[file.%d]\r\nname=f%d\r\nsha256=%s\r\nsize=%d\r\nfull=files/%s\r\npatches=0\r\n' \
        "$n" "$n" "$digest" "${#content}" "$digest"
      n=$((n + 1))
    done
  } > "$folder/manifest.ini"
}
digest() { printf '%s' "$1" | sha256sum | cut -c1-64; }

# requests <prefix>: the gateway's log lines of writes to keys below
# s3://<bucket>/<prefix> and of listings of the prefix, as
# "<method> <path> <status>" (reads are left out: a reader polls all along).
# The gateway writes a line a moment after its request ends.
requests() {
  grep -o "\"[A-Z]* /$bucket[/?][^ ]* HTTP/1.1\" [0-9]*" "$log" |
    sed 's/^"\([A-Z]*\) \([^ ]*\) HTTP\/1.1" \([0-9]*\)$/\1 \2 \3/' |
    grep -E "^(PUT|POST|DELETE) /$bucket/$1|^GET /$bucket/?\?list-type=2&prefix=$(printf '%s' "$1" | sed 's|/|%2F|g')"
}
wait_for_log() {
  for _ in $(seq 1 300); do
    grep -q "$1" "$log" && return 0
    sleep 0.1
  done
  return 1
}
# publish_run <feed> <prefix> [more]: runs the script; its output in $work/out.
publish_run() {
  "$publish" "$1" "s3://$bucket/$2" --endpoint-url "$endpoint" "${@:3}" > "$work/out" 2>&1
}
stored_size() {
  "$aws" --endpoint-url "$endpoint" s3api head-object --bucket "$bucket" --key "$1" --query ContentLength --output text 2>/dev/null
}

# watch <prefix> <stop file> <record>: until the stop file appears, reads
# the manifest below the prefix as anyone sees it (the bucket's objects are
# public) and fetches every blob it names, which must answer with the bytes
# its name is the digest of. The record gets one line per manifest seen
# ("manifest <its sha256>") and one per blob that was not there
# ("MISSING <path>").
watch() {
  local url=$endpoint/$bucket/$1 path
  while [ ! -e "$2" ]; do
    # A poll every 50 ms or so, to leave the gateway time for the publisher.
    sleep 0.05
    curl -sf -o "$work/watch.ini" "${url}manifest.ini" || continue
    echo "manifest $(sha256sum < "$work/watch.ini" | cut -c1-64)" >> "$3"
    for path in $(tr -d '\r' < "$work/watch.ini" | sed -n 's/^full=//p; s/^path=//p'); do
      if ! curl -sf -o "$work/watch.blob" "$url$path" ||
        [ "$(sha256sum < "$work/watch.blob" | cut -c1-64)" != "$(basename "$path")" ]; then
        echo "MISSING $path" >> "$3"
      fi
    done
  done
}

# 1. A first release: every blob, then a listing, then the manifest.
feed "$work/one" "game" "data of release one" ""
prefix=$run/live/
# Someone reads the feed all along, from before the first manifest to after
# the last.
: > "$work/watched"
watch "$prefix" "$work/watch.stop" "$work/watched" &
watcher=$!
trap 'touch "$work/watch.stop"' EXIT
if publish_run "$work/one" "$prefix"; then ok "first publish"; else fail "first publish: $(cat "$work/out")"; fi
wait_for_log "PUT /$bucket/${prefix}manifest.ini " || fail "no manifest PUT in the gateway's log"
requests "$prefix" > "$work/order"
manifest_line=$(grep -n "^PUT /$bucket/${prefix}manifest.ini 200" "$work/order" | cut -d: -f1 | head -n 1)
last_blob_line=$(grep -n "^PUT /$bucket/${prefix}files/" "$work/order" | cut -d: -f1 | tail -n 1)
list_line=$(grep -n "^GET /$bucket/*?list-type=2" "$work/order" | cut -d: -f1 | tail -n 1)
blob_puts=$(grep -c "^PUT /$bucket/${prefix}files/[0-9a-f]\{64\} 200" "$work/order")
if [ "$blob_puts" = 3 ] && [ -n "$manifest_line" ] && [ "$last_blob_line" -lt "$list_line" ] &&
  [ "$list_line" -lt "$manifest_line" ] && [ "$manifest_line" = "$(wc -l < "$work/order")" ]; then
  ok "3 blobs, then the listing that checks them, then the manifest"
else
  fail "order of the first publish:"; cat "$work/order"
fi
if [ "$(stored_size "${prefix}files/$(digest "")")" = 0 ]; then ok "the empty blob is in the bucket"; else fail "the empty blob"; fi

# 2. Publishing again writes no blob, only the manifest.
lines_before=$(requests "$prefix" | grep -c '^PUT ')
if publish_run "$work/one" "$prefix"; then ok "second publish"; else fail "second publish: $(cat "$work/out")"; fi
for _ in $(seq 1 300); do
  [ "$(requests "$prefix" | grep -c '^PUT ')" -gt "$lines_before" ] && break
  sleep 0.1
done
new_puts=$(requests "$prefix" | grep '^PUT ' | tail -n +$((lines_before + 1)))
if [ "$new_puts" = "PUT /$bucket/${prefix}manifest.ini 200" ]; then ok "again: the manifest only"; else fail "again: $new_puts"; fi

# 2b. A feed with a key record: its record goes up after the blobs and
# before the manifest that may name its key version.
feed "$work/keyed" "game" "data of a keyed release"
printf '[keys]\r\nformat=1\r\nversion=1\r\n' > "$work/keyed/keys.ini"
keyed=$run/keyed/
if publish_run "$work/keyed" "$keyed"; then ok "a feed with a key record"; else fail "a keyed publish: $(cat "$work/out")"; fi
wait_for_log "PUT /$bucket/${keyed}manifest.ini " || fail "no manifest PUT for the keyed feed"
requests "$keyed" | grep '^PUT ' > "$work/keyed-order"
if [ "$(sed 's| 200$||; s|files/[0-9a-f]\{64\}$|files/<blob>|' "$work/keyed-order" | tr '\n' ' ')" = \
  "PUT /$bucket/${keyed}files/<blob> PUT /$bucket/${keyed}files/<blob> PUT /$bucket/${keyed}keys.ini PUT /$bucket/${keyed}manifest.ini " ]; then
  ok "2 blobs, then keys.ini, then the manifest"
else
  fail "order of the keyed publish:"; cat "$work/keyed-order"
fi

# 3. Refusals: nothing published.
refused() {
  local what=$1 folder=$2 target=$3
  if publish_run "$folder" "$target"; then fail "$what: published"; cat "$work/out"; return; fi
  if [ -n "$(stored_size "${target}manifest.ini")" ]; then fail "$what: a manifest in the bucket"; return; fi
  ok "$what: refused ($(grep publish.sh "$work/out" | tail -n 1))"
}
feed "$work/lacking" "game" "a blob the feed folder lacks"
rm "$work/lacking/files/$(digest "a blob the feed folder lacks")"
refused "a named blob not in the feed folder" "$work/lacking" "$run/lacking/"
[ -z "$(requests "$run/lacking/" | grep '^PUT ')" ] || fail "a blob was uploaded for a refused feed"

feed "$work/other-size" "game" "the right bytes"
wrong_key=$run/other-size/files/$(digest "the right bytes")
printf 'other bytes, longer' > "$work/wrong"
"$aws" --endpoint-url "$endpoint" s3 cp --only-show-errors "$work/wrong" "s3://$bucket/$wrong_key" </dev/null
refused "a blob in the bucket with another size" "$work/other-size" "$run/other-size/"
[ "$(stored_size "$wrong_key")" = 19 ] && ok "that blob was not overwritten" || fail "the blob in the bucket was overwritten"

feed "$work/outside" "game"
sed -i 's|^full=files/|full=other/|' "$work/outside/manifest.ini"
refused "a blob outside files/ and patches/" "$work/outside" "$run/outside/"

# A first publication with --delete, to a prefix without a manifest yet.
if publish_run "$work/one" "$run/fresh/" --delete; then ok "a first publication with --delete"; else
  fail "a first publication with --delete: $(cat "$work/out")"; fi

# 4. --delete: a blob no manifest names goes; the live release's blobs stay
# although the local feed no longer has them (as after a prune); the
# manifest and keys outside files/ and patches/ stay.
feed "$work/two" "game" "data of release two"
printf 'orphan' > "$work/orphan"
"$aws" --endpoint-url "$endpoint" s3 cp --only-show-errors "$work/orphan" "s3://$bucket/${prefix}files/orphan" </dev/null
"$aws" --endpoint-url "$endpoint" s3 cp --only-show-errors "$work/orphan" "s3://$bucket/${prefix}notes.txt" </dev/null
if publish_run "$work/two" "$prefix" --delete; then ok "publish --delete"; else fail "publish --delete: $(cat "$work/out")"; fi
cat "$work/out"
[ -z "$(stored_size "${prefix}files/orphan")" ] && ok "the orphan blob was deleted" || fail "the orphan blob is still there"
for content in "" "data of release one"; do
  [ -n "$(stored_size "${prefix}files/$(digest "$content")")" ] && ok "kept a blob of the release live before" ||
    fail "deleted a blob of the release live before: '$content'"
done
[ -n "$(stored_size "${prefix}files/$(digest "data of release two")")" ] || fail "the new release's blob is missing"
[ -n "$(stored_size "${prefix}manifest.ini")" ] && [ -n "$(stored_size "${prefix}notes.txt")" ] &&
  ok "manifest and other keys kept" || fail "the manifest or another key was deleted"
# Once release two is the one live before, its predecessor's blobs go.
if publish_run "$work/two" "$prefix" --delete; then ok "publish --delete again"; else fail "again: $(cat "$work/out")"; fi
[ -z "$(stored_size "${prefix}files/$(digest "data of release one")")" ] && ok "release one's own blob deleted now" ||
  fail "release one's blob is still there"
[ -n "$(stored_size "${prefix}files/$(digest "game")")" ] || fail "a blob both releases name was deleted"

touch "$work/watch.stop"
wait "$watcher"
versions=$(grep '^manifest ' "$work/watched" | sort -u | wc -l)
polls=$(grep -c '^manifest ' "$work/watched")
if grep -q '^MISSING ' "$work/watched"; then
  fail "a reader saw a manifest naming a blob that was not there: $(grep '^MISSING ' "$work/watched" | sort -u | tr '\n' ' ')"
elif [ "$versions" -lt 2 ]; then
  fail "the reader saw $versions manifests, expected both releases'"
else
  ok "a reader polling all along saw $polls times a manifest ($versions versions), every named blob there each time"
fi

[ "$failures" -eq 0 ] || { echo "$failures checks failed"; exit 1; }
echo "every check passed"
