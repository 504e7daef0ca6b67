#include "camera/camera_frames.h"

#include <cstring>
#include <vector>

#include "base/gdi_resources.h"
#include "format/yuv_frames.h"

namespace camera {

namespace {

BYTE Clip(int value) { return static_cast<BYTE>(value < 0 ? 0 : value > 255 ? 255 : value); }

void ToBgrx(int y, int u, int v, BYTE* out) {
  const int c = 298 * (y - 16), d = u - 128, e = v - 128;
  out[0] = Clip((c + 516 * d + 128) >> 8);
  out[1] = Clip((c - 100 * d - 208 * e + 128) >> 8);
  out[2] = Clip((c + 409 * e + 128) >> 8);
  out[3] = 0xff;
}

}  // namespace

size_t PictureBytes(CameraSubtype subtype, uint32_t width, uint32_t height) noexcept {
  const size_t halfWidth = (width + 1) / 2, halfHeight = (height + 1) / 2;
  switch (subtype) {
    case CameraSubtype::Nv12:
      return size_t{width} * height + 2 * halfWidth * halfHeight;
    case CameraSubtype::Yuy2:
      return 4 * halfWidth * height;
    case CameraSubtype::Rgb32:
      return size_t{4} * width * height;
  }
  return 0;
}

void DrawNv12(const BYTE* source, uint32_t sourceWidth, uint32_t sourceHeight, uint32_t sourceStride,
              CameraSubtype subtype, uint32_t width, uint32_t height, BYTE* destination) noexcept {
  const BYTE* chroma = source + size_t{sourceStride} * sourceHeight;
  auto sx = [&](uint32_t x) { return static_cast<uint32_t>(uint64_t{x} * sourceWidth / width); };
  auto sy = [&](uint32_t y) { return static_cast<uint32_t>(uint64_t{y} * sourceHeight / height); };
  auto luma = [&](uint32_t x, uint32_t y) { return source[size_t{y} * sourceStride + x]; };
  auto blue = [&](uint32_t x, uint32_t y) { return chroma[size_t{y / 2} * sourceStride + (x & ~1u)]; };
  auto red = [&](uint32_t x, uint32_t y) { return chroma[size_t{y / 2} * sourceStride + (x & ~1u) + 1]; };
  if (subtype == CameraSubtype::Nv12 && sourceWidth == width && sourceHeight == height) {
    for (uint32_t y = 0; y < height; ++y) std::memcpy(destination + size_t{y} * width, source + size_t{y} * sourceStride, width);
    const size_t chromaRow = 2 * ((width + 1) / 2);
    BYTE* out = destination + size_t{width} * height;
    for (uint32_t y = 0; y < (height + 1) / 2; ++y)
      std::memcpy(out + y * chromaRow, chroma + size_t{y} * sourceStride, chromaRow);
    return;
  }
  switch (subtype) {
    case CameraSubtype::Nv12: {
      for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) destination[size_t{y} * width + x] = luma(sx(x), sy(y));
      BYTE* out = destination + size_t{width} * height;
      const size_t chromaRow = 2 * ((width + 1) / 2);
      for (uint32_t y = 0; y < (height + 1) / 2; ++y)
        for (uint32_t x = 0; x < (width + 1) / 2; ++x) {
          out[y * chromaRow + 2 * x] = blue(sx(2 * x), sy(2 * y));
          out[y * chromaRow + 2 * x + 1] = red(sx(2 * x), sy(2 * y));
        }
      break;
    }
    case CameraSubtype::Yuy2: {
      const size_t row = 4 * ((width + 1) / 2);
      for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; x += 2) {
          BYTE* out = destination + y * row + 2 * x;
          const uint32_t x0 = sx(x), x1 = sx(x + 1 < width ? x + 1 : x), y0 = sy(y);
          out[0] = luma(x0, y0);
          out[1] = blue(x0, y0);
          out[2] = luma(x1, y0);
          out[3] = red(x0, y0);
        }
      break;
    }
    case CameraSubtype::Rgb32:
      for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
          const uint32_t x0 = sx(x), y0 = sy(y);
          ToBgrx(luma(x0, y0), blue(x0, y0), red(x0, y0), destination + (size_t{y} * width + x) * 4);
        }
      break;
  }
}

bool DrawNotCapturing(CameraSubtype subtype, uint32_t width, uint32_t height, BYTE* destination) noexcept {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  BitmapHandle bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  MemoryDC dc(::CreateCompatibleDC(nullptr));
  if (!bitmap || !bits || !dc) return false;
  {
    SelectedObject selected(dc.get(), bitmap.get());
    RECT all = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    GdiObject<HBRUSH> grey(::CreateSolidBrush(RGB(48, 48, 48)));
    ::FillRect(dc.get(), &all, grey.get());
    GdiObject<HFONT> font(::CreateFontW(-static_cast<int>(height / 16 + 8), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                        DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                        DEFAULT_PITCH, L"Arial"));
    SelectedObject selectedFont(dc.get(), font.get());
    ::SetBkMode(dc.get(), TRANSPARENT);
    ::SetTextColor(dc.get(), RGB(255, 255, 255));
    ::DrawTextW(dc.get(), L"Dorvantel is not capturing", -1, &all, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    ::GdiFlush();
  }
  const auto* pixels = static_cast<const BYTE*>(bits);
  const size_t bytes = PictureBytes(subtype, width, height);
  switch (subtype) {
    case CameraSubtype::Rgb32:
      std::memcpy(destination, pixels, bytes);
      return true;
    case CameraSubtype::Nv12:
      return ConvertToYuv(YuvLayout::Nv12, pixels, ptrdiff_t{4} * width, width, height, destination, bytes);
    case CameraSubtype::Yuy2:
      return ConvertToYuv(YuvLayout::Yuy2, pixels, ptrdiff_t{4} * width, width, height, destination, bytes);
  }
  return false;
}

}  // namespace camera
