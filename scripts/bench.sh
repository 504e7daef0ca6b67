#!/usr/bin/env bash
# Measures the desktop filter against the platform's own limits and writes the results into
# docs/: performance-runs.tsv (every run), performance-profile.tsv (where a frame's time
# goes), the results section of performance.md (medians, between its marker lines) and
# performance.png. `./run bench` calls it.
#
# On each screen size, in a display of its own, one repetition runs every case once, each in
# a process of its own, so that a change in the machine's load spreads over all cases alike:
#   - the design's ceiling (a bare loop on a worker thread with a kept bitmap) and the filter
#     in Wine's graph, unpaced, in the five layouts; the scaled path to half the screen's size
#     against the same loop with GDI+ scaling, and with the filter's own scaler against the
#     unscaled filter;
#   - the filter on its own allocator (a counting sink without one, as ffmpeg's), whose
#     samples are grabbed in one pass, beside the Sample Grabber's row, with and without the
#     cursor; the cursor's cost in the graph at every size;
#   - ffmpeg 4.1 for Windows under Wine, its own GDI grabber (-f gdigrab) against the filter
#     (-f dshow): frames per second unpaced, CPU per frame at 30 frames a second;
#   - ffmpeg -f x11grab on Linux, for reference.
#
# Knobs: DORVANTEL_BENCH_SCREENS (default "1280x720 1920x1080 3840x2160"), DORVANTEL_BENCH_RUNS
# (repetitions per case, default 3), DORVANTEL_BENCH_SECONDS (measured seconds per run,
# default 1.5), DORVANTEL_BENCH_FFMPEG (0 leaves out the Windows ffmpeg rows; default 1),
# DORVANTEL_BENCH_32 (1: also the 32-bit ceilings, once per screen in one process; default 0),
# DORVANTEL_BENCH_OUT (output folder, default docs/), DORVANTEL_BENCH_MONITORS (0 leaves out
# the rows of the display of several monitors; default 1).
#
# DORVANTEL_BENCH_CASES=yuv runs only the YUV rows instead (docs/performance-yuv.md, its .tsv;
# the same DORVANTEL_BENCH_SCREENS, _RUNS, _SECONDS and _OUT): per screen size and repetition
#   - the filter's conversion of one grabbed frame into I420, NV12 and YUY2, on the fastest
#     path, SSE2 and the plain reference (bench case yuv-LAYOUT-PATH, one process for all);
#   - ffmpeg's own bgr0-to-yuv420p conversion of the same frame (written by the bench with
#     --raw-out), the Windows ffmpeg 4.1 under Wine and Linux ffmpeg: -benchmark's CPU of a
#     converting run less that of a run that converts nothing, over the frames;
#   - the grab: the design's ceiling, the library's grab, and the filter on its own allocator
#     in RGB32 and in each YUV format (what a host receives);
#   - ./run record into MP4 at 30 fps: --format rgb32 (ffmpeg converts) and --format i420 (the
#     filter converts), whole-process CPU of the recorder and ffmpeg (/usr/bin/time) of a
#     DORVANTEL_BENCH_RECORD_LONG-second run (default 5) less a 1-second one, over the frames.
set -euo pipefail
source "$(dirname "$0")/common.sh"

SCREENS=${DORVANTEL_BENCH_SCREENS:-1280x720 1920x1080 3840x2160}
RUNS=${DORVANTEL_BENCH_RUNS:-3}
SECONDS_PER_RUN=${DORVANTEL_BENCH_SECONDS:-1.5}
WITH_FFMPEG=${DORVANTEL_BENCH_FFMPEG:-1}
WITH_32=${DORVANTEL_BENCH_32:-0}
OUT=${DORVANTEL_BENCH_OUT:-$ROOT/docs}
LAYOUTS="rgb32 rgb24 rgb565 rgb555 rgb8 rgb555masks"
# The Windows ffmpeg rows: the unpaced span and the two lengths of the paced runs whose
# difference gives the CPU per frame with the program's start and end cancelled out.
FFMPEG_SHORT=1 FFMPEG_LONG=4
PRESET="Dorvantel unpaced"
CURSOR_PRESET="Dorvantel unpaced cursor"
# The screen where ffmpeg also records through the filter with the cursor drawn.
CURSOR_FFMPEG_SCREEN=3840x2160

half_of() { echo "$(( ${1%x*} / 2 ))x$(( ${1#*x} / 2 ))"; }

# The cases of one screen, in the order each repetition runs them: each filter case right
# after its ceiling.
cases_of() {
  local c
  for c in $LAYOUTS; do echo "ceiling-$c filter-$c"; done
  echo "own-rgb32 grab-rgb32-thread filter-rgb32-cursor own-rgb32-cursor"
  # The 16- and 8-bit formats as ffmpeg takes them: on the pin's own allocator.
  echo "own-rgb555 own-rgb565 own-rgb8"
  echo "ceiling-$(half_of "$1")-0 filter-rgb32-$(half_of "$1")-0"
  # The filter's own scaler (InterpolationMode 100), measured against the unscaled filter.
  echo "filter-rgb32-$(half_of "$1")-100"
}

profiles_of() {
  local c
  for c in $LAYOUTS; do echo "profile-$c-thread"; done
  echo "profile-rgb32-$(half_of "$1")-0-thread"
  echo "profile-rgb32-$(half_of "$1")-100-thread"
}
bits_list="64"
[ "$WITH_32" = 1 ] && bits_list="64 32"
bash "$ROOT/scripts/setup.sh" >/dev/null
for bits in $bits_list; do build_bits "$bits" --target dorvantel-bench >/dev/null; done
[ "$WITH_FFMPEG" = 1 ] && build_bits 64 --target dorvantel-register >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runs_file=$work/runs.tsv
profile_file=$work/profile.tsv
printf 'screen\tbits\trun\tcase\tok\tsize\tframes\tseconds\tfps\tcpu_ms\txserver_ms\tpeak_mb\tmean_byte\tnote\n' >"$runs_file"
: >"$work/loads"
printf 'screen\tcase\tframes\tcreate_ms\tclear_ms\tblit_ms\tcursor_ms\tscale_ms\tsection_ms\tconvert_ms\tdelete_ms\ttotal_ms\tfailed_blits\tmean_byte\n' >"$profile_file"

# key=value fields of one result line, as a row of runs.tsv.
record() {
  local screen=$1 bits=$2 run=$3
  awk -v screen="$screen" -v bits="$bits" -v run="$run" -F' ' '
    /^case=/ {
      delete f
      for (i = 1; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = substr($i, length(kv[1]) + 2) }
      printf "%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", screen, bits, run, f["case"], f["ok"],
        f["size"], f["frames"], f["seconds"], f["fps"], f["cpu_ms"], f["xserver_ms"], f["peak_mb"], f["mean_byte"],
        f["note"]
    }' "$4" >>"$runs_file"
}

server_ticks() { awk '{ sub(/.*\) /, ""); split($0, f, " "); print f[12] + f[13] }' "/proc/$1/stat"; }

# ffmpeg's own X11 capture of the same screen, for reference.
ffmpeg_run() {
  local screen=$1 run=$2 log=$work/ffmpeg.log before after
  before=$(server_ticks "$XVFB_PID")
  ffmpeg -hide_banner -benchmark -f x11grab -draw_mouse 0 -framerate 10000 -video_size "$screen" \
    -i "$DISPLAY" -t "$SECONDS_PER_RUN" -f null - >"$log" 2>&1 || true
  after=$(server_ticks "$XVFB_PID")
  tr '\r' '\n' <"$log" | awk -v screen="$screen" -v run="$run" -v server=$((after - before)) '
    /^frame=/ { sub(/^frame= */, ""); split($0, a, " "); frames = a[1] }
    /bench: utime/ { for (i = 1; i <= NF; i++) { split($i, kv, "="); sub(/s$/, "", kv[2]); t[kv[1]] = kv[2] } }
    /bench: maxrss/ { split($2, kv, "="); sub(/[a-zA-Z]+$/, "", kv[2]); rss = kv[2] / 1024 }
    END {
      ok = frames > 0 && t["rtime"] > 0
      printf "%s\t64\t%s\tffmpeg-x11grab\t%d\t%s\t%d\t%.3f\t%.2f\t%.3f\t%.3f\t%.1f\t-1\t\n", screen, run, ok, screen, frames,
        t["rtime"], ok ? frames / t["rtime"] : 0, ok ? 1000 * (t["utime"] + t["stime"]) / frames : 0,
        ok ? 10 * server / frames : -1, rss
    }' >>"$runs_file"
}

bench_exe() { echo "$BUILD/win$1/dorvantel-bench.exe"; }

# One run of the Windows ffmpeg: ffmpeg_once GRABBER FRAMERATE SECONDS prints "frames
# wall-seconds cpu-seconds xserver-seconds" (the CPU is ffmpeg's user + system time with its
# Wine loader, not wineserver's). GRABBER is gdigrab, dshow (the unpaced preset) or
# dshow-paced (the filter's own device, paced at FRAMERATE).
ffmpeg_once() {
  local input x0 x1 w0 w1 frames
  case $1 in
    gdigrab) input=(-f gdigrab -framerate "$2" -i desktop) ;;
    dshow) input=(-rtbufsize 512M -f dshow -framerate "$2" -i "video=$PRESET") ;;
    dshow-cursor) input=(-rtbufsize 512M -f dshow -framerate "$2" -i "video=$CURSOR_PRESET") ;;
    dshow-paced) input=(-rtbufsize 512M -f dshow -framerate "$2" -i video=Dorvantel) ;;
  esac
  x0=$(server_ticks "$XVFB_PID")
  w0=$(date +%s.%N)
  { TIMEFORMAT='%U %S'; time "$ROOT/scripts/wine-ffmpeg" 64 -hide_banner -nostdin "${input[@]}" \
      -t "$3" -vsync 0 -f null - >/dev/null 2>"$work/ffmpeg-win.log" </dev/null; } 2>"$work/time" || true
  w1=$(date +%s.%N)
  x1=$(server_ticks "$XVFB_PID")
  frames=$(tr '\r' '\n' <"$work/ffmpeg-win.log" | grep -o 'frame= *[0-9]*' | tail -n 1 | tr -dc 0-9)
  echo "${frames:-0} $(awk -v a="$w0" -v b="$w1" 'BEGIN { printf "%.3f", b - a }') \
$(awk '{ printf "%.3f", $1 + $2 }' "$work/time") $(awk -v a="$x0" -v b="$x1" 'BEGIN { printf "%.2f", (b - a) / 100 }')"
}

# A row of runs.tsv from a short and a long run of one grabber: frames per second, CPU and X
# server milliseconds per frame, each the difference of the two runs over the difference in
# frames, so that ffmpeg's start (Wine's, the graph's) cancels out.
ffmpeg_row() {  # ffmpeg_row SCREEN RUN CASE GRABBER FRAMERATE
  local short long
  short=$(ffmpeg_once "$4" "$5" "$FFMPEG_SHORT")
  long=$(ffmpeg_once "$4" "$5" "$FFMPEG_LONG")
  awk -v screen="$1" -v run="$2" -v name="$3" -v s="$short" -v l="$long" 'BEGIN {
    split(s, a, " "); split(l, b, " ")
    frames = b[1] - a[1]; wall = b[2] - a[2]
    ok = a[1] > 0 && frames > 0 && wall > 0
    d = ok ? frames : 1
    printf "%s\t64\t%s\t%s\t%d\t%s\t%d\t%.3f\t%.2f\t%.3f\t%.3f\t-1\t-1\t%s\n", screen, run, name, ok, screen,
      frames, wall, ok ? frames / wall : 0, 1000 * (b[3] - a[3]) / d, 1000 * (b[4] - a[4]) / d,
      ok ? "" : "recorded-nothing"
  }' >>"$runs_file"
}

# The filter's device, and presets of it with their pacing off (one with the cursor drawn),
# for the Windows ffmpeg; a preset's FramePacing value is written beside the values the
# register tool writes.
register_devices() {
  local exe=$BUILD/win64/dorvantel-register.exe key
  "$ROOT/scripts/wine-run" "$exe" register >/dev/null 2>&1 </dev/null
  "$ROOT/scripts/wine-run" "$exe" register --name "$PRESET" >/dev/null 2>&1 </dev/null
  "$ROOT/scripts/wine-run" "$exe" register --name "$CURSOR_PRESET" --cursor >/dev/null 2>&1 </dev/null
  for key in "$(preset_key "$PRESET")" "$(preset_key "$CURSOR_PRESET")"; do
    "$(wine64_loader)" reg add "$key" /v FramePacing /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
  done
}
# The registry key of a preset's values: the video input category's instance whose
# FriendlyName is the name given.
preset_key() {
  local category='HKEY_CLASSES_ROOT\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance'
  "$(wine64_loader)" reg query "$category" /s </dev/null 2>/dev/null | tr -d '\r' |
    awk -v name="$1" '/^HKEY_/ { key = $0 } $1 == "FriendlyName" { sub(/^ *FriendlyName +REG_SZ +/, ""); if ($0 == name) { print key; exit } }'
}
unregister_devices() {
  "$ROOT/scripts/wine-run" "$BUILD/win64/dorvantel-register.exe" unregister --all >/dev/null 2>&1 </dev/null || true
}

# Runs the benchmark program of one bitness; its output goes to a file, not a pipe, since
# Wine's helper processes may keep a pipe open long after the program ends.
bench() {
  local bits=$1 out=$work/out.txt
  shift
  "$ROOT/scripts/wine-run" "$(bench_exe "$bits")" "$@" >"$out" 2>/dev/null </dev/null || true
  tr -d '\r' <"$out"
}

# Something to capture: a colour gradient in a window that covers the screen. It stays open
# for the screen's session; a painted root window would not last, since Xvfb resets when its
# last client leaves, as it may between two Wine processes.
paint_screen() {
  convert -size "$1" gradient:'#d04020'-'#2060c0' "$work/screen.png"
  display -geometry +0+0 -immutable "$work/screen.png" >/dev/null 2>&1 &
  PAINTER_PID=$!
  sleep 1
}

machine_lines() {  # machine_lines ELAPSED LOAD-BEFORE
  local wine_version cpu
  wine_version=$("$(wine64_loader)" --version 2>/dev/null || echo unknown)
  cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
  cat <<EOF2
- Machine: $(nproc) cores ($cpu), $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) memory, $(uname -sr)
- Wine: $wine_version; Xvfb $(dpkg-query -W -f='${Version}' xvfb 2>/dev/null || echo unknown), 24-bit depth; ffmpeg $(ffmpeg -version 2>/dev/null | awk 'NR == 1 { print $3 }')
- Run on $(date -u '+%Y-%m-%d %H:%M UTC'), $1 s in all; load average before $2, after $(cut -d' ' -f1-3 /proc/loadavg); 1-minute load at the start of each repetition $(sort -n "$work/loads" | awk 'NR == 1 { lo = $1 } { hi = $1 } END { print lo " to " hi }')
EOF2
}

# ffmpeg's conversion of the grabbed frame ($work/frame.raw, bgr0): a row of runs.tsv whose
# cpu_ms is the CPU per frame of a run into yuv420p less that of a run that converts nothing.
yuv_ffmpeg_row() {  # yuv_ffmpeg_row SCREEN RUN CASE FRAMES COMMAND...
  local screen=$1 run=$2 name=$3 frames=$4 pf
  shift 4
  local -a times=()
  for pf in bgr0 yuv420p; do
    "$@" -hide_banner -nostdin -benchmark -f rawvideo -pix_fmt bgr0 -video_size "$screen" -stream_loop -1 \
      -i "$YUV_RAW" -frames:v "$frames" -pix_fmt "$pf" -f null - >"$work/conv.log" 2>&1 </dev/null || true
    times+=("$(tr '\r' '\n' <"$work/conv.log" | awk '/bench: utime/ { for (i = 1; i <= NF; i++) {
      split($i, kv, "="); sub(/s$/, "", kv[2]); t[kv[1]] = kv[2] } } /^frame=/ { sub(/^frame= */, ""); split($0, a, " "); n = a[1] }
      END { printf "%d %.3f %.3f", n, t["utime"] + t["stime"], t["rtime"] }')")
  done
  awk -v screen="$screen" -v run="$run" -v name="$name" -v p="${times[0]}" -v c="${times[1]}" 'BEGIN {
    split(p, a, " "); split(c, b, " ")
    ok = a[1] > 0 && b[1] == a[1]
    d = ok ? b[1] : 1
    printf "%s\t64\t%s\t%s\t%d\t%s\t%d\t%.3f\t%.2f\t%.3f\t-1\t-1\t-1\tall_ms=%.3f\n", screen, run, name, ok, screen, b[1],
      b[3] - a[3], (ok && b[3] > a[3]) ? b[1] / (b[3] - a[3]) : 0, 1000 * (b[2] - a[2]) / d, 1000 * b[2] / d
  }' >>"$runs_file"
}

# One ./run record into MP4: prints "frames delivered-fps cpu-seconds xserver-seconds".
record_once() {  # record_once FORMAT SECONDS
  local x0 x1 frames fps
  x0=$(server_ticks "$XVFB_PID")
  DORVANTEL_PREBUILT=1 /usr/bin/time -f '%U %S' -o "$work/rec.time" "$ROOT/run" record "$work/rec.mp4" \
    --format "$1" --rate 30 --seconds "$2" >/dev/null 2>"$work/rec.log" </dev/null || true
  x1=$(server_ticks "$XVFB_PID")
  frames=$(tr '\r' '\n' <"$work/rec.log" | grep -o '[0-9]* frames, [0-9.]* s' | tail -n 1 | cut -d' ' -f1)
  fps=$(tr '\r' '\n' <"$work/rec.log" | grep -o 'delivered [0-9.]* frames per second' | tail -n 1 | cut -d' ' -f2)
  echo "${frames:-0} ${fps:-30} $(awk '{ printf "%.3f", $1 + $2 }' "$work/rec.time") $(awk -v a="$x0" -v b="$x1" 'BEGIN { printf "%.2f", (b - a) / 100 }')"
}

# A row of runs.tsv from a short and a long recording: CPU and X server milliseconds per frame
# as the difference of the two over the difference in frames (the programs' start cancels).
record_row() {  # record_row SCREEN RUN FORMAT
  local short long
  short=$(record_once "$3" 1)
  long=$(record_once "$3" "$RECORD_LONG")
  awk -v screen="$1" -v run="$2" -v name="record-$3" -v s="$short" -v l="$long" -v secs="$RECORD_LONG" 'BEGIN {
    split(s, a, " "); split(l, b, " ")
    frames = b[1] - a[1]
    # A recording that falls behind can end the short run with more CPU than the long one.
    ok = a[1] > 0 && frames > 0 && b[3] > a[3]
    d = ok ? frames : 1
    printf "%s\t64\t%s\t%s\t%d\t%s\t%d\t%s\t%.2f\t%.3f\t%.3f\t-1\t-1\tall_ms=%.3f\n", screen, run, name, ok, screen, b[1],
      secs, b[2], 1000 * (b[3] - a[3]) / d, 1000 * (b[4] - a[4]) / d, (b[1] > 0) ? 1000 * b[3] / b[1] : 0
  }' >>"$runs_file"
}

YUV_CASES="yuv-i420-fast yuv-nv12-fast yuv-yuy2-fast yuv-i420-sse2 yuv-nv12-sse2 yuv-yuy2-sse2
yuv-i420-reference yuv-nv12-reference yuv-yuy2-reference"
YUV_GRAB_CASES="ceiling-rgb32 grab-rgb32-thread own-rgb32 own-i420 own-nv12 own-yuy2"
RECORD_LONG=${DORVANTEL_BENCH_RECORD_LONG:-5}
if [ "${DORVANTEL_BENCH_CASES:-}" = yuv ]; then
  build_bits 64 --target dorvantel64 dorvantel-record >/dev/null
  started=$(date +%s)
  load_before=$(cut -d' ' -f1-3 /proc/loadavg)
  YUV_RAW_LINUX=$work/frame.raw
  for screen in $SCREENS; do
    (
      trap - EXIT
      unset DISPLAY
      export DORVANTEL_SCREEN=${screen}x24
      ensure_display
      ensure_prefix
      bench 64 --seconds 0.5 gdi-rgb32 >/dev/null
      sleep 3
      paint_screen "$screen"
      pixels=$(( ${screen%x*} * ${screen#*x} ))
      # About a second of ffmpeg's conversion at any size.
      frames=$(( 600 * 921600 / pixels ))
      for run in $(seq "$RUNS"); do
        log "screen $screen: YUV run $run of $RUNS"
        cut -d' ' -f1 /proc/loadavg >>"$work/loads"
        # shellcheck disable=SC2086
        bench 64 --seconds "$SECONDS_PER_RUN" --xserver-pid "$XVFB_PID" --raw-out "Z:${YUV_RAW_LINUX//\//\\}" \
          $YUV_CASES >"$work/case.txt"
        record "$screen" 64 "$run" "$work/case.txt"
        for c in $YUV_GRAB_CASES; do
          bench 64 --seconds "$SECONDS_PER_RUN" --xserver-pid "$XVFB_PID" "$c" >"$work/case.txt"
          record "$screen" 64 "$run" "$work/case.txt"
        done
        YUV_RAW="Z:${YUV_RAW_LINUX//\//\\}" yuv_ffmpeg_row "$screen" "$run" ffmpeg-win-yuv420p "$frames" \
          "$ROOT/scripts/wine-ffmpeg" 64
        YUV_RAW=$YUV_RAW_LINUX yuv_ffmpeg_row "$screen" "$run" ffmpeg-linux-yuv420p "$frames" ffmpeg
        record_row "$screen" "$run" rgb32
        record_row "$screen" "$run" i420
      done
      kill "$PAINTER_PID" 2>/dev/null || true
    )
  done
  mkdir -p "$OUT"
  cp "$runs_file" "$OUT/performance-yuv.tsv"
  machine_lines $(( $(date +%s) - started )) "$load_before" >"$work/machine.txt"
  echo "- Displays: $SCREENS; $RUNS runs of ${SECONDS_PER_RUN} s per bench case, interleaved; recordings of 1 and $RECORD_LONG s at 30 fps" >>"$work/machine.txt"
  grep -q -- '--format i420' "$ROOT/recorder/record.sh" &&
    echo "- recorder/record.sh passes --format i420 by default here; both rows name their --format explicitly" >>"$work/machine.txt"
  if ! python3 "$ROOT/scripts/bench_report.py" --yuv "$runs_file" "$work/machine.txt" "$OUT/performance-yuv.md"; then
    cp "$work/machine.txt" "$OUT/performance-yuv-machine.txt"
    log "no report: the runs are in $OUT/performance-yuv.tsv, the machine's lines in performance-yuv-machine.txt"
    exit 1
  fi
  log "wrote $OUT/performance-yuv.md, performance-yuv.tsv"
  exit 0
fi

started=$(date +%s)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for screen in $SCREENS; do
  (
    # The display, wineserver and the registrations end with this subshell; the work folder
    # lives on.
    trap - EXIT
    [ "$WITH_FFMPEG" = 1 ] && on_exit unregister_devices
    unset DISPLAY
    export DORVANTEL_SCREEN=${screen}x24
    ensure_display
    ensure_prefix
    args=(--seconds "$SECONDS_PER_RUN" --xserver-pid "$XVFB_PID")
    # The first Wine process of a session starts Wine's own services; let them settle, then
    # paint the screen (the desktop they start would paint over it).
    bench 64 --seconds 0.5 gdi-rgb32 >/dev/null
    sleep 3
    paint_screen "$screen"
    [ "$WITH_FFMPEG" = 1 ] && register_devices
    for run in $(seq "$RUNS"); do
      log "screen $screen: run $run of $RUNS"
      cut -d' ' -f1 /proc/loadavg >>"$work/loads"
      for c in $(cases_of "$screen"); do
        bench 64 "${args[@]}" "$c" >"$work/case.txt"
        record "$screen" 64 "$run" "$work/case.txt"
      done
      if [ "$WITH_FFMPEG" = 1 ]; then
        ffmpeg_row "$screen" "$run" ffmpeg-gdigrab gdigrab 1000
        ffmpeg_row "$screen" "$run" ffmpeg-dshow dshow 1000
        ffmpeg_row "$screen" "$run" ffmpeg-gdigrab-30 gdigrab 30
        ffmpeg_row "$screen" "$run" ffmpeg-dshow-30 dshow-paced 30
        if [ "$screen" = "$CURSOR_FFMPEG_SCREEN" ]; then
          ffmpeg_row "$screen" "$run" ffmpeg-dshow-cursor dshow-cursor 1000
        fi
      fi
      ffmpeg_run "$screen" "$run"
    done
    log "screen $screen: step profiles"
    # Each in a process of its own, as the filter runs; the case's bare timings are as
    # sensitive to what ran before in the process as the cases above.
    for c in $(profiles_of "$screen"); do
      bench 64 --seconds "$SECONDS_PER_RUN" "$c" | awk -v screen="$screen" '/^profile=/ {
        line = screen
        for (i = 1; i <= NF; i++) { split($i, kv, "="); line = line "\t" kv[2] }
        print line }' >>"$profile_file"
    done
    if [ "$WITH_32" = 1 ]; then
      # One process for all of them: a 32-bit process start costs about a minute where
      # 32-bit code is emulated, and multi-threaded 32-bit programs do not survive it.
      log "screen $screen: 32-bit ceilings"
      cases32="$(for c in $LAYOUTS; do echo "ceiling-$c"; done) ceiling-$(half_of "$screen")-0"
      # shellcheck disable=SC2086
      bench 32 "${args[@]}" $cases32 >"$work/case.txt"
      record "$screen" 32 1 "$work/case.txt"
    fi
    kill "$PAINTER_PID" 2>/dev/null || true
  )
done
# The display of several monitors (scripts/common.sh: the primary 1024x768, one of 800x600
# left of it, one of 640x480 above it; the desktop 1824x1248): the bare loop, the grab and the
# filter of the primary display, of each monitor and of the whole desktop, and the left monitor
# on the program's main thread, into performance-monitors.md (bench_report.py --monitors). A
# monitor's frame costs its own pixels, not the desktop's.
MONITOR_CASES="ceiling-rgb32 grab-rgb32-thread grab-rgb32-monitor1-thread grab-rgb32-monitor2-thread
grab-rgb32-monitor2 grab-rgb32-monitor3-thread grab-rgb32-desktop-thread filter-rgb32 filter-rgb32-monitor1
filter-rgb32-monitor2 filter-rgb32-monitor3 filter-rgb32-desktop own-rgb32-monitor1 own-rgb32-monitor2"
monitors_file=$work/monitors.tsv
head -n 1 "$runs_file" >"$monitors_file"
if [ "${DORVANTEL_BENCH_MONITORS:-1}" = 1 ]; then
  (
    trap - EXIT
    status=0
    use_monitor_display || status=$?
    if [ "$status" -ne 0 ]; then
      log "no display of several monitors here (Xorg needs root): no monitor rows"
      exit 0
    fi
    bench 64 --seconds 0.5 gdi-rgb32 >/dev/null
    sleep 3
    paint_screen 1824x1248
    runs_file=$monitors_file
    for run in $(seq "$RUNS"); do
      log "several monitors: run $run of $RUNS"
      cut -d' ' -f1 /proc/loadavg >>"$work/loads"
      for c in $MONITOR_CASES; do
        bench 64 --seconds "$SECONDS_PER_RUN" --xserver-pid "$MONITORS_XORG_PID" "$c" >"$work/case.txt"
        record monitors 64 "$run" "$work/case.txt"
      done
    done
    kill "$PAINTER_PID" 2>/dev/null || true
  )
fi

load_after=$(cut -d' ' -f1-3 /proc/loadavg)
elapsed=$(( $(date +%s) - started ))

mkdir -p "$OUT"
cp "$runs_file" "$OUT/performance-runs.tsv"
cp "$profile_file" "$OUT/performance-profile.tsv"

# The machine the figures come from.
wine_version=$("$(wine64_loader)" --version 2>/dev/null || echo unknown)
cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
cat >"$work/machine.txt" <<EOF
- Machine: $(nproc) cores ($cpu), $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) memory, $(uname -sr)
- Wine: $wine_version; Xvfb $(dpkg-query -W -f='${Version}' xvfb 2>/dev/null || echo unknown), 24-bit depth; ffmpeg $(ffmpeg -version 2>/dev/null | awk 'NR == 1 { print $3 }')
- Displays: $SCREENS; $RUNS runs of ${SECONDS_PER_RUN} s per case (64-bit), interleaved; 32-bit ceilings: $([ "$WITH_32" = 1 ] && echo "one run$(i386_emulated && echo ' under qemu emulation')" || echo "not run")
- Run on $(date -u '+%Y-%m-%d %H:%M UTC'), $elapsed s in all; load average before $load_before, after $load_after; 1-minute load at the start of each repetition $(sort -n "$work/loads" | awk 'NR == 1 { lo = $1 } { hi = $1 } END { print lo " to " hi }') (the benchmark itself keeps about one core busy)
EOF

python3 "$ROOT/scripts/bench_report.py" "$runs_file" "$profile_file" "$work/machine.txt" "$OUT"
if [ "$(wc -l <"$monitors_file")" -gt 1 ]; then
  cp "$monitors_file" "$OUT/performance-monitors.tsv"
  python3 "$ROOT/scripts/bench_report.py" --monitors "$monitors_file" "$work/machine.txt" "$OUT/performance-monitors.md"
fi

gnuplot <<EOF
set terminal pngcairo size 1400,700 font "DejaVu Sans,10" noenhanced
set output "$OUT/performance.png"
set title "Dorvantel filter (64-bit) against the design's ceiling: frames per second, median of $RUNS runs"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set ylabel "frames per second (log scale)"
set logscale y
set xtics rotate by -40 left
set key top right
set grid ytics
set datafile separator "\t"
plot "$OUT/performance-plot.tsv" skip 1 using 3:xtic(1) title "ceiling: bare loop, kept bitmap, worker thread" lc rgb "#9aa7b8", \
     "" skip 1 using 2 title "filter in Wine's graph" lc rgb "#2b6cb0"
EOF
rm -f "$OUT/performance-plot.tsv"
log "wrote $OUT/performance.md, performance.png, performance-runs.tsv, performance-profile.tsv ($elapsed s)"
