#!/usr/bin/env bash
# Checks what the shipped S3 front configuration promises, with real
# requests to the nginx of the test fixture in front of the real Ceph
# gateway: one Cache-Control of the front's own (whatever the object
# carries), the store's 403 for a missing key answered 404 and never kept,
# an empty blob served, the blobs' header never on an error, ranges fetched
# from the store in slices rather than whole, no redirects or listings, GET
# and HEAD only, no query string passed on.
#   check_front.sh <front state folder> <object store state folder> <test CA certificate>
set -uo pipefail
front=$1
store=$2
ca=$3
port=$(cat "$front/port") || exit 1
endpoint=$(cat "$store/endpoint") || exit 1
bucket=$(cat "$store/bucket") || exit 1
. "$store/env"
aws=/usr/bin/aws
[ -x "$aws" ] || aws=aws
base=https://localhost:$port
name=front-check-$$-$(date +%s)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# put <local file> <key below the check's prefix> <Cache-Control> <Content-Type>
put() {
  "$aws" --endpoint-url "$endpoint" s3 cp --only-show-errors --no-progress --cache-control "$3" --content-type "$4" \
    "$1" "s3://$bucket/$name/$2" </dev/null || { echo "FAIL: could not upload $2"; exit 1; }
}
immutable='public, max-age=31536000, immutable'
printf '[release]\r\nformat=1\r\n' > "$tmp/manifest.ini"
head -c 3000000 /dev/urandom > "$tmp/big"
head -c 3000 /dev/urandom > "$tmp/patch"
head -c 5000000 /dev/urandom > "$tmp/sliced"
: > "$tmp/empty"
# The manifest carries a cache header of its own in the store, which the
# front must replace rather than send too.
put "$tmp/manifest.ini" manifest.ini "max-age=600" "text/plain; charset=utf-8"
put "$tmp/big" files/0f3a "$immutable" application/octet-stream
put "$tmp/patch" patches/77d0 "max-age=5" application/octet-stream
put "$tmp/empty" files/e3b0 "$immutable" application/octet-stream
put "$tmp/sliced" files/51ce "$immutable" application/octet-stream
# A feed below a folder called files/ still has a manifest.
put "$tmp/manifest.ini" below/files/manifest.ini "$immutable" "text/plain; charset=utf-8"
# A feed at the bucket's top: its blobs are blobs too.
"$aws" --endpoint-url "$endpoint" s3 cp --only-show-errors --no-progress --content-type application/octet-stream \
  "$tmp/patch" "s3://$bucket/files/$name" </dev/null || { echo "FAIL: could not upload files/$name"; exit 1; }
tail -c 1000000 "$tmp/big" > "$tmp/big-tail"

failures=0
# Each case: method, path below the check's prefix, extra request header
# ("-": none), expected status, expected Cache-Control ("none": the answer
# must have none; "-": not checked), and the file whose bytes the body must
# be ("-": not checked).
cases=(
  "GET|manifest.ini|-|200|no-cache|$tmp/manifest.ini"
  "HEAD|manifest.ini|-|200|no-cache|-"
  "GET|manifest.ini?acl|-|200|no-cache|$tmp/manifest.ini"
  "GET|files/0f3a|-|200|$immutable|$tmp/big"
  "HEAD|files/0f3a|-|200|$immutable|-"
  "GET|files/0f3a|Range: bytes=2000000-|206|$immutable|$tmp/big-tail"
  "GET|patches/77d0|-|200|$immutable|$tmp/patch"
  "GET|below/files/manifest.ini|-|200|no-cache|$tmp/manifest.ini"
  "GET|../files/$name|-|200|$immutable|$tmp/patch"
  # An empty blob: served, although the store answers 416 to a slice of it.
  "GET|files/e3b0|-|200|$immutable|$tmp/empty"
  "HEAD|files/e3b0|-|200|$immutable|-"
  # Ranges nothing satisfies: the store's 416, without the blobs' header.
  "GET|files/e3b0|Range: bytes=0-|416|none|-"
  "GET|files/0f3a|Range: bytes=9000000-|416|none|-"
  # Keys the store does not have: its 403 becomes a 404 nobody keeps.
  "GET|files/missing|-|404|no-cache|-"
  "GET|patches/missing|-|404|no-cache|-"
  "GET|missing.ini|-|404|no-cache|-"
  # Folders and the bucket itself: not found, never redirected or listed.
  "GET||-|404|no-cache|-"
  "GET|files/|-|404|no-cache|-"
  "GET|files|-|404|no-cache|-"
  "GET|../|-|404|no-cache|-"
  "GET|files/a%20b|-|404|no-cache|-"
  # Nothing but GET and HEAD.
  "POST|manifest.ini|-|403|-|-"
  "PUT|files/new|-|403|-|-"
  "DELETE|files/0f3a|-|403|-|-"
)

for row in "${cases[@]}"; do
  IFS='|' read -r method path header status cache body <<<"$row"
  opts=()
  [ "$method" = HEAD ] && opts+=(--head)
  [ "$header" = - ] || opts+=(-H "$header")
  if ! curl -sS --cacert "$ca" "${opts[@]}" -X "$method" -D "$tmp/headers" -o "$tmp/body" "$base/$name/$path"; then
    echo "FAIL $method $path: no answer"; failures=$((failures + 1)); continue
  fi
  tr -d '\r' < "$tmp/headers" > "$tmp/h"
  got_status=$(head -n 1 "$tmp/h" | cut -d' ' -f2)
  got_cache=$(sed -n 's/^[Cc]ache-[Cc]ontrol: //p' "$tmp/h")
  cache_count=$(grep -ci '^cache-control:' "$tmp/h")
  problems=()
  [ "$got_status" = "$status" ] || problems+=("status $got_status, expected $status")
  case "$cache" in
    -) ;;
    none) [ "$cache_count" -eq 0 ] || problems+=("Cache-Control '$got_cache', expected none") ;;
    *)
      [ "$cache_count" -eq 1 ] || problems+=("$cache_count Cache-Control headers")
      [ "$got_cache" = "$cache" ] || problems+=("Cache-Control '$got_cache', expected '$cache'")
      ;;
  esac
  grep -qi '^location:' "$tmp/h" && problems+=("a Location header")
  grep -qi 'ListBucketResult\|AccessControlPolicy' "$tmp/body" && problems+=("an answer of the store's API")
  if [ "$body" != - ] && ! cmp -s "$body" "$tmp/body"; then problems+=("the body differs from $body"); fi
  if [ ${#problems[@]} -gt 0 ]; then
    printf 'FAIL %s %s: %s\n' "$method" "$path" "$(IFS=';'; echo "${problems[*]}")"
    failures=$((failures + 1))
  else
    printf 'ok   %s %s %s-> %s\n' "$method" "$path" "$([ "$header" = - ] || echo "($header) ")" "$got_status"
  fi
done

# store_bytes <key>: the body bytes the gateway logged as sent for GETs of
# a key of the check, summed; its log line is written when a request ends.
store_bytes() {
  grep -F "\"GET /$bucket/$name/$1 HTTP/1.1\"" "$store/log/client.rgw.log" |
    sed -n 's/.*HTTP\/1\.1" [0-9]* \([0-9]*\) .*/\1/p' | awk '{ sum += $1 } END { print sum + 0 }'
}
# A range near the end of a 5 MB blob nobody fetched before: the front asks
# the store for the last 1 MiB slice only, not the whole object, and a
# second request for it is answered from the cache.
expected=$((5000000 - 4 * 1048576))
curl -sS --cacert "$ca" -H 'Range: bytes=4500000-' -o "$tmp/body" "$base/$name/files/51ce"
if ! cmp -s "$tmp/body" <(tail -c 500000 "$tmp/sliced"); then
  echo "FAIL ranged GET of files/51ce: wrong bytes"; failures=$((failures + 1))
fi
for _ in $(seq 1 300); do
  [ "$(store_bytes files/51ce)" -ge "$expected" ] && break
  sleep 0.1
done
got=$(store_bytes files/51ce)
if [ "$got" -ne "$expected" ]; then
  echo "FAIL ranged GET of files/51ce: the store sent $got bytes, expected the last slice's $expected"
  failures=$((failures + 1))
else
  echo "ok   ranged GET of files/51ce: the store sent the last slice only ($got bytes)"
fi
lines_before=$(grep -cF "\"GET /$bucket/$name/files/51ce HTTP/1.1\"" "$store/log/client.rgw.log")
curl -sS --cacert "$ca" -H 'Range: bytes=4600000-' -o "$tmp/body" "$base/$name/files/51ce"
cmp -s "$tmp/body" <(tail -c 400000 "$tmp/sliced") || { echo "FAIL cached ranged GET: wrong bytes"; failures=$((failures + 1)); }
for _ in $(seq 1 100); do
  grep -q "GET /$name/files/51ce 206 400000 .*cache=\"HIT\"" "$front/access.log" && break
  sleep 0.1
done
if grep -q "GET /$name/files/51ce 206 400000 .*cache=\"HIT\"" "$front/access.log" &&
  [ "$(grep -cF "\"GET /$bucket/$name/files/51ce HTTP/1.1\"" "$store/log/client.rgw.log")" -eq "$lines_before" ]; then
  echo "ok   the same slice again: from the cache, nothing asked of the store"
else
  echo "FAIL the same slice again was not served from the cache"; failures=$((failures + 1))
fi

# A blob asked for before it was uploaded: the 404 is not kept.
curl -sS --cacert "$ca" -o /dev/null -w '%{http_code}\n' "$base/$name/files/late" > "$tmp/first"
put "$tmp/patch" files/late "$immutable" application/octet-stream
curl -sS --cacert "$ca" -o "$tmp/body" -w '%{http_code}\n' "$base/$name/files/late" > "$tmp/second"
if [ "$(cat "$tmp/first")" = 404 ] && [ "$(cat "$tmp/second")" = 200 ] && cmp -s "$tmp/body" "$tmp/patch"; then
  echo "ok   a blob uploaded after its 404 is served"
else
  echo "FAIL a blob uploaded after its 404: $(cat "$tmp/first") then $(cat "$tmp/second")"; failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] || { echo "$failures checks failed"; exit 1; }
echo "every check passed"
