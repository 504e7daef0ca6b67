#pragma once
// The filter's own scaler for frames of 32-bit BGRX pixels, and the bitmaps a grab uses with it.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/gdi_resources.h"
#include "format/frame_size.h"

// Weights of one axis of a scale: for each output position, the source positions it reads and
// how much of each, in units of 1/16384 that add up to exactly 16384. Shrinking averages the
// area an output pixel covers (source pixels partly covered count by their covered part);
// enlarging interpolates linearly between the two source pixels around the output pixel's
// centre, which lies at (i + 0.5) * source / output - 0.5 in source pixels (clamped to the
// edge pixels). Owns its arrays.
class ScaleAxis {
 public:
  // False when a length is not positive or memory runs out; the axis is then empty.
  bool Make(int sourceLength, int outputLength) noexcept;

  int SourceLength() const noexcept { return sourceLength_; }
  int OutputLength() const noexcept { return outputLength_; }
  // Output position i reads Pairs(i) pairs of source positions from First(i) on: pair k is
  // positions First(i) + 2k and First(i) + 2k + 1 (with weight 0 on a position past the
  // source's last, when the count of positions is odd).
  int First(int i) const noexcept { return taps_[i].first; }
  int Pairs(int i) const noexcept { return taps_[i].pairs; }
  // The weights of output i's pairs: for each pair, (w0, w1) repeated four times.
  const int16_t* Weights(int i) const noexcept { return weights_.get() + static_cast<size_t>(taps_[i].offset) * 8; }

 private:
  struct Taps {
    int first;
    int pairs;
    int offset;  // of the first pair in weights_
  };
  std::unique_ptr<Taps[]> taps_;
  std::unique_ptr<int16_t[]> weights_;
  int sourceLength_ = 0;
  int outputLength_ = 0;
};

// Scales 32-bit BGRX frames of one size to another: area averaging on an axis that shrinks,
// bilinear on one that grows, each axis on its own, with SSE2 (half of both sides, the same
// pixels, in one pass). The fourth byte of every output pixel is 0. Keeps its weights and a line buffer while the sizes stay.
// Not thread-safe: its owner serialises the scales.
class FrameScaler {
 public:
  // Makes the weights for source x output sizes, or keeps them when they are the same.
  // False when a size is empty or memory runs out.
  bool Prepare(FrameSize source, FrameSize output) noexcept;

  // Reads the source frame's lines, line y at source + y * sourceStride (top-down, strides may
  // be negative), and writes output lines first to first + count - 1, line y at
  // output + y * outputStride. Reads only the source frame's pixels and writes only those
  // output lines' pixels. Needs Prepare to have succeeded for these sizes.
  void Scale(const BYTE* source, ptrdiff_t sourceStride, BYTE* output, ptrdiff_t outputStride, int first,
             int count) noexcept;

 private:
  ScaleAxis horizontal_;
  ScaleAxis vertical_;
  std::unique_ptr<int16_t[]> line_;  // one source line after the vertical pass, 4 values a pixel, plus one pixel
};

// The bitmaps and scaler a grab uses to scale with the filter's own scaler: a 32-bit top-down
// DIB section the grab draws the screen into, whose pixels the scaler reads in place, and a
// second of the output size for frames that GDI then converts to another layout. Each is made
// anew when it is asked for with another size or source; neither stays selected into a device
// context between grabs. Not thread-safe: its owner serialises the grabs that use it.
class FastScaleSurfaces {
 public:
  FastScaleSurfaces() noexcept = default;
  FastScaleSurfaces(const FastScaleSurfaces&) = delete;
  FastScaleSurfaces& operator=(const FastScaleSurfaces&) = delete;

  // The section of width x height the grab draws into, or null.
  HBITMAP Canvas(HDC source, int width, int height) noexcept;

  // Scales the canvas to size. When layout (of layoutBytes) describes 32-bit BGRX lines of that
  // size, writes the frame straight into destination (as many lines as fit in destinationBytes,
  // from the first line GetDIBits would write) and sets *written. Otherwise gives a 32-bit
  // section of the scaled frame for the caller to convert. Null (and *written false) when a
  // bitmap cannot be made or nothing fits.
  HBITMAP Scale(HDC source, FrameSize size, BYTE* destination, size_t destinationBytes, const BITMAPINFO* layout,
                size_t layoutBytes, bool* written) noexcept;

  void Release() noexcept;

 private:
  struct Section {
    BitmapHandle bitmap;
    BYTE* bits = nullptr;
    HDC source = nullptr;
    FrameSize size{};
    HBITMAP Get(HDC dc, int width, int height) noexcept;
  };
  Section canvas_;
  Section output_;
  FrameScaler scaler_;
};
