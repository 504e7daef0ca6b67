#!/usr/bin/env bash
# The region overlay on the display of several monitors (tests/monitors/run.sh runs this
# there): the primary 1024x768 at 0,0 of the screen, one monitor left of it (800x600 at -800,0)
# and one above it (640x480 at 0,-480), so the virtual screen's corner is -800,-480 and the X
# screen's pixel is the screen coordinate plus 800,480. The overlay covers every monitor with
# its help line at the top of each, its crosshair follows the mouse at negative coordinates,
# and a region drawn on the left monitor is bright over the demo window's bars and comes back
# in screen coordinates. The editor's monitor choice: the left monitor chosen by its number is
# what the preview shows and what is saved.
#   overlay_monitors.sh BUILD_DIR    (the 64-bit build folder)
set -uo pipefail
source "$(dirname "$0")/../support/checks.sh" "$1"
source "$(dirname "$0")/gui.sh"
work=$(mktemp -d "$dir/overlay-monitors.XXXXXX")
# A copy with no other bitness beside it: a save goes to this bitness's view alone.
program=$work/program
mkdir -p "$program"
cp "$dir"/dorvantel-settings.exe "$dir"/dorvantel-register.exe "$dir"/dorvantel*.dll "$program/"
register() { "$ROOT/scripts/wine-run" "$program/dorvantel-register.exe" "$@"; }
settings=""
cleanup() {
  for process in $settings ${demo:-}; do kill "$process" 2>/dev/null; done
  register unregister --all >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
dx=800 dy=480  # the X screen's pixel of the screen's 0,0

left=-700 top=100  # the demo window on the left monitor
start_demo $left $top
register unregister --all >/dev/null 2>&1
"$ROOT/scripts/wine-run" "$program/dorvantel-settings.exe" >"$work/settings.log" 2>&1 &
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
for id in 2106 2107 2108 2109; do region+="$(inside text "Dorvantel preset" $id),"; done
check "the region in screen coordinates (x, y, width, height)" "$((left + 40)),$((top + 20)),160,120," "$region"

# The left monitor chosen in the list of monitors (the primary is 1, the left one 2): the
# preview shows its size and the demo window's bars on it, and the save stores its number.
keys "Dorvantel preset" alt+n
typed "Dorvantel preset" "Left monitor"
keys "Dorvantel preset" alt+m Tab Down
chosen=$(inside text "Dorvantel preset" 2124)
check "the monitor chosen is listed as every tool lists it" "$(register monitors | tr -d '\r' | sed -n '2p')" "$chosen"
check "the monitor chosen is the left one" "2: 800x600 at -800,0" "${chosen%% (*}"
for _ in $(seq 60); do
  preview=$(inside text "Dorvantel preset" 1128)
  [[ "$preview" == "Live: 800x600 "* ]] && break
  sleep 0.5
done
check "the preview runs with the left monitor's size" "Live: 800x600" "${preview%% rgb*}"
for _ in $(seq 20); do
  snap "Dorvantel preset" "$work/editor.png"
  [ "$(count "$work/editor.png" '#FFFF00')" -gt 500 ] && break
  sleep 0.5
done
n=$(count "$work/editor.png" '#FFFF00')
[ "$n" -gt 500 ] && pass "the preview shows the bars on the left monitor ($n yellow pixels)" \
  || fail "the preview shows $n yellow pixels"
keys "Dorvantel preset" alt+s
for _ in $(seq 300); do [ -z "$(xdotool search --onlyvisible --name "Dorvantel preset" 2>/dev/null)" ] && break; sleep 0.1; done
check "the monitor preset is saved by its number" "CaptureArea=4;CaptureValue=2;" \
  "$(register list | tr -d '\r' | sed -n 's/^  \(Capture[A-Za-z]*=.*\)/\1/p' | tr '\n' ';')"

echo "$failures failed"
[ "$failures" = 0 ]
