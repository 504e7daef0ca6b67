#!/usr/bin/env bash
# The region overlay on the display of several monitors (tests/monitors/run.sh runs this
# there): the primary 1024x768 at 0,0 of the screen, one monitor left of it (800x600 at -800,0)
# and one above it (640x480 at 0,-480), so the virtual screen's corner is -800,-480 and the X
# screen's pixel is the screen coordinate plus 800,480. The overlay covers every monitor with
# its help line at the top of each, its crosshair follows the mouse at negative coordinates,
# and a region drawn on the left monitor is bright over the demo window's bars and comes back
# in screen coordinates.
#   overlay_monitors.sh BUILD_DIR    (the 64-bit build folder)
set -uo pipefail
source "$(dirname "$0")/../support/checks.sh" "$1"
source "$(dirname "$0")/gui.sh"
work=$(mktemp -d "$dir/overlay-monitors.XXXXXX")
settings=""
cleanup() {
  [ -n "$settings" ] && kill "$settings" 2>/dev/null
  [ -n "$demo" ] && kill "$demo" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
dx=800 dy=480  # the X screen's pixel of the screen's 0,0

left=-700 top=100  # the demo window on the left monitor
start_demo $left $top
"$ROOT/scripts/wine-run" "$dir/dorvantel-settings.exe" >"$work/settings.log" 2>&1 &
settings=$!
window "Dorvantel settings" 60 >/dev/null || { fail "the settings program did not show its window"; exit 1; }
xdotool windowmove "$(window "Dorvantel settings")" $((dx + 300)) $((dy + 200))
keys "Dorvantel settings" alt+a
window "Dorvantel preset" >/dev/null || { fail "Add did not open the editor"; exit 1; }
keys "Dorvantel preset" alt+r alt+a
window "Dorvantel region" >/dev/null || { fail "Draw did not open the overlay"; exit 1; }
# The crosshair through a point of the left monitor, below the demo window.
xdotool mousemove $((dx - 500)) $((dy + 400))
if painted "$work/open.png" $((dx - 500)) $((dy + 500)) 255,96,0; then
  pass "the crosshair follows the mouse at negative coordinates"
else
  fail "no crosshair at $((dx - 500)),$((dy + 500)) of the X screen: $(pixel "$work/open.png" $((dx - 500)) $((dy + 500)))"
fi
for at in "left 5,$((dy + 5))" "primary $((dx + 5)),$((dy + 5))" "above $((dx + 5)),5"; do
  xy=${at#* }
  check "the help line at the top of the ${at%% *} monitor" 32,32,32 "$(pixel "$work/open.png" "${xy%,*}" "${xy#*,}")"
done
# A region from the yellow bar's top left into the magenta bar, all at negative x.
xdotool mousemove $((dx + left + 40)) $((dy + top + 20)) mousedown 1 mousemove $((dx + left + 100)) $((dy + top + 80)) \
  mousemove $((dx + left + 200)) $((dy + top + 140))
painted "$work/drag.png" $((dx + left + 100)) $((dy + top + 18)) 255,96,0 || fail "no region's edge on the left monitor"
check "left monitor: the yellow bar inside the region is bright" 255,255,0 \
  "$(pixel "$work/drag.png" $((dx + left + 60)) $((dy + top + 60)))"
check "left monitor: the red bar outside it is dimmed" 127,0,0 \
  "$(pixel "$work/drag.png" $((dx + left + 220)) $((dy + top + 60)))"
xdotool mouseup 1
sleep 0.3
keys "Dorvantel region" Return
for _ in $(seq 100); do [ -z "$(xdotool search --onlyvisible --name "Dorvantel region" 2>/dev/null)" ] && break; sleep 0.1; done
region=""
for id in 1110 1111 1112 1113; do region+="$(inside text "Dorvantel preset" $id),"; done
check "the region in screen coordinates (x, y, width, height)" "$((left + 40)),$((top + 20)),160,120," "$region"
keys "Dorvantel preset" Escape

echo "$failures failed"
[ "$failures" = 0 ]
