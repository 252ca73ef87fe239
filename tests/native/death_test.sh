#!/usr/bin/env bash
# pack, rollback and prune of the native release tool ended at every change
# point they make (every folder made or removed, file created, written,
# flushed, copied, moved or deleted): the test build ends itself just before
# point n with QUENFAR8_TEST_DIE_AT=n and records every point of a whole run
# at QUENFAR8_TEST_CHANGE_LOG. After each death the live manifest must be
# the old one or the new one, byte for byte, and check must find every file
# it names whole; the same command run again must end as the uninterrupted
# run ended, byte for byte.
#   death_test.sh <case> <quenfar8-release> <test build of it> <native tools folder> <work folder>
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
case_name=$1 tool=$2 test_tool=$3 tools=$4 work=$5
rm -rf "$work"
mkdir -p "$work/clients"
cd "$work"

# The exit code of a test build that ended itself at its point.
died_at_point=86

# Three releases: 1.1 and 1.2 change the data file and the readme, 1.2
# adds a file.
printf 'MZ stand-in game' > clients/1.0.exe
make_release() {
  mkdir -p "clients/$1"
  cp clients/1.0.exe "clients/$1/Quenfar8.exe"
  printf 'release %s\r\n' "$1" > "clients/$1/readme.txt"
  head -c 300000 /dev/zero | tr '\0' 'q' > "clients/$1/data.pak"
  printf '%s' "$1" | dd of="clients/$1/data.pak" bs=1 seek=$2 conv=notrunc status=none
}
make_release 1.0 1000
make_release 1.1 2000
make_release 1.2 3000
head -c 50000 /dev/urandom > clients/1.2/music.ogg

# pack_release <tool> <feed> <version> [<older version>]
pack_release() {
  local from=()
  [ -z "${4:-}" ] || from=(--from "clients/$4" --diff-tool "$tools/make_patch" --patch-tool "$tools/hpatchz")
  "$1" pack "clients/$3" "$2" --version "$3" "${from[@]}" > "pack-$3.out" 2>&1 || { cat "pack-$3.out"; fail "pack $3"; }
}

# Every file of a feed with its digest, without the work folders that
# ended runs leave (their process ids name them).
tree_of() {
  (cd "$1" && find . -type f -not -path './.quenfar8-pack-*' | LC_ALL=C sort | xargs -d '\n' sha256sum)
}

# die_at_every_point <pristine feed> <arguments, with FEED for the feed>
die_at_every_point() {
  local pristine=$1
  shift
  local args=("$@") run_args
  with_feed() { run_args=("${args[@]/#FEED/$1}"); }

  rm -rf reference points.log
  cp -r "$pristine" reference
  with_feed reference
  QUENFAR8_TEST_CHANGE_LOG="$work/points.log" "$test_tool" "${run_args[@]}" > reference.out 2>&1 ||
    { cat reference.out; fail "the uninterrupted run failed"; }
  local count
  count=$(wc -l < points.log)
  [ "$count" -gt 0 ] || fail "the run recorded no change point"
  tree_of reference > end.txt
  local before after n died=0 old=0
  before=$(sha256sum < "$pristine/manifest.ini")
  after=$(sha256sum < reference/manifest.ini)
  for ((n = 1; n <= count; ++n)); do
    local point
    point=$(sed -n "${n}p" points.log | tr -d '\r')
    rm -rf feed
    cp -r "$pristine" feed
    with_feed feed
    local code=0
    QUENFAR8_TEST_DIE_AT=$n "$test_tool" "${run_args[@]}" > died.out 2>&1 || code=$?
    [ "$code" = "$died_at_point" ] || { cat died.out; fail "point $n ($point): exit $code, not the point's"; }
    died=$((died + 1))
    local live
    live=$(sha256sum < feed/manifest.ini)
    [ "$live" = "$before" ] || [ "$live" = "$after" ] || fail "point $n ($point): the live manifest is neither"
    [ "$live" = "$before" ] && old=$((old + 1))
    "$tool" check feed > check.out 2>&1 || { cat check.out; fail "point $n ($point): check of the feed failed"; }
    "$test_tool" "${run_args[@]}" > again.out 2>&1 || { cat again.out; fail "point $n ($point): the run again failed"; }
    tree_of feed > again.txt
    diff end.txt again.txt > /dev/null || { diff end.txt again.txt; fail "point $n ($point): the run again ended elsewhere"; }
  done
  echo "[death points] $case_name: $count points; ended there: $died; the manifest still the old one after $old"
}

mkdir pristine
case "$case_name" in
Pack)
  pack_release "$tool" pristine 1.0
  pack_release "$tool" pristine 1.1 1.0
  die_at_every_point pristine pack clients/1.2 FEED --version 1.2 --from clients/1.1 --diff-tool "$tools/make_patch" \
    --patch-tool "$tools/hpatchz"
  ;;
Rollback | Prune)
  pack_release "$tool" pristine 1.0
  pack_release "$tool" pristine 1.1 1.0
  pack_release "$tool" pristine 1.2 1.1
  # A work folder that a killed pack left behind.
  mkdir pristine/.quenfar8-pack-4242
  printf 'half a copy' > pristine/.quenfar8-pack-4242/file-0
  if [ "$case_name" = Rollback ]; then
    die_at_every_point pristine rollback FEED --to 1
  else
    die_at_every_point pristine prune FEED --keep 1
  fi
  ;;
*)
  fail "no case $case_name"
  ;;
esac
echo "ok: $case_name"
