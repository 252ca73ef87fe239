#!/usr/bin/env bash
# The demo's steps on a display that scripts/demo.sh has set up.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/wine-env.sh"
enter_wine_session

build=$QUENFAR8_BUILD_DIR
demo=$build/demo
install=$demo/install
package=$demo/package
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
digest() { sha256sum "$1" | cut -c1-64; }
size() { stat -c %s "$1"; }

rm -rf "$demo"
mkdir -p "$install" "$package/files" "$package/patches"

# The older client, release 1.0. The patch tool is the test suite's own
# stand-in for hpatchz.exe, so the demo runs the test build of the updater,
# which accepts that tool; the released build accepts only the distributed
# hpatchz.exe.
cp "$build/test-build/Quenfar8Updater.exe" "$install/"
cp "$build/tools/hpatchz.exe" "$install/"
cp "$build/tools/Quenfar8.exe" "$install/Quenfar8.exe"
printf 'Quenfar8 release 1.0\r\n' > "$install/readme.txt"
head -c 3000000 /dev/urandom > "$install/data.pak"

# Release 1.1: the game is unchanged, readme.txt is replaced whole,
# data.pak changes in a few places and comes as a patch, music.ogg is new.
cp "$install/Quenfar8.exe" "$package/files/quenfar8.exe"
printf 'Quenfar8 release 1.1\r\nNew: a music track.\r\n' > "$package/files/readme.txt"
cp "$install/data.pak" "$package/files/data.pak"
printf 'LEVEL-1.1' | dd of="$package/files/data.pak" bs=1 seek=1500000 conv=notrunc status=none
head -c 200000 /dev/urandom > "$package/files/music.ogg"
"$root/cmake/wine-run.sh" "$build/tools/make_patch.exe" "$(winpath "$install/data.pak")" \
  "$(winpath "$package/files/data.pak")" "$(winpath "$package/patches/data-1.0-1.1.qpatch")"

{
  printf '[release]\r\nformat=1\r\ncount=4\r\nlaunch=Quenfar8.exe\r\nversion=1.1\r\n'
  n=0
  for entry in "Quenfar8.exe:quenfar8.exe" "readme.txt:readme.txt" "data.pak:data.pak" "music.ogg:music.ogg"; do
    name=${entry%%:*}
    file="$package/files/${entry#*:}"
    patches=0
    [ "$name" = data.pak ] && patches=1
    printf '[file.%d]\r\nname=%s\r\nsha256=%s\r\nsize=%s\r\nfull=files/%s\r\npatches=%d\r\n' \
      "$n" "$name" "$(digest "$file")" "$(size "$file")" "${entry#*:}" "$patches"
    if [ "$name" = data.pak ]; then
      patch="$package/patches/data-1.0-1.1.qpatch"
      printf '[patch.%d.0]\r\nbase_sha256=%s\r\nsha256=%s\r\nsize=%s\r\npath=patches/data-1.0-1.1.qpatch\r\n' \
        "$n" "$(digest "$install/data.pak")" "$(digest "$patch")" "$(size "$patch")"
    fi
    n=$((n + 1))
  done
} > "$package/manifest.ini"

listing() { (cd "$install" && for f in $(ls | sort); do printf '%s  %10s  %s\n' "$(digest "$f" | cut -c1-16)" "$(size "$f")" "$f"; done); }

# run <label> : runs the updater with its window, pictures the finished
# window and closes it the way a player would.
run() {
  local label=$1 before after picture=$demo/window-$1
  before=$(listing)
  (cd "$install" && "$root/cmake/wine-run.sh" "$install/Quenfar8Updater.exe" /package "$(winpath "$package")") &
  local updater=$!
  local status
  status=$("$root/cmake/wine-run.sh" "$build/tools/window_shot.exe" "$(winpath "$picture.bmp")" 120)
  local code=0
  wait "$updater" || code=$?
  convert "$picture.bmp" "$picture.png" && rm -f "$picture.bmp"
  after=$(listing)
  local run_folder
  run_folder=$(ls -d "$install/.quenfar8-update"/*/ | sort | tail -n 1)
  echo
  echo "=== $label run ==="
  echo "updater.log ($run_folder):"
  sed 's/\r$//; s/^/    /' "$run_folder/updater.log"
  echo "status line when the window was closed: $status"
  echo "exit code: $code"
  echo "install folder (sha256 prefix, size, name) before -> after:"
  diff <(echo "$before") <(echo "$after") | sed -n 's/^</    before: /p; s/^>/    after:  /p' || true
  [ "$before" = "$after" ] && echo "    nothing changed"
  echo "backups kept: $(ls "$run_folder/backup" | tr '\n' ' ')"
  echo "left in new\\: $(ls "$run_folder/new" | wc -l) files"
  echo "picture of the finished window: $picture.png"
}

run first
run second
