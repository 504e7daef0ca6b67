#pragma once
// Writes frames as raw video to a stream (the recorder's standard output) for a pipeline
// to encode. The stream begins with one text line that announces the geometry:
//   DORVANTEL-RAW width=W height=H pix_fmt=P rate=F frame_bytes=B
// and then holds frames of B bytes each, rows top-down and packed without padding. P is
// the pixel format under ffmpeg's name: bgr0, bgr24, rgb565le, rgb555le, yuv420p, nv12 or
// yuyv422; 8-bit frames are expanded through their palette to bgr24. YUV frames go as
// they come.
// Does not own the stream handle. One thread writes.

#include <windows.h>

#include <string>
#include <vector>

#include "hostkit/frame_format.h"

namespace dorvantel {

class RawFrameWriter {
 public:
  HRESULT Open(HANDLE stream, const FrameFormat& format, int frameRate);
  // Converts one frame of format.imageSize bytes (RGB: bottom-up) and writes it.
  HRESULT WriteFrame(const void* frame);

  std::string HeaderLine() const;
  const char* pixelFormat() const noexcept;
  DWORD frameBytes() const noexcept;
  // The converted form of one frame: what WriteFrame sends.
  void Convert(const BYTE* frame, BYTE* out) const;

 private:
  HANDLE stream_ = nullptr;
  FrameFormat format_;
  int frameRate_ = 0;
  std::vector<BYTE> converted_;
};

}  // namespace dorvantel
