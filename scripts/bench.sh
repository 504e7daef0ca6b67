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
wine_version=$("$WINE64" --version 2>/dev/null || echo unknown)
cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
cat >"$work/machine.txt" <<EOF
- Machine: $(nproc) cores ($cpu), $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) memory, $(uname -sr)
- Wine: $wine_version; Xvfb $(dpkg-query -W -f='${Version}' xvfb 2>/dev/null || echo unknown), 24-bit depth; ffmpeg $(ffmpeg -version 2>/dev/null | awk 'NR == 1 { print $3 }')
- Displays: $SCREENS; $RUNS runs of ${SECONDS_PER_RUN} s per case (64-bit), interleaved; 32-bit bare loops: $([ "$WITH_32" = 1 ] && echo "one run under qemu emulation" || echo "not run")
- Run on $(date -u '+%Y-%m-%d %H:%M UTC'), $elapsed s in all; load average before $load_before, after $load_after
EOF

python3 - "$runs_file" "$profile_file" "$work/machine.txt" "$OUT" <<'PYTHON'
import csv, statistics, sys
runs_path, profile_path, machine_path, out = sys.argv[1:5]
rows = [r for r in csv.DictReader(open(runs_path), delimiter="\t")]

def median(values):
    return statistics.median(values) if values else None

stats = {}
for r in rows:
    key = (r["screen"], r["bits"], r["case"])
    entry = stats.setdefault(key, {"fps": [], "cpu_ms": [], "xserver_ms": [], "peak_mb": [], "mean_byte": [],
                                   "failed": 0})
    if r["ok"] != "1":
        entry["failed"] += 1
        continue
    for field in ("fps", "cpu_ms", "xserver_ms", "peak_mb", "mean_byte"):
        value = float(r[field] or -1)
        if field in ("xserver_ms", "mean_byte") and value < 0:
            continue
        entry[field].append(value)

def ceiling_of(case):
    """The bare loop that bounds a filter or grab case: the issue's ceiling, on the main thread."""
    parts = case.split("-")
    if parts[0] not in ("filter", "grab"):
        return None
    rest = [p for p in parts[2:] if p not in ("cursor", "thread")]
    if rest:
        return "gdiplus-" + "-".join(rest)
    return "gdi-" + parts[1]

def thread_ceiling_of(case):
    """The same bare loop on a thread of its own, as the filter's worker grabs."""
    ceiling = ceiling_of(case)
    return ceiling + "-thread" if ceiling and ceiling.startswith("gdi-") else None

def fps_of(screen, case):
    return median(stats.get((screen, "64", case), {}).get("fps", [])) if case else None

def describe(case):
    parts = case.split("-")
    names = {"gdi": "bare GDI loop", "gdiplus": "bare GDI+ scaling loop", "filter": "filter in graph",
             "grab": "library grab, no graph", "ffmpeg": "ffmpeg x11grab (reference)"}
    text = names.get(parts[0], case)
    detail = []
    for p in parts[1:]:
        if p.startswith("rgb"):
            detail.append(p.upper())
        elif p == "cursor":
            detail.append("cursor")
        elif p == "thread":
            detail.append("on a worker thread")
        elif "x" in p:
            detail.append("to " + p.replace("x", "×"))
        elif p.isdigit():
            detail.append("high-quality bicubic" if p == "7" else "default interpolation")
    if parts[0] == "gdiplus":
        detail.insert(0, "RGB32")
    return text + (", " + " ".join(detail) if detail and parts[0] != "ffmpeg" else "")

def fmt(value, digits=1):
    return "–" if value is None else f"{value:.{digits}f}"

screens = []
for r in rows:
    if r["screen"] not in screens:
        screens.append(r["screen"])
order = []
for r in rows:
    key = (r["screen"], r["bits"], r["case"])
    if key not in order:
        order.append(key)

lines = ["<!-- results:begin (written by scripts/bench.sh) -->", ""]
lines += open(machine_path).read().splitlines()
lines += ["", "Medians over the runs. CPU is the process's user + system time per frame (all its threads);",
          "X server is the Xvfb process's CPU per frame over the same window. Ratio: the row's frames per",
          "second over its ceiling's (the bare loop of the same layout, or of the same scaling).", ""]
below = []
for screen in screens:
    lines += [f"### Display {screen.replace('x', '×')}", "",
              "| case | what | fps | CPU ms/frame | X server ms/frame | peak MiB | ceiling fps | ratio | "
              "worker-thread ceiling fps | ratio |",
              "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for key in order:
        if key[0] != screen or key[1] != "64":
            continue
        case = key[2]
        s = stats[key]
        fps = median(s["fps"])
        ceiling_fps = fps_of(screen, ceiling_of(case))
        ratio = fps / ceiling_fps if fps and ceiling_fps else None
        thread_fps = fps_of(screen, thread_ceiling_of(case))
        thread_ratio = fps / thread_fps if fps and thread_fps else None
        if ratio is not None and ratio < 0.95 and case.startswith("filter"):
            below.append((screen, case, ratio))
        notes = []
        if s["failed"]:
            notes.append(f"{s['failed']} failed")
        mean = median(s["mean_byte"])
        if mean is not None and mean < 5:
            notes.append("**black frames**")
        note = f" ({', '.join(notes)})" if notes else ""
        lines.append(f"| `{case}` | {describe(case)}{note} | {fmt(fps)} | {fmt(median(s['cpu_ms']), 2)} | "
                     f"{fmt(median(s['xserver_ms']), 2)} | {fmt(median(s['peak_mb']))} | "
                     f"{fmt(ceiling_fps)} | {fmt(ratio, 2)} | {fmt(thread_fps)} | {fmt(thread_ratio, 2)} |")
    lines.append("")
    bits32 = [k for k in order if k[0] == screen and k[1] == "32"]
    if bits32:
        lines += [f"32-bit bare loops on {screen.replace('x', '×')}, one run under qemu user emulation "
                  "(emulated code: not the 32-bit platform's real speed):", "",
                  "| case | fps | CPU ms/frame |", "|---|---:|---:|"]
        for key in bits32:
            s = stats[key]
            lines.append(f"| `{key[2]}` | {fmt(median(s['fps']))} | {fmt(median(s['cpu_ms']), 2)} |")
        lines.append("")

profiles = list(csv.DictReader(open(profile_path), delimiter="\t"))
if profiles:
    steps = ["create", "clear", "blit", "cursor", "scale", "section", "convert", "delete"]
    lines += ["### Where a frame's time goes", "",
              "The grab's steps re-enacted with a timer around each (mean ms per frame, one run):", "",
              "| display | case | " + " | ".join(steps) + " | total |", "|---|---|" + "---:|" * (len(steps) + 1)]
    for p in profiles:
        lines.append(f"| {p['screen']} | `{p['case']}` | " +
                     " | ".join(fmt(float(p[s + '_ms']), 2) for s in steps) + f" | {fmt(float(p['total_ms']), 2)} |")
    lines.append("")

if below:
    lines += ["Filter rows below 0.95 of their ceiling in this run: " +
              ", ".join(f"`{c}` on {s} ({r:.2f})" for s, c, r in below) + ".", ""]
lines += ["![frames per second against the ceiling](performance.png)", "", "<!-- results:end -->"]

doc_path = out + "/performance.md"
try:
    doc = open(doc_path).read()
except FileNotFoundError:
    doc = "# Performance\n\n<!-- results:begin -->\n<!-- results:end -->\n"
start = doc.index("<!-- results:begin")
end = doc.index("<!-- results:end -->") + len("<!-- results:end -->")
open(doc_path, "w").write(doc[:start] + "\n".join(lines) + doc[end:])

# Data for the plot: one line per filter row, with its ceiling, per screen.
with open(out + "/performance-plot.tsv", "w") as plot:
    plot.write("label\tfilter_fps\tceiling_fps\tthread_ceiling_fps\n")
    for screen in screens:
        for key in order:
            if key[0] != screen or key[1] != "64" or not key[2].startswith("filter"):
                continue
            fps = median(stats[key]["fps"]) or 0
            ceiling_fps = fps_of(screen, ceiling_of(key[2])) or 0
            thread_fps = fps_of(screen, thread_ceiling_of(key[2])) or 0
            label = key[2].replace("filter-", "").replace("-cursor", "+cursor").replace("-", " ")
            plot.write(f"\"{screen} {label}\"\t{fps:.2f}\t{ceiling_fps:.2f}\t{thread_fps:.2f}\n")
PYTHON

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
