#!/bin/bash
# Unmounts whatever a killed full-disk test left mounted inside the given Wine prefix.
prefix=$(realpath "$1")
findmnt -rn -o TARGET | grep -F "$prefix/" | while read -r target; do
  umount -l "$target" && echo "unmounted $target"
done
exit 0
