#!/usr/bin/env bash
# Publishes a feed folder that Quenfar8Release.exe pack made to an S3 bucket
# (Amazon S3 or a store with its API, such as Ceph's S3 gateway) with the
# aws command-line tool, in the one order that never shows a player a
# manifest naming a blob the bucket lacks:
#   1. every blob the feed's manifest.ini names (files/, patches/) that the
#      bucket does not have yet is uploaded, with the blobs' immutable cache
#      header; a blob already there is never written again;
#   2. every named blob is checked to be in the bucket with its size;
#   3. the feed's key record keys.ini, when it has one, is uploaded with
#      "no-cache", before any manifest may name its key version;
#   4. only then is manifest.ini uploaded, with "no-cache".
# With --delete it then removes the blobs below files/ and patches/ of the
# prefix that the local feed no longer has (after the release tool's
# prune), but never manifest.ini and never a blob that a manifest live in
# the bucket names: the one live before this run (clients may be fetching
# its blobs) or the one live after it.
#
#   publish.sh <feed folder> s3://<bucket>/<prefix>/ [--endpoint-url <url>] [--delete]
#
# The prefix may be empty (s3://<bucket>/). Credentials and region come the
# aws tool's usual ways (AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY, a
# profile in ~/.aws, ...). The aws tool is $AWS_CLI when set, else Debian's
# /usr/bin/aws when present, else the first aws on PATH. Nothing is ever
# uploaded from the feed folder but the named blobs, keys.ini and
# manifest.ini (so never a leftover work folder of an interrupted pack).
# Exit codes: 0 published, 1 refused or failed (the live manifest is then
# the one before, unless the manifest upload itself was under way), 2 a
# command line it does not understand.
set -euo pipefail

usage() {
  echo "usage: publish.sh <feed folder> s3://<bucket>/<prefix>/ [--endpoint-url <url>] [--delete]" >&2
  exit 2
}

feed=""
target=""
endpoint=()
delete=0
while [ $# -gt 0 ]; do
  case "$1" in
    --endpoint-url)
      [ $# -ge 2 ] || usage
      endpoint=(--endpoint-url "$2")
      shift 2
      ;;
    --delete) delete=1; shift ;;
    -*) usage ;;
    *)
      if [ -z "$feed" ]; then feed=$1
      elif [ -z "$target" ]; then target=$1
      else usage
      fi
      shift
      ;;
  esac
done
[ -n "$feed" ] && [ -n "$target" ] || usage

fail() {
  echo "publish.sh: $*" >&2
  exit 1
}

[[ "$target" =~ ^s3://([a-z0-9][a-z0-9.-]*)/(.*)$ ]] || fail "the target must be s3://<bucket>/<prefix>/, not $target"
bucket=${BASH_REMATCH[1]}
prefix=${BASH_REMATCH[2]}
[ -z "$prefix" ] || [[ "$prefix" == */ ]] || fail "the prefix must end with /: $target"
[[ "$prefix" != /* && "$prefix" != *//* ]] || fail "the prefix has an empty part: $target"
[ -d "$feed" ] || fail "no feed folder $feed"
manifest=$feed/manifest.ini
[ -f "$manifest" ] || fail "no manifest.ini in $feed"

# The aws tool: a pyenv or pip shim earlier on PATH may run another aws
# than Debian's, of another major version.
if [ -n "${AWS_CLI:-}" ]; then aws=$AWS_CLI
elif [ -x /usr/bin/aws ]; then aws=/usr/bin/aws
else aws=$(command -v aws) || fail "no aws command: install Debian's awscli or set AWS_CLI"
fi
# Newer aws tools add checksums in forms that not every S3-compatible store
# takes; these ask for them only where the API requires them (older tools
# ignore the settings).
export AWS_REQUEST_CHECKSUM_CALCULATION=${AWS_REQUEST_CHECKSUM_CALCULATION:-when_required}
export AWS_RESPONSE_CHECKSUM_VALIDATION=${AWS_RESPONSE_CHECKSUM_VALIDATION:-when_required}
# No pager between the tool and this script.
export AWS_PAGER=""
echo "aws: $aws"
s3api() { "$aws" "${endpoint[@]}" s3api "$@" </dev/null; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# named_blobs <manifest> <out>: the remote paths and sizes of the files and
# patches a manifest names, one "<path> <size>" a line, sorted, each once;
# fails when the manifest is not one the release tool writes (a path
# outside files/ and patches/ or with other characters, a size that is no
# number, one path with two sizes).
named_blobs() {
  tr -d '\r' < "$1" | awk '
    /^\[/ { section = $0; kind = "" }
    /^\[file\.[0-9]+\]$/ { kind = "file" }
    /^\[patch\.[0-9]+\.[0-9]+\]$/ { kind = "patch" }
    kind != "" && /^(full|path|size)=/ {
      key = substr($0, 1, index($0, "=") - 1); value = substr($0, index($0, "=") + 1)
      if ((kind == "file" && key == "full") || (kind == "patch" && key == "path")) where[section] = value
      if (key == "size") size[section] = value
    }
    END {
      for (s in where) print where[s], (s in size ? size[s] : "-")
      for (s in size) if (!(s in where)) print "-", size[s]
    }' | sort -u > "$2"
  local path size previous=""
  while read -r path size; do
    [[ "$path" =~ ^(files|patches)/[a-z0-9.-]+(/[a-z0-9.-]+)*$ && "$path" != *..* ]] ||
      { echo "publish.sh: the manifest names a blob outside files/ and patches/ or with other characters: $path" >&2; return 1; }
    [[ "$size" =~ ^[0-9]+$ ]] || { echo "publish.sh: $path has no size in the manifest" >&2; return 1; }
    [ "$path" != "$previous" ] || { echo "publish.sh: the manifest names $path with two sizes" >&2; return 1; }
    previous=$path
  done < "$2"
  [ -s "$2" ] || { echo "publish.sh: the manifest names no file" >&2; return 1; }
}

# bucket_blobs <out>: the keys below <prefix>files/ and <prefix>patches/
# with their sizes, as "<path below the prefix> <size>", sorted.
bucket_blobs() {
  # One listing of the prefix; the tool pages through listings of any
  # length itself. An empty one prints "None".
  s3api list-objects-v2 --bucket "$bucket" --prefix "$prefix" --query 'Contents[].[Key, Size]' --output text \
    > "$1.raw" || return 1
  awk -v p="$prefix" 'NF == 2 && substr($1, 1, length(p)) == p { print substr($1, length(p) + 1), $2 }' "$1.raw" |
    grep -E '^(files|patches)/' | sort > "$1" || true
}

named_blobs "$manifest" "$work/named" || fail "$manifest is not a manifest to publish"

# live_blobs <out>: the blobs the manifest live in the bucket names (none
# when there is no manifest yet), as named_blobs writes them.
live_blobs() {
  # Whether there is one is asked by a listing: for a key that is not there,
  # Debian's aws 2.9 ends get-object against Ceph's gateway with a Python
  # error ("argument of type 'NoneType' is not iterable") instead of
  # NoSuchKey, which cannot be told from any other failure.
  s3api list-objects-v2 --bucket "$bucket" --prefix "${prefix}manifest.ini" --query 'Contents[].Key' --output text \
    > "$work/live.list" || return 1
  if ! grep -qxF "${prefix}manifest.ini" "$work/live.list"; then
    : > "$1"
    return 0
  fi
  s3api get-object --bucket "$bucket" --key "${prefix}manifest.ini" "$work/live.ini" >/dev/null || return 1
  named_blobs "$work/live.ini" "$1"
}
# With --delete, the blobs of the release live before this one are kept
# too: clients may be in the middle of fetching them.
if [ "$delete" -eq 1 ]; then
  live_blobs "$work/live-before" || fail "cannot read the live manifest s3://$bucket/${prefix}manifest.ini; nothing published"
fi

# Every named blob must be in the feed folder with its size before
# anything is uploaded.
while read -r path size; do
  [ -f "$feed/$path" ] || fail "$feed/$path, named by the manifest, is not in the feed folder"
  [ "$(stat -c %s "$feed/$path")" = "$size" ] || fail "$feed/$path does not have the manifest's size $size"
done < "$work/named"

bucket_blobs "$work/present" || fail "cannot list s3://$bucket/$prefix"
# The blobs to upload, as links in a folder of the bucket's layout, sent by
# one run of the tool. A blob already there is left alone: named by its
# digest, it is never written again (a client may be fetching it); a wrong
# size is found by the check below.
mkdir "$work/upload"
uploaded=0
kept=0
while read -r path size; do
  if awk -v p="$path" '$1 == p { found = 1 } END { exit !found }' "$work/present"; then
    kept=$((kept + 1))
    continue
  fi
  mkdir -p "$(dirname "$work/upload/$path")"
  ln -s "$(cd "$(dirname "$feed/$path")" && pwd)/$(basename "$path")" "$work/upload/$path"
  echo "to upload: $prefix$path ($size bytes)"
  uploaded=$((uploaded + 1))
done < "$work/named"
if [ "$uploaded" -gt 0 ]; then
  # aws s3 cp uploads a large file in parts; the ETag of such an object is
  # no MD5 of its bytes, so the check below goes by size.
  "$aws" "${endpoint[@]}" s3 cp --recursive --follow-symlinks --only-show-errors --no-progress \
    --cache-control "public, max-age=31536000, immutable" --content-type application/octet-stream \
    "$work/upload" "s3://$bucket/$prefix" </dev/null || fail "uploading the blobs failed; manifest.ini not published"
fi

# Every named blob in the bucket with its size, in a listing made after the
# uploads, before the manifest may name them.
bucket_blobs "$work/after" || fail "cannot list s3://$bucket/$prefix; manifest.ini not published"
missing=0
while read -r path size; do
  got=$(awk -v p="$path" '$1 == p { print $2 }' "$work/after")
  if [ "$got" != "$size" ]; then
    echo "publish.sh: s3://$bucket/$prefix$path is ${got:+$got bytes, not $size}${got:-missing}" >&2
    missing=$((missing + 1))
  fi
done < "$work/named"
[ "$missing" -eq 0 ] || fail "$missing named blobs are not in the bucket as the manifest says; manifest.ini not published"
echo "checked $(wc -l < "$work/named") named blobs in s3://$bucket/$prefix: $uploaded uploaded, $kept already there"

if [ -f "$feed/keys.ini" ]; then
  "$aws" "${endpoint[@]}" s3 cp --only-show-errors --no-progress \
    --cache-control "no-cache" --content-type "text/plain; charset=utf-8" \
    "$feed/keys.ini" "s3://$bucket/${prefix}keys.ini" </dev/null || fail "uploading keys.ini failed; manifest.ini not published"
  echo "published s3://$bucket/${prefix}keys.ini"
fi

"$aws" "${endpoint[@]}" s3 cp --only-show-errors --no-progress \
  --cache-control "no-cache" --content-type "text/plain; charset=utf-8" \
  "$manifest" "s3://$bucket/${prefix}manifest.ini" </dev/null || fail "uploading manifest.ini failed"
echo "published s3://$bucket/${prefix}manifest.ini"

[ "$delete" -eq 1 ] || exit 0

# The blobs the manifest now live in the bucket names are never removed,
# whatever the local feed holds: read it back from the bucket (another
# publisher may have come between).
live_blobs "$work/live-after" || fail "cannot read back s3://$bucket/${prefix}manifest.ini; nothing deleted"
cat "$work/live-before" "$work/live-after" > "$work/live"
bucket_blobs "$work/stored" || fail "cannot list s3://$bucket/$prefix; nothing deleted"
: > "$work/delete"
while read -r path size; do
  [ ! -e "$feed/$path" ] || continue
  if awk -v p="$path" '$1 == p { found = 1 } END { exit !found }' "$work/live"; then
    echo "kept $prefix$path: the live manifest names it"
    continue
  fi
  echo "$prefix$path" >> "$work/delete"
done < "$work/stored"
# The keys go to the store 1000 at a time (the most one request takes).
split -l 1000 "$work/delete" "$work/delete-batch."
for batch in "$work"/delete-batch.*; do
  [ -s "$batch" ] || continue
  python3 -c 'import json, sys; print(json.dumps({"Objects": [{"Key": k.strip()} for k in open(sys.argv[1])], "Quiet": True}))' \
    "$batch" > "$batch.json"
  s3api delete-objects --bucket "$bucket" --delete "file://$batch.json" --output json > "$batch.out" ||
    fail "deleting blobs failed"
  # With Quiet, the answer lists only the keys that failed.
  ! grep -q '"Errors"' "$batch.out" || fail "the store refused to delete some blobs: $(cat "$batch.out")"
  sed 's/^/deleted /' "$batch"
done
echo "deleted $(wc -l < "$work/delete") blobs the feed folder no longer has"
