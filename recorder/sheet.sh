#!/usr/bin/env bash
# ./run sheet RECORDING [SHEET.png]
# Makes a PNG contact sheet of a recording: 16 frames spread over its length, in a 4x4 grid.
# The sheet is RECORDING with .png for its extension unless named.
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"

if [ $# -lt 1 ] || [ $# -gt 2 ] || [ "$1" = --help ] || [ "$1" = -h ]; then
  sed -n '2,4p' "$0" | sed 's/^# \{0,1\}//'
  exit 1
fi
input=$1
sheet=${2:-${input%.*}.png}
[ -f "$input" ] || { log "error: no recording $input"; exit 1; }
bash "$ROOT/scripts/setup.sh" >/dev/null

frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
  -of csv=p=0 "$input" | head -1)
if ! [ "${frames:-0}" -gt 0 ] 2>/dev/null; then log "error: $input holds no video frames"; exit 1; fi
# Frame n is taken when n x 16 / frames reaches a new whole number: 16 frames evenly apart.
picked=$(( frames < 16 ? frames : 16 ))
ffmpeg -hide_banner -loglevel error -y -i "$input" \
  -vf "select='eq(n\\,0)+gt(trunc(n*16/$frames)\\,trunc((n-1)*16/$frames))',scale=320:-2,tile=4x4:padding=4:margin=4:color=gray" \
  -vsync vfr -frames:v 1 -update 1 "$sheet"
log "contact sheet: $(realpath -- "$sheet") ($picked of $frames frames, evenly apart)"
