#!/usr/bin/env python3
# Tabulates the benchmark's runs: medians per case, ratios to the bare loops, the report's tables.
# Called by bench.sh: bench_report.py RUNS PROFILE MACHINE OUT
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
