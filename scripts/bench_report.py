#!/usr/bin/env python3
# Tabulates the benchmark's runs: medians per case, the ratios the goals name, the report's tables.
# Called by bench.sh: bench_report.py RUNS PROFILE MACHINE OUT
#                 and: bench_report.py --monitors RUNS MACHINE OUT.md   (the display of several monitors)
import csv, statistics, sys
monitors_mode = sys.argv[1] == "--monitors"
if monitors_mode:
    runs_path, machine_path, monitors_out = sys.argv[2:5]
else:
    runs_path, profile_path, machine_path, out = sys.argv[1:5]
rows = [r for r in csv.DictReader(open(runs_path), delimiter="\t")]

# The goals, each a ratio of two rows measured in one run.
CEILING_GOAL = 0.95     # filter / design ceiling, every format at every size; scaled path / GDI+ ceiling
FFMPEG_FPS_GOAL = 2.5   # ffmpeg through the filter / ffmpeg gdigrab, unpaced, at 1920x1080
FFMPEG_CPU_GOAL = 0.5   # ffmpeg through the filter / ffmpeg gdigrab, CPU per frame at 30 fps (at most)
FFMPEG_SCREEN = "1920x1080"
CURSOR_GOAL = 0.95      # the filter with the cursor / without it, frames per second, at every size
ONE_PASS_GOAL = 1.25    # the filter on its own allocator (one pass), RGB32 / design ceiling
ONE_PASS_SCREENS = ("1920x1080", "3840x2160")
SCALED_SCREEN = "3840x2160"
# The filter's own scaler (InterpolationMode 100) to half the screen / the unscaled filter, per screen.
FAST_MODE = "100"
FAST_GOALS = {"3840x2160": 0.7, "1280x720": 0.8}


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
        if field in ("xserver_ms", "peak_mb", "mean_byte") and value < 0:
            continue
        entry[field].append(value)


def ceiling_of(case):
    """The bare loop that bounds a filter or grab case: the design's ceiling of the same layout or scaling."""
    parts = case.split("-")
    if parts[0] not in ("filter", "grab", "own"):
        return None
    if parts[-1] == FAST_MODE:
        # No bare loop bounds the filter's own scaler: it is held against the unscaled filter.
        return "filter-" + parts[1]
    rest = [p for p in parts[2:] if p not in ("cursor", "thread")]
    return "ceiling-" + ("-".join(rest) if rest else parts[1])


def value(screen, case, field, bits="64"):
    return median(stats.get((screen, bits, case), {}).get(field, [])) if case else None


def describe(case):
    parts = case.split("-")
    names = {"ceiling": "design's ceiling", "gdi": "bare GDI loop, new bitmap each frame",
             "filter": "filter in graph", "grab": "library grab, no graph",
             "own": "filter on its own allocator (one pass), counting sink without an allocator"}
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
            detail.append("scaled to " + p.replace("x", "×"))
        elif p == FAST_MODE:
            detail.append("with the filter's own scaler (fast)")
        elif p.isdigit():
            detail.append("high-quality bicubic" if p == "7" else "default interpolation")
    if parts[0] == "ceiling" and detail and detail[0].startswith("scaled"):
        detail.insert(0, "GDI+, RGB32")
    return text + (", " + " ".join(detail) if detail else "")


def fmt(number, digits=1):
    return "–" if number is None else f"{number:.{digits}f}"


def ratio(a, b):
    return a / b if a is not None and b else None


screens = []
for r in rows:
    if r["screen"] not in screens:
        screens.append(r["screen"])
order = []
for r in rows:
    key = (r["screen"], r["bits"], r["case"])
    if key not in order:
        order.append(key)



def megapixels(case, screen="monitors"):
    width, height = (stats_size.get((screen, case)) or "0x0").split("x")
    return int(width) * int(height) / 1e6


def write_monitors_report():
    """performance-monitors.md: the display of several monitors, each row against the bare loop."""
    screen = "monitors"
    ceiling = "ceiling-rgb32"
    ceiling_fps = value(screen, ceiling, "fps")
    ceiling_rate = ceiling_fps * megapixels(ceiling) if ceiling_fps else None

    def per_megapixel(case):
        cpu, mp = value(screen, case, "cpu_ms"), megapixels(case)
        return cpu / mp if cpu is not None and mp else None

    runs = max((len(stats[k]["fps"]) + stats[k]["failed"] for k in order), default=0)
    lines = ["# Several monitors: what one monitor and the whole desktop cost", "",
             "Written by `./run bench` (scripts/bench.sh, scripts/bench_report.py) on the display of several monitors",
             "(the primary 1024x768 at 0,0, 800x600 left of it, 640x480 above it; the desktop 1824x1248 with parts",
             f"no monitor shows), 64-bit, unpaced, rgb32; medians of {runs} runs, each case in a process of its own.", ""]
    # The machine's lines but the one naming the single-display screens.
    lines += [line for line in open(machine_path).read().splitlines() if not line.startswith("- Displays:")]
    lines += ["", "grab: the library's grab alone (on a thread of its own with `-thread`, else on the program's main",
              "thread); filter: in Wine's graph (Sample Grabber, Null Renderer); own: on its own allocator, no graph;",
              "`ceiling-rgb32`: the bare loop (a kept bitmap, BitBlt of the \"DISPLAY\" device context's 1024x768,",
              "GetDIBits, on a thread of its own). Ratio: frames per second over the bare loop's; pixel ratio: pixels",
              "per second over the bare loop's, which compares frames of different sizes (1 when a row moves pixels",
              "as fast as the bare loop).", "",
              "| case | size | frames/s | CPU ms/frame | CPU ms per megapixel | X server ms/frame | ratio | pixel ratio |",
              "|---|---|---:|---:|---:|---:|---:|---:|"]
    for key in order:
        case = key[2]
        s = stats[key]
        fps = median(s["fps"])
        rate = fps * megapixels(case) if fps is not None else None
        note = f" ({s['failed']} failed)" if s["failed"] else ""
        mean = median(s["mean_byte"])
        if mean is not None and mean < 5:
            note += " (**black frames**)"
        lines.append(f"| `{case}`{note} | {stats_size.get((screen, case), '–')} | {fmt(fps)} | "
                     f"{fmt(median(s['cpu_ms']), 2)} | {fmt(per_megapixel(case), 2)} | {fmt(median(s['xserver_ms']), 2)} | "
                     f"{fmt(ratio(fps, ceiling_fps), 2)} | {fmt(ratio(rate, ceiling_rate), 2)} |")

    # The reading: each row's CPU per megapixel against the primary's grab on a thread of its own.
    reading = ["", "## Reading of this run", ""]
    reference = per_megapixel("grab-rgb32-thread")
    apart = []
    if reference:
        reading.append(f"The primary's grab on a thread of its own costs {reference:.2f} ms of CPU per megapixel. "
                       "A frame that costs its pixels stays near that figure:")
        reading.append("")
        for key in order:
            case = key[2]
            cost = per_megapixel(case)
            if cost is None or case == ceiling:
                continue
            times = cost / reference
            reading.append(f"- `{case}`: {cost:.2f} ms per megapixel ({times:.1f} times the primary's)")
            if times > 3:
                apart.append(case)
        reading.append("")
    if apart:
        reading.append("Rows that cost more than three times their pixels: " +
                       ", ".join(f"`{c}`" for c in apart) + ".")
    elif reference:
        reading.append("Every row costs its pixels: none more than three times the primary's cost per megapixel.")
    left = {case: value(screen, case, "cpu_ms") for case in
            ("grab-rgb32-monitor2-thread", "grab-rgb32-monitor2", "filter-rgb32-monitor2", "own-rgb32-monitor2")}
    if all(v is not None for v in left.values()):
        reading += ["", "The left monitor (800x600 at -800,0), CPU ms a frame in this run: the grab on a thread of its own "
                    f"{left['grab-rgb32-monitor2-thread']:.2f}, on the program's main thread "
                    f"{left['grab-rgb32-monitor2']:.2f}, the filter in the graph {left['filter-rgb32-monitor2']:.2f}, "
                    f"on its own allocator {left['own-rgb32-monitor2']:.2f}."]
    reading += ["", "A screen copy that starts left of the screen's origin is made in bands of 128 rows. Made in one",
                "piece, the copy of that monitor cost 15 to 22 ms of CPU a frame under Wine 8 on the filter's worker",
                "and on a program's main thread (measured 2026-12-10 on this display, load 8 to 13 on 2 cores), in",
                "every way tried: into the sample's DIB section, through the kept bitmap and GetDIBits, with the",
                "section cleared first, with the screen's viewport origin or the section's window origin moved so",
                "that the coordinates were non-negative. The same copy in two halves or in bands of 100 rows cost",
                "0.5 to 1.2 ms, as the desktop's copy of that monitor into a part of its larger frame did; in bands,",
                "the filter's rows for the left monitor went from 15.1 to 16.8 ms a frame (20 to 26 frames a second)",
                "to 0.6 to 0.7 ms (260 to 360 frames a second) in the same run, the primary's rows unchanged."]
    open(monitors_out, "w").write("\n".join(lines + reading) + "\n")


stats_size = {}
for r in rows:
    if r["ok"] == "1":
        stats_size[(r["screen"], r["case"])] = r["size"]
if monitors_mode:
    write_monitors_report()
    sys.exit(0)

goals = []  # (what, ratio, goal, met)
lines = ["<!-- results:begin (written by scripts/bench.sh) -->", ""]
lines += open(machine_path).read().splitlines()
lines += ["", "Medians over the runs. CPU is the process's user + system time per frame (all its threads);",
          "X server is the Xvfb process's CPU per frame over the same window. Ratio: the row's frames per",
          "second over its ceiling's (the design's ceiling of the same layout, or of the same scaling); CPU",
          "ratio: the ceiling's CPU per frame over the row's (1 when the row costs what the ceiling costs).",
          "A row scaled with the filter's own scaler (mode 100) has no bare loop to bound it: its ceiling",
          "columns hold the unscaled filter of the same layout, whose rate it aims at.", ""]
for screen in screens:
    lines += [f"### Display {screen.replace('x', '×')}", "",
              "| case | what | fps | CPU ms/frame | X server ms/frame | peak MiB | ceiling fps | ratio | "
              "ceiling CPU ms/frame | CPU ratio |",
              "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for key in order:
        case = key[2]
        if key[0] != screen or key[1] != "64" or case.startswith("ffmpeg"):
            continue
        s = stats[key]
        fps = median(s["fps"])
        ceiling = ceiling_of(case)
        ceiling_fps = value(screen, ceiling, "fps")
        r = ratio(fps, ceiling_fps)
        if case.startswith("filter") and case.endswith("-" + FAST_MODE):
            if r is not None and screen in FAST_GOALS:
                goals.append((f"`{case}` / `{ceiling}` on {screen}", r, FAST_GOALS[screen], r >= FAST_GOALS[screen]))
        elif case.startswith("filter") and "cursor" not in case and r is not None:
            scaled = len(case.split("-")) > 2
            if not scaled or screen == SCALED_SCREEN:
                goals.append((f"`{case}` / `{ceiling}` on {screen}", r, CEILING_GOAL, r >= CEILING_GOAL))
        if case == "own-rgb32" and screen in ONE_PASS_SCREENS and r is not None:
            goals.append((f"`{case}` / `{ceiling}` on {screen}", r, ONE_PASS_GOAL, r >= ONE_PASS_GOAL))
        if case == "filter-rgb32-cursor":
            cursor_ratio = ratio(fps, value(screen, "filter-rgb32", "fps"))
            if cursor_ratio is not None:
                goals.append((f"`{case}` / `filter-rgb32` on {screen}", cursor_ratio, CURSOR_GOAL,
                              cursor_ratio >= CURSOR_GOAL))
        notes = []
        if s["failed"]:
            notes.append(f"{s['failed']} failed")
        mean = median(s["mean_byte"])
        if mean is not None and mean < 5:
            notes.append("**black frames**")
        note = f" ({', '.join(notes)})" if notes else ""
        lines.append(f"| `{case}` | {describe(case)}{note} | {fmt(fps)} | {fmt(median(s['cpu_ms']), 2)} | "
                     f"{fmt(median(s['xserver_ms']), 2)} | {fmt(median(s['peak_mb']))} | "
                     f"{fmt(ceiling_fps)} | {fmt(r, 2)} | {fmt(value(screen, ceiling, 'cpu_ms'), 2)} | "
                     f"{fmt(ratio(value(screen, ceiling, 'cpu_ms'), median(s['cpu_ms'])), 2)} |")
    lines.append("")

    peers = [c for c in ("ffmpeg-gdigrab", "ffmpeg-dshow", "ffmpeg-gdigrab-30", "ffmpeg-dshow-30", "ffmpeg-dshow-cursor",
                         "ffmpeg-x11grab")
             if (screen, "64", c) in stats]
    if peers:
        gdigrab_fps, dshow_fps = value(screen, "ffmpeg-gdigrab", "fps"), value(screen, "ffmpeg-dshow", "fps")
        gdigrab_cpu, dshow_cpu = value(screen, "ffmpeg-gdigrab-30", "cpu_ms"), value(screen, "ffmpeg-dshow-30", "cpu_ms")
        lines += [f"ffmpeg on {screen.replace('x', '×')}: the Windows ffmpeg 4.1 under Wine with its own GDI grabber "
                  "and with the filter, and Linux ffmpeg's x11grab (reference only):", "",
                  "| grabber | unpaced fps | CPU ms/frame unpaced | X server ms/frame unpaced | "
                  "fps at 30 | CPU ms/frame at 30 | X server ms/frame at 30 |",
                  "|---|---:|---:|---:|---:|---:|---:|"]
        for name, unpaced, paced in (("`-f gdigrab`", "ffmpeg-gdigrab", "ffmpeg-gdigrab-30"),
                                     ("`-f dshow` through the filter", "ffmpeg-dshow", "ffmpeg-dshow-30"),
                                     ("`-f dshow` through the filter, cursor on", "ffmpeg-dshow-cursor", None),
                                     ("`-f x11grab` (Linux, reference)", "ffmpeg-x11grab", None)):
            if (screen, "64", unpaced) not in stats:
                continue
            failed = stats[(screen, "64", unpaced)]["failed"] + (stats.get((screen, "64", paced), {}).get("failed", 0))
            lines.append(f"| {name}{f' ({failed} failed)' if failed else ''} | {fmt(value(screen, unpaced, 'fps'))} | "
                         f"{fmt(value(screen, unpaced, 'cpu_ms'), 2)} | {fmt(value(screen, unpaced, 'xserver_ms'), 2)} | "
                         f"{fmt(value(screen, paced, 'fps'))} | {fmt(value(screen, paced, 'cpu_ms'), 2)} | "
                         f"{fmt(value(screen, paced, 'xserver_ms'), 2)} |")
        fps_ratio = ratio(dshow_fps, gdigrab_fps)
        cpu_ratio = ratio(dshow_cpu, gdigrab_cpu)
        lines += ["", f"Through the filter / gdigrab: {fmt(fps_ratio, 2)} in unpaced frames per second; "
                  f"{fmt(cpu_ratio, 2)} in CPU per frame at 30 fps.", ""]
        if screen == FFMPEG_SCREEN and fps_ratio is not None:
            goals.append((f"ffmpeg `-f dshow` / `-f gdigrab`, unpaced fps, on {screen}", fps_ratio, FFMPEG_FPS_GOAL,
                          fps_ratio >= FFMPEG_FPS_GOAL))
        if screen == FFMPEG_SCREEN and cpu_ratio is not None:
            goals.append((f"ffmpeg CPU per frame at 30 fps, filter / gdigrab, on {screen} (at most)", cpu_ratio,
                          FFMPEG_CPU_GOAL, cpu_ratio <= FFMPEG_CPU_GOAL))

    bits32 = [k for k in order if k[0] == screen and k[1] == "32"]
    if bits32:
        lines += [f"32-bit ceilings on {screen.replace('x', '×')}, one run:", "",
                  "| case | fps | CPU ms/frame |", "|---|---:|---:|"]
        for key in bits32:
            s = stats[key]
            lines.append(f"| `{key[2]}` | {fmt(median(s['fps']))} | {fmt(median(s['cpu_ms']), 2)} |")
        lines.append("")

if goals:
    lines += ["### The goals in this run", "",
              "| ratio | measured | goal | reached |", "|---|---:|---:|---|"]
    for what, r, goal, met in goals:
        sign = "≤" if "(at most)" in what else "≥"
        lines.append(f"| {what.replace(' (at most)', '')} | {r:.2f} | {sign} {goal:.2f} | {'yes' if met else '**no**'} |")
    lines += ["", f"{sum(1 for g in goals if g[3])} of {len(goals)} reached.", ""]

profiles = list(csv.DictReader(open(profile_path), delimiter="\t"))
STEPS = ["create", "clear", "blit", "cursor", "scale", "section", "convert", "delete"]


def where_time_goes(screen, case):
    """The profile's largest steps of the grab that a filter case makes, as text."""
    parts = case.split("-")
    wanted = "profile-" + "-".join(p for p in parts[1:] if p != "cursor") + "-thread"
    for p in profiles:
        if p["screen"] == screen and p["case"] == wanted:
            total = float(p["total_ms"]) or 1
            steps = sorted(((float(p[s + "_ms"]), s) for s in STEPS), reverse=True)[:2]
            return ", ".join(f"{name} {ms:.2f} ms ({100 * ms / total:.0f} %)" for ms, name in steps if ms > 0)
    return None


# The reading of this run, written from its figures.
missed = [g for g in goals if not g[3]]
reading = ["### Reading of this run", ""]
if not goals:
    reading.append("No goal ratio could be formed from this run.")
elif not missed:
    reading.append(f"Every goal ratio was reached in this run ({len(goals)} of {len(goals)}).")
else:
    reading.append(f"{len(goals) - len(missed)} of {len(goals)} goal ratios were reached. Not reached:")
    reading.append("")
    for what, r, goal, _ in missed:
        text = f"- {what.replace(' (at most)', '')}: {r:.2f}"
        case = what.split("`")[1] if what.startswith("`") else None
        screen = what.rsplit(" on ", 1)[-1].split(" ")[0]
        if case and case.startswith("own"):
            cpu, ceiling_cpu = value(screen, case, "cpu_ms"), value(screen, ceiling_of(case), "cpu_ms")
            graph_cpu = value(screen, "filter-rgb32", "cpu_ms")
            if cpu is not None and ceiling_cpu is not None:
                text += f"; CPU {cpu:.2f} against the ceiling's {ceiling_cpu:.2f} ms per frame"
            if graph_cpu is not None:
                text += f" and the two passes' (`filter-rgb32`) {graph_cpu:.2f}"
        elif case and case.startswith("filter"):
            steps = where_time_goes(screen, case)
            cpu, ceiling_cpu = value(screen, case, "cpu_ms"), value(screen, ceiling_of(case), "cpu_ms")
            if cpu is not None and ceiling_cpu is not None:
                text += f"; CPU {cpu:.2f} against the ceiling's {ceiling_cpu:.2f} ms per frame"
            if steps:
                text += f"; the grab's profile: {steps}"
        elif "dshow" in what:
            through = value(screen, "ffmpeg-dshow", "cpu_ms")
            alone = value(screen, "filter-rgb32", "cpu_ms")
            own = value(screen, "ffmpeg-gdigrab", "cpu_ms")
            if through is not None and alone is not None and own is not None:
                text += (f"; CPU per frame unpaced: {through:.2f} ms through the filter, of which the filter in a bare "
                         f"graph (`filter-rgb32`) takes {alone:.2f} ms and ffmpeg's own handling of the frame the rest, "
                         f"against {own:.2f} ms with gdigrab")
        reading.append(text + ".")
reading.append("")
lines += reading

if profiles:
    steps = STEPS
    lines += ["### Where a frame's time goes", "",
              "The grab's steps re-enacted on a worker thread with a timer around each (mean ms per frame, one run;",
              "clear: selecting the canvas and asking whether the copy covers it, which it does for the whole",
              "display, so that no clear follows; on a loaded machine every step also holds the waits for a core):",
              "", "| display | case | " + " | ".join(steps) + " | total |", "|---|---|" + "---:|" * (len(steps) + 1)]
    for p in profiles:
        lines.append(f"| {p['screen']} | `{p['case']}` | " +
                     " | ".join(fmt(float(p[s + '_ms']), 2) for s in steps) + f" | {fmt(float(p['total_ms']), 2)} |")
    lines.append("")

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
    plot.write("label\tfilter_fps\tceiling_fps\n")
    for screen in screens:
        for key in order:
            if key[0] != screen or key[1] != "64" or not key[2].startswith("filter"):
                continue
            fps = median(stats[key]["fps"]) or 0
            ceiling_fps = value(screen, ceiling_of(key[2]), "fps") or 0
            label = key[2].replace("filter-", "").replace("-cursor", "+cursor").replace("-", " ")
            plot.write(f"\"{screen} {label}\"\t{fps:.2f}\t{ceiling_fps:.2f}\n")
