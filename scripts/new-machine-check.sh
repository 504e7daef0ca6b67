#!/usr/bin/env bash
# Proves the README's two commands on a new machine: makes a new Debian 12 system with
# debootstrap (nothing in it but what the project's setup installs), clones this repository's
# committed main into it and runs `./run test` and `./run record x.mp4 --seconds 3` there as
# root. About 15 minutes. Cleans up after itself on every exit.
#   scripts/new-machine-check.sh [FOLDER]   (default: a new folder under build/)
# Needs root and the debootstrap package on the machine that runs it.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
target=${1:-$ROOT/build/new-machine}
log() { echo "[new-machine] $*" >&2; }

if [ "$(id -u)" -ne 0 ]; then log "run this as root"; exit 1; fi
command -v debootstrap >/dev/null || apt-get install -y -q debootstrap >/dev/null
if [ -e "$target" ]; then log "$target exists; give a new folder"; exit 1; fi

mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
  rm -rf --one-file-system "$target"
}
trap cleanup EXIT
mount_into() {  # mount_into WHERE MOUNT-ARGS...
  mkdir -p "$target$1"
  mount "${@:2}" "$target$1"
  mounted+=("$target$1")
}

log "making a new Debian 12 system in $target"
debootstrap --variant=minbase bookworm "$target" >/dev/null
mount_into /proc -t proc proc
mount_into /sys --rbind /sys
mount_into /dev --rbind /dev
mount_into /dev/pts --bind /dev/pts
mount_into /dev/shm -t tmpfs tmpfs
cp /etc/resolv.conf "$target/etc/resolv.conf"
# The machine's network settings go with it, as on any machine of this site: its name servers
# and the local certificate authorities its TLS connections are checked against (the project's
# setup installs ca-certificates, which takes them in).
if [ -d /usr/local/share/ca-certificates ]; then
  mkdir -p "$target/usr/local/share/ca-certificates"
  cp -a /usr/local/share/ca-certificates/. "$target/usr/local/share/ca-certificates/"
fi

log "cloning the repository's committed main"
git clone -q -b main "$ROOT" "$target/root/dorvantel"

status=0
# run_there NAME COMMAND: runs COMMAND as root in the new system's clone, with a bare environment.
run_there() {
  log "$1"
  if chroot "$target" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
      /bin/bash -c "cd /root/dorvantel && $2"; then
    log "PASS: $1"
  else
    log "FAIL: $1"; status=1
  fi
}
run_there "./run test" "./run test"
run_there "./run record" "./run record x.mp4 --seconds 3 &&
  ffprobe -v error -count_frames -show_entries stream=codec_name,width,height,nb_read_frames -of compact x.mp4"
exit $status
