# What the settings program's GUI tests share (sourced after tests/support/checks.sh): its
# windows found by title, keys sent to them, screenshots waited for, and settings_probe.exe.

# The id of the first shown window whose title matches, waiting up to SECONDS (default 20).
window() {
  local id i
  for ((i = 0; i < ${2:-20} * 10; i++)); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.1
  done
  return 1
}
# Gives the window the keyboard (there is no window manager to do it).
focused() {  # focused TITLE WHAT
  local id
  id=$(window "$1") || { fail "no window \"$1\" for $2"; return 1; }
  xdotool windowfocus "$id"
  sleep 0.2
}
# Sends keys to the window, or types text into it.
keys() { focused "$1" "the keys ${*:2}" && xdotool key --delay 60 "${@:2}"; }  # keys TITLE KEY...
typed() { focused "$1" "typing" && xdotool type --delay 30 "$2"; }              # typed TITLE TEXT
# A screenshot of one window (its X geometry); $work is the test's folder.
snap() {  # snap TITLE PNG
  local id geometry
  id=$(window "$1") || return 1
  eval "$(xdotool getwindowgeometry --shell "$id")"
  import -window root "$work/root.png"
  crop "$work/root.png" "${WIDTH}x${HEIGHT}+${X}+${Y}" "$2"
}
# How many pixels of an image have exactly the colour (#RRGGBB).
count() { convert "$1" -fill black +opaque "$2" -fill white -opaque "$2" -format "%[fx:int(mean*w*h+0.5)]" info:; }
# Screenshots of the whole screen until the pixel has the colour (20 s at most), in PNG.
# Overlays are painted a moment after they show, later still on a busy machine.
painted() {  # painted PNG X Y R,G,B
  for _ in $(seq 100); do
    import -window root "$1"
    [ "$(pixel "$1" "$2" "$3")" = "$4" ] && return 0
    sleep 0.2
  done
  return 1
}
# settings_probe.exe (tests/settings/settings_probe.cpp), its output without carriage returns.
inside() { "$ROOT/scripts/wine-run" "$dir/tests/settings_probe.exe" "$@" | tr -d '\r'; }
