#!/bin/bash
# The guest's first process. Mounts what a minimal system needs, starts a
# virtual display, and then either makes the wine prefix and powers off
# (quenfar8.mode=setup, the image's first boot) or hands over to the agent
# of the checkout (scripts/vm32/guest-agent.sh), which mounts the checkout
# and runs what the host asks for.
set -u
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root LANG=C.UTF-8 DISPLAY=:99 WINEDEBUG=-all WINEARCH=win32
# The prefix made once in the image; scripts/wine-env.sh takes it from
# QUENFAR8_WINEPREFIX instead of the build tree's own.
export WINEPREFIX=/opt/quenfar8/wineprefix QUENFAR8_WINEPREFIX=/opt/quenfar8/wineprefix

say() { echo "quenfar8-vm32: $*" >/dev/ttyS0; }
power_off() {
  sync
  echo o >/proc/sysrq-trigger
  sleep 600
}

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev 2>/dev/null || true
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
mount -o remount,rw /
ip link set lo up
hostname quenfar8-vm32
echo 1 >/proc/sys/kernel/sysrq
mode=agent
for arg in $(cat /proc/cmdline); do
  case $arg in quenfar8.mode=*) mode=${arg#*=} ;; esac
done

modprobe 9pnet_virtio
modprobe 9p
ctl=/run/quenfar8-ctl
mkdir -p "$ctl"
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 ctl "$ctl" || say "cannot mount the control folder"

Xvfb :99 -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
for _ in $(seq 1 600); do
  [ -S /tmp/.X11-unix/X99 ] && break
  sleep 0.1
done

if [ "$mode" = setup ]; then
  mkdir -p /opt/quenfar8/prefix-setup
  (
    export QUENFAR8_BUILD_DIR=/opt/quenfar8/prefix-setup
    . /opt/quenfar8/wine-env.sh
    prepare_wine_prefix
    wineserver -k
  ) >/opt/quenfar8/prefix-setup/setup.log 2>&1
  if [ -f "$WINEPREFIX/.quenfar8-prefix-2" ]; then
    say "prefix ready"
  else
    say "prefix failed"
    tail -20 /opt/quenfar8/prefix-setup/setup.log /opt/quenfar8/prefix-setup/wineboot.log >/dev/ttyS0 2>&1
  fi
  power_off
fi

# The rest is the agent that run.sh puts into the control folder: it
# mounts the checkout and runs what the host asks for, and changes with the
# checkout, not with the image.
if [ -f "$ctl/guest-agent.sh" ]; then
  bash "$ctl/guest-agent.sh" "$ctl"
else
  say "no agent in the control folder"
fi
power_off
