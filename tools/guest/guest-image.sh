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
rootfs_seconds=""
cleanup() {
  guest_ticker_stop
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
  # The main suite alone: a test guest needs nothing from the updates and security suites,
  # and mmdebstrap stops on any index error, such as a suite the mirror is still syncing.
  # KZT_GUEST_ARCHIVE names another mirror (the packages, hence the image, stay the same).
  archive=${KZT_GUEST_ARCHIVE:-$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null)}
  archive=${archive:-http://deb.debian.org/debian}
  # An archive that cannot be reached at all is said at once, not after three attempts.
  probe=$(mktemp -d)
  if ! /usr/lib/apt/apt-helper download-file "$archive/dists/bookworm/Release" "$probe/Release" \
      >"$probe/log" 2>&1; then
    guest_say "the Debian archive $archive cannot be reached from this machine:"
    { grep -m 1 "^E: Failed" "$probe/log" || tail -n 1 "$probe/log"; } | sed "s/^/    /" >&2
    guest_say "the guest is built from that archive's packages (once per machine): check the" \
      "network or proxy, or set KZT_GUEST_ARCHIVE to a Debian mirror this machine reaches"
    rm -rf "$probe"
    exit 1
  fi
  rm -rf "$probe"
  guest_say "building the guest's root file system from Debian's packages ($archive): $packages"
  # A mirror in the middle of a sync serves an index that does not match its Release file for
  # a few minutes: such download errors are tried again, a bounded number of times; any other
  # error stops at once. Either way the error itself is shown.
  attempts=3
  for attempt in $(seq 1 $attempts); do
    rm -rf "$rootfs/root" "$rootfs/mmdebstrap.log"
    guest_ticker_start "building the root file system"
    status=0
    mmdebstrap --quiet --variant=apt --architectures=amd64,i386 --include="$packages" \
      bookworm "$rootfs/root" "deb $archive bookworm main" </dev/null >"$rootfs/mmdebstrap.log" 2>&1 ||
      status=$?
    guest_ticker_stop
    [ $status -eq 0 ] && break
    guest_say "mmdebstrap failed with exit code $status (attempt $attempt of $attempts); it said:"
    grep -E '^(E|W|Err):|error|failed' "$rootfs/mmdebstrap.log" | tail -n 12 | sed 's/^/    /' >&2
    if ! grep -qE 'Failed to fetch|Hash Sum mismatch|unexpected size|Mirror sync|Temporary failure|Could not connect|Connection (timed out|failed|reset)|Unable to connect|Undetermined Error|50[234] ' \
        "$rootfs/mmdebstrap.log"; then
      guest_say "that is no download error that a later attempt could overcome: stopped"
      exit 1
    fi
    if [ "$attempt" -eq $attempts ]; then
      guest_say "the archive kept failing to serve its packages after $attempts attempts: stopped" \
        "(try again later, or set KZT_GUEST_ARCHIVE to another Debian mirror)"
      exit 1
    fi
    pause=$((attempt * ${KZT_GUEST_RETRY_PAUSE:-30}))
    guest_say "a download error, perhaps a mirror in the middle of a sync: trying again in $pause s"
    sleep "$pause"
  done
  install -m 0755 "$guest_tools/guest-init.sh" "$rootfs/root/sbin/kzt-guest-init"
  kernels=("$rootfs"/root/boot/vmlinuz-*)
  initrds=("$rootfs"/root/boot/initrd.img-*)
  [ ${#kernels[@]} -eq 1 ] && [ -f "${kernels[0]}" ] && [ ${#initrds[@]} -eq 1 ] && [ -f "${initrds[0]}" ] ||
    { guest_say "expected one kernel and one initrd in the root file system's /boot"; exit 1; }
  cp "${kernels[0]}" "$rootfs/vmlinuz"
  cp "${initrds[0]}" "$rootfs/initrd.img"
  rootfs_seconds=$((SECONDS - start))
  guest_say "root file system ready after $rootfs_seconds s: $(du -sh "$rootfs/root" | cut -f1)"
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
boot_start=$SECONDS
guest_say "first boot of the new image: making the Wine prefix every job starts from (about 2 minutes)"
guest_progress_label="first boot, making the Wine prefix"
guest_boot "$work" "$control" "$share" 1200 300 1 || status=$?
guest_progress_label=""
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
rootfs_text=${rootfs_seconds:+$rootfs_seconds s}
guest_say "guest image built in $((SECONDS - start)) s (root file system" \
  "${rootfs_text:-kept from an earlier attempt}, first boot $((SECONDS - boot_start)) s): $image"
echo "$image"
