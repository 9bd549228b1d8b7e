#!/usr/bin/env bash
# Installs what the builds and tests need, when it is missing (Debian, as root).
#   --native-only   only what the native build and the demo need
set -euo pipefail

native=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev python3 libcli11-dev
        nlohmann-json3-dev)
packages=("${native[@]}" clang libclang-rt-14-dev clang-format mingw-w64 wine wine64 wine32:i386
          xvfb x11-utils xdotool imagemagick tmux fonts-ipafont-gothic dpkg-dev
          qemu-system-x86 linux-image-amd64 busybox-static sg3-utils)
[ "${1:-}" = "--native-only" ] && packages=("${native[@]}")
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  # The 32-bit half of Wine runs the i686 Windows program.
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386
  then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
