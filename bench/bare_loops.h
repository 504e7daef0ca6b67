#pragma once
// The platform's own limit for the filter's design: the fewest GDI and GDI+ calls that turn
// the display into one frame of a layout, with nothing of the library in between.

#include <windows.h>

#include <string>

#include "bench/layouts.h"
#include "bench/timed_loop.h"
#include "format/frame_size.h"

namespace dorvantel {

// The design's ceiling, as the grab now works: on a thread of its own, one compatible bitmap
// kept from frame to frame, the display copied into it (BitBlt), then GetDIBits into the
// layout (the 16-bit layouts through a kept DIB section of the layout, as the grab converts
// them). No clear before the copy, no library code.
CaseResult RunDesignCeiling(const std::string& name, const Layout& layout, const LoopTiming& timing,
                            const ServerClock& server);

// The same loop with GDI+ scaling the kept bitmap to output (the calls of RunBareGdiplus)
// before GetDIBits into 32 bits: the ceiling of the scaled path.
CaseResult RunScalingCeiling(const std::string& name, FrameSize output, LONG interpolation, const LoopTiming& timing,
                             const ServerClock& server);

// The first ceiling: CreateCompatibleBitmap + BitBlt from the display + GetDIBits into the layout, per frame.
CaseResult RunBareGdi(const std::string& name, const Layout& layout, const LoopTiming& timing,
                      const ServerClock& server);

// The same grab, scaled by GDI+ to output (GdipCreateBitmapFromHBITMAP, DrawImageRectI with
// the interpolation mode, GdipCreateHBITMAPFromBitmap), then GetDIBits into 32 bits.
CaseResult RunBareGdiplus(const std::string& name, FrameSize output, LONG interpolation, const LoopTiming& timing,
                          const ServerClock& server);

}  // namespace dorvantel
