#!/usr/bin/env bash
# ffmpeg 4.1 for Windows as the host: its DirectShow input lists the registered device, lists
# its formats, and records from it under Wine, in the bitness of the build folder. Each capture
# writes two outputs from one stream: every packet the device delivered (framecrc: one line a
# packet, which counts frames over the recorded span) and an AVI a user would make, which
# ffprobe reads and whose frame is compared with an X screenshot.
#   ffmpeg.sh BUILD_DIR    (the build folder of one bitness, e.g. build/win64)
set -uo pipefail
source "$(dirname "$0")/host_session.sh" "$1" ffmpeg

left=100 top=80
# Presets beside the plain device, which must behave as it always did.
register register --name "Dorvantel rect" --rect $left,$top,320,240 --rate 25 --cursor 2>>"$work/err" &&
  register register --name "Dorvantel bare" --rect $left,$top,320,240 --no-cursor 2>>"$work/err" &&
  register register --name "Dorvantel scaled" --size 640x360 --format rgb24 2>>"$work/err" &&
  register register --name "Dorvantel rgb24" --format rgb24 2>>"$work/err" ||
  { echo "FAIL - cannot register the presets: $(cat "$work/err")"; exit 1; }
register list >"$work/list0"
start_demo $left $top

host -f dshow -list_devices true -i dummy 2>"$work/devices"
for name in Dorvantel "Dorvantel rect" "Dorvantel bare" "Dorvantel scaled"; do
  grep -q "\] *\"$name\"" "$work/devices" && pass "lists the device \"$name\"" || fail "\"$name\" is not listed: $(cat "$work/devices")"
done

host -f dshow -list_options true -i video=Dorvantel 2>"$work/options"
for format in bgr0 bgr24 rgb555le rgb8 yuv420p nv12 yuyv422; do
  grep -Eq "pixel_format=$format +min s=1x1 fps=1 max s=8192x8192 fps=1000" "$work/options" \
    && pass "lists $format with its size and rate ranges" || fail "$format: not listed with 1x1-8192x8192 at 1-1000 fps"
done

# capture NAME SECONDS [DEVICE-OPTIONS...]: records NAME.avi (rawvideo; bgr0, which AVI cannot
# hold, as bgra) and NAME.crc. A large real-time buffer keeps ffmpeg itself from dropping frames.
capture() {
  local name=$1 seconds=$2 pix=()
  shift 2
  [[ " $* " != *" bgr24 "* ]] && pix=(-pix_fmt bgra)
  host -y -rtbufsize 256M -f dshow "$@" -i "video=${device:-Dorvantel}" \
    -t "$seconds" -c:v copy -f framecrc "$(winpath "$work/$name.crc")" \
    -t "$seconds" -c:v rawvideo "${pix[@]}" "$(winpath "$work/$name.avi")" 2>"$work/$name.log" && return 0
  fail "$name: ffmpeg failed: $(grep -v '^ALSA' "$work/$name.log" | tail -n 2 | tr '\n' ' ')"
  return 1
}
# The input stream as ffmpeg reports it: "rawvideo, bgr0, 1280x720, 10 fps".
input() { sed -n 's/.*Stream #0:0: Video: \(rawvideo, [^,]*, [0-9x]*\).*, \([0-9.]* fps\).*/\1, \2/p' "$work/$1.log" | head -n 1; }
# counted NAME RATE SECONDS: ffmpeg 4.1 stamps each packet with the graph clock when it arrives,
# so -t keeps what arrived within SECONDS of wall time. The filter never goes faster than RATE
# (at most 5% more, for the clock's jitter at both ends); a worker more than a whole interval
# late on a busy machine drops that slot rather than bunching frames, so the floor is 80%,
# which still catches a rate halved or a stream that stalls. The AVI, at a constant rate, may
# fill such a gap, so it is held to the same range rather than to the packet count.
counted() {
  local delivered recorded expected=$(($2 * $3)) low high
  delivered=$(grep -vc '^#' "$work/$1.crc")
  recorded=$(probe "$work/$1.avi" nb_read_packets)
  recorded=${recorded#*=}
  low=$(((expected * 80 + 99) / 100)) high=$(((expected * 105 + 99) / 100))
  if within $low $high "$delivered" && within $low $high "$recorded"; then
    pass "$1: $delivered frames delivered, $recorded recorded in $3 s at $2 fps"
  else
    fail "$1: $delivered frames delivered, $recorded recorded in $3 s at $2 fps, not $low to $high"
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

# A device registered with a format alone still scales with the filter's own scaler when the
# host asks for a size: GDI+, the filter's default, made 16 to 49 frames in 3 s of 75 here.
grep -A3 -x "Dorvantel rgb24" <(tr -d '\r' <"$work/list0") | grep -qx "  InterpolationMode=100" \
  && pass "a device of --format alone is listed with the fast scaler" || fail "--format alone: $(cat "$work/list0")"
if device="Dorvantel rgb24" capture rgb24 3 -video_size 640x480 -framerate 25 -pixel_format bgr24; then
  check "--format preset at 640x480: the input ffmpeg sees" "rawvideo, bgr24, 640x480, 25 fps" "$(input rgb24)"
  counted rgb24 25 3
fi

# Presets: what the device was registered with, without a single option to ffmpeg. The
# pointer rests on the black bar, where the preset without cursor leaves it black. (Wine
# gives a process no cursor over windows of another, so the one with it cannot show it here.)
register list >"$work/list"
grep -A4 -x "Dorvantel bare" <(tr -d '\r' <"$work/list") | grep -qx "  IncludeCursor=0" &&
  grep -A5 -x "Dorvantel rect" <(tr -d '\r' <"$work/list") | grep -qx "  IncludeCursor=1" \
  && pass "the presets are listed with their cursor settings" || fail "cursor settings: $(cat "$work/list")"
xdotool mousemove $((left + 300)) $((top + 40))
sleep 0.5
import -window root "$work/screen.png"
crop "$work/screen.png" "280x160+$left+$top" "$work/b.png"
crop "$work/screen.png" "40x160+$((left + 280))+$top" "$work/black.png"
if device="Dorvantel rect" capture rect 3; then
  check "rectangle preset: the input ffmpeg sees" "rawvideo, bgr0, 320x240, 25 fps" "$(input rect)"
  counted rect 25 3
  frame "$work/rect.avi" 40 "$work/rect.png"
  crop "$work/rect.png" 280x160+0+0 "$work/a.png"
  check "rectangle preset: the bars match the screenshot" 0 "$(differing "$work/a.png" "$work/b.png" 1%)"
fi
if device="Dorvantel bare" capture bare 1; then
  check "preset without cursor: the input ffmpeg sees" "rawvideo, bgr0, 320x240, 10 fps" "$(input bare)"
  frame "$work/bare.avi" 5 "$work/bare.png"
  crop "$work/bare.png" 40x160+280+0 "$work/a.png"
  check "preset without cursor: the black bar is as on the screen" 0 "$(differing "$work/a.png" "$work/black.png" 1%)"
fi
xdotool mousemove "$(( ${screen%x*} - 10 ))" "$(( ${screen#*x} - 10 ))"
if device="Dorvantel scaled" capture scaled 1 -pixel_format bgr24; then
  check "scaled preset: the input ffmpeg sees" "rawvideo, bgr24, 640x360, 10 fps" "$(input scaled)"
  frame "$work/scaled.avi" 5 "$work/scaled.png"
  check "scaled preset: scaled (blue bar)" 0,0,255 "$(pixel "$work/scaled.png" $(((left + 260) / 2)) $(((top + 80) / 2)))"
fi

# A stored value the filter refuses fails the bind instead of capturing something else.
register register --name "Dorvantel broken" --rect $left,$top,320,240 2>"$work/err"
instance='HKCR\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance\Dorvantel broken'
winreg add "$instance" /v OutputDimensions /t REG_SZ /d 0x360 /f /reg:$bits >/dev/null 2>&1
register list >"$work/list"
grep -q "OutputDimensions=0x360" "$work/list" || fail "the broken preset was not stored: $(cat "$work/list")"
host -f dshow -i "video=Dorvantel broken" -t 1 -f null - 2>"$work/broken.log" \
  && fail "broken preset: ffmpeg recorded" || pass "broken preset: ffmpeg cannot bind it"
grep -q "BindToObject\|Could not" "$work/broken.log" && pass "broken preset: ffmpeg says it cannot bind" \
  || fail "broken preset: $(grep -v '^ALSA' "$work/broken.log" | tail -n 2 | tr '\n' ' ')"

# Removing one preset leaves the others.
register unregister --name "Dorvantel scaled" 2>"$work/err"
check "one preset unregistered" 0 $?
register list >"$work/list"
grep -q "Dorvantel scaled" "$work/list" && fail "the unregistered preset is still listed"
grep -qx "Dorvantel rect" <(tr -d '\r' <"$work/list") && grep -qx "  CaptureValue=$left,$top,$((left + 320)),$((top + 240))" <(tr -d '\r' <"$work/list") \
  && pass "the other presets are listed with their settings" || fail "the presets left: $(cat "$work/list")"
if device="Dorvantel bare" capture left 1; then
  check "a preset left still records" "rawvideo, bgr0, 320x240, 10 fps" "$(input left)"
fi

# Every format the device offers, chosen as ffmpeg chooses it (-pixel_format; a preset for
# 5-6-5, since ffmpeg names every 16-bit type rgb555), recorded from a window of known colours
# and read back two ways: ffmpeg 4.1's own reading (its conversion to bgra) and Debian's ffmpeg
# reading what 4.1 received (the stream copied into an AVI; 8-bit frames copied raw, as 4.1's
# AVI muxer leaves out their colour table). Each colour within half a step of the format's
# levels: 4 for 5- and 6-bit channels, 18 for 3-bit ones, 43 for 2-bit ones.
known=(51,102,204 204,51,102 153,204,51 255,255,255)
colours_left=500 colours_top=80
"$ROOT/scripts/wine-run" "$dir/tests/hosts/colour_window.exe" "$colours_left,$colours_top" "${known[@]}" \
  >"$work/colours.log" 2>&1 &
colour_window=$!
stop+=("$colour_window")
for _ in $(seq 300); do grep -q ready "$work/colours.log" && break; sleep 0.1; done
colours_rect=$colours_left,$colours_top,$((40 * ${#known[@]})),40
register register --name "Dorvantel colours" --rect $colours_rect 2>"$work/err" &&
  for format in rgb555 rgb565 rgb8; do
    register register --name "Dorvantel colours $format" --rect $colours_rect --format $format 2>>"$work/err" || break
  done || fail "cannot register the colour presets: $(cat "$work/err")"

# read_back NAME PNG TOLERANCES [WIDTH HEIGHT]: each block's colour in PNG within R,G,B
# TOLERANCES of the known one, at the block's centre (in a picture of the blocks scaled to
# WIDTH x HEIGHT, where the centre went).
read_back() {
  local i=0 want wrong="" width=${4:-$((40 * ${#known[@]}))} height=${5:-40}
  for want in "${known[@]}"; do
    wrong+=$(echo "$want $(pixel "$2" $(((20 + 40 * i) * width / (40 * ${#known[@]}))) $((height / 2))) $3" | tr , ' ' | awk '{ for (c = 1; c <= 3; c++) {
      d = $(c + 3) - $c
      if (NF != 9 || d > $(c + 6) || -d > $(c + 6)) { printf " %s,%s,%s read as %s,%s,%s;", $1, $2, $3, $4, $5, $6; exit }
    } }')
    i=$((i + 1))
  done
  [ -z "$wrong" ] && pass "$1: the known colours within $3" || fail "$1:$wrong"
}
# colours NAME DEVICE PIX_FMT TOLERANCES [OPTIONS...]: records a second from DEVICE with ffmpeg's
# OPTIONS, checks that ffmpeg names the stream PIX_FMT and reads the colours back both ways.
colours() {
  local name=$1 device=$2 format=$3 tolerance=$4 size=$((40 * ${#known[@]}))x40
  shift 4
  if ! host -y -rtbufsize 64M -f dshow "$@" -i "video=$device" -t 1 -c:v rawvideo -pix_fmt bgra \
    "$(winpath "$work/$name.avi")" -t 1 -c:v copy "$(winpath "$work/$name-copy.avi")" \
    -t 1 -c:v copy -f rawvideo "$(winpath "$work/$name.raw")" 2>"$work/$name.log"; then
    fail "$name: ffmpeg failed: $(grep -v '^ALSA' "$work/$name.log" | tail -n 2 | tr '\n' ' ')"
    return
  fi
  check "$name: the stream ffmpeg sees" "$format $size" \
    "$(sed -n 's/.*Stream #0:0: Video: rawvideo[^,]*, \([^,]*\), \([0-9x]*\).*/\1 \2/p' "$work/$name.log" | head -n 1)"
  frame "$work/$name.avi" 3 "$work/$name.png"
  read_back "$name, as ffmpeg 4.1 reads it" "$work/$name.png" "$tolerance"
  if [ "$format" = rgb8 ]; then
    ffmpeg -v error -y -f rawvideo -pixel_format rgb8 -video_size $size -i "$work/$name.raw" \
      -vf "select=eq(n\\,3)" -vsync vfr -frames:v 1 -pix_fmt rgb24 "$work/$name-copy.png"
  else
    frame "$work/$name-copy.avi" 3 "$work/$name-copy.png"
  fi
  read_back "$name, as $(ffmpeg -version | sed -n '1s/ Copyright.*//p') reads it" "$work/$name-copy.png" "$tolerance"
}
colours "bgr0 (no options)" "Dorvantel colours" bgr0 0,0,0
colours "-pixel_format bgr24" "Dorvantel colours" bgr24 0,0,0 -pixel_format bgr24
colours "-pixel_format rgb555" "Dorvantel colours" rgb555le 4,4,4 -pixel_format rgb555
colours "preset rgb555" "Dorvantel colours rgb555" rgb555le 4,4,4
colours "preset rgb565" "Dorvantel colours rgb565" rgb565le 4,4,4
colours "-pixel_format rgb8" "Dorvantel colours" rgb8 18,18,43 -pixel_format rgb8
colours "preset rgb8" "Dorvantel colours rgb8" rgb8 18,18,43

# The YUV formats (BT.601 limited range, what ffmpeg takes untagged YUV for), chosen with
# -pixel_format at an even and an odd size, the blocks scaled to it: ffmpeg names the stream,
# and Debian's ffmpeg decodes what 4.1 received (its packets, raw) at the layout's own size
# with no row padding; ffmpeg 4.1's own conversion to bgra is held to the same (both with
# swscale's exact conversion: its fast one reads grey 64 as 62 from NV12 and YUY2). The 40 x 40
# blocks, scaled up, keep their centres far from the edges where a 2x2 chroma cell would mix
# two colours.
yuv_colours() {  # yuv_colours PIX_FMT WIDTH HEIGHT
  local format=$1 width=$2 height=$3 name="$1 $2x$3"
  if ! host -y -rtbufsize 64M -f dshow -video_size ${width}x$height -pixel_format $format -i "video=Dorvantel colours" \
    -sws_flags +accurate_rnd+full_chroma_int -t 1 -c:v rawvideo -pix_fmt bgra "$(winpath "$work/$format.avi")" \
    -t 1 -c:v copy -f rawvideo "$(winpath "$work/$format.raw")" 2>"$work/$format.log"; then
    fail "$name: ffmpeg failed: $(grep -v '^ALSA' "$work/$format.log" | tail -n 2 | tr '\n' ' ')"
    return
  fi
  check "$name: the stream ffmpeg sees" "$format ${width}x$height" \
    "$(sed -n 's/.*Stream #0:0: Video: rawvideo[^,]*, \([^,]*\), \([0-9x]*\).*/\1 \2/p' "$work/$format.log" | head -n 1)"
  local bytes frames
  bytes=$(ffmpeg -v error -f rawvideo -pixel_format $format -video_size ${width}x$height -i "$work/$format.raw" \
    -frames:v 1 -f rawvideo - | wc -c)
  frames=$(($(stat -c %s "$work/$format.raw") / bytes))
  [ $(($(stat -c %s "$work/$format.raw") % bytes)) = 0 ] && [ "$frames" -ge 5 ] \
    && pass "$name: $frames whole frames of $bytes bytes" || fail "$name: $(stat -c %s "$work/$format.raw") bytes, not whole frames of $bytes"
  ffmpeg -v error -y -f rawvideo -pixel_format $format -video_size ${width}x$height -i "$work/$format.raw" \
    -vf "select=eq(n\\,3)" -vsync vfr -frames:v 1 -sws_flags +accurate_rnd+full_chroma_int -pix_fmt rgb24 \
    "$work/$format.png"
  read_back "$name, as $(ffmpeg -version | sed -n '1s/ Copyright.*//p') reads it" "$work/$format.png" 2,2,2 $width $height
  frame "$work/$format.avi" 3 "$work/$format-4.1.png"  # bgra: no conversion from YUV here
  read_back "$name, as ffmpeg 4.1 reads it" "$work/$format-4.1.png" 2,2,2 $width $height
}
for format in yuv420p nv12 yuyv422; do
  yuv_colours $format 640 360
  yuv_colours $format 321 181
done
kill "$colour_window" 2>/dev/null

echo "$failures failed"
[ "$failures" = 0 ]
