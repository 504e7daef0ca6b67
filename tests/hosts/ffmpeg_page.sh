#!/usr/bin/env bash
# ffmpeg 4.1 for Windows opens the device's property page (-show_video_device_dialog true)
# under Wine; the user, played by xdotool's keys, makes the capture a screen region over the
# demo window's colour bars and presses Enter (OK); ffmpeg's recording then has the region's
# size and the bars' pixels.
#   ffmpeg_page.sh BUILD_DIR    (the build folder of one bitness, e.g. build/win64)
set -uo pipefail
source "$(dirname "$0")/host_session.sh" "$1" ffmpeg-page

left=100 top=80
start_demo $left $top
import -window root "$work/screen.png"
crop "$work/screen.png" "280x160+$left+$top" "$work/b.png"

host -y -rtbufsize 256M -f dshow -show_video_device_dialog true -i video=Dorvantel -frames:v 20 \
  -c:v rawvideo -pix_fmt bgra "$(winpath "$work/page.avi")" 2>"$work/page.log" &
recorder=$!
stop+=("$recorder")
# The frame: the visible window with a title that is not the demo's (Wine's frame calls it
# "Properties for" and the filter's name in ffmpeg's graph).
sheet=""
for _ in $(seq 300); do
  sheet=$(xdotool search --onlyvisible --name "." 2>/dev/null | while read -r id; do
    name=$(xdotool getwindowname "$id")
    [ -n "$name" ] && [ "$name" != "Dorvantel screen" ] && echo "$id"
  done | head -n 1)
  [ -n "$sheet" ] && break
  sleep 0.2
done
if [ -z "$sheet" ]; then
  fail "ffmpeg showed no property page: $(tail -n 3 "$work/page.log" | tr '\n' ' ')"
else
  pass "ffmpeg opens the property page (\"$(xdotool getwindowname "$sheet")\")"
  sleep 1
  # DORVANTEL_PAGE_SHOT=FILE keeps a picture of the page (the README's).
  [ -n "${DORVANTEL_PAGE_SHOT:-}" ] && import -window "$sheet" "$DORVANTEL_PAGE_SHOT"
  xdotool windowfocus --sync "$sheet" 2>/dev/null || xdotool windowfocus "$sheet"
  sleep 0.3
  # Screen region (Alt+R), then X, Y, width and height in their tab order, then OK.
  xdotool key --delay 80 alt+r Tab ctrl+a
  xdotool type --delay 30 "$left"
  xdotool key --delay 80 Tab ctrl+a
  xdotool type --delay 30 "$top"
  xdotool key --delay 80 Tab ctrl+a
  xdotool type --delay 30 "320"
  xdotool key --delay 80 Tab ctrl+a
  xdotool type --delay 30 "240"
  xdotool key --delay 80 Return
fi
for _ in $(seq 600); do kill -0 "$recorder" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$recorder" 2>/dev/null; then
  fail "ffmpeg did not finish within a minute: $(tail -n 3 "$work/page.log" | tr '\n' ' ')"
else
  recorder=""
  size=$(sed -n 's/.*Stream #0:0: Video: rawvideo, [^,]*, \([0-9]*x[0-9]*\).*/\1/p' "$work/page.log" | head -n 1)
  check "the recording has the region's size" 320x240 "$size"
  frame "$work/page.avi" 10 "$work/page.png"
  crop "$work/page.png" 280x160+0+0 "$work/a.png"
  check "the recording has the bars' pixels" 0 "$(differing "$work/a.png" "$work/b.png" 1%)"
fi

# The page's class goes with the last device, as the filter's does.
page='HKCR\CLSID\{3A499195-E1E6-487A-A238-7FF89B93A60B}\InprocServer32'
winreg query "$page" /ve /reg:$bits >/dev/null 2>&1 && pass "the page is registered with the device" ||
  fail "the page's class is not registered"
register unregister --all >/dev/null 2>&1
winreg query "$page" /ve /reg:$bits >/dev/null 2>&1 && fail "the page's class stays after unregister" ||
  pass "the page's class goes with the last device"

echo "$failures failed"
[ "$failures" = 0 ]
