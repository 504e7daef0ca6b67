# Debian 13's Wine 10, the second platform the 64-bit build is tested on: unlike Debian 12's
# Wine 8 it scales the display for programs that are not DPI aware, as Windows does. Sourced by
# ./run after common.sh.
#   wine10_tests [CTEST-ARGS]  runs the suites of WINE10_SUITES that CTEST-ARGS select, in the
#                              64-bit build folder, on Wine 10 (below); sets WINE10_LOG
#   wine10_make                makes the Debian 13 system once, in $BUILD/wine10/root
#   wine10_enter COMMAND...    runs COMMAND in that system as root
# The system is entered with chroot, in mount and process namespaces of its own: what is mounted
# for it (/proc, /sys, /dev, /dev/pts, a tmpfs on /dev/shm and on /tmp, the repository and the
# build folder at their own paths) is never seen outside and is unmounted when the command ends,
# and whatever the command started (Xvfb, wineserver) ends with it, on every way out. Only root
# can do this; where the system cannot be had (no root, no debootstrap, the mirror down) the run
# lists the suites as left out, in one line.

WINE10=$BUILD/wine10
WINE10_ROOT=$WINE10/root
# The 64-bit suites (CTest's names) that run on Wine 10 too; every other suite runs on Wine 8 only.
WINE10_SUITES="capture module dpi host_ffmpeg recorder_end_to_end"
# The system's packages beyond its base: Wine (64-bit only), the display and the X tools, what
# the suites' shell tests use (ffmpeg and ffprobe, ImageMagick, pgrep), ctest and objdump.
WINE10_PACKAGES="wine wine64 xvfb x11-utils xdotool xauth ffmpeg imagemagick procps cmake binutils"

# The Debian archive that this machine's package sources name (one-line .list or deb822 .sources
# files), the security archive and others aside: the same mirror serves trixie. Where none is
# named, deb.debian.org. DORVANTEL_WINE10_MIRROR, when set, is taken instead.
wine10_mirror() {  # wine10_mirror [SOURCE-FILE...]   (default: this machine's)
  local files=("$@") f uri
  if [ $# -eq 0 ]; then
    files=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources)
  fi
  uri=$(for f in "${files[@]}"; do
      [ -f "$f" ] || continue
      case "$f" in
        *.sources) sed -n -E 's/^[[:space:]]*URIs:[[:space:]]*//Ip' "$f" | tr -s ' \t' '\n\n' ;;
        *) sed -n -E 's/^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+).*/\2/p' "$f" ;;
      esac
    done | grep -m1 -E '^https?://[^[:space:]]+/debian/?$')
  echo "${DORVANTEL_WINE10_MIRROR:-${uri:-http://deb.debian.org/debian}}"
}

# A display number that no X server of this machine uses: the system's /tmp is its own, but X's
# abstract sockets are shared with this machine. Above every display that a socket, a lock file
# or an abstract socket names, and at least 100.
wine10_free_display() {
  local n highest=99
  for n in $({ ls -A /tmp/.X11-unix 2>/dev/null; ls -A /tmp 2>/dev/null
               grep -oE '@/tmp/\.X11-unix/X[0-9]+' /proc/net/unix 2>/dev/null; } |
             sed -n -E 's/^(.*\/)?\.?X([0-9]+)(-lock)?$/\2/p'); do
    if [ "$n" -gt "$highest" ]; then highest=$n; fi
  done
  echo $((highest + 1))
}

# The mount points at or below the system's folder, as this machine's mount namespace sees them.
# There should be none: the system's mounts live in namespaces of their own.
wine10_mounts() {
  findmnt -rn -o TARGET | awk -v root="$WINE10_ROOT" '$0 == root || index($0, root "/") == 1'
}

# Runs COMMAND in a mount namespace of its own whose mounts do not reach this machine's, and in
# a process namespace of its own: when COMMAND ends (or this shell, however it ends), every
# process started in it is ended and every mount made in it is gone. The mount points under
# the system's folder are made private first; where / is not a mount point (this script itself
# in a chroot, as in scripts/new-machine-check.sh), the folder is bound onto itself to have one.
# unshare waits through SIGINT and SIGTERM; killed, or its parent gone, it takes the rest along.
wine10_isolated() {  # wine10_isolated COMMAND...
  setpriv --pdeathsig KILL unshare --mount --propagation unchanged --pid --fork --kill-child -- bash -c '
    root=$1; shift
    if ! mount --make-rslave / 2>/dev/null; then
      mkdir -p "$root" && mount --bind "$root" "$root" && mount --make-private "$root" || exit 125
    fi
    exec "$@"' wine10 "$WINE10_ROOT" "$@"
}

# Runs COMMAND in the system as root, in a bare environment: the project's variables
# (DORVANTEL_*, GTEST_*, WINEDEBUG) and VAR=VALUE words before COMMAND are passed in.
wine10_enter() {  # wine10_enter [VAR=VALUE...] COMMAND...
  local binds=("$ROOT") environment=(PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}") name
  case "$BUILD/" in "$ROOT"/*) ;; *) binds+=("$BUILD") ;; esac
  for name in $(compgen -e | grep -E '^(DORVANTEL_|GTEST_|WINEDEBUG$)'); do
    case "$name" in
      # This machine's displays and Wine 8 prefixes mean nothing in there.
      DORVANTEL_MONITORS_DISPLAY|DORVANTEL_PREFIX_TEMPLATE|DORVANTEL_WINEPREFIX) ;;
      *) environment+=("$name=${!name}") ;;
    esac
  done
  while [ $# -gt 0 ] && [[ "$1" == [A-Z]*=* ]]; do environment+=("$1"); shift; done
  wine10_isolated bash -c '
    root=$1 count=$2; shift 2
    binds=("${@:1:count}"); shift "$count"
    mounted=()
    unmount() {
      local i
      for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null; done
      mounted=()
    }
    into() {  # into WHERE MOUNT-ARGS...
      mkdir -p "$root$1" && mount "${@:2}" "$root$1" && mounted+=("$root$1")
    }
    trap unmount EXIT
    trap "exit 130" INT
    trap "exit 143" TERM
    into /proc -t proc proc && into /sys --bind /sys && into /dev --bind /dev &&
      into /dev/pts --bind /dev/pts && into /dev/shm -t tmpfs tmpfs && into /tmp -t tmpfs tmpfs || exit 125
    for b in "${binds[@]}"; do into "$b" --bind "$b" || exit 125; done
    chroot "$root" /usr/bin/env -i "$@"
    status=$?
    unmount
    exit "$status"' wine10 "$WINE10_ROOT" "${#binds[@]}" "${binds[@]}" "${environment[@]}" "$@"
}

# Makes the Debian 13 system once. Its folder is ready when $WINE10/ready names the packages
# installed; a system whose making did not finish is removed and made again, and one made with
# fewer packages gets the others. debootstrap and apt-get log into $WINE10/make.log.
wine10_make() {
  local start=$SECONDS mirror try tries=${DORVANTEL_APT_TRIES:-3} make_log=$WINE10/make.log
  if [ -f "$WINE10/ready" ] && [ "$(cat "$WINE10/ready")" = "$WINE10_PACKAGES" ]; then return 0; fi
  if [ -n "$(wine10_mounts)" ]; then
    log "error: something is mounted in $WINE10_ROOT: $(wine10_mounts | tr '\n' ' ')"
    return 1
  fi
  mkdir -p "$WINE10"
  if [ ! -f "$WINE10/base-ready" ]; then
    rm -rf --one-file-system "$WINE10_ROOT"
    mirror=$(wine10_mirror)
    log "making a Debian 13 system for Wine 10 in $WINE10_ROOT from $mirror (once; minutes)"
    # debootstrap mounts /proc and /sys in the system while it works: in a namespace of its own.
    if ! wine10_isolated debootstrap --variant=minbase trixie "$WINE10_ROOT" "$mirror" >"$make_log" 2>&1; then
      log "error: debootstrap could not make the system (its last lines: $(tail -n 2 "$make_log" | tr '\n' ' '))"
      return 1
    fi
    echo "deb $mirror trixie main" >"$WINE10_ROOT/etc/apt/sources.list"
    # The machine's apt settings (a mirror of snapshots needs Check-Valid-Until off, say) go in.
    if [ -d /etc/apt/apt.conf.d ]; then cp -a /etc/apt/apt.conf.d/. "$WINE10_ROOT/etc/apt/apt.conf.d/"; fi
    # No package's service is started in there.
    printf '#!/bin/sh\nexit 101\n' >"$WINE10_ROOT/usr/sbin/policy-rc.d"
    chmod 755 "$WINE10_ROOT/usr/sbin/policy-rc.d"
    touch "$WINE10/base-ready"
    log "debootstrap: $((SECONDS - start)) s"
  fi
  rm -f "$WINE10/ready"
  cp -L /etc/resolv.conf "$WINE10_ROOT/etc/resolv.conf" 2>/dev/null || true
  # A mirror can serve a broken index for a while: tried DORVANTEL_APT_TRIES times (default 3),
  # DORVANTEL_APT_PAUSE seconds apart (default 20).
  for ((try = 1; try <= tries; try++)); do
    # shellcheck disable=SC2086
    if wine10_enter DEBIAN_FRONTEND=noninteractive sh -c 'dpkg --configure -a && apt-get update -q &&
        apt-get install -y -q --no-install-recommends "$@" && apt-get clean' packages $WINE10_PACKAGES \
        >>"$make_log" 2>&1; then
      echo "$WINE10_PACKAGES" >"$WINE10/ready"
      log "the Debian 13 system is ready ($((SECONDS - start)) s, $(du -sh --one-file-system "$WINE10_ROOT" | cut -f1))"
      return 0
    fi
    if [ "$try" -lt "$tries" ]; then sleep "${DORVANTEL_APT_PAUSE:-20}"; fi
  done
  log "error: apt-get could not install Wine 10's packages in $tries tries (see $make_log)"
  return 1
}

# Inside the system: an Xvfb display of its own on display number N, the prefix of
# DORVANTEL_WINEPREFIX at 96 DPI, then ctest ARGS in the 64-bit build folder.
wine10_session() {  # wine10_session N CTEST-ARGS...
  local n=$1 i
  shift
  setsid Xvfb ":$n" -screen 0 "${DORVANTEL_SCREEN:-1280x720x24}" -nolisten tcp >/tmp/xvfb.log 2>&1 &
  XVFB_PID=$!
  trap stop_session EXIT
  for i in $(seq 100); do
    if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 || ! kill -0 "$XVFB_PID" 2>/dev/null; then break; fi
    sleep 0.1
  done
  if ! DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
    log "error: Xvfb did not start on :$n: $(tail -n 2 /tmp/xvfb.log | tr '\n' ' ')"
    return 1
  fi
  export DISPLAY=":$n"
  ensure_prefix || return 1
  # Every run starts at 96 DPI, whatever a suite that changes it left behind.
  local key='HKCU\Control Panel\Desktop'
  if "$(wine64_loader)" reg query "$key" /v LogPixels 2>/dev/null | grep -q 'LogPixels.*0x' &&
     ! "$(wine64_loader)" reg query "$key" /v LogPixels 2>/dev/null | grep -q 'LogPixels.*0x60'; then
    "$(wine64_loader)" reg add "$key" /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
    wineserver -k; wineserver -w
    ensure_prefix || return 1
  fi
  log "Wine $("$(wine64_loader)" --version 2>/dev/null | sed 's/^wine-//') on $DISPLAY, prefix $WINEPREFIX"
  cd "$BUILD/win64" && ctest "$@"
}

# The CTest names of the 64-bit build folder's suites that CTEST-ARGS select.
wine10_selected() {  # wine10_selected CTEST-ARGS...
  (cd "$BUILD/win64" && ctest -N "$@") | sed -n 's/^ *Test *#[0-9]*: *//p'
}

# Runs the suites of WINE10_SUITES that CTEST-ARGS select in the 64-bit build folder on Wine 10,
# with their own skip and restart lists ($BUILD/skipped-wine10.txt, restarted-wine10.txt), which
# are added to the run's ($DORVANTEL_SKIPS, $DORVANTEL_RESTARTS), each line starting "wine10:".
# CTest's output goes to the console and into $BUILD/win64/ctest-wine10.log, which WINE10_LOG
# names when the suites ran (empty otherwise). The status is 1 when a suite failed or could not
# be run, 0 when they passed or were left out (one skip line names them, with the reason).
# One run at a time in a build folder: each has a wineserver of its own (its /tmp is its own),
# and two on one prefix would spoil it, so a second run waits for the first.
wine10_tests() {  # wine10_tests CTEST-ARGS...
  local selected=() others=() name reason="" start=$SECONDS status=0 list lock
  WINE10_LOG=""
  rm -f "$BUILD/win64/ctest-wine10.log"
  if [ ! -f "$BUILD/win64/CTestTestfile.cmake" ]; then
    log "error: no 64-bit build in $BUILD/win64 to test on Wine 10 (./run build)"
    return 1
  fi
  while read -r name; do
    if [[ " $WINE10_SUITES " == *" $name "* ]]; then selected+=("$name"); else others+=("$name"); fi
  done < <(wine10_selected "$@")
  if [ "${#others[@]}" -gt 0 ]; then
    list=$(IFS=,; echo "${others[*]}")
    echo "wine10: ${list//,/, }: run on Wine 8 only" >>"${DORVANTEL_SKIPS:-/dev/null}"
  fi
  if [ "${#selected[@]}" -eq 0 ]; then return 0; fi
  list=$(IFS=,; echo "${selected[*]}")
  if [ "${DORVANTEL_WINE10:-1}" = 0 ]; then
    reason="DORVANTEL_WINE10=0 (the Wine 10 run switched off)"
  elif [ "$(id -u)" -ne 0 ]; then
    reason="needs root (the Debian 13 system is made with debootstrap and entered with chroot)"
  elif ! command -v debootstrap >/dev/null 2>&1 || ! command -v unshare >/dev/null 2>&1; then
    reason="no debootstrap here (scripts/setup.sh installs it)"
  else
    mkdir -p "$BUILD"
    exec {lock}>>"$BUILD/wine10.lock"
    if ! flock -n "$lock"; then
      log "another Wine 10 run in $BUILD is under way: waiting for its end"
      flock "$lock"
    fi
    if ! wine10_make; then reason="the Debian 13 system could not be made (see $WINE10/make.log)"; fi
  fi
  if [ -n "$reason" ]; then
    echo "wine10: ${list//,/, }: $reason" >>"${DORVANTEL_SKIPS:-/dev/null}"
    log "Wine 10 run left out: $reason"
    if [ -n "${lock:-}" ]; then exec {lock}>&-; fi
    return 0
  fi
  log "testing the 64-bit build on Debian 13's Wine 10: ${list//,/, }"
  : >"$BUILD/skipped-wine10.txt"
  : >"$BUILD/restarted-wine10.txt"
  WINE10_LOG=$BUILD/win64/ctest-wine10.log
  wine10_enter DORVANTEL_BUILD="$BUILD" DORVANTEL_WINEPREFIX="$BUILD/wineprefix-wine10" \
    DORVANTEL_SKIPS="$BUILD/skipped-wine10.txt" DORVANTEL_RESTARTS="$BUILD/restarted-wine10.txt" \
    DORVANTEL_PREBUILT=1 \
    bash -c 'source "$1/scripts/common.sh" && source "$1/scripts/wine10.sh" && shift && wine10_session "$@"' \
    wine10 "$ROOT" "$(wine10_free_display)" --output-on-failure "$@" -R "^(${list//,/|})\$" 2>&1 |
    tee "$WINE10_LOG" || status=1
  sed 's/^/wine10: /' "$BUILD/skipped-wine10.txt" >>"${DORVANTEL_SKIPS:-/dev/null}"
  sed 's/^/wine10: /' "$BUILD/restarted-wine10.txt" >>"${DORVANTEL_RESTARTS:-/dev/null}"
  if [ -n "$(wine10_mounts)" ]; then
    log "error: left mounted in $WINE10_ROOT: $(wine10_mounts | tr '\n' ' ')"
    status=1
  fi
  log "Wine 10 run: $((SECONDS - start)) s"
  exec {lock}>&-
  return $status
}
