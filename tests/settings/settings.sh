#!/usr/bin/env bash
# The settings program as a person uses it, under Wine on Xvfb: xdotool moves the mouse and
# types, screenshots are judged by pixels, and what it saved is recorded by the Windows
# ffmpeg 4.1 of the same bitness and read back from the registry and the register tool.
#   settings.sh BUILD_DIR    (the build folder of one bitness, e.g. build/win64)
# DORVANTEL_SETTINGS_SHOTS=FOLDER keeps the screenshots of the main window, the region
# overlay and the preview there (the README's pictures).
set -uo pipefail
source "$(dirname "$0")/../support/checks.sh" "$1"
source "$(dirname "$0")/gui.sh"
if objdump -f "$dir/dorvantel-register.exe" | grep -q x86-64; then bits=64; other=32; else bits=32; other=64; fi

work=$(mktemp -d "$dir/settings.XXXXXX")
program=$dir
# The program saves in the other bitness's view too, through that build's register tool.
# Where 32-bit code runs only through qemu (a minute per start), it runs from a copy that
# has no other bitness beside it, and saves in its own view alone.
other_tool=$(dirname "$dir")/win$other/dorvantel-register.exe
if [ "$bits$other" = 6432 ] && i386_emulated || [ ! -f "$other_tool" ]; then
  if [ -f "$other_tool" ]; then
    skip "saving in the $other-bit view and its ffmpeg: 32-bit programs run through qemu here, about a minute per start"
  fi
  program=$work/win$bits
  mkdir -p "$program"
  cp "$dir"/dorvantel-settings.exe "$dir"/dorvantel-register.exe "$dir"/dorvantel*.dll "$program/"
  other_tool=""
fi
register() { "$ROOT/scripts/wine-run" "$dir/dorvantel-register.exe" "$@"; }
settings="" dpi_set=""
cleanup() {
  [ -n "$settings" ] && kill "$settings" 2>/dev/null
  [ -n "$dpi_set" ] && restore_dpi
  [ -n "$demo" ] && kill "$demo" 2>/dev/null
  [ -n "${DORVANTEL_MFSENSORGROUP:-}" ] && register camera off --all >/dev/null 2>&1
  register unregister --all >/dev/null 2>&1
  [ -n "$other_tool" ] && "$ROOT/scripts/wine-run" "$other_tool" unregister --all >/dev/null 2>&1
  rm -rf "$work"
  if [ -n "${XVFB_PID:-}" ]; then stop_session; fi
}
trap cleanup EXIT
host() { "$ROOT/scripts/wine-ffmpeg" "$bits" -hide_banner -nostdin "$@"; }
shots=${DORVANTEL_SETTINGS_SHOTS:-}

# Saving runs the other bitness's register tool, which takes a few seconds on a busy machine.
gone() {  # gone TITLE: true once no window of that title is shown (30 s at most)
  for _ in $(seq 300); do
    [ -z "$(xdotool search --onlyvisible --name "$1" 2>/dev/null)" ] && return 0
    sleep 0.1
  done
  return 1
}
titled() {  # titled DESCRIPTION TITLE: the main window's title becomes TITLE (30 s at most)
  for _ in $(seq 300); do
    [ "$(xdotool getwindowname "$main")" = "$2" ] && break
    sleep 0.1
  done
  check "$1" "$2" "$(xdotool getwindowname "$main")"
}
# The devices of the filter that a register tool lists (names only), sorted, on one line.
listed() { "$ROOT/scripts/wine-run" "$1" list | tr -d '\r' | grep -v '^ ' | sort | tr '\n' ';'; }
category='HKCR\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance'
stored() {  # stored BITS NAME VALUE: a value of the device's registry key in that view
  winreg query "$category\\$2" /v "$3" /reg:"$1" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$3 \+REG_[A-Z_]\+ \+//p"
}

left=100 top=80
register unregister --all >/dev/null 2>&1
start_demo $left $top
"$ROOT/scripts/wine-run" "$program/dorvantel-settings.exe" >"$work/settings.log" 2>&1 &
settings=$!
main=$(window "Dorvantel settings" 60) || { fail "the settings program did not show its window"; exit 1; }
# Beside the demo window, so that neither covers the other; the editor opens over it.
xdotool windowmove "$main" 500 20
sleep 0.5
check "an empty list at first" "Dorvantel settings - 0 capture devices" "$(xdotool getwindowname "$main")"
# Wine has no Windows cameras: the camera box says so beside it (and the box is greyed).
check "the Windows camera: the reason it is not offered" \
  "Windows cameras need Windows 11 (build 22000 or later); this system has none: DirectShow programs still see the device" \
  "$(inside text "Dorvantel settings" 1011)"

# 1. A region drawn over the colour bars: from the yellow bar's top left into the magenta bar,
# then moved one pixel right and made a pixel taller with the arrow keys.
keys "Dorvantel settings" alt+a
window "Dorvantel preset" >/dev/null || { fail "Add did not open the editor"; exit 1; }
typed "Dorvantel preset" "Test region"
keys "Dorvantel preset" alt+r alt+a
overlay=$(window "Dorvantel region") || { fail "Draw did not open the overlay"; exit 1; }
# Shown once its banner is painted at the top of the screen.
painted "$work/root.png" 5 5 32,32,32
xdotool mousemove $((left + 20)) $((top + 20)) mousedown 1 mousemove $((left + 100)) $((top + 80)) \
  mousemove $((left + 200)) $((top + 140))
painted "$work/drag.png" $((left + 100)) $((top + 18)) 255,96,0
[ -n "$shots" ] && cp "$work/drag.png" "$shots/settings-region.png"
# The region shows the bars as they are, outside it they are dimmed to half.
check "overlay: the yellow bar inside the region is bright" 255,255,0 "$(pixel "$work/drag.png" $((left + 60)) $((top + 60)))"
check "overlay: the red bar outside it is dimmed" 127,0,0 "$(pixel "$work/drag.png" $((left + 220)) $((top + 60)))"
check "overlay: the edge is drawn" 255,96,0 "$(pixel "$work/drag.png" $((left + 100)) $((top + 18)))"
xdotool mouseup 1
sleep 0.3
keys "Dorvantel region" Right shift+Down
painted "$work/nudged.png" $((left + 19)) $((top + 60)) 255,96,0
check "overlay: the arrow keys moved the left edge" 255,96,0 "$(pixel "$work/nudged.png" $((left + 19)) $((top + 60)))"
keys "Dorvantel region" Return
gone "Dorvantel region" || fail "Enter did not close the overlay"

# The preview shows what the region holds: the bars from white (a sliver) to magenta.
region=$((left + 21)),$((top + 20)),180,121
for _ in $(seq 40); do
  snap "Dorvantel preset" "$work/editor.png"
  [ "$(count "$work/editor.png" '#FFFF00')" -gt 1000 ] && [ "$(count "$work/editor.png" '#FF00FF')" -gt 1000 ] && break
  sleep 0.5
done
[ -n "$shots" ] && cp "$work/editor.png" "$shots/settings-preview.png"
for colour in FFFF00 00FFFF 00FF00 FF00FF; do
  n=$(count "$work/editor.png" "#$colour")
  [ "$n" -gt 1000 ] && pass "preview: shows #$colour ($n pixels)" || fail "preview: #$colour on $n pixels"
done
n=$(count "$work/editor.png" '#0000FF')
[ "$n" -lt 50 ] && pass "preview: no blue, which is outside the region" || fail "preview: $n blue pixels"
keys "Dorvantel preset" alt+s
gone "Dorvantel preset" || fail "Save did not close the editor"
titled "the region preset is listed" "Dorvantel settings - 1 capture device"
check "the region stored as drawn and nudged" "$((left + 21)),$((top + 20)),$((left + 201)),$((top + 141))" \
  "$(register list | tr -d '\r' | sed -n 's/^  CaptureValue=//p')"

# ffmpeg records the preset by name: the region's size and pixels.
import -window root "$work/screen.png"
host -y -rtbufsize 256M -f dshow -i "video=Test region" -t 1 -c:v rawvideo -pix_fmt bgra "$(winpath "$work/region.avi")" \
  2>"$work/region.log" || fail "ffmpeg could not record \"Test region\": $(grep -v '^ALSA' "$work/region.log" | tail -n 2)"
check "ffmpeg: the region's size" "width=180 height=121" "$(probe "$work/region.avi" width,height)"
frame "$work/region.avi" 5 "$work/region.png"
crop "$work/screen.png" "180x121+$((left + 21))+$((top + 20))" "$work/expected.png"
check "ffmpeg: the region's pixels match the screen" 0 "$(differing "$work/region.png" "$work/expected.png" 1%)"

# 2. A window picked from the list by its title.
keys "Dorvantel settings" alt+a
window "Dorvantel preset" >/dev/null || { fail "Add did not open the editor"; exit 1; }
typed "Dorvantel preset" "Test window"
keys "Dorvantel preset" alt+w alt+l
window "Dorvantel windows" >/dev/null || fail "List did not open the window list"
typed "Dorvantel windows" "Dorvantel scr"
keys "Dorvantel windows" Return
gone "Dorvantel windows" || fail "Enter did not take the window"
keys "Dorvantel preset" alt+s
gone "Dorvantel preset" || fail "Save did not close the editor"
check "the window preset stores the title" "Dorvantel screen" \
  "$(register list | tr -d '\r' | sed -n 's/^  WindowTitle=//p')"
# Under Wine a window of another process prints black: its size is what shows here.
host -y -rtbufsize 256M -f dshow -i "video=Test window" -t 1 -c:v rawvideo -pix_fmt bgra "$(winpath "$work/window.avi")" \
  2>"$work/window.log" || fail "ffmpeg could not record \"Test window\": $(grep -v '^ALSA' "$work/window.log" | tail -n 2)"
check "ffmpeg: the window's size" "width=320 height=240" "$(probe "$work/window.avi" width,height)"

# The window preset duplicated, its title typed over, and the window picked again by clicking it.
keys "Dorvantel settings" alt+c Home Down alt+u
window "Dorvantel preset" >/dev/null || fail "Duplicate did not open the editor"
keys "Dorvantel preset" alt+t
typed "Dorvantel preset" "no such window"
keys "Dorvantel preset" alt+k
window "Dorvantel pick a window" >/dev/null || fail "Click did not open the overlay"
painted "$work/root.png" 5 5 32,32,32
xdotool mousemove $((left + 160)) $((top + 100)) click 1
gone "Dorvantel pick a window" || fail "a click did not take the window"
# Only a part of it, drawn on the screen and stored relative to the window's corner.
keys "Dorvantel preset" alt+p alt+a
window "Dorvantel region" >/dev/null || fail "Draw did not open the overlay"
painted "$work/root.png" 5 5 32,32,32
xdotool mousemove $((left + 40)) $((top + 20)) mousedown 1 mousemove $((left + 80)) $((top + 60)) \
  mousemove $((left + 120)) $((top + 100)) mouseup 1
sleep 0.3
keys "Dorvantel region" Return
gone "Dorvantel region" || fail "Enter did not close the overlay"
keys "Dorvantel preset" alt+s
gone "Dorvantel preset" || fail "Save did not close the editor"
check "the duplicate stores the title of the window clicked" "Dorvantel screen" "$(stored "$bits" "Test window copy" WindowTitle)"
check "the duplicate stores the part of the window drawn" 40,20,120,100 "$(stored "$bits" "Test window copy" CaptureValue)"

# 3. The rate of the region preset edited (the first in the list), the window preset deleted
# (the second) after the confirmation; the duplicate stays.
keys "Dorvantel settings" alt+c Home alt+e
window "Dorvantel preset" >/dev/null || fail "Edit did not open the editor"
keys "Dorvantel preset" alt+f
typed "Dorvantel preset" 25
# The format too: I420, a YUV one, chosen by its name in the list. The preview draws RGB32
# frames of the same settings, and says so.
keys "Dorvantel preset" alt+o
typed "Dorvantel preset" i
for _ in $(seq 40); do
  preview=$(inside text "Dorvantel preset" 1128)
  [[ "$preview" == "Live: "*i420* ]] && snap "Dorvantel preset" "$work/yuv.png" &&
    [ "$(count "$work/yuv.png" '#FFFF00')" -gt 1000 ] && break
  sleep 0.5
done
check "preview of an I420 preset: what it says" "Live: 180x121 i420 (previewed in rgb32), as hosts get it" "$preview"
n=$(count "$work/yuv.png" '#FF00FF')
[ "$n" -gt 1000 ] && pass "preview of an I420 preset: shows the bars ($n magenta pixels)" || fail "preview of an I420 preset: $n magenta pixels"
keys "Dorvantel preset" alt+s
gone "Dorvantel preset" || fail "Save did not close the editor"
check "the edited rate in the registry ($bits-bit view)" 0x19 "$(stored "$bits" "Test region" FrameRate)"
check "the format chosen in the registry, the fast scaler beside it" "i420 0x64" \
  "$(stored "$bits" "Test region" OutputFormat) $(stored "$bits" "Test region" InterpolationMode)"
check "the region is kept" "$((left + 21)),$((top + 20)),$((left + 201)),$((top + 141))" \
  "$(stored "$bits" "Test region" CaptureValue)"
keys "Dorvantel settings" alt+c Home Down alt+d
window "Dorvantel delete" >/dev/null || fail "Delete asked nothing"
keys "Dorvantel delete" Return
gone "Dorvantel delete" || fail "the confirmation stayed"
sleep 1
titled "the program lists two devices" "Dorvantel settings - 2 capture devices"
check "the register tool lists the same" "Test region;Test window copy;" "$(listed "$dir/dorvantel-register.exe")"
check "the registry holds the same" "Test region;Test window copy;" \
  "$(winreg query "$category" /reg:$bits 2>/dev/null | tr -d '\r' | sed -n 's/.*\\Instance\\\(Test .*\)/\1/p' | sort | tr '\n' ';')"
host -f dshow -list_devices true -i dummy 2>"$work/devices"
grep -q '"Test region"' "$work/devices" && ! grep -q '"Test window"' "$work/devices" \
  && pass "ffmpeg lists \"Test region\" and not \"Test window\"" || fail "ffmpeg's devices: $(grep '"' "$work/devices")"
if [ -n "$other_tool" ]; then
  check "the $other-bit register tool lists the same" "Test region;Test window copy;" "$(listed "$other_tool")"
  check "the edited rate in the $other-bit view" 0x19 "$(stored "$other" "Test region" FrameRate)"
  "$ROOT/scripts/wine-ffmpeg" "$other" -hide_banner -nostdin -f dshow -list_devices true -i dummy 2>"$work/devices$other"
  grep -q '"Test region"' "$work/devices$other" && ! grep -q '"Test window"' "$work/devices$other" \
    && pass "$other-bit ffmpeg lists the same" || fail "$other-bit ffmpeg's devices: $(grep '"' "$work/devices$other")"
fi
host -f dshow -i "video=Test region" -t 1 -f null - 2>"$work/rate.log"
# (ffmpeg names a YUV stream's tag: "rawvideo (I420 / 0x30323449), yuv420p, ...")
check "ffmpeg records the edited rate and format" "yuv420p, 180x121, 25 fps" \
  "$(sed -n 's/.*Stream #0:0: Video: rawvideo[^,]*, \([^,]*, [0-9x]*\).*, \([0-9.]* fps\).*/\1, \2/p' "$work/rate.log" | head -n 1)"

# 4. Bad values: a size of 0 and a rate of 5000 get their messages and nothing is written.
keys "Dorvantel settings" alt+a
window "Dorvantel preset" >/dev/null || { fail "Add did not open the editor"; exit 1; }
typed "Dorvantel preset" "Bad preset"
keys "Dorvantel preset" alt+f
typed "Dorvantel preset" 5000
keys "Dorvantel preset" alt+e Tab
typed "Dorvantel preset" 0
keys "Dorvantel preset" alt+s
sleep 1
window "Dorvantel preset" 1 >/dev/null && pass "bad values: the editor stays open" || fail "bad values: the editor closed"
for _ in $(seq 20); do
  snap "Dorvantel preset" "$work/bad.png"
  n=$(count "$work/bad.png" '#C80000')
  [ "$n" -gt 100 ] && break
  sleep 0.5
done
[ "$n" -gt 100 ] && pass "bad values: messages in red beside the fields ($n pixels)" || fail "bad values: $n red pixels"
check "bad values: nothing written" "Test region;Test window copy;" "$(listed "$dir/dorvantel-register.exe")"
keys "Dorvantel preset" Escape
gone "Dorvantel preset" || fail "Esc did not close the editor"

# 5. The default device restored, and the preset renamed: its settings go with it.
keys "Dorvantel settings" alt+f
titled "restore default: the plain device is back" "Dorvantel settings - 3 capture devices"
keys "Dorvantel settings" alt+c Home Down alt+n
window "Dorvantel rename" >/dev/null || fail "Rename asked nothing"
typed "Dorvantel rename" "Test renamed"
keys "Dorvantel rename" Return
gone "Dorvantel rename" || fail "the rename dialog stayed"
for _ in $(seq 60); do [ "$(listed "$dir/dorvantel-register.exe")" = "Dorvantel;Test renamed;Test window copy;" ] && break; sleep 0.5; done
check "renamed: the register tool lists the new name" "Dorvantel;Test renamed;Test window copy;" "$(listed "$dir/dorvantel-register.exe")"
check "renamed: the region goes with it" "$((left + 21)),$((top + 20)),$((left + 201)),$((top + 141))" \
  "$(stored "$bits" "Test renamed" CaptureValue)"
[ -n "$shots" ] && snap "Dorvantel settings" "$shots/settings-main.png"
if [ -n "$other_tool" ]; then
  check "renamed: the $other-bit register tool lists the same" "Dorvantel;Test renamed;Test window copy;" "$(listed "$other_tool")"
fi

# 6. A save that waits: the register tool's stand-in holds it until its gate file goes. The
# editor answers meanwhile with every button disabled, then the save completes and shows; a
# removal that the tool refuses says so in the status line.
keys "Dorvantel settings" Escape
gone "Dorvantel settings" || fail "Close did not end the program"
wait "$settings" 2>/dev/null
gate=$work/gate
touch "$gate"
DORVANTEL_OTHER_REGISTER_TOOL=$(winpath "$dir/tests/settings_probe.exe") DORVANTEL_STAND_IN_GATE=$(winpath "$gate") \
  "$ROOT/scripts/wine-run" "$program/dorvantel-settings.exe" >>"$work/settings.log" 2>&1 &
settings=$!
main=$(window "Dorvantel settings" 60) || { fail "the settings program did not start again"; exit 1; }
keys "Dorvantel settings" alt+a
window "Dorvantel preset" >/dev/null || { fail "Add did not open the editor"; exit 1; }
typed "Dorvantel preset" "Slow save"
keys "Dorvantel preset" alt+s
sleep 1
answers=$(inside answers "Dorvantel preset" 3)
[[ "$answers" == "answered "*" 0 buttons enabled" ]] && [ "$(echo "$answers" | cut -d' ' -f2)" = "$(echo "$answers" | cut -d' ' -f4)" ] \
  && pass "a slow save: the editor answers, its buttons disabled ($answers)" || fail "a slow save: $answers"
window "Dorvantel preset" 1 >/dev/null && pass "a slow save: the editor waits for it" || fail "a slow save: the editor closed early"
rm -f "$gate"
gone "Dorvantel preset" || fail "a slow save: the editor stayed after it ended"
titled "a slow save: the device is listed" "Dorvantel settings - 4 capture devices"
check "a slow save: the status says so" "Saved \"Slow save\" for ${bits}-bit hosts and ${other}-bit hosts." "$(inside text "Dorvantel settings" 1007)"
touch "$gate.fail"
keys "Dorvantel settings" alt+c Home Down alt+d
window "Dorvantel delete" >/dev/null || fail "Delete asked nothing"
keys "Dorvantel delete" Return
for _ in $(seq 100); do status=$(inside text "Dorvantel settings" 1007); [[ "$status" == Not* ]] && break; sleep 0.3; done
check "a failed removal: the status says why" \
  "Not deleted: still found by ${other}-bit hosts: ${other}-bit register tool: dorvantel-register: error: the stand-in was told to fail" \
  "$status"

# 7. The whole check, held by the stand-in (which then fails) until its gate goes: the window
# answers meanwhile with its buttons disabled. A device whose stored rate is 0 (written by hand)
# is marked in the list, not hidden, and the check's words for it show when it is selected.
register register --name "Broken rate" >/dev/null 2>&1
winreg add "$category\\Broken rate" /v FrameRate /t REG_DWORD /d 0 /f /reg:"$bits" >/dev/null
touch "$gate"
keys "Dorvantel settings" alt+k
sleep 1
answers=$(inside answers "Dorvantel settings" 2)
[[ "$answers" == "answered "*" 0 buttons enabled" ]] && [ "$(echo "$answers" | cut -d' ' -f2)" = "$(echo "$answers" | cut -d' ' -f4)" ] \
  && pass "a check that waits: the window answers, its buttons disabled ($answers)" || fail "a check that waits: $answers"
rm -f "$gate"
for _ in $(seq 200); do status=$(inside text "Dorvantel settings" 1007); [[ "$status" == Checked* ]] && break; sleep 0.3; done
[[ "$status" == "Checked: "*" working for ${bits}-bit programs, 1 with problems (${other}-bit programs: not checked: "* ]] \
  && pass "the check's summary, and why the $other-bit side was not checked" || fail "the check's status: $status"
inside rows "Dorvantel settings" 1000 | cut -f1-3 | tr '\t' '|' >"$work/rows"
check "the broken device is marked" "Broken rate|${bits}-bit|NO" "$(grep '^Broken rate' "$work/rows")"
check "a healthy device is marked" "Dorvantel|${bits}-bit|yes" "$(grep '^Dorvantel|' "$work/rows")"
keys "Dorvantel settings" alt+c Home
sleep 0.5
inside text "Dorvantel settings" 1009 >"$work/verdict"
check "the selected device's verdict" "\"Broken rate\" (Dorvantel): ${bits}-bit programs see it; it has problems" \
  "$(head -n 1 "$work/verdict")"
grep -q "^${bits}-bit programs: programs cannot open it: .*FrameRate" "$work/verdict" \
  && pass "the check's message names the refused rate" || fail "the check's message: $(cat "$work/verdict")"

# 8. At 144 DPI (Wine's LogPixels, put back afterwards): every labelled control's text fits it
# and lies inside its dialog, the device list's first column holds a device's name, and the
# overlay's help line grows with the text (36 pixels high).
desktop='HKCU\Control Panel\Desktop'
logpixels=$(winreg query "$desktop" /v LogPixels 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_DWORD *//p')
restore_dpi() {
  if [ -n "$logpixels" ]; then winreg add "$desktop" /v LogPixels /t REG_DWORD /d "$logpixels" /f
  else winreg delete "$desktop" /v LogPixels /f; fi >/dev/null 2>&1
  dpi_set=""
}
keys "Dorvantel settings" Escape
gone "Dorvantel settings" || fail "Close did not end the program"
wait "$settings" 2>/dev/null
dpi_set=1
winreg add "$desktop" /v LogPixels /t REG_DWORD /d 144 /f >/dev/null
"$ROOT/scripts/wine-run" "$program/dorvantel-settings.exe" >>"$work/settings.log" 2>&1 &
settings=$!
main=$(window "Dorvantel settings" 60) || { fail "the settings program did not start at 144 DPI"; exit 1; }
fits=$(inside fits "Dorvantel settings" "Test window copy")
[[ "$fits" == *" at 144 DPI, 0 cut off or outside" ]] && pass "144 DPI: the device list fits (${fits##*$'\n'})" \
  || fail "144 DPI: the device list: $fits"
keys "Dorvantel settings" alt+a
window "Dorvantel preset" >/dev/null || fail "Add did not open the editor at 144 DPI"
fits=$(inside fits "Dorvantel preset")
[[ "$fits" == *" at 144 DPI, 0 cut off or outside" ]] && pass "144 DPI: the editor fits (${fits##*$'\n'})" \
  || fail "144 DPI: the editor: $fits"
keys "Dorvantel preset" alt+r alt+a
window "Dorvantel region" >/dev/null || fail "Draw did not open the overlay at 144 DPI"
painted "$work/dpi.png" 5 30 32,32,32 && pass "144 DPI: the overlay's help line is 1.5 times as high" \
  || fail "144 DPI: the overlay's help line at 5,30: $(pixel "$work/dpi.png" 5 30)"
keys "Dorvantel region" Escape
gone "Dorvantel region" || fail "Esc did not close the overlay"
keys "Dorvantel preset" Escape
gone "Dorvantel preset" || fail "Esc did not close the editor"
restore_dpi

# 9. Where Windows has cameras (its library and the feed program stood in for, beside a copy of
# the program): a device renamed takes its camera along under the new name, and a device
# deleted takes its camera with it.
keys "Dorvantel settings" Escape
gone "Dorvantel settings" || fail "Close did not end the program"
wait "$settings" 2>/dev/null
cameras=$work/cameras
mkdir -p "$cameras"
cp "$program"/dorvantel-settings.exe "$program"/dorvantel-register.exe "$program"/dorvantel*.dll "$cameras/"
cp "$dir/tests/camera-standin/feed_standin.exe" "$cameras/dorvantel-feed.exe"
export DORVANTEL_MFSENSORGROUP=$(winpath "$dir/tests/camera-standin/mfsensorgroup.dll")
export DORVANTEL_CAMERA_LOG=$(winpath "$work/calls.log")
camera_tool() { "$ROOT/scripts/wine-run" "$cameras/dorvantel-register.exe" "$@"; }
# The cameras' records and the feeds' logon entries, one name each per line.
camera_state() {
  winreg query 'HKCU\Software\Dorvantel\Windows cameras' 2>/dev/null | tr -d '\r' | sed -n 's/.*\\Windows cameras\\/record: /p'
  winreg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *Dorvantel feed: \(.*\) REG_SZ .*/logon: \1/p' | sed 's/ *$//'
}
# The status line once it starts with PREFIX (30 s at most).
status_line() {
  for _ in $(seq 100); do status=$(inside text "Dorvantel settings" 1007); [[ "$status" == "$1"* ]] && break; sleep 0.3; done
  echo "$status"
}
register unregister --all >/dev/null 2>&1
camera_tool register --name "Camera before" >/dev/null 2>&1
camera_tool camera on --name "Camera before" >/dev/null 2>&1
"$ROOT/scripts/wine-run" "$cameras/dorvantel-settings.exe" >>"$work/settings.log" 2>&1 &
settings=$!
main=$(window "Dorvantel settings" 60) || { fail "the settings program did not start with Windows cameras"; exit 1; }
keys "Dorvantel settings" alt+c Home
sleep 0.5
check "cameras: the selected device's camera is on" \
  'Programs of Media Foundation (the Camera app) list "Camera before" too, for this user.' "$(inside text "Dorvantel settings" 1011)"
: >"$work/calls.log"
keys "Dorvantel settings" alt+n
window "Dorvantel rename" >/dev/null || fail "Rename asked nothing"
typed "Dorvantel rename" "Camera after"
keys "Dorvantel rename" Return
check "cameras: renamed, its camera too" 'Renamed "Camera before" to "Camera after", its Windows camera too.' \
  "$(status_line Renamed)"
check "cameras: renamed: the record and the logon entry under the new name alone" "record: Camera after
logon: Camera after" "$(camera_state)"
grep -q 'friendlyName="Camera after"' "$work/calls.log" && grep -q '^Remove' "$work/calls.log" &&
  pass "cameras: renamed: the old camera removed, one of the new name made" || fail "cameras: renamed: $(cat "$work/calls.log")"
for _ in $(seq 50); do grep -q '^feed \[--name\] \[Camera after\]' "$work/calls.log" && break; sleep 0.1; done
grep -q '^feed \[--name\] \[Camera after\]' "$work/calls.log" &&
  pass "cameras: renamed: the new name's feed started" || fail "cameras: renamed: the feeds: $(grep '^feed' "$work/calls.log")"
check "cameras: renamed: the box names it" \
  'Programs of Media Foundation (the Camera app) list "Camera after" too, for this user.' "$(inside text "Dorvantel settings" 1011)"
keys "Dorvantel settings" alt+c Home alt+d
window "Dorvantel delete" >/dev/null || fail "Delete asked nothing"
keys "Dorvantel delete" Return
check "cameras: deleted, its camera with it" 'Deleted "Camera after" and its Windows camera.' "$(status_line Deleted)"
check "cameras: deleted: nothing of the camera is left" "" "$(camera_state)"
# The last device deleted by its button, which is disabled now: the keys still reach the window.
keys "Dorvantel settings" Escape
gone "Dorvantel settings" || fail "the last device deleted: Esc did not end the program"

echo "$failures failed"
[ "$failures" = 0 ]
