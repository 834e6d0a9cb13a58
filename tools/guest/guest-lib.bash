# Shared by the guest tools (sourced): the cache of guest images and one boot of the guest.
# The guest is a stock Debian 12 kernel and root file system booted by QEMU's emulator: this
# machine's kernel runs no 32-bit code, the emulated one does, and 32-bit Wine in a 64-bit
# prefix there is Wine's WoW64 layer.

guest_tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
guest_cache=${KZT_GUEST_CACHE:-/var/cache/kzt-wrapper-guest}
# Exit codes of the tools themselves (a job's own code is passed through).
guest_code_time_limit=124
guest_code_failure=125

guest_say() { echo "guest: $*" >&2; }

# A line on stderr every 30 s while a long step runs, so that a slow step never looks hung.
guest_ticker_pid=
guest_ticker_start() {  # guest_ticker_start WHAT
  local what=$1 began=$SECONDS
  guest_ticker_stop
  (
    # Short sleeps: a stopped ticker leaves no sleep behind for long.
    next=$((began + 30))
    while sleep 1; do
      [ $SECONDS -ge $next ] || continue
      next=$((next + 30))
      guest_say "$what: $((SECONDS - began)) s so far"
    done
  ) &
  guest_ticker_pid=$!
}
guest_ticker_stop() {
  [ -n "$guest_ticker_pid" ] || return 0
  kill "$guest_ticker_pid" 2>/dev/null || true
  wait "$guest_ticker_pid" 2>/dev/null || true
  guest_ticker_pid=
}
# When set, guest_boot says every 30 s how long the job has run and its latest output line.
guest_progress_label=

# The files whose contents decide the image: a change to any of them makes a new image.
guest_image_inputs() {
  echo "$guest_tools/packages.txt" "$guest_tools/guest-init.sh" "$guest_tools/make-prefix.sh" \
    "$guest_tools/guest-image.sh"
}

guest_image_key() {
  # shellcheck disable=SC2046
  cat $(guest_image_inputs) | sha256sum | cut -c1-16
}

guest_image_dir() { echo "$guest_cache/$(guest_image_key)"; }

# 0 when the image folder is complete and every file still has the hash recorded when it was
# built; the record is written last, so a build that stopped half way never passes. Hashing
# the 4 GB disk takes half a minute, so a file whose size, inode and modification and change
# times are those seen at its last full check is not hashed again: any write or replacement
# changes its change time, which no program can set back.
guest_image_files="disk.img vmlinuz initrd.img"
guest_image_stat() {
  # shellcheck disable=SC2086
  (cd "$1" && stat -c '%n %s %i %.9Y %.9Z' $guest_image_files)
}
guest_image_intact() {
  local dir=$1 file
  [ -f "$dir/image.sha256" ] || return 1
  for file in $guest_image_files; do
    [ -f "$dir/$file" ] || return 1
    grep -q " $file\$" "$dir/image.sha256" || return 1
  done
  if [ -f "$dir/image.stat" ] && [ "$(guest_image_stat "$dir")" = "$(cat "$dir/image.stat")" ]; then
    return 0
  fi
  (cd "$dir" && sha256sum --quiet --strict -c image.sha256 >/dev/null 2>&1) || return 1
  guest_image_stat "$dir" >"$dir/image.stat.part" && mv "$dir/image.stat.part" "$dir/image.stat"
}

guest_console_tail() {
  local console=$1
  echo "--- last lines of the guest console ($console):" >&2
  if [ -s "$console" ]; then
    tail -n 40 "$console" | tr -d '\r' | sed 's/^/    /' >&2
  else
    echo "    (the guest wrote nothing to its console)" >&2
  fi
  echo "---" >&2
}

guest_qemu_pid=

guest_stop_qemu() {
  [ -n "$guest_qemu_pid" ] || return 0
  if kill -0 "$guest_qemu_pid" 2>/dev/null; then
    kill -TERM "$guest_qemu_pid" 2>/dev/null
    local waited=0
    while kill -0 "$guest_qemu_pid" 2>/dev/null && [ $waited -lt 20 ]; do
      sleep 0.5
      waited=$((waited + 1))
    done
    kill -KILL "$guest_qemu_pid" 2>/dev/null
  fi
  wait "$guest_qemu_pid" 2>/dev/null
  guest_qemu_pid=
}

# guest_boot IMAGE_DIR CONTROL_DIR SHARE_DIR TIME_LIMIT BOOT_LIMIT WRITABLE
# Boots the guest on the image with CONTROL_DIR/command.sh as its job, run by bash in /job,
# which is SHARE_DIR. The job's output lands in CONTROL_DIR/stdout and stderr. WRITABLE=1
# keeps what the guest writes to its disk (only while an image is built); otherwise every
# boot starts from the image as it was built. Returns 0 when the job finished and the guest
# powered off (its exit code is then in guest_job_code), guest_code_time_limit when the job
# did not finish within TIME_LIMIT seconds of the start, guest_code_failure when the guest did
# not boot within BOOT_LIMIT seconds, stopped without a result or did not power off. Every
# failure is explained on stderr with the tail of the guest's console.
guest_boot() {
  local image=$1 control=$2 share=$3 time_limit=$4 boot_limit=$5 writable=$6
  local console=$control/console.log snapshot=on job_id state="" booted=0 start=$SECONDS
  local next_progress=$((SECONDS + 30)) latest
  [ "$writable" = 1 ] && snapshot=off
  guest_job_code=
  guest_boot_seconds=
  rm -f "$control/job-id" "$control/booted" "$control/result" "$control/result.part" \
    "$control/stdout" "$control/stderr" "$console"
  job_id=$(od -An -N8 -tx8 /dev/urandom | tr -d ' \n')
  echo "$job_id" >"$control/job-id"

  # KVM does not boot a guest kernel on this machine kind: emulate. QEMU 7.2's emulation of
  # SMAP faults every Wine process; the CPU model leaves SMAP and PKU out.
  nice -n 10 qemu-system-x86_64 -accel tcg,thread=multi -cpu max,-smap,-pku -m 4096 -smp 2 \
    -display none -monitor none -nic none -no-reboot \
    -serial "file:$console" \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
    -append "root=LABEL=kztroot rw console=ttyS0 quiet init=/sbin/kzt-guest-init" \
    -drive "file=$image/disk.img,format=raw,if=virtio,snapshot=$snapshot" \
    -virtfs "local,path=$control,mount_tag=control,security_model=none,id=control" \
    -virtfs "local,path=$share,mount_tag=job,security_model=none,multidevs=remap,id=job" \
    </dev/null >"$control/qemu.log" 2>&1 &
  guest_qemu_pid=$!

  while :; do
    local alive=0
    kill -0 "$guest_qemu_pid" 2>/dev/null && alive=1
    if [ -f "$control/result" ]; then
      state=finished
      break
    fi
    if [ $booted = 0 ] && [ "$(cat "$control/booted" 2>/dev/null)" = "$job_id" ]; then
      booted=1
      guest_boot_seconds=$((SECONDS - start))
    fi
    if [ $alive = 0 ]; then
      state=stopped
      break
    fi
    if [ $booted = 0 ] && [ $((SECONDS - start)) -ge "$boot_limit" ]; then
      state=no-boot
      break
    fi
    if [ $((SECONDS - start)) -ge "$time_limit" ]; then
      state=time-limit
      break
    fi
    if [ -n "$guest_progress_label" ] && [ $SECONDS -ge $next_progress ]; then
      next_progress=$((SECONDS + 30))
      if [ $booted = 0 ]; then
        guest_say "$guest_progress_label: booting, $((SECONDS - start)) s"
      else
        latest=$(tail -n 1 "$control/stdout" 2>/dev/null | tr -d '\r' | cut -c1-100)
        guest_say "$guest_progress_label: $((SECONDS - start)) s${latest:+; latest: $latest}"
      fi
    fi
    sleep 0.5
  done

  case $state in
    no-boot)
      guest_stop_qemu
      guest_say "the guest did not boot within $boot_limit s (no job start reported); stopped it"
      guest_console_tail "$console"
      return $guest_code_failure
      ;;
    time-limit)
      guest_stop_qemu
      guest_say "the job did not finish within its time limit of $time_limit s; stopped the guest" \
        "(booted after ${guest_boot_seconds:-?} s). No result is read from it."
      guest_console_tail "$console"
      return $guest_code_time_limit
      ;;
    stopped)
      wait "$guest_qemu_pid" 2>/dev/null
      local qemu_code=$?
      guest_qemu_pid=
      if [ $booted = 0 ]; then
        guest_say "the guest stopped before it booted (QEMU exit code $qemu_code)"
      else
        guest_say "the guest stopped without finishing its job (QEMU exit code $qemu_code)"
      fi
      [ -s "$control/qemu.log" ] && sed 's/^/    qemu: /' "$control/qemu.log" >&2
      guest_console_tail "$console"
      return $guest_code_failure
      ;;
  esac

  local result_id result_code
  read -r result_id result_code <"$control/result"
  if [ "$result_id" != "$job_id" ] || ! [[ $result_code =~ ^[0-9]+$ ]]; then
    guest_stop_qemu
    guest_say "the guest's result \"$(head -c 200 "$control/result")\" is not one of job $job_id"
    guest_console_tail "$console"
    return $guest_code_failure
  fi
  # The init powers off right after writing the result.
  local waited=0 power_off_limit=${KZT_GUEST_POWER_OFF_LIMIT:-60}
  while kill -0 "$guest_qemu_pid" 2>/dev/null && [ $waited -lt $((power_off_limit * 2)) ]; do
    sleep 0.5
    waited=$((waited + 1))
  done
  if kill -0 "$guest_qemu_pid" 2>/dev/null; then
    guest_stop_qemu
    guest_say "the job finished (exit code $result_code) but the guest did not power off" \
      "within $power_off_limit s; stopped it"
    guest_console_tail "$console"
    return $guest_code_failure
  fi
  wait "$guest_qemu_pid" 2>/dev/null
  guest_qemu_pid=
  guest_job_code=$result_code
  return 0
}
