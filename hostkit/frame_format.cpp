#include "hostkit/frame_format.h"

namespace dorvantel {

void FrameFormat::BitMasks(DWORD masks[3]) const noexcept {
  masks[0] = masks[1] = masks[2] = 0;
  if (pixels == PixelFormat::Rgb565) {
    masks[0] = 0xF800;
    masks[1] = 0x07E0;
    masks[2] = 0x001F;
  } else if (pixels == PixelFormat::Rgb555) {
    masks[0] = 0x7C00;
    masks[1] = 0x03E0;
    masks[2] = 0x001F;
  }
}

FrameFormat MakeFrameFormat(PixelFormat pixels, int width, int height) {
  FrameFormat format;
  format.pixels = pixels;
  format.width = width;
  format.height = height;
  format.bits = DescribePixelFormat(pixels).bits;
  format.stride = ((static_cast<DWORD>(width) * format.bits + 31) / 32) * 4;
  format.imageSize = format.stride * static_cast<DWORD>(height);
  return format;
}

HRESULT FrameFormatFromMediaType(const AM_MEDIA_TYPE& type, FrameFormat* format) {
  if (!format) return E_POINTER;
  if (type.majortype != MEDIATYPE_Video || type.formattype != FORMAT_VideoInfo || !type.pbFormat ||
      type.cbFormat < sizeof(VIDEOINFOHEADER)) {
    return E_INVALIDARG;
  }
  const auto* video = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
  const BITMAPINFOHEADER& header = video->bmiHeader;
  if (header.biWidth <= 0 || header.biHeight <= 0) return E_INVALIDARG;

  PixelFormat pixels;
  switch (header.biBitCount) {
    case 32: pixels = PixelFormat::Rgb32; break;
    case 24: pixels = PixelFormat::Rgb24; break;
    case 8: pixels = PixelFormat::Rgb8; break;
    case 16: {
      pixels = PixelFormat::Rgb555;
      const size_t masksEnd = sizeof(VIDEOINFOHEADER) + 3 * sizeof(DWORD);
      if (header.biCompression == BI_BITFIELDS && type.cbFormat >= masksEnd) {
        const auto* masks = reinterpret_cast<const DWORD*>(type.pbFormat + sizeof(VIDEOINFOHEADER));
        if (masks[1] == 0x07E0) pixels = PixelFormat::Rgb565;
      }
      break;
    }
    default: return E_INVALIDARG;
  }
  *format = MakeFrameFormat(pixels, header.biWidth, header.biHeight);
  // The source's 8-bit type carries the colours of its indices.
  const size_t coloursEnd = sizeof(VIDEOINFOHEADER) + 256 * sizeof(RGBQUAD);
  if (pixels == PixelFormat::Rgb8 && type.cbFormat >= coloursEnd) {
    const auto* colours = reinterpret_cast<const RGBQUAD*>(type.pbFormat + sizeof(VIDEOINFOHEADER));
    format->palette.assign(colours, colours + 256);
  }
  return S_OK;
}

}  // namespace dorvantel
