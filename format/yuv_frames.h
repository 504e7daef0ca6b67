#pragma once
// Conversion of 32-bit BGRX frames into the YUV layouts the filter offers (I420, NV12, YUY2):
// BT.601 limited range, with SSE2 and AVX2 paths that give exactly the reference's bytes.

#include <windows.h>

#include <cstddef>
#include <cstdint>

enum class YuvLayout { I420, Nv12, Yuy2 };

// Bytes of one width x height frame in the layout, rows packed with no padding: I420 the Y
// plane (w * h), then the U and the V plane of ceil(w/2) x ceil(h/2); NV12 the Y plane, then
// ceil(h/2) rows of 2 * ceil(w/2) bytes, U before V; YUY2 h rows of 4 * ceil(w/2) bytes, Y0 U Y1 V
// per pair of pixels. 0 when a side is not positive or the frame is larger than 4 GiB - 1.
uint64_t YuvImageSize(YuvLayout layout, LONG width, LONG height) noexcept;

// Converts width x height BGRX pixels (row y at source + y * sourceStride; a negative stride
// reads a bottom-up picture; the fourth byte is ignored) into destination, top row first:
//   Y = 16 + ((66 R + 129 G + 25 B + 128) >> 8)
//   U = 128 + ((-38 R - 74 G + 112 B + 128) >> 8)
//   V = 128 + ((112 R - 94 G - 18 B + 128) >> 8)
// (shifts arithmetic; Y stays in 16..235, U and V in 16..240 for any input, so nothing clamps).
// Chroma comes from each 2 x 2 block (I420, NV12) or pair (YUY2): the mean R, G and B of the
// block's pixels that exist, (sum + n/2) / n, put through the formulas; at an odd right edge
// YUY2's last second Y repeats the first. Reads only the pixels' width * 4 bytes of each row and
// writes only YuvImageSize bytes; any alignment and stride. False, and nothing written, when a
// side is not positive, a pointer is null or destinationBytes is below YuvImageSize.
bool ConvertToYuv(YuvLayout layout, const BYTE* source, ptrdiff_t sourceStride, LONG width, LONG height,
                  BYTE* destination, size_t destinationBytes) noexcept;

// The same conversion one pixel at a time in plain C++: what every fast path must match byte
// for byte.
bool ConvertToYuvReference(YuvLayout layout, const BYTE* source, ptrdiff_t sourceStride, LONG width, LONG height,
                           BYTE* destination, size_t destinationBytes) noexcept;

enum class YuvPath { Reference, Sse2, Avx2 };

// The path ConvertToYuv takes here: Avx2 where the processor has AVX2 and the system saves its
// registers (XGETBV), else Sse2. Decided once.
YuvPath FastestYuvPath() noexcept;

// ConvertToYuv on the given path, for tests and the benchmark; false also for Avx2 on a
// processor without it.
bool ConvertToYuvWith(YuvPath path, YuvLayout layout, const BYTE* source, ptrdiff_t sourceStride, LONG width,
                      LONG height, BYTE* destination, size_t destinationBytes) noexcept;

// The AVX2 row kernels, for format/yuv_frames.cpp only: defined in yuv_frames_avx2.cpp, the one
// file built with -mavx2, and called only after FastestYuvPath found AVX2. Each converts a
// whole number of 32-pixel steps (pixels a multiple of 32).
namespace yuv_avx2 {
// Rows top and bottom (the same row for a last odd row) into their Y rows, and their chroma
// into u and v (I420) or into u interleaved with v (NV12, v unused).
void I420Rows(const BYTE* top, const BYTE* bottom, BYTE* yTop, BYTE* yBottom, BYTE* u, BYTE* v, LONG pixels) noexcept;
void Nv12Rows(const BYTE* top, const BYTE* bottom, BYTE* yTop, BYTE* yBottom, BYTE* u, BYTE* v, LONG pixels) noexcept;
// One row into its YUY2 row.
void Yuy2Row(const BYTE* row, BYTE* output, LONG pixels) noexcept;
}  // namespace yuv_avx2
