#!/usr/bin/env bash
# End to end: the recorder records a window of known colours under Wine, and tools nobody
# here wrote judge the files: ffprobe counts frames and reads the headers, ffmpeg decodes,
# ImageMagick compares the pixels with an X screenshot of the same region.
#   end_to_end.sh BUILD_DIR    (the build folder of one bitness, e.g. build/win64)
set -uo pipefail
source "$(dirname "$0")/../support/checks.sh" "$1"
if objdump -f "$dir/dorvantel-record.exe" | grep -q x86-64; then bits=64; dll=dorvantel64.dll; else bits=32; dll=dorvantel.dll; fi

work=$(mktemp -d "$dir/e2e.XXXXXX")
small=""
cleanup() {
  [ -n "$demo" ] && kill "$demo" 2>/dev/null
  [ -n "$small" ] && umount "$small"
  "$ROOT/scripts/wine-run" "$dir/dorvantel-register.exe" unregister --all >/dev/null 2>&1
  rm -rf "$work"
  if [ -n "${XVFB_PID:-}" ]; then stop_session; fi
}
trap cleanup EXIT

record() { "$ROOT/scripts/wine-run" "$dir/dorvantel-record.exe" --quiet "$@"; }

# The demo window: eight colour bars (rows 0-159), a grey band with a moving square below.
# Windows of another process print black under Wine, so the window tests capture the
# recorder's own demo window (--demo), whose bars are compared with their known colours.
left=100 top=80
start_demo $left $top
bars="320x160+$left+$top"
colours=()
for c in FFFFFF FFFF00 00FFFF 00FF00 FF00FF FF0000 0000FF 000000; do colours+=("xc:#$c"); done
convert -size 40x160 "${colours[@]}" +append "$work/known.png"
own_window=(--demo=500,80,320,240 --window "Dorvantel demo")

# The whole display, 3 s at 10 frames per second.
record --seconds 3 "$(winpath "$work/display.avi")" 2>"$work/err"
check "whole display: exit status" 0 $?
import -window root "$work/screen.png"
check "whole display: ffprobe's view" \
  "codec_name=rawvideo width=${screen%x*} height=${screen#*x} pix_fmt=bgra r_frame_rate=10/1 nb_read_packets=30" \
  "$(probe "$work/display.avi" codec_name,width,height,pix_fmt,r_frame_rate,nb_read_packets)"
frames=$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$work/display.avi")
within 29 31 "$frames" && pass "whole display: $frames frames decoded" || fail "whole display: $frames frames decoded, not 30"
frame "$work/display.avi" 29 "$work/display.png"
crop "$work/display.png" "$bars" "$work/a.png"
crop "$work/screen.png" "$bars" "$work/b.png"
check "whole display: the bars match the screenshot exactly" 0 "$(differing "$work/a.png" "$work/b.png" 0)"
check "whole display: right side up (white bar on top)" 255,255,255 "$(pixel "$work/display.png" $((left + 20)) $((top + 5)))"
check "whole display: right side up (grey band below)" 64,64,64 "$(pixel "$work/display.png" $((left + 20)) $((top + 235)))"
frame "$work/display.avi" 5 "$work/f5.png"
frame "$work/display.avi" 15 "$work/f15.png"
crop "$work/f5.png" "320x80+$left+$((top + 160))" "$work/band5.png"
crop "$work/f15.png" "320x80+$left+$((top + 160))" "$work/band15.png"
moved=$(differing "$work/band5.png" "$work/band15.png" 0)
[ "$moved" -gt 0 ] && pass "whole display: the square moves ($moved pixels changed)" || fail "whole display: the square did not move"

# A screen rectangle in RGB24, and a window by title in RGB565, each compared with the screenshot.
record --seconds 1 --rect $left,$top,320,240 --format rgb24 "$(winpath "$work/rect.avi")" 2>"$work/err"
check "rectangle: exit status" 0 $?
check "rectangle: ffprobe's view" "width=320 height=240 pix_fmt=bgr24 nb_read_packets=10" \
  "$(probe "$work/rect.avi" width,height,pix_fmt,nb_read_packets)"
frame "$work/rect.avi" 9 "$work/rect.png"
crop "$work/rect.png" 320x160+0+0 "$work/a.png"
check "rectangle: the bars match the screenshot exactly" 0 "$(differing "$work/a.png" "$work/b.png" 0)"

record --seconds 1 "${own_window[@]}" --format rgb565 "$(winpath "$work/window.avi")" 2>"$work/err"
check "window: exit status" 0 $?
check "window: ffprobe's view" "width=320 height=240 pix_fmt=rgb565le nb_read_packets=10" \
  "$(probe "$work/window.avi" width,height,pix_fmt,nb_read_packets)"
frame "$work/window.avi" 9 "$work/window.png"
crop "$work/window.png" 320x160+0+0 "$work/a.png"
check "window: the bars have their colours within 5-6-5 precision" 0 "$(differing "$work/a.png" "$work/known.png" 4%)"

# A rectangle of the window in RGB555; a scaled rectangle; the 8-bit format.
record --seconds 1 "${own_window[@]}" --rect 40,20,160,100 --format rgb555 "$(winpath "$work/part.avi")" 2>"$work/err"
check "window rectangle: ffprobe's view" "width=160 height=100 pix_fmt=rgb555le nb_read_packets=10" \
  "$(probe "$work/part.avi" width,height,pix_fmt,nb_read_packets)"
frame "$work/part.avi" 0 "$work/part.png"
crop "$work/known.png" "160x100+40+20" "$work/c.png"
check "window rectangle: the bars have their colours within 5-5-5 precision" 0 "$(differing "$work/part.png" "$work/c.png" 4%)"

record --seconds 1 --rect $left,$top,320,240 --size 160x120 "$(winpath "$work/scaled.avi")" 2>"$work/err"
check "output size: ffprobe's view" "width=160 height=120 pix_fmt=bgra nb_read_packets=10" \
  "$(probe "$work/scaled.avi" width,height,pix_fmt,nb_read_packets)"
frame "$work/scaled.avi" 0 "$work/scaled.png"
convert "$work/b.png" -resize 160x80! "$work/d.png"
crop "$work/scaled.png" 160x80+0+0 "$work/a.png"
# Scaling blends the bars' edges; the bars' middles must keep their colours.
convert "$work/a.png" -crop 160x60+0+10 +repage "$work/a.png"
convert "$work/d.png" -crop 160x60+0+10 +repage "$work/d.png"
edges=$(differing "$work/a.png" "$work/d.png" 10%)
within 0 960 "$edges" && pass "output size: scaled bars keep their colours ($edges edge pixels differ)" \
  || fail "output size: $edges of 9600 pixels differ from the scaled screenshot"

record --seconds 1 "${own_window[@]}" --format rgb8 "$(winpath "$work/eight.avi")" 2>"$work/err"
check "8-bit: ffprobe's view" "width=320 height=240 pix_fmt=pal8 nb_read_packets=10" \
  "$(probe "$work/eight.avi" width,height,pix_fmt,nb_read_packets)"
frame "$work/eight.avi" 0 "$work/eight.png"
crop "$work/eight.png" 320x160+0+0 "$work/a.png"
check "8-bit: the bars keep their colours through the palette" 0 "$(differing "$work/a.png" "$work/known.png" 4%)"

# near DESCRIPTION PNG TOLERANCE X0 Y: the bars' centres along row Y of PNG, from the bar whose
# centre is at X0 (then every 40 pixels while inside the picture), each within TOLERANCE levels
# of its known colour in every channel.
near() {
  local what=$1 png=$2 tolerance=$3 x=$4 y=$5 i wrong="" width
  width=$(identify -format %w "$png")
  for ((i = 0; x < width && i < 8; i++, x += 40)); do
    wrong+=$(echo "${known_rgb[$((x / 40))]} $(pixel "$png" $x $y) $tolerance" | tr , ' ' | awk '{
      for (c = 1; c <= 3; c++) { d = $(c + 3) - $c; if (NF != 7 || d > $7 || -d > $7) { printf " %s,%s,%s read as %s,%s,%s;", $1, $2, $3, $4, $5, $6; exit } } }')
  done
  [ -z "$wrong" ] && pass "$what: $i bars within $tolerance levels" || fail "$what:$wrong"
}
known_rgb=(255,255,255 255,255,0 0,255,255 0,255,0 255,0,255 255,0,0 0,0,255 0,0,0)

# The YUV formats as they come from the filter (BT.601, limited range), in the layouts ffmpeg
# reads by their FOURCC, at the window's even size and at an odd one (the chroma of the last
# column and row rounded up). Decoded with swscale's exact conversion: its fast one reads the
# filter's grey 64 (Y 71) as 62 from NV12 and YUY2, and blends chroma across the bars' edges.
yuv_frame() {  # yuv_frame FILE N PNG
  ffmpeg -v error -y -i "$1" -vf "select=eq(n\\,$2)" -vsync vfr -frames:v 1 \
    -sws_flags +accurate_rnd+full_chroma_int -pix_fmt rgb24 "$3"
}
for yuv in i420:yuv420p nv12:nv12 yuy2:yuyv422; do
  format=${yuv%%:*} pix_fmt=${yuv#*:}
  record --seconds 1 "${own_window[@]}" --format $format "$(winpath "$work/$format.avi")" 2>"$work/err"
  check "$format: exit status" 0 $?
  check "$format: ffprobe's view" "codec_name=rawvideo width=320 height=240 pix_fmt=$pix_fmt nb_read_packets=10" \
    "$(probe "$work/$format.avi" codec_name,width,height,pix_fmt,nb_read_packets)"
  yuv_frame "$work/$format.avi" 9 "$work/$format.png"
  near "$format: the bars, upright (top row)" "$work/$format.png" 2 20 0
  near "$format: the bars, upright (near their last row)" "$work/$format.png" 2 20 150
  check "$format: the grey band below" 64,64,64 "$(pixel "$work/$format.png" 20 235)"
  record --seconds 1 "${own_window[@]}" --rect 0,0,161,101 --format $format "$(winpath "$work/odd-$format.avi")" \
    2>"$work/err"
  check "$format at 161x101: ffprobe's view" "width=161 height=101 pix_fmt=$pix_fmt nb_read_packets=10" \
    "$(probe "$work/odd-$format.avi" width,height,pix_fmt,nb_read_packets)"
  yuv_frame "$work/odd-$format.avi" 9 "$work/odd-$format.png"
  near "$format at 161x101" "$work/odd-$format.png" 2 20 50
  near "$format at 161x101, the last row" "$work/odd-$format.png" 2 20 100
  near "$format at 161x101, the last column" "$work/odd-$format.png" 2 160 50
done

# Raw frames through a pipe into ffmpeg, as `./run record capture.mp4` does.
DORVANTEL_BITS=$bits "$ROOT/run" record "$work/capture.mp4" --seconds 3 --quiet 2>"$work/err"
check "mp4 through the pipe: exit status" 0 $?
check "mp4 through the pipe: ffprobe's view" \
  "codec_name=h264 width=${screen%x*} height=${screen#*x} r_frame_rate=10/1 nb_read_packets=30" \
  "$(probe "$work/capture.mp4" codec_name,width,height,r_frame_rate,nb_read_packets)"
# The encoder gets the filter's I420 (no conversion of its own): an odd size is padded to even
# sides for H.264, the colours kept.
DORVANTEL_BITS=$bits "$ROOT/run" record "$work/odd.mp4" --seconds 2 --quiet "${own_window[@]}" --rect 0,0,161,101 \
  2>"$work/err"
check "odd mp4: exit status" 0 $?
check "odd mp4: ffprobe's view" "codec_name=h264 width=162 height=102 pix_fmt=yuv420p nb_read_packets=20" \
  "$(probe "$work/odd.mp4" codec_name,width,height,pix_fmt,nb_read_packets)"
yuv_frame "$work/odd.mp4" 15 "$work/odd-mp4.png"
near "odd mp4" "$work/odd-mp4.png" 3 20 50

# Bad input: a clear one-line error, a non-zero exit, and no file.
expect_error() {  # expect_error DESCRIPTION STATUS MESSAGE PROGRAM ARGS...
  local what=$1 status=$2 message=$3
  shift 3
  "$ROOT/scripts/wine-run" "$@" >"$work/out" 2>"$work/err"
  local got=$?
  if [ "$got" = "$status" ] && grep -q "$message" "$work/err" && [ "$(wc -l <"$work/err")" = 1 ] \
     && ! ls "$work"/bad.avi* >/dev/null 2>&1; then
    pass "bad input: $what"
  else
    fail "bad input: $what: status $got, said: $(cat "$work/err")"
  fi
}
bad=$(winpath "$work/bad.avi")
expect_error "unknown option" 2 "unknown option --frobnicate" "$dir/dorvantel-record.exe" --frobnicate "$bad"
expect_error "frame rate 0" 2 "rate needs a whole number" "$dir/dorvantel-record.exe" --rate 0 "$bad"
expect_error "no window of that title" 1 'no window has the title "No such window"' \
  "$dir/dorvantel-record.exe" --window "No such window" "$bad"
expect_error "output path that cannot be written" 1 "cannot write" \
  "$dir/dorvantel-record.exe" --seconds 1 "$(winpath "$work/no-such-folder/bad.avi")"
mkdir "$work/alone"
cp "$dir/dorvantel-record.exe" "$work/alone/"
expect_error "library missing" 1 "is missing" "$work/alone/dorvantel-record.exe" --seconds 1 "$bad"
echo "not a library" >"$work/alone/$dll"
expect_error "library that fails to load" 1 "cannot be loaded" "$work/alone/dorvantel-record.exe" --seconds 1 "$bad"

# Ctrl-C ends the recording with a complete file.
set -m
(exec "$ROOT/scripts/wine-run" "$dir/dorvantel-record.exe" --quiet --rect $left,$top,320,240 \
  "$(winpath "$work/stopped.avi")" 2>"$work/err") &
recorder=$!
set +m
sleep 3
kill -INT "$recorder"
wait "$recorder"
check "Ctrl-C: exit status" 0 $?
packets=$(probe "$work/stopped.avi" nb_read_packets)
decoded=$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$work/stopped.avi")
[ "${packets#*=}" -gt 0 ] && [ "${packets#*=}" = "$decoded" ] && pass "Ctrl-C: a playable file of $decoded frames" \
  || fail "Ctrl-C: $packets packets, $decoded frames decoded"

# A recording that cannot go on keeps what it has: a closed file that ffprobe decodes with
# the frames the recorder counted, at 10 frames a second, and a message that says why.
kept() {  # kept DESCRIPTION FILE MESSAGE  (the messages in $work/err; the first "N frames" counts); sets $decoded
  local what=$1 file=$2 said duration
  grep -q "$3" "$work/err" && pass "$what: says \"$3\"" || fail "$what: said $(cat "$work/err")"
  said=$(sed -n 's/.* \([0-9][0-9]*\) frames[ ,].*/\1/p' "$work/err" | head -1)
  decoded=$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$file" 2>/dev/null | head -1)
  duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file" 2>/dev/null)
  if [ "${said:-0}" -gt 0 ] && within $((said - 1)) $((said + 1)) "${decoded:-0}" &&
    awk -v d="${duration:-0}" -v n="$decoded" 'BEGIN { exit !(d - n / 10 <= 0.1001 && n / 10 - d <= 0.1001) }'; then
    pass "$what: $decoded frames decoded, $duration s, as the recorder counted ($said)"
  else
    fail "$what: ${decoded:-no} frames decoded, ${duration:-no} s; the recorder counted ${said:-none}"
  fi
}

# The disk fills up: 4 MB hold 13 frames of 320x240 in 32 bits and the indexes.
mkdir "$work/small"
if mount -t tmpfs -o size=4m tmpfs "$work/small" 2>/dev/null; then
  small=$work/small
  record --seconds 10 --rect $left,$top,320,240 "$(winpath "$small/full.avi")" 2>"$work/err"
  check "disk full: exit status" 3 $?
  kept "disk full" "$small/full.avi" "stopped early: the disk is full"
  check "disk full: every frame that fit, and the file alone" "13 full.avi" "$decoded $(ls "$small")"
  umount "$small" && small=""
else
  skip "disk full: no small disk to fill (mounting a tmpfs needs root)"
fi

# The recorded window closes 3 s into a 12 s recording: a window of another process (black
# under Wine, but it closes all the same), whose process ends once the recorder runs.
# Where 32-bit code is emulated, or while Wine's loader forks, more than one process can show
# these arguments for a while: the oldest is the one that was started.
recorder_pid() {  # recorder_pid ARGS-PATTERN: waits for the recorder's process with these arguments
  local pid
  for _ in $(seq 1200); do
    pid=$(pgrep -o -f "$dir/dorvantel-record.exe $1\$") && { echo "$pid"; return 0; }
    sleep 0.1
  done
  return 1
}
close_window_in_3s() {  # close_window_in_3s ARGS-PATTERN; sets $closing and $closer, to wait for
  "$ROOT/scripts/wine-run" "$dir/dorvantel-demo.exe" --at 500,400 --size 160x120 --title "Dorvantel closing" \
    --seconds 600 >"$work/closing.log" 2>&1 &
  closing=$!
  for _ in $(seq 600); do grep -q ready "$work/closing.log" && break; sleep 0.1; done
  (recorder_pid "$1" >/dev/null; sleep 3; kill "$closing") &
  closer=$!
}
close_window_in_3s ".*closed.avi"
record --seconds 12 --window "Dorvantel closing" "$(winpath "$work/closed.avi")" 2>"$work/err"
check "window closed: exit status" 3 $?
kept "window closed" "$work/closed.avi" "stopped early: the recorded window was closed"
within 10 40 "${decoded:-0}" && pass "window closed: the seconds the window was there" \
  || fail "window closed: $decoded frames for a window there for 3 s"
wait "$closer" "$closing"

# Through ./run record into an MP4: the encoder finishes the file with what it got, and the
# status carries through; so when the recorder is killed.
close_window_in_3s ".*--window Dorvantel closing -"
DORVANTEL_BITS=$bits "$ROOT/run" record "$work/closed.mp4" --seconds 12 --quiet --window "Dorvantel closing" 2>"$work/err"
check "mp4, window closed: exit status" 3 $?
kept "mp4, window closed" "$work/closed.mp4" "stopped early: the recorded window was closed"
wait "$closer" "$closing"
# (--seconds bounds the recording should the kill miss it.)
DORVANTEL_BITS=$bits "$ROOT/run" record "$work/killed.mp4" --quiet --seconds 120 --rect $left,$top,320,240 2>"$work/err" &
encoding=$!
recorder=$(recorder_pid "--format i420 --quiet --seconds 120 --rect $left,$top,320,240 -") && sleep 3 && kill -9 "$recorder"
wait "$encoding"
check "mp4, recorder killed: exit status" 3 $?
kept "mp4, recorder killed" "$work/killed.mp4" "stopped early: the recorder was killed (signal 9)"

# A new user's first steps, without a display of their own, in a prefix made for them: the
# recorder's help, then at once a recording, of the whole virtual screen with the demo on it.
if [ "$bits" = 64 ] && i386_emulated; then
  skip "help first, then a recording: a new prefix's 32-bit half takes minutes where 32-bit code is emulated"
elif [ "$bits" = 64 ]; then
  fresh=(env -u DISPLAY DORVANTEL_WINEPREFIX="$work/fresh-prefix" DORVANTEL_BITS=64)
  "${fresh[@]}" "$ROOT/run" record --help >"$work/help" 2>&1
  check "help first: exit status" 0 $?
  grep -q -- "--seconds S" "$work/help" && pass "help first: the recorder's options" \
    || fail "help first: no options in: $(cat "$work/help")"
  "${fresh[@]}" "$ROOT/run" record "$work/after-help.avi" --seconds 1 --quiet 2>"$work/err"
  check "help first, then a recording: exit status" 0 $?
  virtual=${DORVANTEL_SCREEN:-1280x720x24}
  virtual=${virtual%x*}
  check "help first, then a recording: the virtual screen's size" "width=${virtual%x*} height=${virtual#*x} nb_read_packets=10" \
    "$(probe "$work/after-help.avi" width,height,nb_read_packets)"
fi

# Killed: the .part stays readable; --recover closes it into a playable file, and so does the
# next recording into the same name, into a name of its own, before it records.
set -m
(exec "$ROOT/scripts/wine-run" "$dir/dorvantel-record.exe" --quiet --rect $left,$top,320,240 \
  "$(winpath "$work/killed.avi")" 2>"$work/err") &
recorder=$!
set +m
for _ in $(seq 600); do [ "$(stat -c %s "$work/killed.avi.part" 2>/dev/null || echo 0)" -gt 6200000 ] && break; sleep 0.1; done
kill -9 "$recorder"
wait "$recorder" 2>/dev/null
on_disk=$(probe "$work/killed.avi.part" nb_read_packets)
on_disk=${on_disk#*=}
[ "${on_disk:-0}" -ge 20 ] && [ ! -e "$work/killed.avi" ] && pass "killed: ffmpeg reads the $on_disk frames of killed.avi.part" \
  || fail "killed: ${on_disk:-no} frames readable in killed.avi.part"
cp "$work/killed.avi.part" "$work/copy.avi.part"
record --recover "$(winpath "$work/copy.avi.part")" 2>"$work/err"
check "killed: --recover: exit status" 0 $?
kept "killed: --recover" "$work/copy.avi" "recovered from"
recovered=$decoded
within $((on_disk - 1)) $((on_disk + 1)) "${recovered:-0}" && pass "killed: --recover keeps every frame on disk" \
  || fail "killed: --recover kept $recovered of $on_disk frames"
record --seconds 1 --rect $left,$top,320,240 "$(winpath "$work/killed.avi")" 2>"$work/err"
check "killed: the next recording: exit status" 0 $?
kept "killed: the next recording" "$work/killed-recovered.avi" "killed.avi.part was left by a recording that did not finish"
check "killed: the next recording: the leftover recovered, the new one recorded" \
  "$recovered nb_read_packets=10 " "$decoded $(probe "$work/killed.avi" nb_read_packets) $(ls "$work"/*.part 2>/dev/null)"

# Registration as a capture device, which hosts find through the system device enumerator.
register() { "$ROOT/scripts/wine-run" "$dir/dorvantel-register.exe" "$@"; }
register register 2>"$work/err"
check "device: registered" 0 $?
register list >"$work/devices"
grep -qx "Dorvantel" <(tr -d '\r' <"$work/devices") && pass "device: listed by the device enumerator" \
  || fail "device: not listed: $(cat "$work/devices")"
record --seconds 1 --device Dorvantel --rect $left,$top,320,240 "$(winpath "$work/device.avi")" 2>"$work/err"
check "device: bound by name, it records" "width=320 height=240 nb_read_packets=10" \
  "$(probe "$work/device.avi" width,height,nb_read_packets)"
# A window preset: the device finds the window by its title when the recording starts
# (here the recorder's own demo window, which Wine lets it print), and bad options write nothing.
register register --name "Dorvantel window" --window "Dorvantel demo" --rate 5 --format rgb24 2>"$work/err"
check "window preset: registered" 0 $?
record --seconds 2 --demo=500,80,320,240 --device "Dorvantel window" "$(winpath "$work/preset.avi")" 2>"$work/err"
check "window preset: the window's size, the preset's rate and format" "width=320 height=240 pix_fmt=bgr24 r_frame_rate=5/1 nb_read_packets=10" \
  "$(probe "$work/preset.avi" width,height,pix_fmt,r_frame_rate,nb_read_packets)"
frame "$work/preset.avi" 9 "$work/preset.png"
crop "$work/preset.png" 320x160+0+0 "$work/a.png"
check "window preset: the bars have their colours" 0 "$(differing "$work/a.png" "$work/known.png" 1%)"
register register --name "Dorvantel nowhere" --window "No window has this title" 2>"$work/err"
record --seconds 1 --device "Dorvantel nowhere" "$(winpath "$work/bad.avi")" 2>"$work/err"
check "window preset without its window: exit status" 1 $?
grep -q "cannot start the recording graph" "$work/err" && pass "window preset without its window: says so" \
  || fail "window preset without its window: $(cat "$work/err")"
"$ROOT/scripts/wine-run" "$dir/dorvantel-register.exe" register --name "Dorvantel odd" --rate 0 >"$work/out" 2>"$work/err"
check "bad preset options: exit status" 2 $?
check "bad preset options: one line" 1 "$(wc -l <"$work/err")"
register list >"$work/devices"
grep -q "Dorvantel odd" "$work/devices" && fail "bad preset options: something was registered" || pass "bad preset options: nothing registered"

register unregister 2>"$work/err"
check "device: unregistered" 0 $?
register list >"$work/devices"
grep -qx "Dorvantel window" <(tr -d '\r' <"$work/devices") && pass "device: the presets stay" || fail "device: the presets went with it"
register unregister --all 2>"$work/err"
check "device: every preset unregistered" 0 $?
register list >"$work/devices"
grep -q "Dorvantel" "$work/devices" && fail "device: still listed after unregistering" || pass "device: gone after unregistering"
expect_error "device that is not registered" 1 'no video capture device is named "Dorvantel"' \
  "$dir/dorvantel-record.exe" --seconds 1 --device Dorvantel "$bad"

# Past 1 GB: large frames (37.7 MB each), 30 of them; every frame must be counted.
record --seconds 1 --rate 30 --rect 0,0,320,180 --size 4096x2304 "$(winpath "$work/big.avi")" 2>"$work/err"
check "past 1 GB: exit status" 0 $?
size=$(stat -c %s "$work/big.avi" 2>/dev/null || echo 0)
[ "$size" -gt 1073741824 ] && pass "past 1 GB: $size bytes" || fail "past 1 GB: only $size bytes"
check "past 1 GB: ffprobe counts every frame" "width=4096 height=2304 nb_read_packets=30" \
  "$(probe "$work/big.avi" width,height,nb_read_packets)"
frame "$work/big.avi" 29 "$work/last.png" && [ -s "$work/last.png" ] && pass "past 1 GB: the last frame decodes" \
  || fail "past 1 GB: the last frame does not decode"
rm -f "$work/big.avi"

echo "$failures failed"
[ "$failures" = 0 ]
