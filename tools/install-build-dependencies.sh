#!/bin/bash
# Installs what building and testing the wrapper needs on Debian 12, as root. Does nothing
# when everything is there already.
set -euo pipefail
packages=(cmake ninja-build g++-mingw-w64-i686 g++-mingw-w64-x86-64
          wine64 msitools wixl gcab python3 python3-pefile osslsigncode openssl
          clang libclang-rt-14-dev googletest imagemagick
          # The guest of the 32-bit tier (tools/guest): built with mmdebstrap, run by QEMU.
          qemu-system-x86 mmdebstrap e2fsprogs)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q "${missing[@]}"
fi
