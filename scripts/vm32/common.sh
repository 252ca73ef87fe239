# Sourced by the scripts of scripts/vm32/: where the guest image is cached
# and which image belongs to the scripts as they are now.
#
# The image is cached outside the source tree, once per machine, under a
# name made from a digest of everything that goes into it (the script
# that makes it, the guest's first process, and the wine prefix set-up it
# runs once): a change to any of them makes a new image, and the old ones
# are removed then.

vm32_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
vm32_root=$(cd "$vm32_dir/../.." && pwd)
vm32_cache="${QUENFAR8_VM32_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quenfar8-vm32}"

vm32_image_key() {
  cat "$vm32_dir/make-image.sh" "$vm32_dir/guest-init.sh" "$vm32_root/scripts/wine-env.sh" |
    sha256sum | cut -c1-16
}

vm32_image_dir() {
  echo "$vm32_cache/image-$(vm32_image_key)"
}

vm32_image_ready() {
  [ -f "$(vm32_image_dir)/ready" ]
}

# vm32_boot <image folder> <control folder> <setup|agent> <seconds> [share]:
# runs the guest in the foreground for at most the seconds given, under
# software emulation (no KVM here; one vCPU was faster than two on two
# cores). The control folder is shared as "ctl" (requests and answers, see
# run.sh), the share, when given, as "src", mounted in the guest at the
# same path. In agent mode the disk is a throwaway overlay, so the cached
# image stays as the first boot left it. The console goes to console.log
# in the image folder for the first boot and in the control folder after.
vm32_boot() {
  local image=$1 ctl=$2 mode=$3 limit=$4 share=${5:-} console drive
  local args=(-accel tcg,tb-size=512 -smp 1 -m 4096 -display none -monitor none -no-reboot
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img"
    -virtfs "local,path=$ctl,mount_tag=ctl,security_model=none,id=ctl")
  if [ "$mode" = setup ]; then
    console="$image/console.log"
    drive="file=$image/disk.raw,format=raw,if=virtio,cache=unsafe"
  else
    console="$ctl/console.log"
    drive="file=$image/disk.raw,format=raw,if=virtio,snapshot=on"
  fi
  if [ -n "$share" ]; then
    args+=(-virtfs "local,path=$share,mount_tag=src,security_model=none,multidevs=remap,id=src")
    printf '%s' "$share" >"$ctl/share"
  fi
  args+=(-drive "$drive" -serial "file:$console"
    -append "console=ttyS0 root=/dev/vda rw init=/opt/quenfar8/init panic=-1 loglevel=4 quenfar8.mode=$mode")
  timeout -k 10 "$limit" qemu-system-x86_64 "${args[@]}"
}
