# Shared by the shell tests: tap-like results, ffprobe and ImageMagick helpers, and the demo
# window of known colours.  source checks.sh BUILD_DIR  (the build folder of one bitness) sets
# $dir to it, takes the project's environment (scripts/common.sh) and makes sure of a display
# and the Wine prefix. The caller makes $work, a scratch folder, before start_demo.
dir=$(cd "$1" && pwd)
export DORVANTEL_BUILD=$(dirname "$dir")
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"
ensure_display >/dev/null
ensure_prefix

failures=0
pass() { echo "ok - $*"; }
fail() { echo "FAIL - $*"; failures=$((failures + 1)); }
check() {  # check DESCRIPTION EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: expected '$2', got '$3'"; fi
}
skip() {  # skip DESCRIPTION: a part left out on this machine, with the reason; ./run test lists it
  echo "skip - $*"
  if [ -n "${DORVANTEL_SKIPS:-}" ]; then echo "$(basename "$0" .sh): $*" >>"$DORVANTEL_SKIPS"; fi
}
# Windows' reg in the prefix, run by the 64-bit loader: through the wine front end a builtin
# tool may start on the 32-bit side, which takes minutes where 32-bit code is emulated.
# /reg:32 and /reg:64 choose the view.
winreg() { "$(wine64_loader)" reg "$@"; }
within() {  # within LOW HIGH VALUE
  [ "$3" -ge "$1" ] && [ "$3" -le "$2" ]
}
winpath() { local p="Z:$1"; printf '%s' "${p//\//\\}"; }
probe() {  # probe FILE ENTRIES: stream fields as key=value, one line
  ffprobe -v error -select_streams v:0 -count_packets -show_entries "stream=$2" -of default=noprint_wrappers=1 "$1" | tr '\n' ' ' | sed 's/ $//'
}
frame() {  # frame FILE N PNG: decodes frame N
  ffmpeg -v error -y -i "$1" -vf "select=eq(n\\,$2)" -vsync vfr -frames:v 1 -pix_fmt rgb24 "$3"
}
differing() {  # differing A B FUZZ: how many pixels differ
  compare -metric AE -fuzz "$3" "$1" "$2" null: 2>&1 | cut -d' ' -f1
}
crop() { convert "$1" -crop "$2" +repage "$3"; }
pixel() { convert "$1" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:; }

# The demo window at LEFT,TOP, 320x240: eight colour bars (rows 0-159, 40 pixels each: white,
# yellow, cyan, green, magenta, red, blue, black), a grey band with a moving square below.
# Sets $demo to its process; the cursor is moved to the screen's corner, off the window
# (the filter draws the cursor, screenshots do not). Fails the script when it never shows.
demo=""
start_demo() {  # start_demo LEFT TOP
  "$ROOT/scripts/wine-run" "$dir/dorvantel-demo.exe" --at "$1,$2" --size 320x240 --title "Dorvantel screen" \
    --seconds 600 >"$work/demo.log" 2>&1 &
  demo=$!
  for _ in $(seq 600); do grep -q ready "$work/demo.log" && break; sleep 0.1; done
  grep -q ready "$work/demo.log" || { echo "FAIL - the demo window did not appear"; exit 1; }
  sleep 0.5
  screen=$(xdpyinfo | awk '/dimensions:/ {print $2}')
  xdotool mousemove "$(( ${screen%x*} - 10 ))" "$(( ${screen#*x} - 10 ))"
}
