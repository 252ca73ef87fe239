#!/usr/bin/env bash
# The RELEASE_PUBLIC_KEY and RELEASE_ROOT_KEYS build settings: a value of
# any other form, a key that is no point of the P-256 curve, more than four
# root keys, or both settings at once stop the configuration with a message
# that says why; right ones are written into the source that builds the
# keys in.   release_key_setting_test.sh <source folder> <scratch folder>
set -uo pipefail
source=$1
scratch=$2
configure() {
  rm -rf "$scratch"
  cmake -S "$source" -B "$scratch" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/toolchain-mingw-i686.cmake" \
    -DQUENFAR8_TESTS=OFF "$@" >"$scratch.log" 2>&1
}
# Whether the configuration said message; CMake folds long messages over
# lines, so blanks and line ends count as one blank.
said() {
  tr -s ' \n' '  ' <"$scratch.log" | grep -qF "$1"
}
failed=0
# The curve's generator G and 2G: points of P-256. Changing the last digit
# of a point's Y leaves a well-formed key that is no point.
g=6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c2964fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5
g2=7cf27b188d034f7e8a52380304b51ac3c08969e277f21b35a60b48fc4766997807775510db8ed040293d9ac69f7430dbba7dade63ce982299e04b79d227873d1
no_point=${g:0:127}4
form="must be empty or 128 lowercase hexadecimal digits"
# setting|value|message the configuration must stop with
refused=(
  "RELEASE_PUBLIC_KEY|$(printf '%0127d' 0)|RELEASE_PUBLIC_KEY $form"
  "RELEASE_PUBLIC_KEY|$(printf '%0129d' 0)|RELEASE_PUBLIC_KEY $form"
  "RELEASE_PUBLIC_KEY|$(echo "$g" | tr a-f A-F)|RELEASE_PUBLIC_KEY $form"
  "RELEASE_PUBLIC_KEY|${g:0:127}g|RELEASE_PUBLIC_KEY $form"
  "RELEASE_PUBLIC_KEY|xyz|RELEASE_PUBLIC_KEY $form"
  "RELEASE_PUBLIC_KEY|$no_point|RELEASE_PUBLIC_KEY: $no_point is not a point of the P-256 curve"
  "RELEASE_ROOT_KEYS|$g,$no_point|RELEASE_ROOT_KEYS: $no_point is not a point of the P-256 curve"
  "RELEASE_ROOT_KEYS|$g, $g2|RELEASE_ROOT_KEYS must be one to four keys"
  "RELEASE_ROOT_KEYS|$g,|RELEASE_ROOT_KEYS must be one to four keys"
  "RELEASE_ROOT_KEYS|${g:0:127}|each key is 128 lowercase hexadecimal digits; one has 127"
  "RELEASE_ROOT_KEYS|$g,$g2,$g,$g2,$g|RELEASE_ROOT_KEYS holds 5 keys; at most 4 may be pinned"
)
for row in "${refused[@]}"; do
  IFS='|' read -r setting value message <<<"$row"
  if configure "-D$setting=$value"; then
    echo "configured with $setting=$value"; failed=1
  elif ! said "$message"; then
    echo "no clear message for $setting=$value (expected: $message):"; cat "$scratch.log"; failed=1
  fi
done
if configure -DRELEASE_PUBLIC_KEY="$g" -DRELEASE_ROOT_KEYS="$g2"; then
  echo "configured with both a publisher key and root keys"; failed=1
elif ! said "RELEASE_ROOT_KEYS and RELEASE_PUBLIC_KEY cannot both be set"; then
  echo "no clear message for both settings:"; cat "$scratch.log"; failed=1
fi
# setting|value|line of the generated source
accepted=(
  "RELEASE_PUBLIC_KEY|$g|#define RELEASE_PUBLIC_KEY_HEX \"$g\""
  "RELEASE_ROOT_KEYS|$g|#define RELEASE_ROOT_KEYS_HEX \"$g\""
  "RELEASE_ROOT_KEYS|$g,$g2,$g2,$g|#define RELEASE_ROOT_KEYS_HEX \"$g,$g2,$g2,$g\""
)
for row in "${accepted[@]}"; do
  IFS='|' read -r setting value line <<<"$row"
  if ! configure "-D$setting=$value"; then
    echo "refused $setting=$value:"; cat "$scratch.log"; failed=1
  elif ! grep -qF "$line" "$scratch/generated/release_key.cpp"; then
    echo "$setting=$value was not built in:"; cat "$scratch/generated/release_key.cpp"; failed=1
  fi
done
rm -rf "$scratch" "$scratch.log"
exit $failed
