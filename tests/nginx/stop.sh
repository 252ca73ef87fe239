#!/usr/bin/env bash
# Test fixture: stops the nginx that start.sh started.   stop.sh <state folder>
state=$1
pid_file=$state/nginx.pid
[ -f "$pid_file" ] || exit 0
pid=$(cat "$pid_file")
# Only our own master: a stale pid file may name a process of someone else.
if [ -n "$pid" ] && grep -qF "$state/nginx.conf" "/proc/$pid/cmdline" 2>/dev/null; then
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 1 200); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
fi
rm -f "$pid_file"
exit 0
