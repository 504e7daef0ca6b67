#!/usr/bin/env bash
# ffmpeg 4.1 for Windows under Wine, two ways of grabbing the same screen in the same process
# build: through this filter (-f dshow -i video=Dorvantel) and through ffmpeg's own GDI grabber
# (-f gdigrab -i desktop). On an Xvfb display of each size of its own, it prints
#   - frames per second unpaced (-framerate 1000 on both), counted over the stamped span;
#   - CPU per frame at 30 fps: ffmpeg's user+sys and the X server's, the difference between a
#     long and a short run divided by the difference in frames (start-up cancels out).
# Frames go to `-f null -` with every frame kept (-vsync 0). wineserver's own time is not counted.
#   bench/ffmpeg_peers.sh     knobs: DORVANTEL_BENCH_SCREENS (default "1280x720 1920x1080"),
#                             DORVANTEL_BENCH_SECONDS (unpaced span, default 5), DORVANTEL_BITS (64)
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"

SCREENS=${DORVANTEL_BENCH_SCREENS:-1280x720 1920x1080}
SPAN=${DORVANTEL_BENCH_SECONDS:-5}
bits=${DORVANTEL_BITS:-64}
SHORT=2 LONG=8

bash "$ROOT/scripts/setup.sh" >/dev/null
build_bits "$bits" --target dorvantel-register >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ticks=$(getconf CLK_TCK)
xserver_seconds() { awk -v t="$ticks" '{printf "%.3f", ($14 + $15) / t}' "/proc/$XVFB_PID/stat"; }

# run PEER FRAMERATE SECONDS: prints "frames ffmpeg-cpu-seconds xserver-cpu-seconds".
run() {
  local input x0 x1 frames
  if [ "$1" = dorvantel ]; then
    input=(-rtbufsize 256M -f dshow -framerate "$2" -i video=Dorvantel)
  else
    input=(-f gdigrab -framerate "$2" -i desktop)
  fi
  x0=$(xserver_seconds)
  { TIMEFORMAT='%U %S'; time "$ROOT/scripts/wine-ffmpeg" "$bits" -hide_banner -nostdin "${input[@]}" \
      -t "$3" -vsync 0 -f null - 2>"$work/log"; } 2>"$work/time"
  x1=$(xserver_seconds)
  frames=$(tr '\r' '\n' <"$work/log" | grep -o 'frame= *[0-9]*' | tail -n 1 | tr -dc 0-9)
  if [ -z "$frames" ]; then
    log "error: $1 at $2 fps recorded nothing: $(grep -v ^ALSA "$work/log" | tail -n 3)"
    return 1
  fi
  echo "$frames $(awk '{printf "%.3f", $1 + $2}' "$work/time") $(awk -v a="$x0" -v b="$x1" 'BEGIN {printf "%.3f", b - a}')"
}

# In a subshell of its own: the display, wineserver and the registration end with it.
measure_screen() {
  trap - EXIT
  on_exit '"$ROOT/scripts/wine-run" "$BUILD/win$bits/dorvantel-register.exe" unregister >/dev/null 2>&1 || true'
  unset DISPLAY
  DORVANTEL_SCREEN=${1}x24 ensure_display
  ensure_prefix
  "$ROOT/scripts/wine-run" "$BUILD/win$bits/dorvantel-register.exe" register 2>/dev/null
  local peer unpaced short long
  for peer in dorvantel gdigrab; do
    if ! unpaced=$(run $peer 1000 "$SPAN") || ! short=$(run $peer 30 $SHORT) || ! long=$(run $peer 30 $LONG); then
      echo "| $1 | $peer | failed | | | |"
      continue
    fi
    read -r -a unpaced <<<"$unpaced"
    read -r -a short <<<"$short"
    read -r -a long <<<"$long"
    awk -v s="$1" -v p="$peer" -v span="$SPAN" -v uf="${unpaced[0]}" \
        -v f0="${short[0]}" -v c0="${short[1]}" -v x0="${short[2]}" \
        -v f1="${long[0]}" -v c1="${long[1]}" -v x1="${long[2]}" 'BEGIN {
      n = f1 - f0; d = (n > 0) ? n : 1
      printf "| %s | %s | %.1f | %d | %.2f | %.2f |\n", s, p, uf / span, n, 1000 * (c1 - c0) / d, 1000 * (x1 - x0) / d }'
  done
}

echo "ffmpeg 4.1 win$bits under $(wine --version 2>/dev/null || echo Wine), $(nproc) cores, $(date -u +%Y-%m-%dT%H:%MZ)"
echo "| screen | grabber | unpaced fps | frames at 30 fps ($((LONG - SHORT)) s) | ffmpeg CPU ms/frame | X server CPU ms/frame |"
echo "|---|---|---|---|---|---|"
for screen in $SCREENS; do
  (measure_screen "$screen")
done
