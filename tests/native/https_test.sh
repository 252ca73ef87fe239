#!/usr/bin/env bash
# The native release tool's check of a served feed, over HTTPS through
# libcurl, against the suite's loopback HTTPS server (tests/https/server.py,
# whose certificates come from a throwaway authority that nothing trusts
# unless told) and Debian's nginx with the project's feed site:
#   https_test.sh <case> <quenfar8-release> <native tools folder> <work folder> <site configuration>
#                 [<test build of quenfar8-release>]
# Each case prints what it finds wrong and ends non-zero on the first fault.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
case_name=$1 tool=$2 tools=$3 work=$4 site=$5 test_tool=${6:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
site=$(cd "$(dirname "$site")" && pwd)/$(basename "$site")
rm -rf "$work"
mkdir -p "$work"
cd "$work"

stop_servers() {
  "$here/../nginx/stop.sh" "$work/nginx" >/dev/null 2>&1 || true
  "$here/../https/stop.sh" "$work/https" >/dev/null 2>&1 || true
}
trap stop_servers EXIT
"$here/../https/start.sh" "$work/https"
"$here/../nginx/start.sh" "$work/nginx" "$work/https" "$site"
read -r trusted untrusted other_host expired self_signed < "$work/https/ports"
served=$(cat "$work/nginx/port")
ca="$work/https/pki/ca.pem"

# make_client <folder> <readme text> <data size>: a sample client.
make_client() {
  mkdir -p "$1"
  printf 'MZ stand-in game' > "$1/Quenfar8.exe"
  printf '%s\r\n' "$2" > "$1/readme.txt"
  head -c "$3" /dev/urandom > "$1/data.pak"
}

# connections_of <pattern>: the distinct nginx connections that carried
# requests whose path matches the pattern.
connections_of() {
  grep -E "$1" "$work/nginx/connections.log" | cut -d' ' -f1 | sort -u | wc -l
}

case "$case_name" in
OverHttps)
  make_client clients/1.0 first 3000000
  cp -r clients/1.0 clients/1.1
  printf 'changed' | dd of=clients/1.1/data.pak bs=1 seek=100000 conv=notrunc status=none
  printf 'second\r\n' > clients/1.1/readme.txt
  run_tool 0 pack1.out pack clients/1.0 feed --version 1.0
  run_tool 0 pack2.out pack clients/1.1 feed --version 1.1 --from clients/1.0 --diff-tool "$tools/make_patch" \
    --patch-tool "$tools/hpatchz"
  [ -n "$(ls feed/patches)" ] || fail "no patch was made"
  cp -r feed "$work/https/www/feed"
  cp -r feed "$work/nginx/www/feed"

  # The feed through nginx, with the private authority: sound, the patch
  # for a 1.0 client fetched and applied, and every file and patch on one
  # connection.
  run_tool 0 nginx.out check "https://localhost:$served/feed/" --ca-file "$ca" --client clients/1.0 \
    --patch-tool "$tools/hpatchz"
  grep -q "^no problems" nginx.out || { cat nginx.out; fail "check over nginx found problems"; }
  grep -q "patch \[patch\." nginx.out || { cat nginx.out; fail "the plan for a 1.0 client takes no patch"; }
  [ "$(connections_of ' /feed/(files|patches)/')" = 1 ] || {
    cat "$work/nginx/connections.log"
    fail "the files and patches did not share one connection"
  }

  # Addresses and certificates that must each fail the manifest's fetch,
  # and the options that are refused before any request.
  refused='manifest.ini: the updater cannot fetch it'
  while IFS='|' read -r what address with_ca expected text; do
    args=(check "$address")
    [ "$with_ca" = ca ] && args+=(--ca-file "$ca")
    [ "$with_ca" = missing ] && args+=(--ca-file "$work/no such file.pem")
    run_tool "$expected" case.out "${args[@]}"
    grep -qF -- "$text" case.out || { cat case.out; fail "$what: no line with \"$text\""; }
  done <<CASES
the loopback feed with the authority|https://localhost:$trusted/feed/|ca|0|no problems
the system's store alone|https://localhost:$served/feed/|none|1|$refused
an authority nobody trusts|https://localhost:$untrusted/feed/|ca|1|$refused
another host's certificate|https://localhost:$other_host/feed/|ca|1|$refused
an expired certificate|https://localhost:$expired/feed/|ca|1|$refused
a self-signed certificate|https://localhost:$self_signed/feed/|ca|1|$refused
a permanent redirect|https://localhost:$trusted/status/301/feed/|ca|1|$refused
a temporary redirect|https://localhost:$trusted/status/302/feed/|ca|1|$refused
a CA file that is not there|https://localhost:$trusted/feed/|missing|1|--ca-file names no file
a CA file for a feed folder|$work/feed|ca|2|--ca-file is for a feed address
CASES
  if grep -q "^/hit/" "$work/https/hits"; then
    cat "$work/https/hits"
    fail "a redirect was followed"
  fi

  # A blob cut short with a clean close on every request is the only
  # problem; the blob after it comes with one request.
  big=$(sha256sum clients/1.1/data.pak | cut -d' ' -f1)
  mkdir -p "$work/https/www/.faults"
  echo "cutclean 1500000" > "$work/https/www/.faults/~feed~files~$big"
  : > "$work/https/hits"
  run_tool 1 cut.out check "https://localhost:$trusted/feed/" --ca-file "$ca"
  grep -q "^1 problem$" cut.out || { cat cut.out; fail "the cut blob is not the one problem"; }
  grep -q "^problem: files/$big " cut.out || { cat cut.out; fail "the problem does not name the cut blob"; }
  [ "$(grep -c "^GET /feed/files/$big bytes=1500000-" "$work/https/hits")" -ge 1 ] || {
    cat "$work/https/hits"
    fail "the cut blob was not continued from its last byte"
  }
  after=$(grep "^GET /feed/files/" "$work/https/hits" | grep -v "$big" | cut -d' ' -f2 | sort | uniq -c | awk '$1 != 1')
  [ -z "$after" ] || { cat "$work/https/hits"; fail "another blob took more than one request: $after"; }

  # A blob whose first answer stops half-way and goes silent: the test
  # build's receive time-out (2 s here instead of 30) ends that wait, and
  # the next attempt brings the rest; the check passes, with a note.
  if [ -n "$test_tool" ]; then
    rm -f "$work/https/www/.faults/"*
    echo "stall 20000 1" > "$work/https/www/.faults/~feed~files~$big"
    : > "$work/https/hits"
    started=$(date +%s)
    code=0
    QUENFAR8_TEST_RECEIVE_MS=2000 QUENFAR8_TEST_RETRY_MS=100 "$test_tool" check "https://localhost:$trusted/feed/" \
      --ca-file "$ca" > stall.out 2>&1 || code=$?
    took=$(( $(date +%s) - started ))
    [ "$code" = 0 ] || { cat stall.out; fail "check after a stall: exit $code"; }
    grep -q "^no problems" stall.out || { cat stall.out; fail "check after a stall found problems"; }
    grep -q "^note: files/$big " stall.out || { cat stall.out; fail "no note on the blob that needed a retry"; }
    [ "$(grep -c "^GET /feed/files/$big " "$work/https/hits")" = 2 ] || {
      cat "$work/https/hits"
      fail "the stalled blob did not take exactly two requests"
    }
    [ "$took" -lt 15 ] || fail "the stall was waited out ($took s) instead of timed out"
  fi
  ;;
OverHttpsPastTwoGiB)
  # A blob of 2,200,000,000 bytes (sparse here, real bytes on the wire):
  # fetched in ranges of at most 1 GiB on one connection, every byte
  # counted and hashed.
  size=2200000000
  mkdir -p clients/large
  printf 'MZ stand-in game' > clients/large/Quenfar8.exe
  truncate -s "$size" clients/large/huge.pak
  printf 'end' | dd of=clients/large/huge.pak bs=1 seek=$((size - 3)) conv=notrunc status=none
  run_tool 0 pack.out pack clients/large "$work/nginx/www/feed" --version 1.0
  started=$(date +%s%N)
  run_tool 0 check.out check "https://localhost:$served/feed/" --ca-file "$ca"
  finished=$(date +%s%N)
  grep -q "^no problems" check.out || { cat check.out; fail "check found problems"; }
  huge=$(sha256sum clients/large/huge.pak | cut -d' ' -f1)
  sent=$(awk -v path="/feed/files/$huge" '$2 == path { total += $4; n += 1 } END { printf "%d %.0f", n, total }' \
    "$work/nginx/access.log")
  [ "$sent" = "3 $size" ] || { cat "$work/nginx/access.log"; fail "requests and bytes of the large blob: $sent"; }
  [ "$(connections_of " /feed/files/$huge")" = 1 ] || fail "the large blob's ranges took more than one connection"
  echo "checked $size bytes over HTTPS in $(( (finished - started) / 1000000 )) ms"
  rm -rf clients "$work/nginx/www/feed"
  ;;
*)
  fail "no case $case_name"
  ;;
esac
echo "ok: $case_name"
