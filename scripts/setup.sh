#!/usr/bin/env bash
# Installs everything the build, the tests and the tools need on a fresh Debian machine.
# Safe to run again: packages already present are left alone.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(
  cmake make binutils
  mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  googletest
  wine wine64 wine32:i386
  xvfb x11-utils xdotool imagemagick ffmpeg
  gnuplot-nox python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# Where the kernel runs no 32-bit Linux programs (ia32 emulation switched off), the 32-bit
# Wine loader is run by qemu's user-mode emulator through binfmt_misc.
enable_i386_emulation() {
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then return 0; fi
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then return 0; fi
  if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q "install ok installed"; then
    $SUDO apt-get install -y -q --no-install-recommends qemu-user-static
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  fi
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:FOC' \
    | $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
  echo "setup: 32-bit programs run through qemu-i386 (this kernel runs no 32-bit code itself)"
}

if [ "${#missing[@]}" -eq 0 ]; then
  enable_i386_emulation
  echo "setup: everything is installed"
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
echo "setup: installed ${missing[*]}"
enable_i386_emulation
