#pragma once
// The platform's own limit for the filter's design: the fewest GDI and GDI+ calls that turn
// the display into one frame of a layout, with nothing of the library in between.

#include <windows.h>

#include <string>

#include "bench/layouts.h"
#include "bench/timed_loop.h"
#include "format/frame_size.h"

// CreateCompatibleBitmap + BitBlt from the display + GetDIBits into the layout, per frame.
CaseResult RunBareGdi(const std::string& name, const Layout& layout, const LoopTiming& timing,
                      const ServerClock& server);

// The same grab, scaled by GDI+ to output (GdipCreateBitmapFromHBITMAP, DrawImageRectI with
// the interpolation mode, GdipCreateHBITMAPFromBitmap), then GetDIBits into 32 bits.
CaseResult RunBareGdiplus(const std::string& name, FrameSize output, LONG interpolation, const LoopTiming& timing,
                          const ServerClock& server);
