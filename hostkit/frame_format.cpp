#include "hostkit/frame_format.h"

namespace dorvantel {

namespace {

constexpr DWORD FourCC(const char (&code)[5]) {
  return static_cast<BYTE>(code[0]) | static_cast<BYTE>(code[1]) << 8 | static_cast<BYTE>(code[2]) << 16 |
         static_cast<DWORD>(static_cast<BYTE>(code[3])) << 24;
}

}  // namespace

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

DWORD YuvFrameBytes(PixelFormat pixels, int width, int height) noexcept {
  const DWORD w = static_cast<DWORD>(width), h = static_cast<DWORD>(height);
  const DWORD chromaWidth = (w + 1) / 2, chromaHeight = (h + 1) / 2;
  switch (pixels) {
    case PixelFormat::I420:
    case PixelFormat::Nv12: return w * h + 2 * chromaWidth * chromaHeight;
    case PixelFormat::Yuy2: return 4 * chromaWidth * h;
    default: return 0;
  }
}

DWORD YuvFourCC(PixelFormat pixels) noexcept {
  switch (pixels) {
    case PixelFormat::I420: return FourCC("I420");
    case PixelFormat::Nv12: return FourCC("NV12");
    case PixelFormat::Yuy2: return FourCC("YUY2");
    default: return 0;
  }
}

bool YuvFormatOf(DWORD compression, PixelFormat* pixels) noexcept {
  for (PixelFormat yuv : {PixelFormat::I420, PixelFormat::Nv12, PixelFormat::Yuy2}) {
    if (compression == YuvFourCC(yuv)) {
      *pixels = yuv;
      return true;
    }
  }
  if (compression != FourCC("IYUV")) return false;
  *pixels = PixelFormat::I420;
  return true;
}

FrameFormat MakeFrameFormat(PixelFormat pixels, int width, int height) {
  FrameFormat format;
  format.pixels = pixels;
  format.width = width;
  format.height = height;
  format.bits = DescribePixelFormat(pixels).bits;
  if (format.yuv()) {
    format.stride = pixels == PixelFormat::Yuy2 ? 4 * ((static_cast<DWORD>(width) + 1) / 2) : width;
    format.imageSize = YuvFrameBytes(pixels, width, height);
    return format;
  }
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
  if (YuvFormatOf(header.biCompression, &pixels)) {
    if (header.biBitCount != DescribePixelFormat(pixels).bits) return E_INVALIDARG;
    *format = MakeFrameFormat(pixels, header.biWidth, header.biHeight);
    return S_OK;
  }
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
