#!/usr/bin/env bash
# The resilient delivery benchmark's measurements, on a display that
# bench/resilient.sh set up. Starts its own throwaway test authority and
# loopback feed (tests/https) and its own nginx with the shipped site
# configuration, in build/bench/resilient; stops them at the end.
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin"
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/wine-env.sh"
enter_wine_session

large_mib=$1
huge_mib=$2
repeat=${QUENFAR8_BENCH_REPEAT:-3}
steps=${QUENFAR8_BENCH_STEPS:-1 2 3 4 5}
build=$QUENFAR8_BUILD_DIR
work=$build/bench/resilient
wine_run="$root/cmake/wine-run.sh"

stop_servers() {
  "$root/tests/nginx/stop.sh" "$work/nginx"
  "$root/tests/https/stop.sh" "$work/https"
  stop_wineserver
}
trap stop_servers EXIT
"$root/tests/https/start.sh" "$work/https" "$build/tools/trust_ca.exe" >/dev/null
"$root/tests/nginx/start.sh" "$work/nginx" "$work/https" "$root/deploy/nginx/quenfar8-feed.conf"
nginx_port=$(cat "$work/nginx/port")
feed_port=$(cut -d' ' -f1 "$work/https/ports")
mkdir -p "$work/blobs"

# blob <name> <MiB>: a random file kept between benchmark runs.
blob() {
  local path=$work/blobs/$1
  if [ ! -f "$path" ] || [ "$(stat -c %s "$path")" -ne $(($2 * 1048576)) ]; then
    head -c $(($2 * 1048576)) /dev/urandom > "$path"
  fi
  echo "$path"
}
printf 'stand-in game' > "$work/blobs/game"

# publish <www folder> <feed name> <blob>...: a feed folder with the game and
# the blobs as data-NNN.pak, each under files/<sha256>, linked, not copied.
publish() {
  local www=$1 name=$2 dir=$1/$2 i=1 b sum
  shift 2
  rm -rf "$dir"
  mkdir -p "$dir/files"
  {
    printf '[release]\r\nformat=1\r\ncount=%d\r\nlaunch=Quenfar8.exe\r\n' $(($# + 1))
    sum=$(sha256sum "$work/blobs/game" | cut -c1-64)
    ln -f "$work/blobs/game" "$dir/files/$sum"
    printf '[file.0]\r\nname=Quenfar8.exe\r\nsha256=%s\r\nsize=13\r\nfull=files/%s\r\npatches=0\r\n' "$sum" "$sum"
    for b in "$@"; do
      sum=$(sha256sum "$b" | cut -c1-64)
      ln -f "$b" "$dir/files/$sum"
      printf '[file.%d]\r\nname=data-%03d.pak\r\nsha256=%s\r\nsize=%d\r\nfull=files/%s\r\npatches=0\r\n' \
        "$i" "$i" "$sum" "$(stat -c %s "$b")" "$sum"
      i=$((i + 1))
    done
  } > "$dir/manifest.ini"
  cat "$dir/files"/* > /dev/null
}

# fresh_install <folder> <feed address> <resilient 0 or 1>: the release
# build and its INI, nothing else.
fresh_install() {
  rm -rf "$1"
  mkdir -p "$1"
  cp "$build/Quenfar8Updater.exe" "$1/"
  printf '[updater]\r\nfeed=%s\r\n' "$2" > "$1/Quenfar8Updater.ini"
  [ "$3" = 0 ] || printf 'network=resilient\r\n' >> "$1/Quenfar8Updater.ini"
}
update() { "$wine_run" "$1/Quenfar8Updater.exe" /quiet; }

# nginx_bytes <path>: the body bytes nginx sent for the path, one request a
# line, oldest first.
nginx_bytes() { awk -v p="$1" '$2 == p { print $4 }' "$work/nginx/access.log"; }
sum_lines() { awk '{ s += $1 } END { printf "%.0f", s }'; }
ratio() { echo "scale=4; $1 / $2" | bc -l; }

large=$(blob large "$large_mib")
large_size=$(stat -c %s "$large")
large_sum=$(sha256sum "$large" | cut -c1-64)
install=$work/install

step_killed_at_90() {
  echo "== 1. an update of ${large_mib} MiB killed at 90%, then started again (nginx)"
  publish "$work/nginx/www" killed "$large"
  fresh_install "$install" "https://localhost:$nginx_port/killed/" 1
  partial=$install/.quenfar8-update/partial/$large_sum
  held=$(kill_when_held "$partial" $((large_size / 10 * 9)) "$wine_run" "$install/Quenfar8Updater.exe" /quiet)
  update "$install" || { echo "the second start failed"; exit 1; }
  cmp -s "$large" "$install/data-001.pak" || { echo "data-001.pak differs"; exit 1; }
  sleep 1  # nginx logs the killed request once it notices the client has gone
  rest=$(nginx_bytes "/killed/files/$large_sum" | tail -n 1)
  echo "killed with $held of $large_size bytes held; the second start fetched $rest bytes:" \
    "$(ratio "$rest" "$large_size") of the file (goal: at most 0.1 plus 1 MiB: $(ratio $((large_size / 10 + 1048576)) "$large_size"))"
}

step_resets() {
  echo "== 2. ${large_mib} MiB from a feed that resets the connection every 128 MiB (loopback feed)"
  publish "$work/https/www" resets "$large"
  mkdir -p "$work/https/www/.faults"
  echo "resetevery 134217728" > "$work/https/www/.faults/~resets~files~$large_sum"
  : > "$work/https/hits"
  fresh_install "$install" "https://localhost:$feed_port/resets/" 1
  if update "$install" && cmp -s "$large" "$install/data-001.pak"; then
    sent=$(awk -v p="/resets/files/$large_sum" '$1 == "SENT" && $2 == p { print $3 }' "$work/https/hits" | sum_lines)
    asks=$(grep -c "^GET /resets/files/$large_sum " "$work/https/hits")
    echo "completed in $asks requests; bytes sent $sent: $(ratio "$sent" "$large_size") of the file (goal: at most 1.02)"
  else
    echo "FAILED: the run did not complete"
  fi
  fresh_install "$install" "https://localhost:$feed_port/resets/" 0
  if update "$install"; then echo "default mode: completed (unexpected)"; else echo "default mode: the run fails, as before"; fi
}

step_small_files() {
  echo "== 3. 127 files of 64 KiB and the game (a manifest's most, 128 files): one connection against one per file (nginx)"
  smalls=()
  for i in $(seq 0 126); do
    small=$work/blobs/small-$i
    [ -f "$small" ] && [ "$(stat -c %s "$small")" -eq 65536 ] || head -c 65536 /dev/urandom > "$small"
    smalls+=("$small")
  done
  publish "$work/nginx/www" smalls "${smalls[@]}"
  cat > "$work/small-default.sh" <<RUN
rm -rf '$install-d'; mkdir -p '$install-d'; cp '$build/Quenfar8Updater.exe' '$install-d/'
printf '[updater]\r\nfeed=https://localhost:$nginx_port/smalls/\r\n' > '$install-d/Quenfar8Updater.ini'
'$wine_run' '$install-d/Quenfar8Updater.exe' /quiet
RUN
  cat > "$work/small-resilient.sh" <<RUN
rm -rf '$install-r'; mkdir -p '$install-r'; cp '$build/Quenfar8Updater.exe' '$install-r/'
printf '[updater]\r\nfeed=https://localhost:$nginx_port/smalls/\r\nnetwork=resilient\r\n' > '$install-r/Quenfar8Updater.ini'
'$wine_run' '$install-r/Quenfar8Updater.exe' /quiet
RUN
  hyperfine --runs "$repeat" --warmup 1 --export-json "$work/small.json" \
    -n "connection per file (default)" "sh -e $work/small-default.sh" \
    -n "one connection (resilient)" "sh -e $work/small-resilient.sh"
  python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"]; print("one connection / connection per file: %.3f" % (r[1]["median"] / r[0]["median"]))' "$work/small.json"
  # The TLS connections nginx saw for one run of each (its connection log).
  for mode in default resilient; do
    : > "$work/nginx/connections.log"
    sh -e "$work/small-$mode.sh"
    sleep 1
    echo "$mode: $(awk '{ print $1 }' "$work/nginx/connections.log" | sort -u | wc -l) connections" \
      "for $(wc -l < "$work/nginx/connections.log") requests"
  done
}

step_large_throughput() {
  echo "== 4. ${large_mib} MiB, resilient against default: throughput and peak memory (nginx)"
  publish "$work/nginx/www" large "$large"
  for mode in 0 1; do
    cat > "$work/large-$mode.sh" <<RUN
rm -rf '$install-$mode'; mkdir -p '$install-$mode'; cp '$build/Quenfar8Updater.exe' '$install-$mode/'
printf '[updater]\r\nfeed=https://localhost:$nginx_port/large/\r\n' > '$install-$mode/Quenfar8Updater.ini'
[ $mode = 0 ] || printf 'network=resilient\r\n' >> '$install-$mode/Quenfar8Updater.ini'
'$wine_run' '$install-$mode/Quenfar8Updater.exe' /quiet
RUN
  done
  hyperfine --runs "$repeat" --warmup 1 --export-json "$work/large.json" \
    -n default "sh -e $work/large-0.sh" -n resilient "sh -e $work/large-1.sh"
  python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"]; print("throughput resilient / default: %.3f (goal: at least 0.97)" % (r[0]["median"] / r[1]["median"]))' "$work/large.json"
  for mode in 0 1; do
    rm -rf "$install-$mode/data-001.pak" "$install-$mode/.quenfar8-update"
    /usr/bin/time -f %M -o "$work/peak-$mode" "$wine_run" "$install-$mode/Quenfar8Updater.exe" /quiet
  done
  echo "peak memory: default $(cat "$work/peak-0") KiB, resilient $(cat "$work/peak-1") KiB"
  rm -rf "$install-0" "$install-1" "$install-d" "$install-r"
}

step_huge_file() {
  echo "== 5. a ${huge_mib} MiB whole file in resilient mode (nginx)"
  huge=$(blob huge "$huge_mib")
  huge_size=$(stat -c %s "$huge")
  huge_sum=$(sha256sum "$huge" | cut -c1-64)
  publish "$work/nginx/www" huge "$huge"
  fresh_install "$install" "https://localhost:$nginx_port/huge/" 1
  start=$(date +%s.%N)
  if update "$install" && cmp -s "$huge" "$install/data-001.pak"; then
    end=$(date +%s.%N)
    sleep 1
    sent=$(nginx_bytes "/huge/files/$huge_sum" | sum_lines)
    asks=$(nginx_bytes "/huge/files/$huge_sum" | wc -l)
    echo "arrived and installed in $(echo "$end - $start" | bc -l | cut -c1-6) s over $asks requests" \
      "($(nginx_bytes "/huge/files/$huge_sum" | paste -sd+ | sed 's/+/ + /g') bytes);" \
      "bytes sent $sent: $(ratio "$sent" "$huge_size") of the file (goal: at most 1.01)"
  else
    echo "FAILED: the ${huge_mib} MiB file did not arrive"
  fi
  # The same file in the default mode, for comparison: one request, which
  # wine's WinHTTP ends cleanly after 2,147,483,647 bytes of body.
  fresh_install "$install" "https://localhost:$nginx_port/huge/" 0
  before=$(nginx_bytes "/huge/files/$huge_sum" | wc -l)
  if update "$install" && cmp -s "$huge" "$install/data-001.pak"; then
    echo "default mode: arrived and installed"
  else
    sleep 1
    echo "default mode: the run fails; nginx's last answer for the file:" \
      "$(nginx_bytes "/huge/files/$huge_sum" | tail -n +$((before + 1)) | tail -n 1) bytes of body sent"
    echo "its log's last line: $(cat "$install"/.quenfar8-update/*/updater.log | tr -d '\r' | grep . | tail -n 1)"
  fi
  rm -rf "$install"
}

first=1
for step in $steps; do
  [ "$first" = 1 ] || echo
  first=0
  case $step in
    1) step_killed_at_90 ;;
    2) step_resets ;;
    3) step_small_files ;;
    4) step_large_throughput ;;
    5) step_huge_file ;;
    *) echo "no step $step (steps are 1 to 5)"; exit 2 ;;
  esac
done
