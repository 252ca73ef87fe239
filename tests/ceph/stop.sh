#!/usr/bin/env bash
# Test fixture: stops the Ceph daemons that start.sh started, by the process
# ids in their pid files, each only when it is one of ours (its command line
# names this fixture's configuration).   stop.sh <state folder>
state=$1
conf=$state/ceph.conf
# One at a time, the gateway first and the monitor last: a daemon whose
# monitor is gone waits for it while it shuts down. Each ends within a few
# seconds of SIGTERM; one that does not is killed.
for name in client.rgw osd.0 mon.a; do
  pid_file=$state/run/$name.pid
  [ -f "$pid_file" ] || continue
  pid=$(cat "$pid_file")
  if [ -n "$pid" ] && grep -qF "$conf" "/proc/$pid/cmdline" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 1 300); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    if kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
  fi
  rm -f "$pid_file"
done
exit 0
