#!/usr/bin/env bash
# Installs what the builds and tests need, when it is missing (Debian, as root).
set -euo pipefail

native=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev python3)
packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
          clang-format mingw-w64 wine wine64 xvfb x11-utils xdotool imagemagick tmux python3 fonts-ipafont-gothic)
[ "${1:-}" = "--native-only" ] && packages=("${native[@]}")
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
