#!/usr/bin/env bash
# Two plain builds of the same sources, copied into two folders of
# different depths, give byte-identical programs: the released updater,
# the release tool and the test build of the updater. Neither holds the
# path of its source or build folder. Then SOURCE_DATE_EPOCH, set for a
# configuration, becomes the header's time stamp of every program.
#   reproducible_build_test.sh <source folder> <scratch folder> <nm>
set -uo pipefail
source=$1
scratch=$2
nm=$3
programs=(Quenfar8Updater.exe Quenfar8Release.exe test-build/Quenfar8Updater.exe)
failed=0
fail() { echo "FAIL: $*"; failed=1; }

rm -rf "$scratch"
first=$scratch/a/src
second=$scratch/b/one/two/three/src
# The sources as a checkout has them (tracked and new files, nothing that
# git ignores, such as build trees); where git cannot list them, a plain
# copy without the folders git would ignore.
copy_sources() {
  mkdir -p "$1"
  if git -C "$source" rev-parse --show-toplevel >/dev/null 2>&1; then
    (cd "$source" && git ls-files -z --cached --others --exclude-standard | xargs -0 tar -cf - --no-recursion) | tar -C "$1" -xf -
  else
    tar -C "$source" --exclude=./.git --exclude=./build --exclude='./build-*' --exclude=./demo -cf - . | tar -C "$1" -xf -
  fi
}
copy_sources "$first" && copy_sources "$second" || { echo "FAIL: the sources cannot be copied"; exit 1; }

# A plain configuration and build of the three programs in <src>/build,
# without SOURCE_DATE_EPOCH unless given.
build() {
  local src=$1
  shift
  env -u SOURCE_DATE_EPOCH "$@" cmake -S "$src" -B "$src/build" \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-mingw-i686.cmake" >"$src.configure.log" 2>&1 &&
    cmake --build "$src/build" -j2 --target updater release_tool updater_test >"$src.build.log" 2>&1
}
for src in "$first" "$second"; do
  start=$(date +%s)
  if ! build "$src"; then
    tail -30 "$src.configure.log" "$src.build.log"; echo "FAIL: the build in $src failed"; exit 1
  fi
  echo "built in $src in $(($(date +%s) - start)) s"
done

for program in "${programs[@]}"; do
  a=$first/build/$program
  b=$second/build/$program
  if cmp "$a" "$b"; then
    echo "identical: $program, $(stat -c %s "$a") bytes, sha256 $(sha256sum "$a" | cut -c1-64)"
  else
    fail "$program differs between the two builds"
  fi
  for folder in "$first" "$second" "$scratch"; do
    grep -qF "$folder" "$a" "$b" && fail "$program holds the path $folder"
  done
done
python3 "$source/tests/host/pe_properties.py" --nm "$nm" --timestamp 0 \
  "$first/build/Quenfar8Updater.exe=gui" "$first/build/Quenfar8Release.exe=console" || fail "the programs' properties"

# A packager's time: the programs are linked again with it in their header.
epoch=1700000000
rm -f "${programs[@]/#/$second/build/}"
env SOURCE_DATE_EPOCH=$epoch cmake -S "$second" -B "$second/build" >"$second.configure.log" 2>&1 &&
  cmake --build "$second/build" -j2 --target updater release_tool updater_test >"$second.build.log" 2>&1 ||
  { tail -30 "$second.build.log"; fail "the build with SOURCE_DATE_EPOCH failed"; }
python3 "$source/tests/host/pe_properties.py" --nm "$nm" --timestamp $epoch \
  "$second/build/Quenfar8Updater.exe=gui" "$second/build/Quenfar8Release.exe=console" \
  "$second/build/test-build/Quenfar8Updater.exe=gui" || fail "SOURCE_DATE_EPOCH is not the header's time stamp"

[ "$failed" -eq 0 ] && rm -rf "$scratch"
exit $failed
