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
      -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/scripts/wine-run" >/dev/null
  fi
  cmake --build "$dir" -j"$(nproc)" "${@:2}"
}

# Uses the caller's display when there is one, else starts an Xvfb display of its own
# (DORVANTEL_SCREEN, default 1280x720x24) that lives until the calling shell exits.
ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local screen=${DORVANTEL_SCREEN:-1280x720x24} n
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    # In a session of its own: Ctrl-C at the terminal is for the program, not the display.
    setsid Xvfb ":$n" -screen 0 "$screen" -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 50); do
      xdpyinfo >/dev/null 2>&1 && break
      sleep 0.1
    done
    trap 'stop_session' EXIT
    log "started Xvfb on $DISPLAY ($screen)"
    return 0
  done
  log "no free X display number"; return 1
}

# True where 32-bit programs run through qemu's user-mode emulator (see setup.sh).
i386_emulated() { [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; }

# The bitnesses to build and test: both unless DORVANTEL_BITS names one (64 or 32).
bitnesses() { echo "${DORVANTEL_BITS:-64 32}"; }

# The 64-bit loader runs 64-bit programs directly; 32-bit ones go through the wine
# front end, which starts the 32-bit loader.
WINE64=/usr/lib/wine/wine64
[ -x "$WINE64" ] || WINE64=wine64

# A Wine prefix (both bitnesses) inside the build folder, made once; wineserver is kept
# alive while the calling script runs, so each test program starts quickly.
ensure_prefix() {
  mkdir -p "$BUILD"
  if [ ! -f "$WINEPREFIX/.dorvantel-ready" ]; then
    rm -rf "$WINEPREFIX"
    if [ -n "${DORVANTEL_PREFIX_TEMPLATE:-}" ] && [ -f "$DORVANTEL_PREFIX_TEMPLATE/.dorvantel-ready" ]; then
      # A developer's shortcut: a prefix made earlier by this function, copied.
      cp -a "$DORVANTEL_PREFIX_TEMPLATE" "$WINEPREFIX"
    else
      log "creating the Wine prefix $WINEPREFIX (once; slow where 32-bit code is emulated)"
      "$WINE64" wineboot -i >/dev/null 2>&1 || true
      wineserver -w || true
      touch "$WINEPREFIX/.dorvantel-ready"
    fi
  fi
  wineserver -p >/dev/null 2>&1 || true
  # Boots the prefix's background services now, with no output of their own: started by a
  # test program instead, they would inherit its output and keep ctest waiting for its end.
  "$WINE64" wineboot </dev/null >/dev/null 2>&1 || true
}

stop_session() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ -n "${XVFB_PID:-}" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}
