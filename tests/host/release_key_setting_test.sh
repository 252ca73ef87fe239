#!/usr/bin/env bash
# The RELEASE_PUBLIC_KEY build setting: a value of any form but 128
# lowercase hexadecimal digits stops the configuration with a message that
# names the setting; a right one is written into the source that builds the
# key in.   release_key_setting_test.sh <source folder> <scratch folder>
set -uo pipefail
source=$1
scratch=$2
configure() {
  rm -rf "$scratch"
  cmake -S "$source" -B "$scratch" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/toolchain-mingw-i686.cmake" \
    -DQUENFAR8_TESTS=OFF -DRELEASE_PUBLIC_KEY="$1" >"$scratch.log" 2>&1
}
failed=0
good=$(printf '%0128x' 0 | sed 's/0/a/g; s/^a/0/')
for bad in "$(printf '%0127d' 0)" "$(printf '%0129d' 0)" "$(echo "$good" | tr a A)" "${good:0:127}g" "xyz"; do
  if configure "$bad"; then
    echo "configured with RELEASE_PUBLIC_KEY=$bad"; failed=1
  elif ! grep -q "RELEASE_PUBLIC_KEY must be empty or 128 lowercase hexadecimal digits" "$scratch.log"; then
    echo "no clear message for RELEASE_PUBLIC_KEY=$bad:"; cat "$scratch.log"; failed=1
  fi
done
if ! configure "$good"; then
  echo "refused a well-formed key:"; cat "$scratch.log"; failed=1
elif ! grep -q "#define RELEASE_PUBLIC_KEY_HEX \"$good\"" "$scratch/generated/release_key.cpp"; then
  echo "the key was not built in:"; cat "$scratch/generated/release_key.cpp"; failed=1
fi
rm -rf "$scratch" "$scratch.log"
exit $failed
