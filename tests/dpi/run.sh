#!/usr/bin/env bash
# Display scaling: at 96, 120, 144 and 192 DPI the filter gives physical pixels to hosts that
# declare no DPI awareness. At each scale, in a Wine prefix of its own (a copy of the run's,
# its LogPixels set and its wineserver started anew): the test host dpi_tests.exe (no DPI
# manifest), ffmpeg (none either) recording the device, and the recorder (per-monitor aware)
# listing monitors and recording a rectangle; X screenshots are the physical truth.
# Only a Wine that scales DPI-unaware programs (Wine 10; Wine 8 treats every program as
# per-monitor aware) can show any of it: elsewhere the suite is a named skip.
#   run.sh BUILD_DIR    (the build folder of one bitness, e.g. build/win64)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(cd "$1" && pwd)
export DORVANTEL_BUILD=$(dirname "$dir")
source "$here/../../scripts/common.sh"

version=$("$(wine64_loader)" --version 2>/dev/null)
major=${version#wine-}
major=${major%%.*}
if ! [[ "$major" =~ ^[0-9]+$ ]] || [ "$major" -lt 10 ]; then
  reason="display scaling: ${version:-this Wine} shows DPI-unaware programs the physical screen; run on Wine 10"
  echo "skip - $reason"
  if [ -n "${DORVANTEL_SKIPS:-}" ]; then echo "dpi: $reason" >>"$DORVANTEL_SKIPS"; fi
  echo "0 failed"
  exit 0
fi

# The run's prefix is the template of this suite's own one.
export DORVANTEL_PREFIX_TEMPLATE=${DORVANTEL_PREFIX_TEMPLATE:-$WINEPREFIX}
export DORVANTEL_WINEPREFIX=$WINEPREFIX-dpi
export WINEPREFIX=$DORVANTEL_WINEPREFIX
source "$here/../support/checks.sh" "$1"

work=$(mktemp -d "$dir/dpi.XXXXXX")
register() { "$ROOT/scripts/wine-run" "$dir/dorvantel-register.exe" "$@"; }
cleanup() {
  [ -n "$demo" ] && kill "$demo" 2>/dev/null
  register unregister --all >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  rm -rf "$work"
  if [ -n "${XVFB_PID:-}" ]; then stop_session; fi
}
trap cleanup EXIT

if objdump -f "$dir/dorvantel-register.exe" | grep -q x86-64; then bits=64; else bits=32; fi
screen=$(xdpyinfo | awk '/dimensions:/ {print $2}')
width=${screen%x*} height=${screen#*x}
ffmpeg_host=$BUILD/hosts/ffmpeg-win$bits/ffmpeg.exe

# The scale the next programs start with: a prefix's LogPixels is read as its wineserver starts.
use_dpi() {  # use_dpi DPI
  winreg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  wineserver -p >/dev/null 2>&1
  "$(wine64_loader)" wineboot </dev/null >/dev/null 2>&1
}

# The demo window (checks.sh's start_demo; per-monitor aware, so placed in physical pixels) at
# LEFT,TOP: bottom right, outside the top-left part that an unaware view's size would crop at any
# scale above 100 %.
left=$((width * 70 / 100)) top=$((height * 60 / 100))
bars="320x160+$left+$top"
hide_demo() {
  [ -n "$demo" ] && kill "$demo" 2>/dev/null
  wait "$demo" 2>/dev/null
  demo=""
}

for dpi in 96 120 144 192; do
  use_dpi "$dpi"
  echo "# $dpi dpi"
  DORVANTEL_DPI=$dpi "$ROOT/scripts/wine-test" "$dir/tests/dpi_tests.exe" --gtest_color=no >"$work/tests-$dpi.log" 2>&1
  status=$?
  if [ "$status" -ne 0 ]; then grep -vE '^\[ RUN|^\[       OK' "$work/tests-$dpi.log" | sed 's/^/  /' | head -n 80; fi
  check "$dpi dpi: the unaware test host's checks" 0 "$status"

  start_demo "$left" "$top"
  register register >/dev/null 2>"$work/err" || fail "$dpi dpi: cannot register the device: $(cat "$work/err")"
  import -window root "$work/screen.png"
  crop "$work/screen.png" "$bars" "$work/b.png"

  if [ -f "$ffmpeg_host" ]; then
    # ffmpeg declares no DPI awareness: its default recording is the whole physical screen.
    "$ROOT/scripts/wine-ffmpeg" "$bits" -hide_banner -nostdin -y -rtbufsize 256M -f dshow -i video=Dorvantel \
      -t 1 -c:v rawvideo -pix_fmt bgra "$(winpath "$work/ffmpeg-$dpi.avi")" 2>"$work/ffmpeg-$dpi.log"
    check "$dpi dpi: ffmpeg records the physical screen" "width=$width height=$height" \
      "$(probe "$work/ffmpeg-$dpi.avi" width,height)"
    frame "$work/ffmpeg-$dpi.avi" 5 "$work/ffmpeg.png"
    crop "$work/ffmpeg.png" "$bars" "$work/a.png"
    check "$dpi dpi: ffmpeg's frame has the window's bars at their physical place" 0 \
      "$(differing "$work/a.png" "$work/b.png" 1%)"
  else
    skip "$dpi dpi: ffmpeg: no Windows ffmpeg of this bitness in $ffmpeg_host"
  fi

  # The recorder (per-monitor aware): monitors and rectangles in physical pixels.
  "$ROOT/scripts/wine-run" "$dir/dorvantel-record.exe" --monitors >"$work/monitors" 2>&1
  check "$dpi dpi: the recorder lists the physical monitor" "1: ${width}x${height} at 0,0" \
    "$(tr -d '\r' <"$work/monitors" | grep -o "^1: [0-9x]* at [-0-9,]*")"
  "$ROOT/scripts/wine-run" "$dir/dorvantel-record.exe" --quiet --seconds 1 --rect "$left,$top,320,240" \
    "$(winpath "$work/rect-$dpi.avi")" 2>"$work/err"
  check "$dpi dpi: the recorder's rectangle: ffprobe's view" "width=320 height=240" \
    "$(probe "$work/rect-$dpi.avi" width,height)"
  frame "$work/rect-$dpi.avi" 5 "$work/rect.png"
  crop "$work/rect.png" 320x160+0+0 "$work/a.png"
  check "$dpi dpi: the recorder's rectangle shows the bars" 0 "$(differing "$work/a.png" "$work/b.png" 1%)"
  register unregister --all >/dev/null 2>&1
  hide_demo
done
echo "$failures failed"
[ "$failures" = 0 ]
