#!/usr/bin/env bash
# The native release tool reads a manifest as the player's updater does,
# through its own INI reader; the Windows program reads it through
# Windows' INI functions. This feeds both programs' check the suite's
# hostile manifests (tests/support/manifest_mutator.cpp, by seed) in a feed
# with real blobs and a patch, and requires the same exit code and the same
# output, line for line:
#   differential_ini_test.sh <quenfar8-release> <native tools folder> <work folder>
#                            <Windows build> <scripts> <first seed> <count>
# Every seed whose answers differ is printed with its recipe and the
# difference; the test fails when there is one.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
tool=$1 tools=$2 work=$3 windows_build=$4 scripts=$5 first=$6 count=$7
rm -rf "$work"
mkdir -p "$work/clients/1.0" "$work/mutants"
cd "$work"

# A feed of two releases, so that the valid manifest has files, a launch
# entry, a patch section and a history.
printf 'MZ stand-in game' > clients/1.0/Quenfar8.exe
head -c 100000 /dev/urandom > clients/1.0/data.pak
printf 'first\r\n' > clients/1.0/readme.txt
cp -r clients/1.0 clients/1.1
printf 'changed' | dd of=clients/1.1/data.pak bs=1 seek=5000 conv=notrunc status=none
"$tool" pack clients/1.0 feed --version 1.0 > pack.out 2>&1 || { cat pack.out; fail "pack failed"; }
"$tool" pack clients/1.1 feed --version 1.1 --from clients/1.0 --diff-tool "$tools/make_patch" \
  --patch-tool "$tools/hpatchz" > pack.out 2>&1 || { cat pack.out; fail "pack failed"; }
cp feed/manifest.ini valid.ini
"$tools/mutate_manifest" valid.ini "$first" "$count" mutants || fail "mutate_manifest failed"

export QUENFAR8_BUILD_DIR=$windows_build
. "$scripts/wine-env.sh"
windows_tool="$windows_build/Quenfar8Release.exe"

differ=0 accepted=0
for ((seed = first; seed < first + count; ++seed)); do
  cp "mutants/$seed.ini" feed/manifest.ini
  native_code=0 windows_code=0
  "$tool" check feed > native.out 2>&1 || native_code=$?
  wine "$windows_tool" check feed > windows.out 2>&1 || windows_code=$?
  [ "$native_code" = 0 ] && accepted=$((accepted + 1))
  if [ "$native_code" != "$windows_code" ] || ! cmp -s native.out windows.out; then
    differ=$((differ + 1))
    echo "seed $seed: $(cat "mutants/$seed.txt")"
    echo "  exit $native_code natively, $windows_code on Windows"
    diff native.out windows.out | sed 's/^/  /' | head -n 20 || true
  fi
done
echo "$count manifests from seed $first: $accepted accepted, $((count - accepted)) refused, $differ judged differently"
[ "$differ" = 0 ] || fail "the two programs judged $differ manifests differently"
