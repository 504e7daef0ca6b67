#include "capture/frame_scaler.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr int kWeightBits = 14;
constexpr int kOne = 1 << kWeightBits;
// The vertical pass keeps 7 bits below a colour level: 255 << 7 still fits a signed 16-bit
// lane, and a pair of such values times weights of at most kOne fits 32 bits.
constexpr int kLineBits = 7;

// Source positions and weights of one output position, before they are paired.
struct Span {
  int first = 0;
  int count = 0;
};

// Output i of an axis that shrinks (or keeps its length): source pixel j spans
// [j * output, (j + 1) * output) and output pixel i spans [i * source, (i + 1) * source), in
// units of 1 / output source pixels. A weight is the rounded running share of the covered span
// minus the one before, so the weights add up to exactly kOne.
Span AreaSpan(int source, int output, int i, int* weights) {
  const int64_t start = static_cast<int64_t>(i) * source;
  const int64_t end = start + source;
  Span span;
  span.first = static_cast<int>(start / output);
  const int last = static_cast<int>((end - 1) / output);
  span.count = last - span.first + 1;
  auto share = [&](int64_t x) { return static_cast<int>(((x - start) * 2 * kOne + source) / (2 * static_cast<int64_t>(source))); };
  if (weights) {
    for (int j = span.first; j <= last; ++j) {
      const int64_t lo = std::max<int64_t>(static_cast<int64_t>(j) * output, start);
      const int64_t hi = std::min<int64_t>(static_cast<int64_t>(j + 1) * output, end);
      weights[j - span.first] = share(hi) - share(lo);
    }
  }
  return span;
}

// Output i of an axis that grows: its centre at (i + 0.5) * source / output - 0.5, that is
// ((2i + 1) * source - output) / (2 * output), between two source pixels, or on an edge pixel.
Span BilinearSpan(int source, int output, int i, int* weights) {
  const int64_t numerator = (2 * static_cast<int64_t>(i) + 1) * source - output;
  const int64_t denominator = 2 * static_cast<int64_t>(output);
  Span span;
  if (numerator <= 0 || numerator >= (source - 1) * denominator) {
    span.first = numerator <= 0 ? 0 : source - 1;
    span.count = 1;
    if (weights) weights[0] = kOne;
    return span;
  }
  span.first = static_cast<int>(numerator / denominator);
  span.count = 2;
  if (weights) {
    const int64_t remainder = numerator % denominator;
    weights[1] = static_cast<int>((remainder * 2 * kOne + denominator) / (2 * denominator));
    weights[0] = kOne - weights[1];
  }
  return span;
}

Span AxisSpan(int source, int output, int i, int* weights) {
  return output > source ? BilinearSpan(source, output, i, weights) : AreaSpan(source, output, i, weights);
}

inline __m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// Line y of the vertical pass: every source pixel of the lines that output line y reads,
// weighted and summed, with kLineBits bits below a level, into line.
void VerticalPass(const BYTE* source, ptrdiff_t stride, int width, int height, const ScaleAxis& axis, int y,
                  int16_t* line) {
  const int first = axis.First(y);
  const int pairs = axis.Pairs(y);
  const int16_t* weights = axis.Weights(y);
  const __m128i zero = _mm_setzero_si128();
  const __m128i rounding = _mm_set1_epi32(1 << (kWeightBits - kLineBits - 1));
  const ptrdiff_t lastLine = height - 1;
  auto lineOf = [&](ptrdiff_t n) { return source + std::min(n, lastLine) * stride; };
  int x = 0;
  for (; x + 4 <= width; x += 4) {
    __m128i sum0 = rounding, sum1 = rounding, sum2 = rounding, sum3 = rounding;
    for (int k = 0; k < pairs; ++k) {
      const ptrdiff_t n = first + 2 * k;
      const __m128i w = Load(weights + 8 * k);
      const __m128i a = Load(lineOf(n) + 4 * x);
      const __m128i b = Load(lineOf(n + 1) + 4 * x);
      const __m128i aLow = _mm_unpacklo_epi8(a, zero), aHigh = _mm_unpackhi_epi8(a, zero);
      const __m128i bLow = _mm_unpacklo_epi8(b, zero), bHigh = _mm_unpackhi_epi8(b, zero);
      sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(_mm_unpacklo_epi16(aLow, bLow), w));
      sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(_mm_unpackhi_epi16(aLow, bLow), w));
      sum2 = _mm_add_epi32(sum2, _mm_madd_epi16(_mm_unpacklo_epi16(aHigh, bHigh), w));
      sum3 = _mm_add_epi32(sum3, _mm_madd_epi16(_mm_unpackhi_epi16(aHigh, bHigh), w));
    }
    const int shift = kWeightBits - kLineBits;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line + 4 * x),
                     _mm_packs_epi32(_mm_srai_epi32(sum0, shift), _mm_srai_epi32(sum1, shift)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line + 4 * x + 8),
                     _mm_packs_epi32(_mm_srai_epi32(sum2, shift), _mm_srai_epi32(sum3, shift)));
  }
  for (; x < width; ++x) {
    __m128i sum = rounding;
    for (int k = 0; k < pairs; ++k) {
      const ptrdiff_t n = first + 2 * k;
      int32_t pixelA, pixelB;
      std::memcpy(&pixelA, lineOf(n) + 4 * x, 4);
      std::memcpy(&pixelB, lineOf(n + 1) + 4 * x, 4);
      const __m128i a = _mm_unpacklo_epi8(_mm_cvtsi32_si128(pixelA), zero);
      const __m128i b = _mm_unpacklo_epi8(_mm_cvtsi32_si128(pixelB), zero);
      sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), Load(weights + 8 * k)));
    }
    sum = _mm_srai_epi32(sum, kWeightBits - kLineBits);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(line + 4 * x), _mm_packs_epi32(sum, sum));
  }
}

// Output line from the vertical pass's line: each output pixel the weighted sum of its source
// pixels, rounded to a level; the fourth byte 0.
void HorizontalPass(const int16_t* line, const ScaleAxis& axis, BYTE* output) {
  const int width = axis.OutputLength();
  const int totalBits = kWeightBits + kLineBits;
  const __m128i rounding = _mm_set1_epi32(1 << (totalBits - 1));
  const __m128i colours = _mm_set_epi32(0, 0, 0, 0x00FFFFFF);
  auto pixel = [&](int i) {
    const int16_t* p = line + 4 * static_cast<ptrdiff_t>(axis.First(i));
    const int16_t* weights = axis.Weights(i);
    const int pairs = axis.Pairs(i);
    __m128i sum = rounding;
    for (int k = 0; k < pairs; ++k) {
      // Two neighbouring pixels, their channels interleaved: (a.b, b.b, a.g, b.g, ...).
      const __m128i two = Load(p + 8 * k);
      const __m128i interleaved = _mm_unpacklo_epi16(two, _mm_srli_si128(two, 8));
      sum = _mm_add_epi32(sum, _mm_madd_epi16(interleaved, Load(weights + 8 * k)));
    }
    return _mm_srai_epi32(sum, totalBits);
  };
  int i = 0;
  for (; i + 2 <= width; i += 2) {
    const __m128i words = _mm_packs_epi32(pixel(i), pixel(i + 1));
    const __m128i bytes = _mm_and_si128(_mm_packus_epi16(words, words), _mm_set_epi32(0, 0, 0x00FFFFFF, 0x00FFFFFF));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(output + 4 * i), bytes);
  }
  if (i < width) {
    const __m128i words = _mm_packs_epi32(pixel(i), pixel(i));
    const int value = _mm_cvtsi128_si32(_mm_and_si128(_mm_packus_epi16(words, words), colours));
    std::memcpy(output + 4 * i, &value, 4);
  }
}

// Output line of a scale to exactly half of both sides from source lines a and b: each pixel
// the mean of a 2 x 2 block, rounded as the general passes round it, (sum + 2) / 4.
void HalveLines(const BYTE* a, const BYTE* b, BYTE* output, int width) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i two = _mm_set1_epi16(2);
  const __m128i colours = _mm_set_epi32(0, 0, 0x00FFFFFF, 0x00FFFFFF);
  int i = 0;
  for (; i + 2 <= width; i += 2) {
    const __m128i top = Load(a + 8 * i), bottom = Load(b + 8 * i);
    const __m128i left = _mm_add_epi16(_mm_unpacklo_epi8(top, zero), _mm_unpacklo_epi8(bottom, zero));
    const __m128i right = _mm_add_epi16(_mm_unpackhi_epi8(top, zero), _mm_unpackhi_epi8(bottom, zero));
    __m128i sums = _mm_add_epi16(_mm_unpacklo_epi64(left, right), _mm_unpackhi_epi64(left, right));
    sums = _mm_srli_epi16(_mm_add_epi16(sums, two), 2);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(output + 4 * i), _mm_and_si128(_mm_packus_epi16(sums, sums), colours));
  }
  if (i < width) {
    const __m128i top = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + 8 * i));
    const __m128i bottom = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + 8 * i));
    const __m128i pair = _mm_add_epi16(_mm_unpacklo_epi8(top, zero), _mm_unpacklo_epi8(bottom, zero));
    __m128i sums = _mm_add_epi16(pair, _mm_srli_si128(pair, 8));
    sums = _mm_srli_epi16(_mm_add_epi16(sums, two), 2);
    const int value = _mm_cvtsi128_si32(_mm_and_si128(_mm_packus_epi16(sums, sums), colours));
    std::memcpy(output + 4 * i, &value, 4);
  }
}

bool IsBgrxLayout(const BITMAPINFO* layout, size_t layoutBytes, FrameSize size) {
  if (!layout || layoutBytes < sizeof(BITMAPINFOHEADER)) return false;
  const BITMAPINFOHEADER& header = layout->bmiHeader;
  if (header.biBitCount != 32 || header.biWidth != size.width || std::labs(header.biHeight) != size.height) return false;
  if (header.biCompression == BI_RGB) return true;
  if (header.biCompression != BI_BITFIELDS) return false;
  // The masks follow a plain header, and sit at the same place in the larger headers.
  const size_t masksAt = sizeof(BITMAPINFOHEADER);
  if (header.biSize < masksAt || layoutBytes < masksAt + 3 * sizeof(DWORD)) return false;
  DWORD masks[3];
  std::memcpy(masks, reinterpret_cast<const BYTE*>(layout) + masksAt, sizeof(masks));
  return masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF;
}

}  // namespace

bool ScaleAxis::Make(int sourceLength, int outputLength) noexcept {
  taps_.reset();
  weights_.reset();
  sourceLength_ = outputLength_ = 0;
  if (sourceLength <= 0 || outputLength <= 0) return false;
  size_t totalPairs = 0;
  for (int i = 0; i < outputLength; ++i) totalPairs += (AxisSpan(sourceLength, outputLength, i, nullptr).count + 1) / 2;
  const int largest = sourceLength / outputLength + 2;
  std::unique_ptr<int[]> spanWeights(new (std::nothrow) int[largest + 1]);
  taps_.reset(new (std::nothrow) Taps[outputLength]);
  weights_.reset(new (std::nothrow) int16_t[totalPairs * 8]);
  if (!spanWeights || !taps_ || !weights_) {
    taps_.reset();
    weights_.reset();
    return false;
  }
  int offset = 0;
  for (int i = 0; i < outputLength; ++i) {
    const Span span = AxisSpan(sourceLength, outputLength, i, spanWeights.get());
    const int pairs = (span.count + 1) / 2;
    spanWeights[span.count] = 0;  // the odd position's partner
    taps_[i] = Taps{span.first, pairs, offset};
    int16_t* weights = weights_.get() + static_cast<size_t>(offset) * 8;
    for (int k = 0; k < pairs; ++k) {
      for (int lane = 0; lane < 4; ++lane) {
        weights[8 * k + 2 * lane] = static_cast<int16_t>(spanWeights[2 * k]);
        weights[8 * k + 2 * lane + 1] = static_cast<int16_t>(spanWeights[2 * k + 1]);
      }
    }
    offset += pairs;
  }
  sourceLength_ = sourceLength;
  outputLength_ = outputLength;
  return true;
}

bool FrameScaler::Prepare(FrameSize source, FrameSize output) noexcept {
  if (horizontal_.SourceLength() == source.width && horizontal_.OutputLength() == output.width &&
      vertical_.SourceLength() == source.height && vertical_.OutputLength() == output.height && line_) {
    return true;
  }
  line_.reset();
  if (!horizontal_.Make(source.width, output.width) || !vertical_.Make(source.height, output.height)) return false;
  // One pixel more than the line: the partner of an odd last position, read with weight 0.
  const size_t values = (static_cast<size_t>(source.width) + 1) * 4;
  line_.reset(new (std::nothrow) int16_t[values]());
  return line_ != nullptr;
}

void FrameScaler::Scale(const BYTE* source, ptrdiff_t sourceStride, BYTE* output, ptrdiff_t outputStride, int first,
                        int count) noexcept {
  if (horizontal_.SourceLength() == 2 * horizontal_.OutputLength() &&
      vertical_.SourceLength() == 2 * vertical_.OutputLength()) {
    // Half of both sides, the commonest scale, in one pass: the same pixels as the two passes.
    for (int j = 0; j < count; ++j) {
      const BYTE* a = source + 2 * static_cast<ptrdiff_t>(first + j) * sourceStride;
      HalveLines(a, a + sourceStride, output + j * outputStride, horizontal_.OutputLength());
    }
    return;
  }
  for (int j = 0; j < count; ++j) {
    VerticalPass(source, sourceStride, horizontal_.SourceLength(), vertical_.SourceLength(), vertical_, first + j,
                 line_.get());
    HorizontalPass(line_.get(), horizontal_, output + j * outputStride);
  }
}

HBITMAP FastScaleSurfaces::Section::Get(HDC dc, int width, int height) noexcept {
  if (bitmap && dc == source && size.width == width && size.height == height) return bitmap.get();
  bitmap.reset();  // before the new one is made: two screen-sized sections never live at once
  bits = nullptr;
  BITMAPINFO layout = {};
  layout.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  layout.bmiHeader.biWidth = width;
  layout.bmiHeader.biHeight = -height;  // top-down
  layout.bmiHeader.biPlanes = 1;
  layout.bmiHeader.biBitCount = 32;
  layout.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  bitmap.reset(::CreateDIBSection(dc, &layout, DIB_RGB_COLORS, &pixels, nullptr, 0));
  if (!bitmap || !pixels) {
    bitmap.reset();
    return nullptr;
  }
  bits = static_cast<BYTE*>(pixels);
  source = dc;
  size = FrameSize{width, height};
  return bitmap.get();
}

HBITMAP FastScaleSurfaces::Canvas(HDC source, int width, int height) noexcept {
  return canvas_.Get(source, width, height);
}

HBITMAP FastScaleSurfaces::Scale(HDC source, FrameSize size, BYTE* destination, size_t destinationBytes,
                                 const BITMAPINFO* layout, size_t layoutBytes, bool* written) noexcept {
  *written = false;
  if (!canvas_.bitmap || !scaler_.Prepare(canvas_.size, size)) return nullptr;
  ::GdiFlush();  // the grab's drawing into the canvas is done before its pixels are read
  const ptrdiff_t canvasStride = static_cast<ptrdiff_t>(canvas_.size.width) * 4;
  const ptrdiff_t stride = static_cast<ptrdiff_t>(size.width) * 4;
  if (destination && IsBgrxLayout(layout, layoutBytes, size)) {
    const int lines = static_cast<int>(std::min<size_t>(size.height, destinationBytes / stride));
    if (lines == 0) return nullptr;
    if (layout->bmiHeader.biHeight < 0) {
      scaler_.Scale(canvas_.bits, canvasStride, destination, stride, 0, lines);
    } else {
      // Bottom-up: the buffer starts with the frame's last line, as GetDIBits fills it.
      scaler_.Scale(canvas_.bits, canvasStride, destination + (lines - 1) * stride, -stride, size.height - lines, lines);
    }
    *written = true;
    return nullptr;
  }
  HBITMAP scaled = output_.Get(source, size.width, size.height);
  if (!scaled) return nullptr;
  scaler_.Scale(canvas_.bits, canvasStride, output_.bits, stride, 0, size.height);
  return scaled;
}

void FastScaleSurfaces::Release() noexcept {
  canvas_ = Section{};
  output_ = Section{};
}
