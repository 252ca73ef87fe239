#!/usr/bin/env bash
# The executable's path may have 823 characters, not 824. Run from the build
# machine's side: wine's CreateProcessW cannot start a program whose path has
# 260 characters or more, but the wine loader started with a Unix path can.
# Wine's INI reader cannot open a file at such a depth either, so the 823
# case is judged by the work area appearing, not by the run's outcome.
#   long_path_test.sh <updater exe> <scratch folder>
set -u
updater=$1
scratch=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rm -rf "$scratch"
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)
failures=0

# Makes a folder below $scratch whose Windows path (Z: and the Unix path with
# backslashes) leaves the executable's path exactly $1 characters long.
make_folder() {
  local length=$1 folder="$scratch/len$1" exe_name="/Quenfar8Updater.exe"
  mkdir -p "$folder"
  while :; do
    local remaining=$(( length - 2 - ${#folder} - ${#exe_name} ))
    [ "$remaining" -eq 0 ] && break
    local part=200
    if [ "$remaining" -le 201 ]; then part=$(( remaining - 1 )); elif [ $(( remaining - 201 )) -eq 1 ]; then part=199; fi
    folder="$folder/$(printf 'd%.0s' $(seq 1 "$part"))"
    mkdir -p "$folder"
  done
  echo "$folder"
}

for length in 823 824; do
  folder=$(make_folder "$length")
  cp "$updater" "$folder/Quenfar8Updater.exe"
  windows_path="Z:$(printf '%s' "$folder/Quenfar8Updater.exe" | tr / '\\')"
  if [ "${#windows_path}" -ne "$length" ]; then
    echo "FAIL: built a path of ${#windows_path} characters instead of $length"; failures=$((failures + 1)); continue
  fi
  printf '[release]\r\nformat=1\r\n' > "$folder/manifest.ini"
  "$here/../../cmake/wine-run.sh" "$folder/Quenfar8Updater.exe" /quiet </dev/null >/dev/null 2>&1
  code=$?
  if [ "$length" -eq 823 ]; then
    if [ ! -d "$folder/.quenfar8-update" ] || [ "$code" -eq 2 ]; then
      echo "FAIL: an executable path of 823 characters was refused (exit $code)"; failures=$((failures + 1))
    else
      echo "ok: 823 characters reach the work area (exit $code)"
    fi
  else
    if [ "$code" -ne 2 ] || [ -e "$folder/.quenfar8-update" ]; then
      echo "FAIL: an executable path of 824 characters was accepted (exit $code)"; failures=$((failures + 1))
    else
      echo "ok: 824 characters end with exit code 2 and nothing created"
    fi
  fi
done
rm -rf "$scratch"
exit "$failures"
