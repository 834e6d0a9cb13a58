#!/bin/sh
# The guest's first and only process (the kernel starts it as init). It mounts what Wine needs,
# mounts the two folders the host shares (the control folder with the job, and the job's own
# folder at /job), runs the job, writes its exit code beside it and powers the guest off.
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
HOME=/root
USER=root
LOGNAME=root
export PATH HOME USER LOGNAME

say() { echo "kzt-guest: $*" >/dev/console; }
power_off() {
  sync
  # A clean file system for the one boot that writes its disk (the image's first).
  mount -o remount,ro / 2>/dev/null
  echo o >/proc/sysrq-trigger
  sleep 60  # init must not return: the kernel would panic instead of powering off
}

# The initial RAM disk hands over /proc, /sys and /dev already mounted.
mounted() { mountpoint -q "$1"; }
mounted /proc || mount -t proc proc /proc
mounted /sys || mount -t sysfs sysfs /sys
mounted /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mounted /dev/pts || mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
hostname kzt-guest

modprobe 9pnet_virtio && modprobe 9p || { say "cannot load the 9p modules"; power_off; }
control=/run/kzt-guest
mkdir -p "$control" /job
share_options=trans=virtio,version=9p2000.L,msize=1048576
mount -t 9p -o "$share_options" control "$control" || { say "cannot mount the control folder"; power_off; }
mount -t 9p -o "$share_options" job /job || { say "cannot mount the job folder"; power_off; }
[ -r "$control/job-id" ] && [ -r "$control/command.sh" ] || { say "no job in the control folder"; power_off; }
job_id=$(cat "$control/job-id")

echo "$job_id" >"$control/booted"
say "job $job_id started"
# Without address-space randomization, as on the host (tools/run-wine64.sh says why): Debian's
# Wine has no preloader here either, and every Wine process of the job inherits the setting.
cd /job && setarch "$(uname -m)" --addr-no-randomize bash "$control/command.sh" \
  >"$control/stdout" 2>"$control/stderr" </dev/null
code=$?
# Written whole under another name, then renamed: the host never sees half a result.
echo "$job_id $code" >"$control/result.part" && mv "$control/result.part" "$control/result"
say "job $job_id finished with exit code $code"
cd /
umount /job "$control" 2>/dev/null
power_off
