#!/usr/bin/env bash
# The region overlay's cost per mouse move: opens it in the settings program under Wine and
# moves the mouse MOVES times (20 ms apart) with the crosshair, then as many times dragging a
# region, and prints the CPU time each move cost the program and the X server (which takes
# every pixel the program repaints). A measurement, not a test.
#   scripts/overlay-moves.sh BUILD_DIR [MOVES]    (BUILD_DIR: build/win64)
# It runs on a display of its own, DORVANTEL_SCREEN in size (default 1280x720x24).
set -uo pipefail
unset DISPLAY
source "$(dirname "$0")/../tests/support/checks.sh" "$1"
moves=${2:-200}
work=$(mktemp -d)
settings=""
cleanup() {
  [ -n "$settings" ] && kill "$settings" 2>/dev/null
  rm -rf "$work"
  if [ -n "${XVFB_PID:-}" ]; then stop_session; fi
}
trap cleanup EXIT
server=$XVFB_PID
# CPU seconds (user and system) a process has used so far.
cpu() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f", ($14 + $15) / hz }' "/proc/$1/stat"; }
until_shown() {
  for _ in $(seq 600); do xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "no window \"$1\"" >&2
  exit 1
}
"$ROOT/scripts/wine-run" "$dir/dorvantel-settings.exe" >"$work/settings.log" 2>&1 &
settings=$!
until_shown "Dorvantel settings"
xdotool key alt+a
until_shown "Dorvantel preset"
sleep 1
xdotool search --onlyvisible --name "Dorvantel preset" windowfocus key alt+r alt+a
until_shown "Dorvantel region"
sleep 2
geometry=$(xdpyinfo | awk '/dimensions:/ {print $2}')
width=${geometry%x*} height=${geometry#*x}
# MOVES moves along a diagonal from 100,100, each waited for by 20 ms.
path() {
  local i args=()
  for ((i = 0; i < moves; i++)); do
    args+=(mousemove $((100 + i * (width - 200) / moves)) $((100 + i * (height - 200) / moves)) sleep 0.02)
  done
  xdotool "${args[@]}"
}
measure() {  # measure WHAT: runs path and prints the CPU per move
  local before=("$(cpu "$settings")" "$(cpu "$server")")
  path
  sleep 0.5
  awk -v what="$1" -v n="$moves" -v p0="${before[0]}" -v s0="${before[1]}" -v p1="$(cpu "$settings")" \
    -v s1="$(cpu "$server")" 'BEGIN { printf "%-10s %d moves: program %.2f ms, X server %.2f ms CPU per move\n",
      what, n, 1000 * (p1 - p0) / n, 1000 * (s1 - s0) / n }'
}
echo "overlay on ${width}x${height}:"
xdotool mousemove 100 100
measure crosshair
xdotool mousemove 100 100 mousedown 1
measure drag
xdotool mouseup 1 key Escape
