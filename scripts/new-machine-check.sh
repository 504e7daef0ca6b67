#!/usr/bin/env bash
# Proves the README's two commands on a new machine: makes a new Debian 12 system with
# debootstrap (nothing in it but what the project's setup installs), gives it this machine's
# package sources, apt settings and keyrings (so it meets the same mirror, suites and
# architectures as the machines CI runs on), clones this repository's committed main into it
# and runs `./run test` and `./run record x.mp4 --seconds 3` there as root, timing each phase.
# About 25 minutes. Cleans up after itself on every exit. It runs on this machine's kernel, so
# where the kernel runs no 32-bit code the new system meets that too.
#   scripts/new-machine-check.sh [--ref REV] [--broken-index] [--emulate-i386] [FOLDER]
#     --ref REV         check that commit instead of main
#     --broken-index    add a source whose index cannot be fetched, as a mirror in the middle
#                       of a sync serves it (apt-get update then fails on every try)
#     --emulate-i386    after the setup, run as on a kernel without 32-bit support: in a user
#                       namespace of their own, with their own binfmt_misc in which 32-bit
#                       programs go through qemu-i386 (needs Linux 6.7 or later and
#                       qemu-user-static on this machine); nothing outside it is changed
#     FOLDER            where the new system goes (default: a new folder under build/)
# Needs root and the debootstrap package on the machine that runs it.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
ref=main broken_index=0 emulate=0
while [ $# -gt 0 ]; do
  case "$1" in
    --ref) ref=$2; shift 2 ;;
    --broken-index) broken_index=1; shift ;;
    --emulate-i386) emulate=1; shift ;;
    *) break ;;
  esac
done
target=${1:-$ROOT/build/new-machine}
source "$ROOT/scripts/common.sh"
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

# And its package sources: debootstrap writes the release suite alone, where the machines CI
# runs on also have the updates and security suites (whose indexes a mirror may serve broken).
# The sources in both forms (one-line .list and deb822 .sources), the apt settings, and every
# keyring a source names or apt trusts.
rm -f "$target/etc/apt/sources.list"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  mkdir -p "$target$(dirname "$f")"
  cp "$f" "$target$f"
  grep -ohiE '(signed-by(:|=))[[:space:]]*[^] ,]+' "$f" | sed -E 's/^[Ss]igned-[Bb]y[:=][[:space:]]*//' |
    while read -r keyring; do
      if [ -f "$keyring" ]; then mkdir -p "$target$(dirname "$keyring")"; cp "$keyring" "$target$keyring"; fi
    done
done
for d in /etc/apt/apt.conf.d /etc/apt/trusted.gpg.d; do
  if [ -d "$d" ]; then mkdir -p "$target$d"; cp -a "$d/." "$target$d/"; fi
done
[ -f /etc/apt/trusted.gpg ] && cp /etc/apt/trusted.gpg "$target/etc/apt/trusted.gpg"
if [ "$broken_index" = 1 ]; then
  echo "deb http://deb.debian.org/debian-security bookworm-security-not-on-this-mirror main" \
    >"$target/etc/apt/sources.list.d/broken-index.list"
fi
log "package sources: $(cd "$target/etc/apt" && ls sources.list sources.list.d/* 2>/dev/null | tr '\n' ' ')"

log "cloning the repository's committed $ref"
git clone -q "$ROOT" "$target/root/dorvantel"
git -C "$target/root/dorvantel" checkout -q "$ref"

if [ "$emulate" = 1 ]; then
  [ -x /usr/bin/qemu-i386-static ] || apt-get install -y -q qemu-user-static >/dev/null
  log "after the setup, 32-bit programs run through qemu (as on a kernel without 32-bit support)"
elif i386_emulated; then
  log "32-bit programs run through qemu here"
elif runs_i386_programs; then
  log "this kernel runs 32-bit programs itself"
else
  log "this kernel runs no 32-bit programs until the setup registers qemu for them"
fi

status=0
# run_there NAME COMMAND: runs COMMAND as root in the new system's clone, with a bare
# environment, and says how long it took.
run_there() {
  local start=$SECONDS there
  there=(chroot "$target" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
    /bin/bash -c "cd /root/dorvantel && $2")
  if [ "$emulate" = 1 ] && [ "$1" != setup ]; then
    # The rule lives in this namespace's own binfmt_misc: it ends with the command.
    there=(unshare --user --map-root-user --mount -- bash -c \
      'mount -t binfmt_misc binfmt_misc "$1/proc/sys/fs/binfmt_misc" &&
       printf "%s" "$2" >"$1/proc/sys/fs/binfmt_misc/register" && shift 2 && exec "$@"' \
      _ "$target" "$QEMU_I386_RULE" "${there[@]}")
  fi
  log "$1"
  if "${there[@]}"; then
    log "PASS: $1 ($((SECONDS - start)) s)"
  else
    log "FAIL: $1 ($((SECONDS - start)) s)"; status=1
  fi
}
run_there "setup" "bash scripts/setup.sh"
run_there "build" "./run build"
run_there "./run test" "./run test"
run_there "./run record" "./run record x.mp4 --seconds 3 &&
  ffprobe -v error -count_frames -show_entries stream=codec_name,width,height,nb_read_frames -of compact x.mp4"
exit $status
