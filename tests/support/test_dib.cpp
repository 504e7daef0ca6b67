#include "tests/support/test_dib.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

const char* LayoutName(DibLayout layout) {
  switch (layout) {
    case DibLayout::Rgb32: return "Rgb32";
    case DibLayout::Rgb24: return "Rgb24";
    case DibLayout::Rgb565: return "Rgb565";
    case DibLayout::Rgb555: return "Rgb555";
    case DibLayout::Palette8: return "Palette8";
    case DibLayout::Rgb555Masks: return "Rgb555Masks";
  }
  return "?";
}

TestDib::TestDib(DibLayout layout, LONG width, LONG height) : layout_(layout), width_(width), height_(height) {
  WORD bitCount = 32;
  DWORD masks[3] = {};
  bool bitFields = false;
  switch (layout) {
    case DibLayout::Rgb32: bitCount = 32; break;
    case DibLayout::Rgb24: bitCount = 24; break;
    case DibLayout::Rgb565:
      bitCount = 16;
      bitFields = true;
      masks[0] = 0xF800; masks[1] = 0x07E0; masks[2] = 0x001F;
      break;
    case DibLayout::Rgb555: bitCount = 16; break;
    case DibLayout::Rgb555Masks:
      bitCount = 16;
      bitFields = true;
      masks[0] = 0x7C00; masks[1] = 0x03E0; masks[2] = 0x001F;
      break;
    case DibLayout::Palette8: bitCount = 8; break;
  }
  stride_ = (static_cast<size_t>(width) * bitCount + 31) / 32 * 4;
  info_.assign(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), kMarker);
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = bitCount;
  header.biCompression = bitFields ? BI_BITFIELDS : BI_RGB;
  header.biSizeImage = static_cast<DWORD>(stride_ * height);
  std::memcpy(info_.data(), &header, sizeof(header));
  if (bitFields) {
    std::memcpy(info_.data() + sizeof(header), masks, sizeof(masks));
    info_.resize(sizeof(header) + sizeof(masks));
  } else if (bitCount != 8) {
    info_.resize(sizeof(header));
  }
  bits_.assign(stride_ * height, kMarker);
}

COLORREF TestDib::Pixel(LONG x, LONG y) const {
  const BYTE* row = bits_.data() + stride_ * static_cast<size_t>(height_ - 1 - y);
  auto expand5 = [](unsigned v) { return static_cast<BYTE>((v << 3) | (v >> 2)); };
  auto expand6 = [](unsigned v) { return static_cast<BYTE>((v << 2) | (v >> 4)); };
  switch (layout_) {
    case DibLayout::Rgb32:
    case DibLayout::Rgb24: {
      const BYTE* p = row + x * (layout_ == DibLayout::Rgb32 ? 4 : 3);
      return RGB(p[2], p[1], p[0]);
    }
    case DibLayout::Rgb565: {
      const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
      return RGB(expand5((v >> 11) & 31), expand6((v >> 5) & 63), expand5(v & 31));
    }
    case DibLayout::Rgb555:
    case DibLayout::Rgb555Masks: {
      const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
      return RGB(expand5((v >> 10) & 31), expand5((v >> 5) & 31), expand5(v & 31));
    }
    case DibLayout::Palette8: {
      const RGBQUAD* colors = reinterpret_cast<const RGBQUAD*>(info_.data() + sizeof(BITMAPINFOHEADER));
      const RGBQUAD& c = colors[row[x]];
      return RGB(c.rgbRed, c.rgbGreen, c.rgbBlue);
    }
  }
  return 0;
}

bool TestDib::Untouched() const {
  return std::all_of(bits_.begin(), bits_.end(), [](BYTE b) { return b == kMarker; });
}

int TestDib::Tolerance() const {
  switch (layout_) {
    case DibLayout::Rgb565:
    case DibLayout::Rgb555:
    case DibLayout::Rgb555Masks: return 8;
    case DibLayout::Palette8: return 43;  // half a step of the two-bit blue
    default: return 0;
  }
}

int ColorDistance(COLORREF a, COLORREF b) {
  return std::max({std::abs(GetRValue(a) - GetRValue(b)), std::abs(GetGValue(a) - GetGValue(b)),
                   std::abs(GetBValue(a) - GetBValue(b))});
}
