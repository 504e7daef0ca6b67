#pragma once
// The frames the recorder receives, in one of the formats that the desktop source offers, in
// the source's order of preference: bottom-up DIBs of the RGB formats, or the YUV layouts
// (I420, NV12, YUY2), top row first and without padding between rows.

#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

#include "preset/pixel_format.h"

namespace dorvantel {

struct FrameFormat {
  PixelFormat pixels = PixelFormat::Rgb32;
  int width = 0;
  int height = 0;  // RGB rows are stored bottom-up, YUV rows top-down
  int bits = 32;
  DWORD stride = 0;              // RGB: bytes of one stored row, a multiple of 4; YUV: of a luma row
  DWORD imageSize = 0;           // RGB: stride x height; YUV: YuvFrameBytes
  std::vector<RGBQUAD> palette;  // 256 entries for Rgb8, else empty

  bool yuv() const noexcept { return DescribePixelFormat(pixels).yuv; }
  // Bytes of one row without the padding to 4 bytes.
  DWORD PackedRowBytes() const noexcept { return static_cast<DWORD>(width) * (bits / 8); }
  // The red, green and blue masks of the 16-bit formats (zero for the others).
  void BitMasks(DWORD masks[3]) const noexcept;
};

// Bytes of a YUV frame of the given size, laid out as ffmpeg reads raw yuv420p, nv12 and
// yuyv422: I420 a Y plane of width x height, then U and V planes of ceil(width / 2) x
// ceil(height / 2); NV12 the Y plane, then ceil(height / 2) rows of ceil(width / 2) U,V pairs;
// YUY2 height rows of ceil(width / 2) Y0 U Y1 V groups. 0 for the RGB formats.
DWORD YuvFrameBytes(PixelFormat pixels, int width, int height) noexcept;
// The FOURCC a YUV format's header carries as biCompression (I420's is 'I420'); 0 for RGB.
DWORD YuvFourCC(PixelFormat pixels) noexcept;
// The YUV format a biCompression names ('IYUV' is I420 too); false for anything else.
bool YuvFormatOf(DWORD compression, PixelFormat* pixels) noexcept;

// A frame format of the given size; the palette of Rgb8 is left empty.
FrameFormat MakeFrameFormat(PixelFormat pixels, int width, int height);

// The frame format of a connected video type: FORMAT_VideoInfo with a bottom-up RGB
// header of 8, 16, 24 or 32 bits (16 bits: 5-6-5 by its masks, else 5-5-5), with the colour
// table of an 8-bit type that holds one; or a YUV header (its FOURCC and bit count) of a
// positive height. E_INVALIDARG for anything else.
HRESULT FrameFormatFromMediaType(const AM_MEDIA_TYPE& type, FrameFormat* format);

}  // namespace dorvantel
