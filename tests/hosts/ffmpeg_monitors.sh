#!/usr/bin/env bash
# ffmpeg 4.1 for Windows records presets of one monitor and of the whole desktop by their
# device names, on the display of several monitors (tests/monitors/run.sh runs this there): the
# left monitor, 800x600 at -800,0 in screen coordinates, lies at 0,480 of the X screen.
#   ffmpeg_monitors.sh BUILD_DIR    (the build folder of one bitness)
set -uo pipefail
source "$(dirname "$0")/../support/checks.sh" "$1"
if objdump -f "$dir/dorvantel-register.exe" | grep -q x86-64; then bits=64; else bits=32; fi
if [ "$bits" = 32 ] && i386_emulated; then
  skip "32-bit ffmpeg on the monitors' display: threaded (qemu's 32-bit Wine does not survive threads)"
  exit 0
fi

work=$(mktemp -d "$dir/ffmpeg-monitors.XXXXXX")
register() { "$ROOT/scripts/wine-run" "$dir/dorvantel-register.exe" "$@"; }
cleanup() {
  [ -n "$demo" ] && kill "$demo" 2>/dev/null
  register unregister --name "Dorvantel left" >/dev/null 2>&1
  register unregister --name "Dorvantel desktop" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
host() { "$ROOT/scripts/wine-ffmpeg" "$bits" -hide_banner -nostdin "$@"; }
record() {  # record NAME DEVICE: two seconds into NAME.avi, and its third frame as NAME.png
  host -y -rtbufsize 256M -f dshow -i "video=$2" -t 2 -c:v rawvideo -pix_fmt bgra "$(winpath "$work/$1.avi")" \
    2>"$work/$1.log" || { fail "$1: ffmpeg failed: $(grep -v '^ALSA' "$work/$1.log" | tail -n 2 | tr '\n' ' ')"; return 1; }
  frame "$work/$1.avi" 2 "$work/$1.png"
  [ -s "$work/$1.png" ] && return 0
  fail "$1: no third frame in the recording: $(probe "$work/$1.avi" nb_read_packets)"
  return 1
}
input() { sed -n 's/.*Stream #0:0: Video: \(rawvideo, [^,]*, [0-9x]*\).*/\1/p' "$work/$1.log" | head -n 1; }

register register --name "Dorvantel left" --monitor 2 2>"$work/err" &&
  register register --name "Dorvantel desktop" --desktop 2>>"$work/err" ||
  { echo "FAIL - cannot register the presets: $(cat "$work/err")"; exit 1; }
register list >"$work/list"
grep -A2 -x "Dorvantel left" <(tr -d '\r' <"$work/list") | grep -qx "  CaptureValue=2" \
  && pass "the monitor's preset is listed with its number" || fail "the monitor's preset: $(cat "$work/list")"

# The tools list the monitors by the numbers the filter uses, and say when one is not there.
record_tool() { "$ROOT/scripts/wine-run" "$dir/dorvantel-record.exe" "$@"; }
monitors="1: 1024x768 at 0,0 (*, primary)|2: 800x600 at -800,0 (*)|3: 640x480 at 0,-480 (*)"
listed=$(register monitors 2>&1 | tr -d '\r' | paste -sd'|')
# shellcheck disable=SC2053
[[ $listed == $monitors ]] && pass "the register tool lists the monitors" || fail "register monitors: $listed"
listed=$(record_tool --monitors 2>&1 | tr -d '\r' | paste -sd'|')
# shellcheck disable=SC2053
[[ $listed == $monitors ]] && pass "the recorder lists the monitors" || fail "dorvantel-record --monitors: $listed"
record_tool --monitor 9 --seconds 1 "$(winpath "$work/none.avi")" 2>"$work/err"
check "recording a monitor that is not there: bad options" 2 "$?"
check "... in one line" "dorvantel-record: error: there is no monitor 9: the desktop has monitors 1 to 3 (dorvantel-record --monitors lists them)" "$(tr -d '\r' <"$work/err")"
register register --name "Dorvantel left" --monitor 9 2>"$work/err"
check "a preset of a monitor that is not there is kept, with a note" \
  "0 note: there is no monitor 9: the desktop has monitors 1 to 3; until there is, the device gives black frames" \
  "$? $(tr -d '\r' <"$work/err" | grep '^note')"
register register --name "Dorvantel left" --monitor 2 2>/dev/null

# The demo window on the left monitor, its bars at negative screen coordinates.
start_demo -700 100
import -window root "$work/screen.png"
crop "$work/screen.png" "320x160+100+580" "$work/bars.png"
if record left "Dorvantel left"; then
  check "left monitor: the input ffmpeg sees" "rawvideo, bgr0, 800x600" "$(input left)"
  crop "$work/left.png" "320x160+100+100" "$work/a.png"
  check "left monitor: the bars match the screenshot" 0 "$(differing "$work/a.png" "$work/bars.png" 1%)"
fi
if record desktop "Dorvantel desktop"; then
  check "whole desktop: the input ffmpeg sees" "rawvideo, bgr0, 1824x1248" "$(input desktop)"
  crop "$work/desktop.png" "320x160+100+580" "$work/a.png"
  check "whole desktop: the bars match the screenshot" 0 "$(differing "$work/a.png" "$work/bars.png" 1%)"
  check "whole desktop: no monitor above the left one, black" 0,0,0 "$(pixel "$work/desktop.png" 10 10)"
fi

echo "$failures failed"
[ "$failures" = 0 ]
