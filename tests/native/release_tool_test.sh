#!/usr/bin/env bash
# The native release tool's behaviour, run natively on real folders:
#   release_tool_test.sh <case> <quenfar8-release> <native tools folder> <work folder> [<Windows build> <scripts>]
# Each case prints what it finds wrong and ends non-zero on the first fault.
# The client folders live under a path with Hangul and spaces, as a
# publisher's may.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
case_name=$1 tool=$2 tools=$3 work=$4
rm -rf "$work"
base="$work/배포 작업/client folders"
mkdir -p "$base"
cd "$work"

# make_client <folder> <readme text> <data size>: a sample client.
make_client() {
  mkdir -p "$1"
  printf 'MZ stand-in game' > "$1/Quenfar8.exe"
  printf '%s\r\n' "$2" > "$1/readme.txt"
  head -c "$3" /dev/zero | tr '\0' 'q' > "$1/data.pak"
  printf 'x' | dd of="$1/data.pak" bs=1 seek=$(( $3 / 2 )) conv=notrunc status=none
}

case "$case_name" in
PackAndCheck)
  make_client "$base/1.0" "first" 100000
  run_tool 0 pack.out pack "$base/1.0" "$work/피드 feed" --version 1.0
  grep -q "2 new blobs\|3 new blobs" pack.out || { cat pack.out; fail "pack did not report its blobs"; }
  for f in "$base/1.0"/*; do
    sum=$(sha256sum "$f" | cut -d' ' -f1)
    cmp -s "$f" "$work/피드 feed/files/$sum" || fail "blob of $(basename "$f") is not its bytes"
    grep -q "^sha256=$sum"$'\r'"\?$" "$work/피드 feed/manifest.ini" || fail "manifest lacks $sum"
  done
  run_tool 0 check.out check "$work/피드 feed"
  grep -q "^no problems" check.out || { cat check.out; fail "check found problems"; }
  # A damaged blob is found.
  blob=$(ls "$work/피드 feed/files" | head -n1)
  printf 'changed' >> "$work/피드 feed/files/$blob"
  run_tool 1 damaged.out check "$work/피드 feed"
  grep -q "$blob" damaged.out || { cat damaged.out; fail "check did not name the damaged blob"; }
  ;;
PatchedRelease)
  make_client "$base/1.0" "first" 300000
  cp -r "$base/1.0" "$base/1.1"
  printf 'y' | dd of="$base/1.1/data.pak" bs=1 seek=1000 conv=notrunc status=none
  printf 'second\r\n' > "$base/1.1/readme.txt"
  run_tool 0 pack1.out pack "$base/1.0" feed --version 1.0
  run_tool 0 pack2.out pack "$base/1.1" feed --version 1.1 --from "$base/1.0" --diff-tool "$tools/make_patch" \
    --patch-tool "$tools/hpatchz"
  [ -n "$(ls feed/patches)" ] || { cat pack2.out; fail "no patch was made"; }
  grep -q "^\[patch\." feed/manifest.ini || fail "the manifest names no patch"
  run_tool 0 check.out check feed --client "$base/1.0" --patch-tool "$tools/hpatchz"
  grep -q "patch \[patch\." check.out || { cat check.out; fail "the plan for a 1.0 client takes no patch"; }
  grep -q "^no problems" check.out || { cat check.out; fail "check found problems"; }
  # A patch tool built for Linux is never the Windows program players run:
  # the note says so without calling it the wrong build.
  grep -q "hpatchz applied the patches here" check.out || { cat check.out; fail "no note on the native patch tool"; }
  if grep -q "is not the hpatchz.exe build" check.out; then cat check.out; fail "the native tool called the wrong build"; fi
  # A patch tool that fails is reported, and nothing is written.
  before=$(cd feed && find . -type f | sort | xargs sha256sum)
  code=0
  QUENFAR8_TEST_DIFF_MODE=fail "$tool" pack "$base/1.1" feed --version 1.2 --from "$base/1.0" \
    --diff-tool "$tools/make_patch" --patch-tool "$tools/hpatchz" >fail.out 2>&1 || code=$?
  [ "$code" = 1 ] || { cat fail.out; fail "a failing differ gave exit $code"; }
  [ "$before" = "$(cd feed && find . -type f | sort | xargs sha256sum)" ] || fail "a failed pack changed the feed"
  ;;
SignedRelease)
  make_client "$base/1.0" "first" 5000
  run_tool 0 keygen.out keygen "$work/signing-key.pem"
  public=$(grep -o '[0-9a-f]\{128\}' keygen.out | head -n1)
  [ -n "$public" ] || { cat keygen.out; fail "keygen printed no public key"; }
  run_tool 0 pack.out pack "$base/1.0" feed --version 1.0 --sign "$work/signing-key.pem"
  run_tool 0 check.out check feed --public-key "$public"
  grep -q "^no problems" check.out || { cat check.out; fail "check refused the signature"; }
  # OpenSSL's command line verifies the signature over every byte before
  # the signature line, with the key OpenSSL reads from the key file.
  openssl ec -in signing-key.pem -pubout -out public.pem 2>/dev/null
  openssl ec -in signing-key.pem -pubout -outform DER 2>/dev/null | tail -c 64 | od -An -tx1 | tr -d ' \n' > public.hex
  [ "$(cat public.hex)" = "$public" ] || fail "keygen's printed key is not the key file's"
  size=$(stat -c %s feed/manifest.ini)
  head -c $(( size - 141 )) feed/manifest.ini > signed.bytes
  tail -c 141 feed/manifest.ini | grep -q '^;signature=[0-9a-f]\{128\}'$'\r''$' || fail "no signature line"
  python3 - feed/manifest.ini > signature.der <<'PY'
import sys
line = open(sys.argv[1], 'rb').read()[-141:]
raw = bytes.fromhex(line[11:139].decode())
def integer(b):
    b = b.lstrip(b'\0') or b'\0'
    if b[0] & 0x80: b = b'\0' + b
    return b'\x02' + bytes([len(b)]) + b
body = integer(raw[:32]) + integer(raw[32:])
sys.stdout.buffer.write(b'\x30' + bytes([len(body)]) + body)
PY
  openssl dgst -sha256 -verify public.pem -signature signature.der signed.bytes > verify.out 2>&1 ||
    { cat verify.out; fail "OpenSSL does not verify the signature"; }
  # A manifest changed after signing is refused.
  sed -i 's/^version=1.0/version=1.9/' feed/manifest.ini
  run_tool 1 tampered.out check feed --public-key "$public"
  ;;
RefusedNames)
  # Names a Linux folder can hold and a Windows client cannot: pack names
  # the file in one problem line and writes nothing.
  while IFS='|' read -r label name; do
    client="$base/$label"
    mkdir -p "$client"
    printf 'MZ' > "$client/Quenfar8.exe"
    name=$(printf "$name")
    printf 'x' > "$client/$name"
    [ "$label" = case-twins ] && printf 'y' > "$client/README.TXT"
    code=0
    "$tool" pack "$client" "$work/feed-$label" --version 1.0 > "$label.out" 2>&1 || code=$?
    [ "$code" = 1 ] || { cat "$label.out"; fail "$label: exit $code"; }
    [ ! -e "$work/feed-$label" ] || fail "$label: the feed folder was made"
    [ "$(grep -c '^problem: ' "$label.out")" = 1 ] || { cat "$label.out"; fail "$label: not one problem line"; }
    grep -qF "problem: $name" "$label.out" || grep -qF "and $name" "$label.out" ||
      { cat "$label.out"; fail "$label: the problem line does not name the file"; }
  done <<'NAMES'
case-twins|readme.txt
backslash|a\\b.txt
colon|a:b.txt
star|a*b.txt
question|a?b.txt
quote|a"b.txt
less|a<b.txt
greater|a>b.txt
pipe|a|b.txt
trailing-dot|readme.
trailing-space|readme 
device|CON
device-with-extension|nul.txt
not-utf8|x\377.txt
NAMES
  ;;
HistoryCommands)
  make_client "$base/1.0" "first" 1000
  cp -r "$base/1.0" "$base/1.1"
  printf 'second\r\n' > "$base/1.1/readme.txt"
  run_tool 0 pack1.out pack "$base/1.0" feed --version 1.0
  run_tool 0 pack2.out pack "$base/1.1" feed --version 1.1
  run_tool 0 history.out history feed
  grep -q "1.0" history.out && grep -q "1.1" history.out || { cat history.out; fail "history lacks a release"; }
  run_tool 0 rollback.out rollback feed --to 1
  grep -q "^version=1.0" feed/manifest.ini || fail "rollback did not bring 1.0 back"
  run_tool 0 check.out check feed
  run_tool 0 prune.out prune feed --keep 1
  ;;
KeyRecord)
  # Root and signing keys: the feed's key record, a renewed expiry, and
  # check with the root key; a manifest changed afterwards is refused.
  make_client "$base/1.0" "first" 1000
  run_tool 0 root.out keygen "$work/root.pem"
  run_tool 0 signing.out keygen "$work/signing.pem"
  root=$(grep -o '[0-9a-f]\{128\}' root.out | head -n1)
  run_tool 0 pack.out pack "$base/1.0" feed --version 1.0 --sign "$work/signing.pem"
  run_tool 0 keys.out keys feed --root-key "$work/root.pem" --signing-key "$work/signing.pem"
  run_tool 0 resign.out resign feed --sign "$work/signing.pem"
  grep -q "serial 2" resign.out || { cat resign.out; fail "resign did not sign again"; }
  run_tool 0 check.out check feed --root-key "$root"
  grep -q "^keys.ini: signed by a root key" check.out || { cat check.out; fail "check did not judge the record"; }
  grep -q "^no problems" check.out || { cat check.out; fail "check found problems"; }
  sed -i 's/^version=1.0/version=1.9/' feed/manifest.ini
  run_tool 1 tampered.out check feed --root-key "$root"
  grep -q "^problem: manifest.ini: the signature does not verify" tampered.out || { cat tampered.out; fail "no signature problem"; }
  ;;
UnreadableFile)
  # A client file the tool may not read: pack names it and writes nothing.
  # root reads any file whatever its mode, so as root the tool runs as
  # nobody, in a folder of /tmp that nobody can reach.
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  chmod 755 "$scratch"
  make_client "$scratch/client" "first" 5000
  chmod 000 "$scratch/client/data.pak"
  mkdir -m 777 "$scratch/out"
  as_reader=()
  [ "$(id -u)" != 0 ] || as_reader=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  code=0
  "${as_reader[@]}" "$tool" pack "$scratch/client" "$scratch/out/feed" --version 1.0 > unreadable.out 2>&1 || code=$?
  [ "$code" = 1 ] || { cat unreadable.out; fail "an unreadable file gave exit $code"; }
  grep -q "^problem: data.pak: cannot be read" unreadable.out || { cat unreadable.out; fail "the line does not name data.pak"; }
  [ -z "$(find "$scratch/out" -type f)" ] || { find "$scratch/out"; fail "a refused pack wrote files"; }
  ;;
FullDisk)
  # A feed folder on a disk of 1 MiB: the release that does not fit is not
  # published, and the feed holds exactly what it held before. The small
  # disk is a tmpfs mounted in a mount namespace of the test's own (a user
  # namespace too, so that no root is needed).
  make_client "$base/1.0" "first" 100000
  cp -r "$base/1.0" "$base/1.1"
  head -c 3000000 /dev/urandom > "$base/1.1/music.ogg"
  mkdir disk
  cat > on_small_disk.sh <<'SCRIPT'
set -eu
mount -t tmpfs -o size=1m tmpfs disk
"$1" pack "$2" disk/feed --version 1.0 > pack1.out 2>&1
(cd disk/feed && find . -type f | sort | xargs sha256sum) > before.txt
code=0
"$1" pack "$3" disk/feed --version 1.1 > pack2.out 2>&1 || code=$?
echo "$code" > pack2.code
(cd disk/feed && find . -type f | sort | xargs sha256sum) > after.txt
SCRIPT
  unshare --user --map-root-user --mount sh on_small_disk.sh "$tool" "$base/1.0" "$base/1.1" ||
    { cat pack1.out 2>/dev/null; fail "the small disk could not be set up"; }
  [ "$(cat pack2.code)" = 1 ] || { cat pack2.out; fail "a full disk gave exit $(cat pack2.code)"; }
  grep -q "^problem: music.ogg: " pack2.out || { cat pack2.out; fail "the line does not name music.ogg"; }
  grep -q "manifest.ini is unchanged" pack2.out || { cat pack2.out; fail "pack did not say the release was not published"; }
  diff before.txt after.txt || fail "the failed pack changed the feed"
  ;;
SameFeedAsWindows)
  windows_build=$5 scripts=$6
  make_client "$base/1.0" "first" 200000
  cp -r "$base/1.0" "$base/1.1"
  printf 'y' | dd of="$base/1.1/data.pak" bs=1 seek=777 conv=notrunc status=none
  printf 'second\r\n' > "$base/1.1/readme.txt"
  # Relative paths: the same arguments mean the same folders to both.
  rel="배포 작업/client folders"
  run_tool 0 n1.out pack "$rel/1.0" native-feed --version 1.0
  run_tool 0 n2.out pack "$rel/1.1" native-feed --version 1.1 --from "$rel/1.0" --diff-tool "$tools/make_patch" \
    --patch-tool "$tools/hpatchz"
  export QUENFAR8_BUILD_DIR=$windows_build
  . "$scripts/wine-env.sh"
  wine "$windows_build/Quenfar8Release.exe" pack "$rel/1.0" windows-feed --version 1.0 > w1.out 2>&1 ||
    { cat w1.out; fail "the Windows program's first pack failed"; }
  wine "$windows_build/Quenfar8Release.exe" pack "$rel/1.1" windows-feed --version 1.1 --from "$rel/1.0" \
    --diff-tool "$windows_build/tools/make_patch.exe" --patch-tool "$windows_build/tools/hpatchz.exe" > w2.out 2>&1 ||
    { cat w2.out; fail "the Windows program's second pack failed"; }
  [ -n "$(ls native-feed/patches)" ] || fail "no patch was made"
  diff -r native-feed windows-feed || fail "the feed folders differ"
  ;;
SameFeedAsTheBuildMachine)
  # The program built for another architecture and the build machine's
  # own make the same feed from the same folders.
  host_tool=$5
  make_client "$base/1.0" "first" 200000
  cp -r "$base/1.0" "$base/1.1"
  printf 'y' | dd of="$base/1.1/data.pak" bs=1 seek=777 conv=notrunc status=none
  run_tool 0 a1.out pack "$base/1.0" feed --version 1.0
  run_tool 0 a2.out pack "$base/1.1" feed --version 1.1 --from "$base/1.0" --diff-tool "$tools/make_patch" \
    --patch-tool "$tools/hpatchz"
  [ -n "$(ls feed/patches)" ] || fail "no patch was made"
  # The same feed path for both, so that their lines may be compared too.
  mv feed this-feed
  "$host_tool" pack "$base/1.0" feed --version 1.0 > h1.out 2>&1 || { cat h1.out; fail "the host's pack failed"; }
  "$host_tool" pack "$base/1.1" feed --version 1.1 --from "$base/1.0" --diff-tool "$tools/make_patch" \
    --patch-tool "$tools/hpatchz" > h2.out 2>&1 || { cat h2.out; fail "the host's second pack failed"; }
  diff -r this-feed feed || fail "the feed folders differ"
  diff a2.out h2.out || fail "the two programs printed different lines"
  ;;
DebianPackage)
  build_tree=$5 cpack=$6
  version=$(sed -n 's/^QUENFAR8_RELEASE_TOOL_VERSION:STRING=//p' "$build_tree/CMakeCache.txt")
  arch=${7:-$(dpkg --print-architecture)}
  (cd "$build_tree" && "$cpack" -G DEB -B "$work/package") > cpack.out 2>&1 || { cat cpack.out; fail "cpack failed"; }
  deb="$work/package/quenfar8-release_${version}_${arch}.deb"
  [ -f "$deb" ] || { ls "$work/package"; fail "no $(basename "$deb")"; }
  [ "$(dpkg-deb -f "$deb" Package)" = quenfar8-release ] || fail "the package has another name"
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "the package is for $(dpkg-deb -f "$deb" Architecture)"
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in libc6 libssl3 libcurl4 libstdc++6; do
    case ", $depends" in *", $library "* | *", $library,"* | *", $library") ;; *) fail "Depends lacks $library: $depends" ;; esac
  done
  dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$' > files.txt
  [ "$(cat files.txt)" = "./usr/bin/quenfar8-release" ] || { cat files.txt; fail "the package holds other files"; }
  # The packaged program, unpacked, packs and checks like the built one.
  dpkg-deb -x "$deb" root
  # A cross-built program runs under the tree's emulator.
  unpacked="$work/root/usr/bin/quenfar8-release"
  if [ -n "${QUENFAR8_TOOL_EMULATOR:-}" ]; then
    printf '#!/bin/sh\nexec %s "%s" "$@"\n' "$QUENFAR8_TOOL_EMULATOR" "$unpacked" > "$work/unpacked-tool"
    chmod +x "$work/unpacked-tool"
    unpacked="$work/unpacked-tool"
  fi
  tool=$unpacked
  make_client "$base/1.0" "first" 50000
  run_tool 0 pack.out pack "$base/1.0" feed --version 1.0
  run_tool 0 check.out check feed
  grep -q "^no problems" check.out || { cat check.out; fail "check found problems"; }
  ;;
*)
  fail "no case $case_name"
  ;;
esac
echo "ok: $case_name"
