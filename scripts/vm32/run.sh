#!/usr/bin/env bash
# Runs a command inside the guest that runs 32-bit code (scripts/vm32/):
#   scripts/vm32/run.sh <command> [args...]
# from the current folder (the checkout is shared into the guest at its own
# path; outside it, from the checkout's root), with 32-bit wine, its prefix
# and a wineserver, and a virtual display (DISPLAY) ready. Prints the
# command's output and ends with its exit code. Makes the guest image first
# when it is missing. Boots a guest for the command and powers it off
# afterwards, unless QUENFAR8_VM32_CTL names the control folder of a guest
# already running (scripts/vm32/start.sh). Variables QUENFAR8_* of the
# environment are passed on (QUENFAR8_VM32_* excepted), and those named in
# QUENFAR8_VM32_PASS. Everything runs under time limits:
# QUENFAR8_VM32_TIMEOUT seconds for the command (default 3600), 600 for the
# boot.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
[ $# -gt 0 ] || { echo "usage: $0 <command> [args...]" >&2; exit 2; }
limit=${QUENFAR8_VM32_TIMEOUT:-3600}

ctl=${QUENFAR8_VM32_CTL:-}
qemu_pid=""
if [ -z "$ctl" ]; then
  image=$("$vm32_dir/make-image.sh")
  ctl=$(mktemp -d "${TMPDIR:-/tmp}/quenfar8-vm32.XXXXXX")
  cp "$vm32_dir/guest-agent.sh" "$ctl/"
  booted=$(date +%s.%N)
  vm32_boot "$image" "$ctl" agent $((limit + 900)) "$vm32_root" >"$ctl/qemu.log" 2>&1 &
  qemu_pid=$!
  power_off() {
    touch "$ctl/poweroff"
    local _
    for _ in $(seq 1 150); do
      kill -0 "$qemu_pid" 2>/dev/null || break
      sleep 0.2
    done
    kill "$qemu_pid" 2>/dev/null || true
    wait "$qemu_pid" 2>/dev/null || true
    mkdir -p "$vm32_cache"
    cp "$ctl/console.log" "$vm32_cache/last-console.log" 2>/dev/null || true
    rm -rf "$ctl"
  }
  trap power_off EXIT
  waited=0
  until [ -e "$ctl/ready" ]; do
    if ! kill -0 "$qemu_pid" 2>/dev/null; then
      echo "the guest ended before it was ready:" >&2
      tail -30 "$ctl/console.log" "$ctl/qemu.log" >&2 2>/dev/null || true
      exit 1
    fi
    if [ "$waited" -ge 3000 ]; then
      echo "the guest was not ready after 600 s:" >&2
      tail -30 "$ctl/console.log" >&2 2>/dev/null || true
      exit 1
    fi
    sleep 0.2
    waited=$((waited + 1))
  done
  printf '[vm32] the guest booted in %.0f s\n' "$(echo "$(date +%s.%N) - $booted" | bc)" >&2
elif [ ! -e "$ctl/ready" ]; then
  echo "QUENFAR8_VM32_CTL=$ctl is no running guest's control folder" >&2
  exit 1
fi

request="$ctl/requests/$(date +%s%N)-$$"
mkdir -p "$request"
case "$PWD/" in
  "$vm32_root"/*) printf '%s' "$PWD" >"$request/cwd" ;;
  *) printf '%s' "$vm32_root" >"$request/cwd" ;;
esac
printf '%s\0' "$@" >"$request/argv"
{
  while IFS= read -r name; do
    case $name in QUENFAR8_VM32_*) continue ;; esac
    printf '%s=%s\0' "$name" "${!name}"
  done < <(compgen -e | grep '^QUENFAR8_' || true)
  for name in ${QUENFAR8_VM32_PASS:-}; do
    [ -n "${!name+set}" ] && printf '%s=%s\0' "$name" "${!name}"
  done
} >"$request/env"
: >"$request/out"
: >"$request/err"
touch "$request/go"

# Prints what each stream has gained since the last look.
out_at=0
err_at=0
pass_on() {
  local size
  size=$(stat -c %s "$request/out" 2>/dev/null || echo 0)
  if [ "$size" -gt "$out_at" ]; then
    tail -c +$((out_at + 1)) "$request/out" | head -c $((size - out_at))
    out_at=$size
  fi
  size=$(stat -c %s "$request/err" 2>/dev/null || echo 0)
  if [ "$size" -gt "$err_at" ]; then
    tail -c +$((err_at + 1)) "$request/err" | head -c $((size - err_at)) >&2
    err_at=$size
  fi
}
deadline=$(($(date +%s) + limit))
until [ -e "$request/rc" ]; do
  pass_on
  if [ -n "$qemu_pid" ] && ! kill -0 "$qemu_pid" 2>/dev/null; then
    echo "the guest ended while running: $*" >&2
    tail -30 "$ctl/console.log" >&2 2>/dev/null || true
    exit 1
  fi
  if [ "$(date +%s)" -ge "$deadline" ]; then
    echo "still running in the guest after $limit s, given up: $*" >&2
    exit 124
  fi
  sleep 0.3
done
pass_on
rc=$(cat "$request/rc")
rm -rf "$request"
exit "$rc"
