#pragma once
// TestDib: a bottom-up bitmap in one of the RGB layouts a pin delivers, with its
// BITMAPINFO (header plus masks or a 256-entry colour table) and its pixel buffer, so that
// tests can hand both to a grab and read the pixels back. Buffers are pre-filled with a
// marker byte, which shows what a grab left untouched.

#include <windows.h>

#include <cstddef>
#include <vector>

// In the order of the pin's positions: Rgb555 is 5-5-5 described with BI_RGB, Rgb555Masks
// with BI_BITFIELDS.
enum class DibLayout { Rgb32, Rgb24, Rgb565, Rgb555, Palette8, Rgb555Masks };

const char* LayoutName(DibLayout layout);

class TestDib {
 public:
  static constexpr BYTE kMarker = 0xA5;

  TestDib(DibLayout layout, LONG width, LONG height);

  BITMAPINFO* info() noexcept { return reinterpret_cast<BITMAPINFO*>(info_.data()); }
  size_t infoBytes() const noexcept { return info_.size(); }
  BYTE* bits() noexcept { return bits_.data(); }
  size_t bitsBytes() const noexcept { return bits_.size(); }
  size_t stride() const noexcept { return stride_; }
  LONG width() const noexcept { return width_; }
  LONG height() const noexcept { return height_; }
  DibLayout layout() const noexcept { return layout_; }

  // The colour of pixel (x, y) counted from the picture's top-left corner; an 8-bit
  // pixel is looked up in the colour table the grab wrote.
  COLORREF Pixel(LONG x, LONG y) const;
  // True when no byte of the pixel buffer was written.
  bool Untouched() const;
  // The largest difference of a channel that the layout may show against the screen.
  int Tolerance() const;

 private:
  DibLayout layout_;
  LONG width_;
  LONG height_;
  size_t stride_;
  std::vector<BYTE> info_;
  std::vector<BYTE> bits_;
};

// Largest difference of the red, green and blue channels of two colours.
int ColorDistance(COLORREF a, COLORREF b);
