#!/usr/bin/env bash
# Makes the guest that runs the shipped 32-bit programs where this
# machine's kernel runs no 32-bit code: a minimal Debian bookworm amd64
# system from Debian's archive (debootstrap, run here, so the guest itself
# never needs the network) with the i386 architecture and 32-bit wine,
# Xvfb, nginx and the tools the tests call, its own kernel and initramfs,
# as a raw ext4 image. The first boot makes the wine prefix and keeps it in
# the image. Cached outside the source tree (scripts/vm32/common.sh) and
# made again only when what goes into it changes. Prints the image folder.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

image_dir=$(vm32_image_dir)
if vm32_image_ready; then
  echo "$image_dir"
  exit 0
fi
[ "$(id -u)" -eq 0 ] || { echo "making the guest image needs root (debootstrap, chroot)" >&2; exit 1; }
mkdir -p "$vm32_cache"
exec 9>"$vm32_cache/.lock"
flock 9
if vm32_image_ready; then
  echo "$image_dir"
  exit 0
fi

say() { echo "[vm32 image] $(date +%T) $*" >&2; }
started=$(date +%s)
codename=bookworm
rootfs="$image_dir.rootfs"
mounted=()
unmount_all() {
  local m
  for m in "${mounted[@]}"; do umount -l "$m" 2>/dev/null || true; done
  mounted=()
}
# Never into a mount of the host left behind by a failed step.
trap 'unmount_all; rm -rf --one-file-system "$rootfs"' EXIT
rm -rf --one-file-system "$image_dir" "$rootfs"
mkdir -p "$image_dir" "$rootfs"

# Debian's archive as this machine's apt is configured to reach it: every
# site apt has lists of the release's suites for (main, updates, security).
mapfile -t suites < <(apt-get indextargets --format '$(SITE) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' 2>/dev/null |
  awk -v c="$codename" '$3 == "main" && ($2 == c || index($2, c "-") == 1) && index($1, "debian") { print $1 " " $2 }' | sort -u)
mirror=$(printf '%s\n' "${suites[@]}" | awk -v c="$codename" '$2 == c { print $1; exit }')
if [ -z "$mirror" ]; then
  echo "this machine's apt has no lists of Debian $codename (run apt-get update, or add Debian's archive to its sources)" >&2
  exit 1
fi

say "debootstrap from $mirror"
debootstrap --variant=minbase --arch=amd64 --include=ca-certificates "$codename" "$rootfs" "$mirror" >"$image_dir/debootstrap.log" 2>&1 ||
  { tail -20 "$image_dir/debootstrap.log" >&2; exit 1; }
say "debootstrap done"

for m in proc sys dev dev/pts; do
  mount --bind "/$m" "$rootfs/$m"
  mounted=("$rootfs/$m" "${mounted[@]}")
done
printf '#!/bin/sh\nexit 101\n' >"$rootfs/usr/sbin/policy-rc.d"
chmod 755 "$rootfs/usr/sbin/policy-rc.d"
printf '%s\n' "${suites[@]}" | awk '{ print "deb " $1 " " $2 " main" }' >"$rootfs/etc/apt/sources.list"
in_guest() { chroot "$rootfs" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive HOME=/root "$@"; }
in_guest dpkg --add-architecture i386
in_guest apt-get update >"$image_dir/packages.log" 2>&1
# What the lane's tests call besides the programs: 32-bit wine with the
# libraries WinHTTP's TLS and the window pictures need, Xvfb, nginx, the
# loopback HTTPS feed (python3, openssl), curl, ImageMagick, the Korean
# font, CTest, and hyperfine for bench/shipped32.sh; and a kernel that can
# mount the checkout over 9p.
packages=(
  wine wine32:i386 libgnutls30:i386 libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386
  libxinerama1:i386 libxcomposite1:i386 libxfixes3:i386 fonts-nanum fonts-wine
  xvfb xauth x11-utils imagemagick nginx python3 openssl curl cmake bc time hyperfine procps psmisc iproute2 kmod
  linux-image-amd64 initramfs-tools
)
say "installing ${#packages[@]} packages"
in_guest apt-get install -y --no-install-recommends "${packages[@]}" >>"$image_dir/packages.log" 2>&1 ||
  { tail -20 "$image_dir/packages.log" >&2; exit 1; }
in_guest apt-get clean
rm -rf "$rootfs"/var/lib/apt/lists/*
rm -f "$rootfs/usr/sbin/policy-rc.d"
unmount_all
say "packages done"

# A minimal system has no /etc/hosts, and then "localhost" does not resolve.
printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$rootfs/etc/hosts"
echo quenfar8-vm32 >"$rootfs/etc/hostname"
mkdir -p "$rootfs/opt/quenfar8"
install -m 755 "$vm32_dir/guest-init.sh" "$rootfs/opt/quenfar8/init"
install -m 644 "$vm32_root/scripts/wine-env.sh" "$rootfs/opt/quenfar8/wine-env.sh"
cp "$(ls "$rootfs"/boot/vmlinuz-* | tail -1)" "$image_dir/vmlinuz"
cp "$(ls "$rootfs"/boot/initrd.img-* | tail -1)" "$image_dir/initrd.img"

say "writing the ext4 image"
truncate -s 6G "$image_dir/disk.raw"
mkfs.ext4 -q -F -L quenfar8-vm32 -d "$rootfs" "$image_dir/disk.raw"
rm -rf --one-file-system "$rootfs"
made=$(date +%s)

# The first boot makes the wine prefix (wineboot -i, the fonts) inside the
# image and powers the guest off.
say "first boot: making the wine prefix"
ctl=$(mktemp -d)
vm32_boot "$image_dir" "$ctl" setup 1200 >"$image_dir/first-boot.log" 2>&1 || true
rm -rf "$ctl"
if ! grep -q 'quenfar8-vm32: prefix ready' "$image_dir/console.log"; then
  echo "the guest's first boot did not make the wine prefix; see $image_dir/console.log" >&2
  tail -30 "$image_dir/console.log" >&2
  exit 1
fi
booted=$(date +%s)
printf 'image %s s, first boot %s s\n' $((made - started)) $((booted - made)) >"$image_dir/timings"
touch "$image_dir/ready"
say "ready: $(cat "$image_dir/timings")"
for old in "$vm32_cache"/image-*; do
  [ "$old" = "$image_dir" ] || rm -rf "$old"
done
echo "$image_dir"
