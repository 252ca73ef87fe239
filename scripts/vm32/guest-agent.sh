#!/bin/bash
# Runs in the guest, started by its first process from the control folder
# that scripts/vm32/run.sh shares (and copies it into): mounts the checkout,
# keeps one wineserver for the whole boot,
# then runs each request it finds there (a folder with the command, its
# folder and environment, marked ready by a file "go") and writes the
# command's output and exit code beside it, until the host asks it to stop.
set -u
ctl=$1

# The checkout, at its own path. Mounted with the page cache (cache=loose):
# without it a read of more than one 9p message comes back short, and wine,
# which reads a program's sections with one pread each, runs zeros where
# the rest of the code should be (an access violation at a read of address
# 0 or 2 in the program's own code). The host leaves the tree alone while
# the guest runs, and every command's writes are synced before its exit
# code is.
share=$(cat "$ctl/share")
mkdir -p "$share"
if ! mount -t 9p -o trans=virtio,version=9p2000.L,cache=loose,msize=524288 src "$share"; then
  echo "quenfar8-vm32: cannot mount $share" >/dev/ttyS0
  exit 1
fi

# One wineserver for every command of this boot: each wine process then
# starts in a second or two instead of ten or more.
setsid wineserver -p </dev/null >/dev/null 2>&1 &
wine cmd /c exit 0 </dev/null >/dev/null 2>&1
echo "quenfar8-vm32: ready" >/dev/ttyS0
touch "$ctl/ready"

run_request() {
  local dir=$1 cwd rc argv envs
  cwd=$(cat "$dir/cwd")
  mapfile -d '' -t argv <"$dir/argv"
  mapfile -d '' -t envs <"$dir/env"
  (cd "$cwd" && exec env "${envs[@]}" "${argv[@]}") </dev/null >"$dir/out" 2>"$dir/err"
  rc=$?
  sync
  echo "$rc" >"$dir/rc.part"
  mv "$dir/rc.part" "$dir/rc"
}

while [ ! -e "$ctl/poweroff" ]; do
  for go in "$ctl"/requests/*/go; do
    [ -e "$go" ] || continue
    mv "$go" "${go%/go}/taken" 2>/dev/null || continue
    run_request "${go%/go}" &
  done
  sleep 0.2
done
echo "quenfar8-vm32: powering off" >/dev/ttyS0
wineserver -k 2>/dev/null
