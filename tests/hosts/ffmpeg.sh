#!/usr/bin/env bash
# ffmpeg 4.1 for Windows as the host: its DirectShow input lists the registered device, lists
# its formats, and records from it under Wine, in the bitness of the build folder. Each capture
# writes two outputs from one stream: every packet the device delivered (framecrc: one line a
# packet, which counts frames over the recorded span) and an AVI a user would make, which
# ffprobe reads and whose frame is compared with an X screenshot.
#   ffmpeg.sh BUILD_DIR    (the build folder of one bitness, e.g. build/win64)
set -uo pipefail
source "$(dirname "$0")/../support/checks.sh" "$1"
if objdump -f "$dir/dorvantel-register.exe" | grep -q x86-64; then bits=64; else bits=32; fi

work=$(mktemp -d "$dir/ffmpeg.XXXXXX")
register() { "$ROOT/scripts/wine-run" "$dir/dorvantel-register.exe" "$@"; }
cleanup() {
  [ -n "$demo" ] && kill "$demo" 2>/dev/null
  register unregister >/dev/null 2>&1
  rm -rf "$work"
  if [ -n "${XVFB_PID:-}" ]; then stop_session; fi
}
trap cleanup EXIT
host() { "$ROOT/scripts/wine-ffmpeg" "$bits" -hide_banner -nostdin "$@"; }

register register 2>"$work/err" || { echo "FAIL - cannot register the device: $(cat "$work/err")"; exit 1; }
left=100 top=80
start_demo $left $top

host -f dshow -list_devices true -i dummy 2>"$work/devices"
grep -q '\] *"Dorvantel"' "$work/devices" && pass "lists the device" || fail "the device is not listed: $(cat "$work/devices")"

host -f dshow -list_options true -i video=Dorvantel 2>"$work/options"
for format in bgr0 bgr24 rgb555le rgb8; do
  grep -Eq "pixel_format=$format +min s=1x1 fps=1 max s=8192x8192 fps=1000" "$work/options" \
    && pass "lists $format with its size and rate ranges" || fail "$format: not listed with 1x1-8192x8192 at 1-1000 fps"
done

# capture NAME SECONDS [DEVICE-OPTIONS...]: records NAME.avi (rawvideo; bgr0, which AVI cannot
# hold, as bgra) and NAME.crc. A large real-time buffer keeps ffmpeg itself from dropping frames.
capture() {
  local name=$1 seconds=$2 pix=()
  shift 2
  [[ " $* " != *" bgr24 "* ]] && pix=(-pix_fmt bgra)
  host -y -rtbufsize 256M -f dshow "$@" -i video=Dorvantel \
    -t "$seconds" -c:v copy -f framecrc "$(winpath "$work/$name.crc")" \
    -t "$seconds" -c:v rawvideo "${pix[@]}" "$(winpath "$work/$name.avi")" 2>"$work/$name.log" && return 0
  fail "$name: ffmpeg failed: $(grep -v '^ALSA' "$work/$name.log" | tail -n 2 | tr '\n' ' ')"
  return 1
}
# The input stream as ffmpeg reports it: "rawvideo, bgr0, 1280x720, 10 fps".
input() { sed -n 's/.*Stream #0:0: Video: \(rawvideo, [^,]*, [0-9x]*\).*, \([0-9.]* fps\).*/\1, \2/p' "$work/$1.log" | head -n 1; }
counted() {  # counted NAME RATE SECONDS: delivered and recorded frames within 5% of RATE x SECONDS
  local delivered recorded expected=$(($2 * $3))
  delivered=$(grep -vc '^#' "$work/$1.crc")
  recorded=$(probe "$work/$1.avi" nb_read_packets)
  recorded=${recorded#*=}
  if within $(((expected * 95 + 99) / 100)) $((expected * 105 / 100)) "$delivered" &&
     within $(((expected * 95 + 99) / 100)) $((expected * 105 / 100)) "$recorded"; then
    pass "$1: $delivered frames delivered, $recorded recorded in $3 s at $2 fps"
  else
    fail "$1: $delivered frames delivered, $recorded recorded in $3 s at $2 fps, not $expected"
  fi
}

# No options: the whole display at 10 frames a second.
if capture default 3; then
  import -window root "$work/screen.png"
  check "default: the input ffmpeg sees" "rawvideo, bgr0, $screen, 10 fps" "$(input default)"
  counted default 10 3
  check "default: ffprobe's view of the AVI" "width=${screen%x*} height=${screen#*x} r_frame_rate=10/1" \
    "$(probe "$work/default.avi" width,height,r_frame_rate)"
  frame "$work/default.avi" 25 "$work/default.png"
  bars="320x160+$left+$top"
  crop "$work/default.png" "$bars" "$work/a.png"
  crop "$work/screen.png" "$bars" "$work/b.png"
  check "default: the bars match the screenshot" 0 "$(differing "$work/a.png" "$work/b.png" 1%)"
fi

# Size, rate and format chosen by the host: smaller than the screen in 24 bits, the screen's
# own size in 32 bits. Rates of a whole number of 100 ns per frame (1/30 s is none: ffmpeg
# would see 10000000/333333), and well below what scaling the screen on a busy machine allows.
if capture half 5 -video_size 640x360 -framerate 8 -pixel_format bgr24; then
  check "640x360 bgr24 at 8: the input ffmpeg sees" "rawvideo, bgr24, 640x360, 8 fps" "$(input half)"
  counted half 8 5
  check "640x360 bgr24 at 8: ffprobe's view of the AVI" "width=640 height=360 pix_fmt=bgr24 r_frame_rate=8/1" \
    "$(probe "$work/half.avi" width,height,pix_fmt,r_frame_rate)"
  frame "$work/half.avi" 30 "$work/half.png"
  check "640x360 bgr24: scaled, upright, in order (white bar)" 255,255,255 \
    "$(pixel "$work/half.png" $(((left + 20) / 2)) $(((top + 80) / 2)))"
  check "640x360 bgr24: scaled, upright, in order (blue bar)" 0,0,255 \
    "$(pixel "$work/half.png" $(((left + 260) / 2)) $(((top + 80) / 2)))"
fi
if capture full 2 -video_size "$screen" -framerate 20 -pixel_format bgr0; then
  check "$screen bgr0 at 20: the input ffmpeg sees" "rawvideo, bgr0, $screen, 20 fps" "$(input full)"
  counted full 20 2
  check "$screen bgr0 at 20: ffprobe's view of the AVI" "width=${screen%x*} height=${screen#*x} r_frame_rate=20/1" \
    "$(probe "$work/full.avi" width,height,r_frame_rate)"
fi

echo "$failures failed"
[ "$failures" = 0 ]
