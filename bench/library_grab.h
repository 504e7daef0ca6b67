#pragma once
// The library's own grab without a graph: DesktopCapture::Grab (the code FillSample runs for
// each frame) called in a loop on this thread, and the same steps re-enacted with a timer
// around each, to show where a frame's time goes.

#include <windows.h>

#include <optional>
#include <string>

#include "bench/layouts.h"
#include "bench/timed_loop.h"
#include "format/frame_size.h"
#include "module/dorvantel.h"

namespace dorvantel {

struct GrabOptions {
  const Layout* layout = nullptr;
  bool cursor = false;
  std::optional<FrameSize> output;
  LONG interpolation = 0;
  LONG area = kAreaDisplay;  // kAreaMonitor (with monitor) or kAreaDesktop: what is captured
  LONG monitor = 1;
};

CaseResult RunLibraryGrab(const std::string& name, const GrabOptions& options, const LoopTiming& timing,
                          const ServerClock& server);

// Prints one line "profile=<name> frames=N <step>_ms=... total_ms=..." with the mean time of
// each step of a frame: create (the compatible bitmap), clear (whether the copy covers the
// canvas, and the clear where it does not), blit, cursor, scale (GDI+),
// section (the 16-bit detour through a DIB section), convert (GetDIBits), delete.
void ProfileGrabSteps(const std::string& name, const GrabOptions& options, const LoopTiming& timing);

}  // namespace dorvantel
