#!/usr/bin/env bash
# Test fixture: stops the loopback HTTPS feed.   stop.sh <state folder>
state=$1
if [ -f "$state/pid" ]; then
  kill "$(cat "$state/pid")" 2>/dev/null || true
  rm -f "$state/pid"
fi
exit 0
