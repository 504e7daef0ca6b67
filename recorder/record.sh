#!/usr/bin/env bash
# ./run record OUTPUT [recorder options]
# Records the screen into OUTPUT. An .avi name gets the recorder's own uncompressed AVI; any
# other name (capture.mp4, capture.mkv, ...) gets the recorder's raw frames encoded by ffmpeg
# (H.264 in MP4 and MKV). Builds what is missing first. Uses $DISPLAY when it names a working
# display; otherwise starts an Xvfb display and shows the recorder's demo window on it. DORVANTEL_BITS=32
# records with the 32-bit build. The recorder's options: ./run record --help.
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"

if [ $# -eq 0 ] || [ "$1" = --help ] || [ "$1" = -h ]; then
  sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
  [ $# -eq 0 ] && exit 1
fi

bits=${DORVANTEL_BITS:-64}
if [ "$bits" = 32 ]; then dll=dorvantel; else dll=dorvantel64; fi
bash "$ROOT/scripts/setup.sh" >/dev/null
build_bits "$bits" --target "$dll" dorvantel-record >/dev/null
dir=$BUILD/win$bits
run_windows() { "$ROOT/scripts/wine-run" "$@"; }

if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
  echo
  run_windows "$dir/dorvantel-record.exe" --help
  exit 0
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
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

ensure_display
ensure_prefix
extra=()
if [ -n "${XVFB_PID:-}" ]; then
  # A display of our own shows nothing of interest: the recorder puts its demo window on it.
  extra=(--demo)
  log "recording the virtual display $DISPLAY with the demo window on it"
fi

# Reads the recorder's raw stream: its header line, then frames, which ffmpeg encodes.
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
  setsid ffmpeg -hide_banner -loglevel error -y -f rawvideo -pix_fmt "$pix_fmt" \
    -video_size "${width}x${height}" -framerate "$rate" -i - \
    -vf 'pad=ceil(iw/2)*2:ceil(ih/2)*2' -pix_fmt yuv420p "$target"
}

status=0
case "${output,,}" in
  *.avi)
    run_windows "$dir/dorvantel-record.exe" "${extra[@]}" "$@" "$(windows_path "$output_abs")" || status=$?
    ;;
  *)
    set +e
    run_windows "$dir/dorvantel-record.exe" "${extra[@]}" "$@" - | encode "$output_abs"
    statuses=("${PIPESTATUS[@]}")
    set -e
    status=${statuses[0]}
    if [ "$status" = 0 ] && [ "${statuses[1]}" != 0 ]; then
      log "error: ffmpeg could not make $output"
      status=1
    fi
    [ "$status" = 0 ] || rm -f -- "$output_abs"
    ;;
esac
[ "$status" = 0 ] || exit "$status"

info=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height,codec_name:format=duration,size \
  -of default=noprint_wrappers=1 "$output_abs" 2>/dev/null | tr '\n' ' ')
log "saved $output_abs ($info)"
log "play it with: ffplay '$output_abs'   (or mpv, vlc); a contact sheet: ./run sheet '$output'"
