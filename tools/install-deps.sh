#!/usr/bin/env bash
# Installs, from Debian's archive, every package that building and testing
# Vellomire needs and that this machine does not have yet. Run as root.
set -euo pipefail

# One package a line; add what the project needs.
PACKAGES=(
  build-essential
  cmake
  ninja-build
  git
  libgtest-dev
  g++-mingw-w64-i686
  g++-mingw-w64-x86-64
  wine
  wine64
  xvfb
  xauth
  xdotool
  imagemagick
  fonts-dejavu-core
  fonts-liberation
  python3
  python3-pefile
  python3-numpy
  python3-pil
  procps
  clang
  libclang-rt-14-dev
  valgrind
  zip
)

# The shipped 32-bit saver runs under Debian's 32-bit Wine: on the host where
# the kernel runs 32-bit programs (also when the machine is chosen anyway,
# for the 64-bit prefix runs 32-bit programs too), else in the emulated i386
# machine, whose image these build (e2e/i386/build-image.sh).
way=$(dirname "$0")/win32-way.sh
FOREIGN=()
if [ "$(VELLOMIRE_I386_MACHINE= "$way")" = host ]; then
  FOREIGN=(wine32:i386)
fi
if [ "$("$way")" = machine ]; then
  PACKAGES+=(mmdebstrap qemu-system-x86 qemu-utils qemu-user-static cpio e2fsprogs xz-utils)
fi
PACKAGES+=("${FOREIGN[@]}")

missing=()
for p in "${PACKAGES[@]}"; do
  if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: must run as root to install packages" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#FOREIGN[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update
apt-get install -y "${missing[@]}" </dev/null
