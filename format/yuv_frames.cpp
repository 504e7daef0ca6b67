#include "format/yuv_frames.h"

#include <cpuid.h>
#include <emmintrin.h>

#include <initializer_list>

namespace {

constexpr uint64_t kLargestImage = 0xFFFFFFFFull;

BYTE Luma(int r, int g, int b) { return static_cast<BYTE>(16 + ((66 * r + 129 * g + 25 * b + 128) >> 8)); }
BYTE ChromaU(int r, int g, int b) { return static_cast<BYTE>(128 + ((-38 * r - 74 * g + 112 * b + 128) >> 8)); }
BYTE ChromaV(int r, int g, int b) { return static_cast<BYTE>(128 + ((112 * r - 94 * g - 18 * b + 128) >> 8)); }

// The plain code, one pixel at a time: the whole of the reference, and the fast paths' tails
// (the pixels of a row after their last whole step).

// Y of pixels x0 to width - 1 of row.
void LumaRow(const BYTE* row, LONG x0, LONG width, BYTE* y) {
  for (LONG x = x0; x < width; ++x) {
    const BYTE* p = row + 4 * static_cast<ptrdiff_t>(x);
    y[x] = Luma(p[2], p[1], p[0]);
  }
}

struct Colour {
  int r, g, b;
};

// The rounded mean colour of columns pixels from x on in top and, unless null, bottom.
Colour BlockMean(const BYTE* top, const BYTE* bottom, LONG x, LONG columns) {
  int r = 0, g = 0, b = 0, n = 0;
  for (const BYTE* row : {top, bottom}) {
    if (!row) continue;
    for (LONG i = 0; i < columns; ++i) {
      const BYTE* p = row + 4 * static_cast<ptrdiff_t>(x + i);
      b += p[0];
      g += p[1];
      r += p[2];
      ++n;
    }
  }
  return Colour{(r + n / 2) / n, (g + n / 2) / n, (b + n / 2) / n};
}

// U and V of the blocks of rows top and bottom (null: a last odd row) from pixel x0 (even) on:
// the block at x at u[x / 2 * step] and v[x / 2 * step].
void ChromaRow(const BYTE* top, const BYTE* bottom, LONG x0, LONG width, BYTE* u, BYTE* v, int step) {
  for (LONG x = x0; x < width; x += 2) {
    const Colour c = BlockMean(top, bottom, x, width - x < 2 ? 1 : 2);
    const ptrdiff_t at = static_cast<ptrdiff_t>(x / 2) * step;
    u[at] = ChromaU(c.r, c.g, c.b);
    v[at] = ChromaV(c.r, c.g, c.b);
  }
}

// YUY2 of pixels x0 (even) to width - 1 of row.
void Yuy2Row(const BYTE* row, LONG x0, LONG width, BYTE* output) {
  for (LONG x = x0; x < width; x += 2) {
    const BYTE* p = row + 4 * static_cast<ptrdiff_t>(x);
    BYTE* pair = output + 2 * static_cast<ptrdiff_t>(x);
    const LONG columns = width - x < 2 ? 1 : 2;
    const Colour c = BlockMean(row, nullptr, x, columns);
    pair[0] = Luma(p[2], p[1], p[0]);
    pair[1] = ChromaU(c.r, c.g, c.b);
    pair[2] = columns == 2 ? Luma(p[6], p[5], p[4]) : pair[0];
    pair[3] = ChromaV(c.r, c.g, c.b);
  }
}

// SSE2: 16 pixels a step, taken as four groups of four. Channels are unpacked to words
// (B, G, R, X per pixel), weighed with pmaddwd (two sums a pixel), and each pixel's two sums
// added after gathering the even and the odd ones. The bias adds the rounding 128 and the
// offset times 256, so that one shift gives the value: 66 R + 129 G + 25 B + 4224 lies in
// 4224..60324 and the chroma sums plus 32896 in 4336..61456, so no lane goes negative nor
// past 255 after the shift.

constexpr int kLumaBias = 128 + (16 << 8);
constexpr int kChromaBias = 128 + (128 << 8);

inline __m128i Load(const BYTE* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(BYTE* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

inline __m128i LumaWeights() { return _mm_set_epi16(0, 66, 129, 25, 0, 66, 129, 25); }
inline __m128i UWeights() { return _mm_set_epi16(0, -38, -74, 112, 0, -38, -74, 112); }
inline __m128i VWeights() { return _mm_set_epi16(0, 112, -94, -18, 0, 112, -94, -18); }

// The values of four pixels (or block means), two in each of first and second as words
// B, G, R, X: (weights . pixel + bias) >> 8, as four dwords in order.
inline __m128i Weigh(__m128i first, __m128i second, __m128i weights, int bias) {
  const __m128 a = _mm_castsi128_ps(_mm_madd_epi16(first, weights));
  const __m128 b = _mm_castsi128_ps(_mm_madd_epi16(second, weights));
  const __m128i even = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
  const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
  return _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(even, odd), _mm_set1_epi32(bias)), 8);
}

// The means of the two blocks in low (pixels 0, 1) and high (pixels 2, 3), words summed over
// Rows rows: (sum + n / 2) / n for n = 2 * Rows.
template <int Rows>
inline __m128i BlockMeans(__m128i low, __m128i high) {
  const __m128i sums = _mm_add_epi16(_mm_unpacklo_epi64(low, high), _mm_unpackhi_epi64(low, high));
  return _mm_srli_epi16(_mm_add_epi16(sums, _mm_set1_epi16(Rows)), Rows);
}

// One group of four pixels of a row: their Y as dwords, and their words for the means.
struct Group {
  __m128i luma, low, high;
};

inline Group LoadGroup(const BYTE* p) {
  const __m128i pixels = Load(p);
  const __m128i zero = _mm_setzero_si128();
  Group g;
  g.low = _mm_unpacklo_epi8(pixels, zero);
  g.high = _mm_unpackhi_epi8(pixels, zero);
  g.luma = Weigh(g.low, g.high, LumaWeights(), kLumaBias);
  return g;
}

inline __m128i PackBytes(const __m128i dwords[4]) {
  return _mm_packus_epi16(_mm_packs_epi32(dwords[0], dwords[1]), _mm_packs_epi32(dwords[2], dwords[3]));
}

// U and V of the eight blocks whose means are in means[4], as words.
inline void ChromaWords(const __m128i means[4], __m128i* u, __m128i* v) {
  *u = _mm_packs_epi32(Weigh(means[0], means[1], UWeights(), kChromaBias),
                       Weigh(means[2], means[3], UWeights(), kChromaBias));
  *v = _mm_packs_epi32(Weigh(means[0], means[1], VWeights(), kChromaBias),
                       Weigh(means[2], means[3], VWeights(), kChromaBias));
}

// U0 V0 U1 V1 ... U7 V7.
inline __m128i Interleave(__m128i u, __m128i v) {
  return _mm_packus_epi16(_mm_unpacklo_epi16(u, v), _mm_unpackhi_epi16(u, v));
}

template <bool Interleaved>
void Rows420Sse2(const BYTE* top, const BYTE* bottom, BYTE* yTop, BYTE* yBottom, BYTE* u, BYTE* v,
                 LONG pixels) noexcept {
  for (LONG x = 0; x < pixels; x += 16) {
    __m128i lumaTop[4], lumaBottom[4], means[4];
    for (int i = 0; i < 4; ++i) {
      const ptrdiff_t at = 4 * (static_cast<ptrdiff_t>(x) + 4 * i);
      const Group a = LoadGroup(top + at);
      const Group b = LoadGroup(bottom + at);
      lumaTop[i] = a.luma;
      lumaBottom[i] = b.luma;
      means[i] = BlockMeans<2>(_mm_add_epi16(a.low, b.low), _mm_add_epi16(a.high, b.high));
    }
    Store(yTop + x, PackBytes(lumaTop));
    Store(yBottom + x, PackBytes(lumaBottom));
    __m128i uWords, vWords;
    ChromaWords(means, &uWords, &vWords);
    if (Interleaved) {
      Store(u + x, Interleave(uWords, vWords));
    } else {
      const __m128i bytes = _mm_packus_epi16(uWords, vWords);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(u + x / 2), bytes);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(v + x / 2), _mm_srli_si128(bytes, 8));
    }
  }
}

void Yuy2RowSse2(const BYTE* row, BYTE* output, LONG pixels) noexcept {
  for (LONG x = 0; x < pixels; x += 16) {
    __m128i luma[4], means[4];
    for (int i = 0; i < 4; ++i) {
      const Group g = LoadGroup(row + 4 * (static_cast<ptrdiff_t>(x) + 4 * i));
      luma[i] = g.luma;
      means[i] = BlockMeans<1>(g.low, g.high);
    }
    const __m128i y = PackBytes(luma);
    __m128i uWords, vWords;
    ChromaWords(means, &uWords, &vWords);
    const __m128i chroma = Interleave(uWords, vWords);
    Store(output + 2 * x, _mm_unpacklo_epi8(y, chroma));
    Store(output + 2 * x + 16, _mm_unpackhi_epi8(y, chroma));
  }
}

// A fast path's kernels over whole steps of pixels.
using PairRows = void (*)(const BYTE*, const BYTE*, BYTE*, BYTE*, BYTE*, BYTE*, LONG) noexcept;
using SingleRow = void (*)(const BYTE*, BYTE*, LONG) noexcept;
struct RowKernels {
  LONG step;
  PairRows i420;
  PairRows nv12;
  SingleRow yuy2;
};

const RowKernels kSse2 = {16, Rows420Sse2<false>, Rows420Sse2<true>, Yuy2RowSse2};
const RowKernels kAvx2 = {32, yuv_avx2::I420Rows, yuv_avx2::Nv12Rows, yuv_avx2::Yuy2Row};

// The kernels a path runs along a row, widest first; what is left goes to the plain code.
struct PathKernels {
  const RowKernels* kernels[2];
  int count;
};

// Runs the kernels over a row of width pixels from 0, each on the whole steps left; returns
// the first pixel left over.
template <typename Call>
LONG RunKernels(const PathKernels& path, LONG width, Call call) {
  LONG x = 0;
  for (int k = 0; k < path.count; ++k) {
    const RowKernels& kernels = *path.kernels[k];
    const LONG pixels = (width - x) / kernels.step * kernels.step;
    if (pixels > 0) call(kernels, x, pixels);
    x += pixels;
  }
  return x;
}

void Convert(const PathKernels& path, YuvLayout layout, const BYTE* source, ptrdiff_t sourceStride, LONG width,
             LONG height, BYTE* destination) {
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  const size_t chromaWidth = (w + 1) / 2, chromaHeight = (h + 1) / 2;
  auto row = [&](LONG y) { return source + static_cast<ptrdiff_t>(y) * sourceStride; };
  if (layout == YuvLayout::Yuy2) {
    for (LONG y = 0; y < height; ++y) {
      const BYTE* line = row(y);
      BYTE* output = destination + static_cast<size_t>(y) * 4 * chromaWidth;
      const LONG rest = RunKernels(path, width, [&](const RowKernels& k, LONG x, LONG pixels) {
        k.yuy2(line + 4 * static_cast<ptrdiff_t>(x), output + 2 * static_cast<ptrdiff_t>(x), pixels);
      });
      Yuy2Row(line, rest, width, output);
    }
    return;
  }
  const bool interleaved = layout == YuvLayout::Nv12;
  const int step = interleaved ? 2 : 1;
  const size_t chromaStride = chromaWidth * step;
  BYTE* const uPlane = destination + w * h;
  BYTE* const vPlane = interleaved ? uPlane + 1 : uPlane + chromaWidth * chromaHeight;
  for (LONG y = 0; y < height; y += 2) {
    const bool pair = y + 1 < height;
    const BYTE* top = row(y);
    const BYTE* bottom = pair ? row(y + 1) : top;
    BYTE* yTop = destination + static_cast<size_t>(y) * w;
    BYTE* yBottom = pair ? yTop + w : yTop;
    BYTE* u = uPlane + static_cast<size_t>(y / 2) * chromaStride;
    BYTE* v = vPlane + static_cast<size_t>(y / 2) * chromaStride;
    const LONG rest = RunKernels(path, width, [&](const RowKernels& k, LONG x, LONG pixels) {
      const ptrdiff_t at = 4 * static_cast<ptrdiff_t>(x), chromaAt = static_cast<ptrdiff_t>(x / 2) * step;
      (interleaved ? k.nv12 : k.i420)(top + at, bottom + at, yTop + x, yBottom + x, u + chromaAt, v + chromaAt, pixels);
    });
    LumaRow(top, rest, width, yTop);
    if (pair) LumaRow(bottom, rest, width, yBottom);
    ChromaRow(top, pair ? bottom : nullptr, rest, width, u, v, step);
  }
}

bool Accepts(YuvLayout layout, const BYTE* source, LONG width, LONG height, const BYTE* destination,
             size_t destinationBytes) {
  if (!source || !destination) return false;
  const uint64_t size = YuvImageSize(layout, width, height);
  return size != 0 && destinationBytes >= size;
}

bool HasAvx2() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const unsigned osXsave = 1u << 27, avx = 1u << 28;
  if ((c & (osXsave | avx)) != (osXsave | avx)) return false;
  unsigned low = 0, high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  if ((low & 6) != 6) return false;  // the system saves the XMM and YMM registers
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, a, b, c, d);
  return (b & (1u << 5)) != 0;
}

}  // namespace

uint64_t YuvImageSize(YuvLayout layout, LONG width, LONG height) noexcept {
  if (width <= 0 || height <= 0) return 0;
  const uint64_t w = static_cast<uint64_t>(width), h = static_cast<uint64_t>(height);
  const uint64_t chromaWidth = (w + 1) / 2, chromaHeight = (h + 1) / 2;
  const uint64_t size = layout == YuvLayout::Yuy2 ? h * 4 * chromaWidth : w * h + 2 * chromaWidth * chromaHeight;
  return size > kLargestImage ? 0 : size;
}

YuvPath FastestYuvPath() noexcept {
  static const YuvPath fastest = HasAvx2() ? YuvPath::Avx2 : YuvPath::Sse2;
  return fastest;
}

bool ConvertToYuvWith(YuvPath path, YuvLayout layout, const BYTE* source, ptrdiff_t sourceStride, LONG width,
                      LONG height, BYTE* destination, size_t destinationBytes) noexcept {
  if (!Accepts(layout, source, width, height, destination, destinationBytes)) return false;
  PathKernels kernels = {{nullptr, nullptr}, 0};
  switch (path) {
    case YuvPath::Reference: break;
    case YuvPath::Sse2: kernels = {{&kSse2, nullptr}, 1}; break;
    case YuvPath::Avx2:
      if (FastestYuvPath() != YuvPath::Avx2) return false;
      kernels = {{&kAvx2, &kSse2}, 2};
      break;
  }
  Convert(kernels, layout, source, sourceStride, width, height, destination);
  return true;
}

bool ConvertToYuv(YuvLayout layout, const BYTE* source, ptrdiff_t sourceStride, LONG width, LONG height,
                  BYTE* destination, size_t destinationBytes) noexcept {
  return ConvertToYuvWith(FastestYuvPath(), layout, source, sourceStride, width, height, destination, destinationBytes);
}

bool ConvertToYuvReference(YuvLayout layout, const BYTE* source, ptrdiff_t sourceStride, LONG width, LONG height,
                           BYTE* destination, size_t destinationBytes) noexcept {
  return ConvertToYuvWith(YuvPath::Reference, layout, source, sourceStride, width, height, destination,
                          destinationBytes);
}
