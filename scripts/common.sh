# Shared by the project's scripts: where things are built, and the Wine and X environment
# that runs the Windows binaries. Source it; it defines functions and exports variables.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${DORVANTEL_BUILD:-$ROOT/build}
export WINEPREFIX=${DORVANTEL_WINEPREFIX:-$BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64

log() { echo "[dorvantel] $*" >&2; }

# Configures and builds one bitness (32 or 64) into $BUILD/win32 or $BUILD/win64.
build_bits() {
  local bits=$1 toolchain dir
  if [ "$bits" = 32 ]; then toolchain=toolchain-i686.cmake; else toolchain=toolchain-x86_64.cmake; fi
  dir=$BUILD/win$bits
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/scripts/wine-test" >/dev/null
  fi
  cmake --build "$dir" -j"$(nproc)" "${@:2}"
}

# Adds a command to the calling shell's EXIT trap, after the commands already there.
on_exit() {
  local current=""
  eval "set -- $(trap -p EXIT) \"\$1\""
  if [ $# -eq 5 ]; then current="$3; "; fi
  # shellcheck disable=SC2064
  trap "$current${!#}" EXIT
}

# Uses the caller's display when there is one, else starts an Xvfb display of its own
# (DORVANTEL_SCREEN, default 1280x720x24) that lives until the calling shell exits. Xvfb picks
# a free display number itself; a display that does not answer is an error, not a warning.
ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local screen=${DORVANTEL_SCREEN:-1280x720x24} number_file n="" i
  number_file=$(mktemp)
  # In a session of its own: Ctrl-C at the terminal is for the program, not the display.
  setsid Xvfb -displayfd 1 -screen 0 "$screen" -nolisten tcp >"$number_file" 2>/dev/null &
  XVFB_PID=$!
  for i in $(seq 100); do
    n=$(head -n 1 "$number_file")
    if [ -n "$n" ] || ! kill -0 "$XVFB_PID" 2>/dev/null; then break; fi
    sleep 0.1
  done
  rm -f "$number_file"
  if [ -n "$n" ] && DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
    export DISPLAY=":$n"
    on_exit stop_session
    log "started Xvfb on $DISPLAY ($screen)"
    return 0
  fi
  kill "$XVFB_PID" 2>/dev/null || true
  unset XVFB_PID
  log "error: Xvfb did not start a display ($screen)"
  return 1
}

# The test display of several monitors (Xorg with its dummy video driver), where the tests
# labelled "monitors" run; everything else runs on Xvfb, whose screens all lie at 0,0. Its
# primary monitor is not the top-left one. In screen coordinates (the primary's corner at 0,0):
#   DUMMY0  1024x768 at 0,0      the primary monitor (number 1)
#   DUMMY1  800x600 at -800,0    left of it (number 2)
#   DUMMY2  640x480 at 0,-480    above it (number 3)
# so the virtual desktop is -800,-480 to 1024,768, 1824x1248, with parts no monitor shows.
# tests/monitors checks against this layout; scripts/monitor-layout changes it while tests run.
write_monitors_config() {  # write_monitors_config FILE
  cat >"$1" <<'CONFIG'
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
  Option "AutoAddGPU" "false"
  Option "DontVTSwitch" "true"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 65536
  Option "Monitor-DUMMY0" "primary"
  Option "Monitor-DUMMY1" "left"
  Option "Monitor-DUMMY2" "above"
EndSection
Section "Monitor"
  Identifier "primary"
  Modeline "1024x768" 65.00 1024 1048 1184 1344 768 771 777 806 -hsync -vsync
  Option "PreferredMode" "1024x768"
  Option "Primary" "true"
EndSection
Section "Monitor"
  Identifier "left"
  Modeline "800x600" 40.00 800 840 968 1056 600 601 605 628 +hsync +vsync
  Option "PreferredMode" "800x600"
  Option "Enable" "true"
  Option "LeftOf" "primary"
EndSection
Section "Monitor"
  Identifier "above"
  Modeline "640x480" 25.18 640 656 752 800 480 490 492 525 -hsync -vsync
  Option "PreferredMode" "640x480"
  Option "Enable" "true"
  Option "Above" "primary"
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Virtual 1824 1248
  EndSubSection
EndSection
CONFIG
}

# Starts the display of several monitors unless DORVANTEL_MONITORS_DISPLAY names one that
# answers, and exports DORVANTEL_MONITORS_DISPLAY; the display lives until the calling shell
# exits. Xorg needs root: without it, or without Xorg, the status is 2 and nothing starts.
ensure_monitor_display() {
  if [ -n "${DORVANTEL_MONITORS_DISPLAY:-}" ] && DISPLAY=$DORVANTEL_MONITORS_DISPLAY xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  local xorg=/usr/lib/xorg/Xorg folder=$BUILD/monitors number_file n="" i
  if [ "$(id -u)" -ne 0 ] || [ ! -x "$xorg" ] || [ ! -f /usr/lib/xorg/modules/drivers/dummy_drv.so ]; then
    return 2
  fi
  mkdir -p "$folder"
  write_monitors_config "$folder/xorg.conf"
  number_file=$(mktemp)
  # In a session of its own, like Xvfb; no input devices, no virtual terminal.
  setsid "$xorg" -displayfd 1 -config "$folder/xorg.conf" -noreset -nolisten tcp -novtswitch -sharevts \
    -logfile "$folder/xorg.log" >"$number_file" 2>/dev/null &
  MONITORS_XORG_PID=$!
  for i in $(seq 100); do
    n=$(head -n 1 "$number_file")
    if [ -n "$n" ] || ! kill -0 "$MONITORS_XORG_PID" 2>/dev/null; then break; fi
    sleep 0.1
  done
  rm -f "$number_file"
  if [ -n "$n" ] && DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
    export DORVANTEL_MONITORS_DISPLAY=":$n"
    on_exit stop_monitor_display
    log "started Xorg with three monitors on $DORVANTEL_MONITORS_DISPLAY"
    return 0
  fi
  stop_monitor_display
  log "error: Xorg did not start the display of several monitors (see $folder/xorg.log)"
  return 1
}

stop_monitor_display() {
  if [ -n "${MONITORS_XORG_PID:-}" ]; then
    kill "$MONITORS_XORG_PID" 2>/dev/null || true
    wait "$MONITORS_XORG_PID" 2>/dev/null || true
    unset MONITORS_XORG_PID
  fi
}

# Moves the calling shell onto the display of several monitors (ensure_monitor_display), with
# a Wine prefix of its own ($BUILD/wineprefix-monitors, a copy of the run's prefix): Wine keeps
# one monitor layout per prefix and takes it from the display its desktop started on, so this
# display's programs cannot share a prefix with the Xvfb display's. The prefix's wineserver is
# ended when the calling shell exits, so that the next run starts a desktop that reads the
# layout anew. DORVANTEL_MONITOR_LAYOUT names scripts/monitor-layout for the test programs, as
# a Windows path. The status is ensure_monitor_display's.
use_monitor_display() {
  local status=0
  ensure_monitor_display || status=$?
  if [ "$status" -ne 0 ]; then return "$status"; fi
  export DISPLAY=$DORVANTEL_MONITORS_DISPLAY
  export DORVANTEL_PREFIX_TEMPLATE=${DORVANTEL_PREFIX_TEMPLATE:-$BUILD/wineprefix}
  export DORVANTEL_WINEPREFIX=$BUILD/wineprefix-monitors
  export WINEPREFIX=$DORVANTEL_WINEPREFIX
  local layout="Z:$ROOT/scripts/monitor-layout"
  export DORVANTEL_MONITOR_LAYOUT=${layout//\//\\}
  ensure_prefix || return 1
  on_exit "wineserver -k >/dev/null 2>&1 || true"
}

# True where a 32-bit Linux program runs, natively or through a registered emulator. Asked
# of a 93-byte static program that only exits, so it needs nothing installed (a new machine
# has no 32-bit loader until the 32-bit Wine brings one).
runs_i386_programs() {
  local probe status=0
  mkdir -p "$BUILD"
  probe=$(mktemp "$BUILD/.i386-probe.XXXXXX")
  printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" >/dev/null 2>&1 || status=1
  rm -f "$probe"
  return $status
}

# The binfmt_misc rule that runs 32-bit x86 programs through qemu's user-mode emulator: the
# ELF header of an i386 executable or shared object; F opens the emulator now, so it also
# serves programs in another root.
QEMU_I386_RULE=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:FOC'

# True where 32-bit programs run through qemu's user-mode emulator (see setup.sh).
i386_emulated() { [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; }

# The bitnesses to build and test: both unless DORVANTEL_BITS names one (64 or 32).
bitnesses() { echo "${DORVANTEL_BITS:-64 32}"; }

# The 64-bit loader runs 64-bit programs directly; 32-bit ones go through the wine front end,
# which starts the 32-bit loader. Looked up when needed: Wine exists only once setup.sh ran.
wine64_loader() {
  if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64; return 0; fi
  if command -v wine64 >/dev/null 2>&1; then command -v wine64; return 0; fi
  log "error: no 64-bit Wine loader (scripts/setup.sh installs Wine)"
  return 1
}

# A Wine prefix (both bitnesses) inside the build folder, made once; wineserver is kept
# alive while the calling script runs, so each test program starts quickly. Only a prefix
# that this function made (its .dorvantel-made marker) is ever removed: a folder named by
# DORVANTEL_WINEPREFIX that holds anything else is used as it is.
ensure_prefix() {
  local wine64
  wine64=$(wine64_loader) || return 1
  mkdir -p "$BUILD"
  if [ ! -f "$WINEPREFIX/.dorvantel-ready" ]; then
    if [ -f "$WINEPREFIX/.dorvantel-made" ]; then
      rm -rf "$WINEPREFIX"  # a prefix of ours whose making did not finish
    fi
    if [ -e "$WINEPREFIX" ] && [ -n "$(ls -A "$WINEPREFIX" 2>/dev/null)" ]; then
      log "using the existing Wine prefix $WINEPREFIX as it is"
    elif [ -n "${DORVANTEL_PREFIX_TEMPLATE:-}" ] && [ -f "$DORVANTEL_PREFIX_TEMPLATE/.dorvantel-ready" ]; then
      # A developer's shortcut: a prefix made earlier by this function, copied.
      rmdir "$WINEPREFIX" 2>/dev/null || true
      cp -a "$DORVANTEL_PREFIX_TEMPLATE" "$WINEPREFIX"
    else
      log "creating the Wine prefix $WINEPREFIX (once; slow where 32-bit code is emulated)"
      mkdir -p "$WINEPREFIX"
      touch "$WINEPREFIX/.dorvantel-made"
      "$wine64" wineboot -i >/dev/null 2>&1 || true
      wineserver -w || true
      if [ ! -f "$WINEPREFIX/system.reg" ]; then
        log "error: wineboot made no prefix in $WINEPREFIX"
        return 1
      fi
      touch "$WINEPREFIX/.dorvantel-ready"
    fi
  fi
  wineserver -p >/dev/null 2>&1 || true
  # Boots the prefix's background services now, with no output of their own: started by a
  # test program instead, they would inherit its output and keep ctest waiting for its end.
  "$wine64" wineboot </dev/null >/dev/null 2>&1 || true
}

# Installs package/ffmpeg.exe of an npm tarball as $BUILD/hosts/ffmpeg-NAME/ffmpeg.exe: the
# tarball must have the registry's sha512 and the program its own; anything else is an error
# that installs nothing. A program already there with the right digest is kept, nothing fetched.
install_ffmpeg_host() {  # install_ffmpeg_host NAME URL TARBALL-SHA512 EXE-SHA512
  local folder=$BUILD/hosts/ffmpeg-$1 part
  if [ -f "$folder/ffmpeg.exe" ] && echo "$4  $folder/ffmpeg.exe" | sha512sum --quiet -c - >/dev/null 2>&1; then
    return 0
  fi
  mkdir -p "$folder"
  part=$(mktemp -d "$folder/.fetch.XXXXXX")
  if ! curl -fsSL --retry 3 -o "$part/package.tgz" "$2"; then
    rm -rf "$part"; log "error: cannot fetch $2"; return 1
  fi
  if ! echo "$3  $part/package.tgz" | sha512sum --quiet -c - >/dev/null 2>&1; then
    rm -rf "$part"; log "error: $2 does not match the registry's sha512"; return 1
  fi
  tar -xzf "$part/package.tgz" -C "$part" package/ffmpeg.exe
  if ! echo "$4  $part/package/ffmpeg.exe" | sha512sum --quiet -c - >/dev/null 2>&1; then
    rm -rf "$part"; log "error: ffmpeg.exe of $2 has the wrong sha512"; return 1
  fi
  mv -f "$part/package/ffmpeg.exe" "$folder/ffmpeg.exe"
  rm -rf "$part"
  log "Windows ffmpeg 4.1 ($1) in $folder"
}

# apt-get update, tried DORVANTEL_APT_TRIES times (default 3) with DORVANTEL_APT_PAUSE seconds
# (default 20) between tries. A mirror can serve one index broken for hours ("File has
# unexpected size ... Mirror sync in progress?"); when every try fails, the first index that
# failed is named in one line and the status is 1. The last try's output is in $APT_UPDATE_LOG.
apt_update() {
  local tries=${DORVANTEL_APT_TRIES:-3} pause=${DORVANTEL_APT_PAUSE:-20} try failed
  APT_UPDATE_LOG=$(mktemp)
  for ((try = 1; try <= tries; try++)); do
    if ${SUDO:-} apt-get update -q >"$APT_UPDATE_LOG" 2>&1; then return 0; fi
    if [ "$try" -lt "$tries" ]; then sleep "$pause"; fi
  done
  failed=$(grep -m1 -oE '^(E|W): Failed to fetch [^ ]+' "$APT_UPDATE_LOG" | sed 's/^.: Failed to fetch //')
  log "apt-get update failed $tries times: ${failed:-$(grep -m1 -E '^(E|W):' "$APT_UPDATE_LOG" || echo 'no reason given')}"
  return 1
}

# Installs the packages named. After a good update the newest versions are taken (security
# updates included). After a failed one the suites no longer agree: the amd64 index of a suite
# may be new while its i386 index is missing, and packages that must be equal in both
# architectures (Multi-Arch: same) then conflict. So the release's own suite (the codename in
# /etc/os-release) is preferred for every architecture, and both resolve from one suite.
install_packages() {  # install_packages PACKAGE...
  local codename="" target=()
  export DEBIAN_FRONTEND=noninteractive
  if ! apt_update; then
    codename=$(. "${DORVANTEL_OS_RELEASE:-/etc/os-release}" && echo "${VERSION_CODENAME:-}")
    if [ -n "$codename" ]; then
      target=(-t "$codename")
      log "installing from the release's own suite ($codename) for every architecture"
    fi
  fi
  if ! ${SUDO:-} apt-get install -y -q --no-install-recommends "${target[@]}" "$@"; then
    log "error: apt-get could not install: $*"
    if [ -n "$codename" ]; then
      log "(the package index could not be updated; see the line above, and try again later)"
    fi
    return 1
  fi
}

stop_session() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ -n "${XVFB_PID:-}" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}
