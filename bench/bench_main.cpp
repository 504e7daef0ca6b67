// dorvantel-bench: frames per second, CPU per frame and peak memory of the desktop filter and
// of the bare platform loops that bound it, one case after another on the current display.
//
//   dorvantel-bench [--seconds S] [--warmup S] [--xserver-pid PID] [--raw-out FILE] CASE...
//
// CASE is one of (LAYOUT: rgb32 rgb24 rgb565 rgb555 rgb8 rgb555masks; SCALE: WxH-MODE, MODE a GDI+
// interpolation mode number, or 100 for the filter's own scaler in filter, grab and profile
// cases):
//   ceiling-LAYOUT              the design's ceiling: a kept bitmap, BitBlt + GetDIBits, on a
//                               thread of its own
//   ceiling-SCALE               the same with GDI+ scaling, converted to rgb32
//   gdi-LAYOUT                  bare CreateCompatibleBitmap + BitBlt + GetDIBits
//   gdiplus-SCALE               the bare grab scaled by GDI+, converted to rgb32
//   filter-LAYOUT[-TARGET][-cursor][-SCALE]   the library's filter in Wine's graph
//   own-LAYOUT[-cursor][-SCALE]      the filter on its own allocator: connected straight to a
//                                    counting sink that brings none, as ffmpeg's
//   grab-LAYOUT[-TARGET][-cursor][-SCALE]     the library's grab alone, no graph
//   profile-LAYOUT[-cursor][-SCALE]  the grab's steps, each timed
//   yuv-YUV-PATH                the filter's conversion of one grabbed 32-bit frame into YUV
//                               (i420, nv12, yuy2) on PATH (fast: the one the filter takes;
//                               avx2, sse2, reference), converted over and over; with
//                               --raw-out FILE the grabbed frame is written there first, as bgr0
// LAYOUT in own cases may also be i420, nv12 or yuy2, the filter's YUV formats (in Wine's graph,
// filter cases, their connection fails with VFW_E_NO_ACCEPTABLE_TYPES, not yet looked into).
// TARGET: monitorN (monitor N, 1 the primary) or desktop (every monitor); without it the
// primary display (area 0).
// A suffix -thread runs a bare loop, grab or profile on a new thread instead of the main one.
// Each case prints one line of key=value fields. Run one case per process for a meaningful
// peak memory.

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bare_loops.h"
#include "bench/filter_graph.h"
#include "bench/library_grab.h"
#include "bench/own_allocator.h"
#include "bench/yuv_convert.h"
#include "hostkit/apartment.h"

namespace dorvantel {

namespace {

struct CaseSpec {
  std::string kind;
  const Layout* layout = nullptr;
  bool cursor = false;
  std::optional<FrameSize> output;
  LONG interpolation = 0;
  LONG area = kAreaDisplay;
  LONG monitor = 1;
  bool thread = false;
  const YuvLayout* yuv = nullptr;  // yuv cases
  const YuvPath* path = nullptr;
};

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) parts.push_back(part);
  return parts;
}

bool ParseSize(const std::string& text, FrameSize* size) {
  const std::vector<std::string> parts = Split(text, 'x');
  if (parts.size() != 2) return false;
  size->width = std::atol(parts[0].c_str());
  size->height = std::atol(parts[1].c_str());
  return size->width > 0 && size->height > 0;
}

bool ParseCase(const std::string& name, CaseSpec* wanted) {
  std::vector<std::string> parts = Split(name, '-');
  if (parts.size() > 1 && parts.back() == "thread") {
    wanted->thread = true;
    parts.pop_back();
  }
  if (parts.empty()) return false;
  wanted->kind = parts[0];
  size_t next = 1;
  if (wanted->kind == "yuv") {
    bool fastest = false;
    return parts.size() == 3 && !wanted->thread && (wanted->yuv = FindYuvLayout(parts[1])) != nullptr &&
           (wanted->path = FindYuvPath(parts[2], &fastest)) != nullptr;
  }
  if (wanted->kind == "ceiling" && parts.size() == 2) {
    // Its own worker thread always; a scaling ceiling names a size and a mode instead.
    return !wanted->thread && (wanted->layout = FindLayout(parts[1])) != nullptr;
  }
  if (wanted->kind == "gdiplus" || wanted->kind == "ceiling") {
    if (wanted->kind == "ceiling" && wanted->thread) return false;
    wanted->layout = FindLayout("rgb32");
  } else {
    if (parts.size() < 2 || !(wanted->layout = FindLayout(parts[1]))) return false;
    next = 2;
    if (wanted->kind == "gdi") return parts.size() == 2;
    if ((wanted->kind == "filter" || wanted->kind == "own") && wanted->thread) return false;
  }
  // What is captured: the primary display unless a monitor or the whole desktop is named.
  if (next < parts.size() && parts[next].compare(0, 7, "monitor") == 0 && parts[next].size() > 7) {
    wanted->area = kAreaMonitor;
    wanted->monitor = std::atol(parts[next].c_str() + 7);
    ++next;
  } else if (next < parts.size() && parts[next] == "desktop") {
    wanted->area = kAreaDesktop;
    ++next;
  }
  if (next < parts.size() && parts[next] == "cursor") {
    wanted->cursor = true;
    ++next;
  }
  if (next < parts.size()) {
    FrameSize size;
    if (next + 2 != parts.size() || !ParseSize(parts[next], &size)) return false;
    wanted->output = size;
    wanted->interpolation = std::atol(parts[next + 1].c_str());
    next += 2;
  }
  if (wanted->kind == "gdiplus" || wanted->kind == "ceiling") return wanted->output && !wanted->cursor;
  return next == parts.size() &&
         (wanted->kind == "filter" || wanted->kind == "own" || wanted->kind == "grab" || wanted->kind == "profile");
}

CaseResult RunFilter(const std::string& name, const CaseSpec& wanted, const LoopTiming& timing,
                     const ServerClock& server) {
  FilterGraphCase graph;
  FilterOptions options{wanted.layout, wanted.cursor, wanted.output, wanted.interpolation, wanted.area, wanted.monitor};
  std::string step;
  const HRESULT hr = graph.Build(options, &step);
  if (FAILED(hr)) {
    CaseResult failed;
    failed.name = name;
    char note[64];
    std::snprintf(note, sizeof(note), "%s-failed-0x%08lx", step.c_str(), static_cast<unsigned long>(hr));
    failed.note = note;
    return failed;
  }
  return graph.Measure(name, timing, server);
}

std::string Narrow(const wchar_t* text) {
  std::string result;
  for (; *text; ++text) result.push_back(static_cast<char>(*text));
  return result;
}

}  // namespace

}  // namespace dorvantel

int wmain(int argc, wchar_t** argv) {
  using namespace dorvantel;
  LoopTiming timing;
  unsigned long serverPid = 0;
  std::wstring rawOut;
  std::vector<std::string> cases;
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (argument == L"--seconds" && i + 1 < argc) {
      timing.seconds = std::wcstod(argv[++i], nullptr);
    } else if (argument == L"--warmup" && i + 1 < argc) {
      timing.warmupSeconds = std::wcstod(argv[++i], nullptr);
    } else if (argument == L"--xserver-pid" && i + 1 < argc) {
      serverPid = std::wcstoul(argv[++i], nullptr, 10);
    } else if (argument == L"--raw-out" && i + 1 < argc) {
      rawOut = argv[++i];
    } else {
      cases.push_back(Narrow(argv[i]));
    }
  }
  if (cases.empty()) {
    std::fprintf(stderr,
                 "usage: dorvantel-bench [--seconds S] [--warmup S] [--xserver-pid PID] [--raw-out FILE] CASE...\n");
    return 2;
  }

  const ComApartment apartment(COINIT_MULTITHREADED);
  const ServerClock server(serverPid);
  int status = 0;
  for (const std::string& name : cases) {
    CaseSpec wanted;
    if (!ParseCase(name, &wanted)) {
      std::fprintf(stderr, "unknown case %s\n", name.c_str());
      status = 2;
      continue;
    }
    LoopTiming caseTiming = timing;
    caseTiming.onWorkerThread = wanted.thread;
    CaseResult result;
    if (wanted.kind == "yuv") {
      result = RunYuvConversion(name, *wanted.yuv, *wanted.path, caseTiming, server, rawOut);
    } else if (wanted.kind == "gdi") {
      result = RunBareGdi(name, *wanted.layout, caseTiming, server);
    } else if (wanted.kind == "ceiling") {
      result = wanted.output ? RunScalingCeiling(name, *wanted.output, wanted.interpolation, caseTiming, server)
                             : RunDesignCeiling(name, *wanted.layout, caseTiming, server);
    } else if (wanted.kind == "gdiplus") {
      result = RunBareGdiplus(name, *wanted.output, wanted.interpolation, caseTiming, server);
    } else if (wanted.kind == "filter") {
      result = RunFilter(name, wanted, timing, server);
    } else if (wanted.kind == "own") {
      result = RunOwnAllocator(
          name,
          FilterOptions{wanted.layout, wanted.cursor, wanted.output, wanted.interpolation, wanted.area, wanted.monitor},
          timing, server);
    } else if (wanted.kind == "grab") {
      result = RunLibraryGrab(
          name,
          GrabOptions{wanted.layout, wanted.cursor, wanted.output, wanted.interpolation, wanted.area, wanted.monitor},
          caseTiming, server);
    } else {
      ProfileGrabSteps(name, GrabOptions{wanted.layout, wanted.cursor, wanted.output, wanted.interpolation},
                       caseTiming);
      continue;
    }
    PrintResult(result);
    if (!result.ok) status = 1;
  }
  return status;
}
