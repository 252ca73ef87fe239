#!/usr/bin/env bash
# The benchmark's measurements, on a display that bench/run.sh set up.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/wine-env.sh"
enter_wine_session

files=$1
mib=$2
repeat=${QUENFAR8_BENCH_REPEAT:-1}
bench=$QUENFAR8_BUILD_DIR/bench
run_wine() { "$root/cmake/wine-run.sh" "$@"; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# make_client <folder> <count>: a current client of <count> files of <mib>
# MiB and the package folder whose manifest lists them all.
make_client() {
  local folder=$1 count=$2 i name
  mkdir -p "$folder/install" "$folder/package"
  cp "$QUENFAR8_BUILD_DIR/Quenfar8Updater.exe" "$folder/install/"
  printf 'stand-in game' > "$folder/install/Quenfar8.exe"
  for i in $(seq 0 $((count - 1))); do
    name=$(printf 'file-%03d.bin' "$i")
    if [ ! -f "$folder/install/$name" ] || [ "$(stat -c %s "$folder/install/$name")" -ne $((mib * 1048576)) ]; then
      head -c $((mib * 1048576)) /dev/urandom > "$folder/install/$name"
    fi
  done
  {
    printf '[release]\r\nformat=1\r\ncount=%d\r\nlaunch=Quenfar8.exe\r\n' $((count + 1))
    printf '[file.0]\r\nname=Quenfar8.exe\r\nsha256=%s\r\nsize=%s\r\nfull=files/quenfar8.exe\r\npatches=0\r\n' \
      "$(sha256sum "$folder/install/Quenfar8.exe" | cut -c1-64)" "$(stat -c %s "$folder/install/Quenfar8.exe")"
    for i in $(seq 0 $((count - 1))); do
      name=$(printf 'file-%03d.bin' "$i")
      printf '[file.%d]\r\nname=%s\r\nsha256=%s\r\nsize=%s\r\nfull=files/%s\r\npatches=0\r\n' $((i + 1)) "$name" \
        "$(sha256sum "$folder/install/$name" | cut -c1-64)" "$((mib * 1048576))" "$name"
    done
  } > "$folder/package/manifest.ini"
  rm -rf "$folder/install/.quenfar8-update"
}

# best_seconds <command...>: the shortest wall time of $repeat runs.
best_seconds() {
  local best="" i start end t
  for i in $(seq 1 "$repeat"); do
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" -eq 1 ]; then best=$t; fi
  done
  printf '%.2f' "$best"
}

# update <folder>: one quiet update run, which must succeed.
update() {
  run_wine "$1/install/Quenfar8Updater.exe" /quiet /package "$(winpath "$1/package")"
}

# peak_kib <folder>: the peak resident memory of an update run.
peak_kib() {
  /usr/bin/time -f %M -o "$bench/peak" "$root/cmake/wine-run.sh" "$1/install/Quenfar8Updater.exe" /quiet \
    /package "$(winpath "$1/package")"
  cat "$bench/peak"
}

echo "preparing ${files} files of ${mib} MiB ..."
make_client "$bench/many" "$files"
make_client "$bench/one" 1
cat "$bench/many/install"/file-*.bin > /dev/null  # both sides start from a warm cache

update "$bench/many" || { echo "the update run failed; see $bench/many/install/.quenfar8-update"; exit 1; }
run_seconds=$(best_seconds update "$bench/many")
bare_seconds=$(best_seconds run_wine "$QUENFAR8_BUILD_DIR/bench/hash_pass.exe" "$(winpath "$bench/many/install")")
sum_seconds=$(best_seconds sh -c "sha256sum '$bench/many/install'/file-*.bin")
peak_many=$(peak_kib "$bench/many")
peak_one=$(peak_kib "$bench/one")
total_mib=$((files * mib))

echo
echo "client: ${files} files, ${total_mib} MiB, all current"
echo "update run (check, re-check, final verification): ${run_seconds} s"
echo "one bare pass, same hashing service:              ${bare_seconds} s"
echo "sha256sum over the same files:                    ${sum_seconds} s"
echo "ratio run / (3 x bare pass):                      $(echo "$run_seconds / (3 * $bare_seconds)" | bc -l | xargs printf '%.3f')"
echo "peak memory of a run, 1 file:                     ${peak_one} KiB"
echo "peak memory of a run, ${files} files:                   ${peak_many} KiB"
