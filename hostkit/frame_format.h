#pragma once
// The frames the recorder receives: bottom-up DIBs in one of the five formats that the
// desktop source offers, in the source's order of preference.

#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

#include "preset/pixel_format.h"

namespace dorvantel {

struct FrameFormat {
  PixelFormat pixels = PixelFormat::Rgb32;
  int width = 0;
  int height = 0;  // rows are stored bottom-up
  int bits = 32;
  DWORD stride = 0;              // bytes of one stored row, a multiple of 4
  DWORD imageSize = 0;           // stride x height
  std::vector<RGBQUAD> palette;  // 256 entries for Rgb8, else empty

  // Bytes of one row without the padding to 4 bytes.
  DWORD PackedRowBytes() const noexcept { return static_cast<DWORD>(width) * (bits / 8); }
  // The red, green and blue masks of the 16-bit formats (zero for the others).
  void BitMasks(DWORD masks[3]) const noexcept;
};

// A frame format of the given size; the palette of Rgb8 is left empty.
FrameFormat MakeFrameFormat(PixelFormat pixels, int width, int height);

// The frame format of a connected video type: FORMAT_VideoInfo with a bottom-up RGB
// header of 8, 16, 24 or 32 bits (16 bits: 5-6-5 by its masks, else 5-5-5), with the colour
// table of an 8-bit type that holds one. E_INVALIDARG for anything else.
HRESULT FrameFormatFromMediaType(const AM_MEDIA_TYPE& type, FrameFormat* format);

}  // namespace dorvantel
