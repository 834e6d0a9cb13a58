#!/bin/bash
# Makes sure the guest image of the current inputs (packages.txt, guest-init.sh,
# make-prefix.sh and this script) is in the cache and intact, builds it when it is missing,
# incomplete or corrupt, and prints its folder. Run as root on Debian 12:
#   bash tools/guest/guest-image.sh [--rebuild]
# The image is built from Debian's packages only (mmdebstrap from the Debian archive), once
# per machine: under /var/cache/kzt-wrapper-guest/<key>/ (KZT_GUEST_CACHE overrides), where
# <key> is a hash of the inputs. It holds the root file system (disk.img, with a 64-bit Wine
# prefix made by a first boot), the kernel and the initial RAM disk, and image.sha256, the
# record that every use checks. Building takes about 5 minutes (the first boot, which makes the
# Wine prefix, about 2); everything but the folder it prints goes to stderr.
set -euo pipefail
# shellcheck source=guest-lib.bash
. "$(dirname "$0")/guest-lib.bash"

rebuild=0
case ${1:-} in
  --rebuild) rebuild=1 ;;
  "") ;;
  *) echo "usage: $0 [--rebuild]" >&2; exit 2 ;;
esac

image=$(guest_image_dir)
if [ $rebuild = 0 ] && guest_image_intact "$image"; then
  touch "$image/last-used"
  echo "$image"
  exit 0
fi

for tool in mmdebstrap qemu-system-x86_64 mkfs.ext4; do
  command -v "$tool" >/dev/null || { guest_say "$tool is missing: run tools/install-build-dependencies.sh"; exit 1; }
done
mkdir -p "$guest_cache"
# One build at a time on this machine; a second caller waits and then finds the image.
exec 9>"$guest_cache/.lock"
flock 9
if [ $rebuild = 0 ] && guest_image_intact "$image"; then
  touch "$image/last-used"
  echo "$image"
  exit 0
fi
if [ -e "$image" ]; then
  guest_say "the image in $image is incomplete or corrupt: building it anew"
fi

# Two stages. The root file system (the slow part, downloads included) is kept under a key of
# its own inputs (the package list, the init and rootfs_recipe, which names the steps below:
# change it with them) until an image has been made from it, so that a failed first boot is
# retried without building the file system again.
rootfs_recipe="mmdebstrap --variant=apt --architectures=amd64,i386 bookworm main-suite-only; init /sbin/kzt-guest-init; mkfs.ext4 -L kztroot 4G"
rootfs_key=$({ cat "$guest_tools/packages.txt" "$guest_tools/guest-init.sh"; echo "$rootfs_recipe"; } |
  sha256sum | cut -c1-16)
rootfs=$guest_cache/.rootfs-$rootfs_key
work=$guest_cache/.building-$(basename "$image")
control=""
cleanup() {
  guest_stop_qemu
  [ -n "$control" ] && rm -rf "$control"
  rm -rf "$work" "$rootfs/root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
start=$SECONDS
for stale in "$guest_cache"/.rootfs-*; do
  [ -d "$stale" ] && [ "$stale" != "$rootfs" ] && rm -rf "$stale"
done

if ! [ -f "$rootfs/complete" ]; then
  rm -rf "$rootfs"
  mkdir -p "$rootfs"
  packages=$(grep -v '^#' "$guest_tools/packages.txt" | grep -v '^[[:space:]]*$' | paste -sd, -)
  guest_say "building the guest's root file system from Debian's packages: $packages"
  # The main suite alone: a test guest needs nothing from the updates and security suites,
  # and mmdebstrap stops on any index error, such as a suite the mirror is still syncing.
  archive=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
  archive=${archive:-http://deb.debian.org/debian}
  mmdebstrap --quiet --variant=apt --architectures=amd64,i386 --include="$packages" \
    bookworm "$rootfs/root" "deb $archive bookworm main" </dev/null >&2
  install -m 0755 "$guest_tools/guest-init.sh" "$rootfs/root/sbin/kzt-guest-init"
  kernels=("$rootfs"/root/boot/vmlinuz-*)
  initrds=("$rootfs"/root/boot/initrd.img-*)
  [ ${#kernels[@]} -eq 1 ] && [ -f "${kernels[0]}" ] && [ ${#initrds[@]} -eq 1 ] && [ -f "${initrds[0]}" ] ||
    { guest_say "expected one kernel and one initrd in the root file system's /boot"; exit 1; }
  cp "${kernels[0]}" "$rootfs/vmlinuz"
  cp "${initrds[0]}" "$rootfs/initrd.img"
  guest_say "root file system ready after $((SECONDS - start)) s: $(du -sh "$rootfs/root" | cut -f1)"
  mkfs.ext4 -q -F -L kztroot -d "$rootfs/root" "$rootfs/disk.img" 4G >&2
  rm -rf "$rootfs/root"
  touch "$rootfs/complete"
fi
rm -rf "$work"
mkdir -p "$work"
cp --sparse=always "$rootfs/disk.img" "$rootfs/vmlinuz" "$rootfs/initrd.img" "$work/"

# First boot, keeping what it writes: the Wine prefix that every job copies.
control=$(mktemp -d)
share=$(mktemp -d)
cp "$guest_tools/make-prefix.sh" "$share/"
printf 'bash /job/make-prefix.sh\n' >"$control/command.sh"
status=0
guest_boot "$work" "$control" "$share" 1200 300 1 || status=$?
cat "$control/stdout" "$control/stderr" 2>/dev/null | sed 's/^/    /' >&2
rm -rf "$share"
if [ $status -ne 0 ]; then
  guest_say "the first boot of the new image failed"
  exit 1
fi
if [ "$guest_job_code" != 0 ]; then
  guest_say "making the Wine prefix in the guest failed with exit code $guest_job_code"
  guest_console_tail "$control/console.log"
  exit 1
fi

# The record of what was built, and the files' state when it was made (guest-lib.bash).
(cd "$work" && sha256sum $guest_image_files >image.sha256.part)
guest_image_stat "$work" >"$work/image.stat"
mv "$work/image.sha256.part" "$work/image.sha256"
rm -rf "$image"
mv "$work" "$image"
rm -rf "$rootfs"
touch "$image/last-used"
# Images of other inputs (other checkouts may still use them) go once unused for two weeks.
find "$guest_cache" -mindepth 2 -maxdepth 2 -name last-used -mtime +14 -printf '%h\n' |
  while read -r old; do [ "$old" != "$image" ] && rm -rf "$old"; done
guest_say "guest image built in $((SECONDS - start)) s: $image"
echo "$image"
