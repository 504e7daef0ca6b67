#!/usr/bin/env bash
# ./run record OUTPUT [recorder options]    ./run record --recover NAME.avi.part
# Records the screen into OUTPUT. An .avi name gets the recorder's own uncompressed AVI; any
# other name (capture.mp4, capture.mkv, ...) gets the recorder's raw frames, the filter's I420,
# encoded by ffmpeg (H.264 in MP4 and MKV). Builds what is missing first. Uses $DISPLAY when it
# names a working display; otherwise starts an Xvfb display and shows the recorder's demo window
# on it. DORVANTEL_BITS=32 records with the 32-bit build. The recorder's options: ./run record
# --help. Exit status: 0 recorded, 1 failed (no file), 2 bad options, 3 stopped early with what
# was recorded kept.
# --recover closes the NAME.avi.part of a recording that was killed into a playable NAME.avi.
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"

if [ $# -eq 0 ] || [ "$1" = --help ] || [ "$1" = -h ]; then
  sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
  [ $# -eq 0 ] && exit 1
fi

bits=${DORVANTEL_BITS:-64}
if [ "$bits" = 32 ]; then dll=dorvantel; else dll=dorvantel64; fi
# DORVANTEL_PREBUILT=1 takes the build folder as it is, with no setup and no build: set where the
# tests run in another system than the one that built (the Wine 10 run, scripts/wine10.sh).
if [ "${DORVANTEL_PREBUILT:-0}" != 1 ]; then
  bash "$ROOT/scripts/setup.sh" >/dev/null
  build_bits "$bits" --target "$dll" dorvantel-record >/dev/null
fi
dir=$BUILD/win$bits
run_windows() { "$ROOT/scripts/wine-run" "$@"; }

if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
  echo
  # On the display and in the prefix a recording uses: Wine started with neither keeps its
  # desktop without a screen a few seconds, and the recording run next would join it.
  ensure_display >/dev/null 2>&1 || true
  ensure_prefix
  run_windows "$dir/dorvantel-record.exe" --help
  exit 0
fi

windows_path() { printf 'Z:%s' "${1//\//\\}"; }
if [ "${1:-}" = --recover ]; then
  [ $# = 2 ] || { log "usage: ./run record --recover NAME.avi.part"; exit 2; }
  ensure_prefix
  exec "$ROOT/scripts/wine-run" "$dir/dorvantel-record.exe" --recover "$(windows_path "$(realpath -m -- "$2")")"
fi

output=$1
shift
case "$output" in
  -*) log "the first argument is the output file, e.g. ./run record capture.mp4 --seconds 5"; exit 2 ;;
esac
output_abs=$(realpath -m -- "$output")
if [ ! -d "$(dirname "$output_abs")" ]; then
  log "error: the folder $(dirname "$output_abs") does not exist"; exit 1
fi

ensure_display
ensure_prefix
extra=()
if [ -n "${XVFB_PID:-}" ]; then
  # A display of our own shows nothing of interest: the recorder puts its demo window on it.
  extra=(--demo)
  log "recording the virtual display $DISPLAY with the demo window on it"
fi

# Reads the recorder's raw stream: its header line, then frames, which ffmpeg encodes. The
# recorder sends I420 (yuv420p) unless told another format, so ffmpeg converts nothing.
encode() {
  local target=$1 magic width="" height="" pix_fmt="" rate="" field
  trap '' INT  # Ctrl-C stops the recorder, which ends the stream; the encoder finishes the file
  if ! read -r magic rest || [ "$magic" != DORVANTEL-RAW ]; then
    cat >/dev/null
    return 1
  fi
  for field in $rest; do
    case "$field" in
      width=*) width=${field#*=} ;;
      height=*) height=${field#*=} ;;
      pix_fmt=*) pix_fmt=${field#*=} ;;
      rate=*) rate=${field#*=} ;;
    esac
  done
  # H.264 in 4:2:0 needs even sides: pad odd ones by a pixel.
  local pad=()
  if [ $((width % 2)) = 1 ] || [ $((height % 2)) = 1 ]; then pad=(-vf 'pad=ceil(iw/2)*2:ceil(ih/2)*2'); fi
  setsid ffmpeg -hide_banner -loglevel error -y -f rawvideo -pix_fmt "$pix_fmt" \
    -video_size "${width}x${height}" -framerate "$rate" -i - \
    "${pad[@]}" -pix_fmt yuv420p "$target"
}

status=0
case "${output,,}" in
  *.avi)
    run_windows "$dir/dorvantel-record.exe" "${extra[@]}" "$@" "$(windows_path "$output_abs")" || status=$?
    if [ "$status" != 0 ] && [ "$status" != 3 ] && [ -f "$output_abs.part" ]; then
      log "the recorder ended without finishing $output (status $status); what it recorded is in $output.part:"
      log "./run record --recover '$output.part' makes a playable file of it (so does the next recording into $output)"
    fi
    ;;
  *)
    set +e
    # The filter's own 4:2:0 for the encoder; a --format of the caller's, later, wins.
    run_windows "$dir/dorvantel-record.exe" --format i420 "${extra[@]}" "$@" - | encode "$output_abs"
    statuses=("${PIPESTATUS[@]}")
    set -e
    status=${statuses[0]}
    if [ "${statuses[1]}" != 0 ]; then
      if [ "$status" = 0 ] || [ "$status" = 3 ]; then log "error: ffmpeg could not make $output"; status=1; fi
    elif [ "$status" != 0 ] && [ "$status" != 2 ] && [ "$status" != 3 ]; then
      # The recorder ended without its own word (killed, crashed): ffmpeg finished the file
      # with the frames it received, which are kept when there are any.
      frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
        -of csv=p=0 "$output_abs" 2>/dev/null | head -1)
      if [ "${frames:-0}" -gt 0 ] 2>/dev/null; then
        if [ "$status" -gt 128 ]; then how="was killed (signal $((status - 128)))"; else how="ended with status $status"; fi
        log "stopped early: the recorder $how; ffmpeg finished $output with the $frames frames it received"
        status=3
      fi
    fi
    [ "$status" = 0 ] || [ "$status" = 3 ] || rm -f -- "$output_abs"
    ;;
esac
[ "$status" = 0 ] || [ "$status" = 3 ] || exit "$status"

info=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height,codec_name:format=duration,size \
  -of default=noprint_wrappers=1 "$output_abs" 2>/dev/null | tr '\n' ' ')
log "saved $output_abs ($info)"
log "play it with: ffplay '$output_abs'   (or mpv, vlc); a contact sheet: ./run sheet '$output'"
exit "$status"
