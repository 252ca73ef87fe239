#!/usr/bin/env bash
# Checks what the shipped feed site configuration promises, with real
# requests to the nginx of the test fixture: the cache headers of the
# manifest and of blobs, types, no redirects and no listings for folders,
# GET and HEAD only.   check_site.sh <nginx state folder> <test CA certificate>
set -uo pipefail
state=$1
ca=$2
port=$(cat "$state/port") || exit 1
base=https://localhost:$port
feed=$state/www/site-check
rm -rf "$feed"
mkdir -p "$feed/files" "$feed/patches" "$feed/files/sub" "$feed/below/files"
printf '[release]\r\nformat=1\r\n' > "$feed/manifest.ini"
head -c 100000 /dev/urandom > "$feed/files/0f3a"
head -c 3000 /dev/urandom > "$feed/patches/77d0"
printf 'nested' > "$feed/files/sub/5e"
printf 'other' > "$feed/readme.txt"
mkdir -p "$feed/history"
printf '[release]\r\nformat=1\r\n' > "$feed/history/000001.ini"
# A feed that lies below a folder called files/: its manifest is still a
# manifest.
printf '[release]\r\n' > "$feed/below/files/manifest.ini"
printf 'top' > "$state/www/manifest.ini"

immutable='public, max-age=31536000, immutable'
failures=0
# Each case: method, path below the server, expected status, expected
# Cache-Control, expected Content-Type ("-": not checked), and the file
# whose bytes the body must be ("-": none).
cases=(
  "GET|/site-check/manifest.ini|200|no-cache|text/plain; charset=utf-8|$feed/manifest.ini"
  "HEAD|/site-check/manifest.ini|200|no-cache|text/plain; charset=utf-8|-"
  "GET|/manifest.ini|200|no-cache|text/plain; charset=utf-8|$state/www/manifest.ini"
  "GET|/site-check/below/files/manifest.ini|200|no-cache|text/plain; charset=utf-8|$feed/below/files/manifest.ini"
  "GET|/site-check/files/0f3a|200|$immutable|application/octet-stream|$feed/files/0f3a"
  "HEAD|/site-check/files/0f3a|200|$immutable|application/octet-stream|-"
  "GET|/site-check/patches/77d0|200|$immutable|application/octet-stream|$feed/patches/77d0"
  "GET|/site-check/files/sub/5e|200|$immutable|application/octet-stream|$feed/files/sub/5e"
  "GET|/site-check/readme.txt|200|no-cache|application/octet-stream|$feed/readme.txt"
  # A history entry: a copy of a manifest, served as one.
  "GET|/site-check/history/000001.ini|200|no-cache|text/plain; charset=utf-8|$feed/history/000001.ini"
  "GET|/site-check/history|404|no-cache|-|-"
  "GET|/site-check/history/|404|no-cache|-|-"
  # Folders, with and without the slash: not found, never redirected or listed.
  "GET|/site-check|404|no-cache|-|-"
  "GET|/site-check/|404|no-cache|-|-"
  "GET|/site-check/files|404|no-cache|-|-"
  "GET|/site-check/files/|404|no-cache|-|-"
  "GET|/site-check/patches|404|no-cache|-|-"
  "GET|/site-check/patches/|404|no-cache|-|-"
  "GET|/site-check/files/sub|404|no-cache|-|-"
  "GET|/|404|no-cache|-|-"
  # A blob not uploaded yet must not be cached as immutable.
  "GET|/site-check/files/missing|404|no-cache|-|-"
  "GET|/site-check/patches/missing|404|no-cache|-|-"
  "GET|/site-check/missing.ini|404|no-cache|-|-"
  # Nothing but GET and HEAD.
  "POST|/site-check/manifest.ini|403|no-cache|-|-"
  "PUT|/site-check/files/new|403|-|-|-"
  "DELETE|/site-check/files/0f3a|403|-|-|-"
  "OPTIONS|/site-check/patches/77d0|403|-|-|-"
)

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for row in "${cases[@]}"; do
  IFS='|' read -r method path status cache type body <<<"$row"
  head_opt=()
  [ "$method" = HEAD ] && head_opt=(--head)
  if ! curl -sS --cacert "$ca" "${head_opt[@]}" -X "$method" -D "$tmp/headers" -o "$tmp/body" "$base$path"; then
    echo "FAIL $method $path: no answer"; failures=$((failures + 1)); continue
  fi
  tr -d '\r' < "$tmp/headers" > "$tmp/h"
  got_status=$(head -n 1 "$tmp/h" | cut -d' ' -f2)
  got_cache=$(sed -n 's/^[Cc]ache-[Cc]ontrol: //p' "$tmp/h")
  got_type=$(sed -n 's/^[Cc]ontent-[Tt]ype: //p' "$tmp/h")
  problems=()
  [ "$got_status" = "$status" ] || problems+=("status $got_status, expected $status")
  [ "$cache" = - ] || [ "$got_cache" = "$cache" ] || problems+=("Cache-Control '$got_cache', expected '$cache'")
  [ "$type" = - ] || [ "$got_type" = "$type" ] || problems+=("Content-Type '$got_type', expected '$type'")
  grep -qi '^location:' "$tmp/h" && problems+=("a Location header: $(grep -i '^location:' "$tmp/h")")
  grep -qi 'Index of' "$tmp/body" && problems+=("a folder listing")
  if [ "$body" != - ] && ! cmp -s "$body" "$tmp/body"; then problems+=("the body differs from $body"); fi
  if [ ${#problems[@]} -gt 0 ]; then
    printf 'FAIL %s %s: %s\n' "$method" "$path" "$(IFS=';'; echo "${problems[*]}")"
    failures=$((failures + 1))
  else
    printf 'ok   %s %s -> %s\n' "$method" "$path" "$got_status"
  fi
done
rm -rf "$feed" "$state/www/manifest.ini"
[ "$failures" -eq 0 ] || { echo "$failures of ${#cases[@]} requests were answered wrongly"; exit 1; }
