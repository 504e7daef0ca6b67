# What the ffmpeg host tests share, sourced first:  source host_session.sh BUILD_DIR NAME
# Takes checks.sh (display, prefix, results); sets $bits, the build's bitness, $work, a scratch
# folder NAME.XXXXXX in the build folder, register(), the build's register tool, and host(), the
# Windows ffmpeg of that bitness; registers the plain device "Dorvantel" (the script ends when it
# cannot). On exit it ends the demo window and each process the script put into $stop, removes
# every device and $work, and ends the display it started.
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh" "$1"
if objdump -f "$dir/dorvantel-register.exe" | grep -q x86-64; then bits=64; else bits=32; fi

work=$(mktemp -d "$dir/$2.XXXXXX")
register() { "$ROOT/scripts/wine-run" "$dir/dorvantel-register.exe" "$@"; }
stop=()
cleanup() {
  local pid
  for pid in "$demo" "${stop[@]}"; do [ -n "$pid" ] && kill "$pid" 2>/dev/null; done
  register unregister --all >/dev/null 2>&1
  rm -rf "$work"
  if [ -n "${XVFB_PID:-}" ]; then stop_session; fi
}
trap cleanup EXIT
host() { "$ROOT/scripts/wine-ffmpeg" "$bits" -hide_banner -nostdin "$@"; }

register register 2>"$work/err" || { echo "FAIL - cannot register the device: $(cat "$work/err")"; exit 1; }
