#!/usr/bin/env bash
# Installs what the build, the tests and the demo need, once: the i386
# architecture, the mingw-w64 i686 cross compiler (posix threads, which
# GoogleTest needs for std::mutex), wine with its 32-bit half (and the
# x86_64 compiler for the 64-bit test twin, where 32-bit code cannot run), Xvfb, CMake,
# the GoogleTest sources, OpenSSL for the test certificates, nginx for the
# tests' web server (run by the tests as the current user, never as a
# service), curl for the checks and the benchmark, hyperfine for the
# benchmarks' timings, osslsigncode for Authenticode signing and its tests,
# a Korean font, and Ceph's monitor, OSD and S3 gateway with the aws tool
# for a feed in an object store (run by the tests, never as services), and
# debootstrap and qemu for the emulated machine that runs the shipped 32-bit
# programs where this kernel cannot (scripts/vm32/), and the arm64 cross
# compiler, libraries and qemu-user for the release tool built for arm64. Safe
# to run again: it does nothing when everything is present.
set -euo pipefail

packages=(
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  mingw-w64-i686-dev wine wine32:i386 wine64 xvfb xauth cmake make
  googletest openssl osslsigncode fonts-nanum fonts-wine python3 x11-apps imagemagick time bc nginx curl hyperfine
  # A feed in an object store: a throwaway Ceph cluster with its S3 gateway
  # for the tests and the demo, and the aws tool that publishes to it.
  ceph-mon ceph-osd radosgw awscli
  # Recommended by wine but needed here: TLS for WinHTTP, and the X
  # extensions and font rendering that make screenshots faithful.
  libgnutls30:i386 libxrender1:i386 libxrandr2:i386 libxi6:i386
  libxcursor1:i386 libxinerama1:i386 libxcomposite1:i386 libxfixes3:i386
  # The 64-bit twin, for a machine that runs no 32-bit code: the x86_64
  # cross compiler and the same libraries for wine64.
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  libgnutls30 libxrender1 libxrandr2 libxi6 libxcursor1 libxinerama1 libxcomposite1 libxfixes3
  # The native release tool (build-linux/): the host compiler and the
  # libraries it links, and dpkg-dev for the dependencies of its Debian
  # package (cpack -G DEB).
  g++ libssl-dev libcurl4-openssl-dev dpkg-dev
  # The emulated machine that runs the shipped 32-bit programs there
  # (scripts/vm32/): its system is made with debootstrap and run by qemu.
  debootstrap qemu-system-x86
  # The native release tool for arm64 (build-linux-arm64/): the aarch64
  # cross compiler, the arm64 copies of its libraries, and qemu-user to run
  # its tests here.
  g++-aarch64-linux-gnu qemu-user-static libssl-dev:arm64 libcurl4-openssl-dev:arm64 libstdc++6:arm64
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

for arch in i386 arm64; do
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    $SUDO dpkg --add-architecture "$arch"
  fi
done

# Resolve the install against Debian's own suites only. A third-party
# source (or one failing i386 index) leaves apt with amd64 and i386 copies
# of multi-arch libraries at different versions, and apt then refuses
# wine32 with "held broken packages". A private source list avoids that
# without touching the machine's own configuration.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/parts"
for f in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  grep -q 'debian\.org' "$f" && cp "$f" "$tmp/parts/"
done
if [ -f /etc/apt/sources.list ]; then
  grep -E '^\s*deb .*debian\.org' /etc/apt/sources.list > "$tmp/sources.list" || true
else
  : > "$tmp/sources.list"
fi
if [ -z "$(ls -A "$tmp/parts")" ] && [ ! -s "$tmp/sources.list" ]; then
  # No Debian source configured at all: fall back to the release's mirrors.
  . /etc/os-release
  cat > "$tmp/sources.list" <<LIST
deb http://deb.debian.org/debian ${VERSION_CODENAME} main
deb http://deb.debian.org/debian ${VERSION_CODENAME}-updates main
deb http://deb.debian.org/debian-security ${VERSION_CODENAME}-security main
LIST
fi
aptopts=(-o "Dir::Etc::sourcelist=$tmp/sources.list" -o "Dir::Etc::sourceparts=$tmp/parts")

# Debian starts a package's service as it installs it (nginx on port 80,
# which fails the install when that port is taken). The tests run nginx of
# their own; while this install runs, no service is started.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
  $SUDO chmod 755 /usr/sbin/policy-rc.d
  trap 'rm -rf "$tmp"; $SUDO rm -f /usr/sbin/policy-rc.d' EXIT
fi

$SUDO apt-get "${aptopts[@]}" update || true
$SUDO apt-get "${aptopts[@]}" install -y --no-install-recommends "${missing[@]}"
