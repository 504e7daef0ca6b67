#!/usr/bin/env bash
# Measures the desktop filter against the platform's own limit and writes the results into
# docs/: performance-runs.tsv (every run), performance-profile.tsv (where a frame's time
# goes), the results section of performance.md (medians, between its marker lines) and
# performance.png. `./run bench` calls it.
#
# Knobs: DORVANTEL_BENCH_SCREENS (default "1280x720 1920x1080"), DORVANTEL_BENCH_RUNS
# (repetitions per case, default 3), DORVANTEL_BENCH_SECONDS (measured seconds per run,
# default 1.5), DORVANTEL_BENCH_32 (1: also the 32-bit bare loops, once per screen; default 0,
# since where 32-bit code is emulated they add minutes and measure the emulator),
# DORVANTEL_BENCH_OUT (output folder, default docs/).
set -euo pipefail
source "$(dirname "$0")/common.sh"

SCREENS=${DORVANTEL_BENCH_SCREENS:-1280x720 1920x1080}
RUNS=${DORVANTEL_BENCH_RUNS:-3}
SECONDS_PER_RUN=${DORVANTEL_BENCH_SECONDS:-1.5}
WITH_32=${DORVANTEL_BENCH_32:-0}
OUT=${DORVANTEL_BENCH_OUT:-$ROOT/docs}
HIGH_QUALITY=7  # InterpolationModeHighQualityBicubic
LAYOUTS="rgb32 rgb24 rgb565 rgb555 rgb8"

# The cases of one screen, in the order each repetition runs them. A "-thread" bare loop
# runs on a thread of its own, as the filter's worker does.
cases_of() {
  local c
  for c in $LAYOUTS; do echo "gdi-$c gdi-$c-thread filter-$c"; done
  echo "grab-rgb32 grab-rgb32-thread grab-rgb565-thread filter-rgb32-cursor"
  for size in 1280x720 640x360; do
    for mode in 0 $HIGH_QUALITY; do echo "gdiplus-$size-$mode filter-rgb32-$size-$mode"; done
  done
}

profiles_of() {
  local c
  echo "profile-rgb32 profile-rgb565"
  for c in $LAYOUTS; do echo "profile-$c-thread"; done
  echo "profile-rgb32-cursor-thread profile-rgb32-1280x720-0-thread profile-rgb32-640x360-$HIGH_QUALITY-thread"
}

bits_list="64"
[ "$WITH_32" = 1 ] && bits_list="64 32"
bash "$ROOT/scripts/setup.sh" >/dev/null
for bits in $bits_list; do build_bits "$bits" --target dorvantel-bench >/dev/null; done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runs_file=$work/runs.tsv
profile_file=$work/profile.tsv
printf 'screen\tbits\trun\tcase\tok\tsize\tframes\tseconds\tfps\tcpu_ms\txserver_ms\tpeak_mb\tmean_byte\tnote\n' >"$runs_file"
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

started=$(date +%s)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for screen in $SCREENS; do
  (
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
    for run in $(seq "$RUNS"); do
      log "screen $screen: run $run of $RUNS"
      for c in $(cases_of); do
        bench 64 "${args[@]}" "$c" >"$work/case.txt"
        record "$screen" 64 "$run" "$work/case.txt"
      done
      ffmpeg_run "$screen" "$run"
    done
    log "screen $screen: step profiles"
    # Each in a process of its own, as the filter runs; the case's bare timings are as
    # sensitive to what ran before in the process as the cases above.
    for c in $(profiles_of); do
      bench 64 --seconds "$SECONDS_PER_RUN" "$c" | awk -v screen="$screen" '/^profile=/ {
        line = screen
        for (i = 1; i <= NF; i++) { split($i, kv, "="); line = line "\t" kv[2] }
        print line }' >>"$profile_file"
    done
    if [ "$WITH_32" = 1 ]; then
      # One process for all of them: a 32-bit process start costs about a minute where
      # 32-bit code is emulated, and multi-threaded 32-bit programs do not survive it.
      log "screen $screen: 32-bit bare loops"
      cases32=$(for c in $LAYOUTS; do echo "gdi-$c"; done; for size in 1280x720 640x360; do
        echo "gdiplus-$size-0 gdiplus-$size-$HIGH_QUALITY"; done)
      # shellcheck disable=SC2086
      bench 32 "${args[@]}" $cases32 >"$work/case.txt"
      record "$screen" 32 1 "$work/case.txt"
    fi
    kill "$PAINTER_PID" 2>/dev/null || true
  )
done
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
- Displays: $SCREENS; $RUNS runs of ${SECONDS_PER_RUN} s per case (64-bit), interleaved; 32-bit bare loops: $([ "$WITH_32" = 1 ] && echo "one run under qemu emulation" || echo "not run")
- Run on $(date -u '+%Y-%m-%d %H:%M UTC'), $elapsed s in all; load average before $load_before, after $load_after
EOF

python3 "$ROOT/scripts/bench_report.py" "$runs_file" "$profile_file" "$work/machine.txt" "$OUT"

gnuplot <<EOF
set terminal pngcairo size 1400,700 font "DejaVu Sans,10" noenhanced
set output "$OUT/performance.png"
set title "Dorvantel filter (64-bit) against the platform's ceiling: frames per second, median of $RUNS runs"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set ylabel "frames per second"
set xtics rotate by -40 left
set key top right
set grid ytics
set datafile separator "\t"
plot "$OUT/performance-plot.tsv" skip 1 using 3:xtic(1) title "ceiling: bare loop, main thread" lc rgb "#9aa7b8", \
     "" skip 1 using 4 title "bare loop on a worker thread" lc rgb "#c9a227", \
     "" skip 1 using 2 title "filter in Wine's graph" lc rgb "#2b6cb0"
EOF
rm -f "$OUT/performance-plot.tsv"
log "wrote $OUT/performance.md, performance.png, performance-runs.tsv, performance-profile.tsv ($elapsed s)"
