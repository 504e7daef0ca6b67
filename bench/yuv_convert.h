#pragma once
// The filter's YUV conversion alone: one frame grabbed with the library's grab (the whole
// display, 32-bit, as the filter grabs it before it converts), then converted over and over
// into I420, NV12 or YUY2 on one path (the fastest the processor has, SSE2, or the plain
// reference), so that the row shows the conversion's cost per frame without the grab's.

#include <string>

#include "bench/timed_loop.h"
#include "format/yuv_frames.h"

namespace dorvantel {

// Null pointers for an unknown name: i420 nv12 yuy2; fast sse2 reference.
const YuvLayout* FindYuvLayout(const std::string& name);
const YuvPath* FindYuvPath(const std::string& name, bool* fastest);

// Converts the grabbed frame for the loop's window; the note names the path taken (avx2,
// sse2, reference). rawOut, when not empty, is a file that receives the grabbed frame once,
// top row first, 4 bytes a pixel (B G R X: ffmpeg's bgr0), for a converter of another program
// to take the same pixels.
CaseResult RunYuvConversion(const std::string& name, YuvLayout layout, YuvPath path, const LoopTiming& timing,
                            const ServerClock& server, const std::wstring& rawOut);

}  // namespace dorvantel
