// The AVX2 kernels of format/yuv_frames.h: 32 pixels a step, four groups of eight, the SSE2
// path's arithmetic in both 128-bit lanes at once. The lanes' results are put back in order
// with one permute each. Only intrinsics and this file's own functions are used here, so that
// no inline function of another file is ever emitted with AVX2 instructions.

#include <immintrin.h>

#include "format/yuv_frames.h"

namespace {

constexpr int kLumaBias = 128 + (16 << 8);
constexpr int kChromaBias = 128 + (128 << 8);

inline __m256i Load(const BYTE* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void Store(BYTE* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

// Words B, G, R, 0 for each pixel of the four a register holds.
inline __m256i Weights(short b, short g, short r) {
  return _mm256_setr_epi16(b, g, r, 0, b, g, r, 0, b, g, r, 0, b, g, r, 0);
}
inline __m256i LumaWeights() { return Weights(25, 129, 66); }
inline __m256i UWeights() { return Weights(112, -74, -38); }
inline __m256i VWeights() { return Weights(-18, -94, 112); }

// Each lane: the values of four pixels (or block means), two in first and two in second as
// words B, G, R, X: (weights . pixel + bias) >> 8 as dwords in order.
inline __m256i Weigh(__m256i first, __m256i second, __m256i weights, int bias) {
  const __m256 a = _mm256_castsi256_ps(_mm256_madd_epi16(first, weights));
  const __m256 b = _mm256_castsi256_ps(_mm256_madd_epi16(second, weights));
  const __m256i even = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
  const __m256i odd = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
  return _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(even, odd), _mm256_set1_epi32(bias)), 8);
}

// Each lane: the means of the two blocks in low (pixels 0, 1) and high (pixels 2, 3), words
// summed over Rows rows.
template <int Rows>
inline __m256i BlockMeans(__m256i low, __m256i high) {
  const __m256i sums = _mm256_add_epi16(_mm256_unpacklo_epi64(low, high), _mm256_unpackhi_epi64(low, high));
  return _mm256_srli_epi16(_mm256_add_epi16(sums, _mm256_set1_epi16(Rows)), Rows);
}

// Eight pixels of a row: their Y as dwords in order, and their words (pixels 0, 1, 4, 5 in
// low; 2, 3, 6, 7 in high) for the means.
struct Group {
  __m256i luma, low, high;
};

inline Group LoadGroup(const BYTE* p) {
  const __m256i pixels = Load(p);
  const __m256i zero = _mm256_setzero_si256();
  Group g;
  g.low = _mm256_unpacklo_epi8(pixels, zero);
  g.high = _mm256_unpackhi_epi8(pixels, zero);
  g.luma = Weigh(g.low, g.high, LumaWeights(), kLumaBias);
  return g;
}

// The packs work per lane: four-byte (or two-word) units come out as 0, 2, 4, 6, 1, 3, 5, 7.
inline __m256i InOrder(__m256i v) { return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)); }

// 32 Y bytes in order from four groups' dwords.
inline __m256i PackBytes(const __m256i dwords[4]) {
  return InOrder(
      _mm256_packus_epi16(_mm256_packs_epi32(dwords[0], dwords[1]), _mm256_packs_epi32(dwords[2], dwords[3])));
}

// U and V of the 16 blocks whose means are in means[4], as words in order.
inline void ChromaWords(const __m256i means[4], __m256i* u, __m256i* v) {
  *u = InOrder(_mm256_packs_epi32(Weigh(means[0], means[1], UWeights(), kChromaBias),
                                  Weigh(means[2], means[3], UWeights(), kChromaBias)));
  *v = InOrder(_mm256_packs_epi32(Weigh(means[0], means[1], VWeights(), kChromaBias),
                                  Weigh(means[2], means[3], VWeights(), kChromaBias)));
}

// U0 V0 U1 V1 ... U15 V15.
inline __m256i Interleave(__m256i u, __m256i v) {
  return _mm256_packus_epi16(_mm256_unpacklo_epi16(u, v), _mm256_unpackhi_epi16(u, v));
}

template <bool Interleaved>
void Rows420(const BYTE* top, const BYTE* bottom, BYTE* yTop, BYTE* yBottom, BYTE* u, BYTE* v, LONG pixels) {
  for (LONG x = 0; x < pixels; x += 32) {
    __m256i lumaTop[4], lumaBottom[4], means[4];
    for (int i = 0; i < 4; ++i) {
      const ptrdiff_t at = 4 * (static_cast<ptrdiff_t>(x) + 8 * i);
      const Group a = LoadGroup(top + at);
      const Group b = LoadGroup(bottom + at);
      lumaTop[i] = a.luma;
      lumaBottom[i] = b.luma;
      means[i] = BlockMeans<2>(_mm256_add_epi16(a.low, b.low), _mm256_add_epi16(a.high, b.high));
    }
    Store(yTop + x, PackBytes(lumaTop));
    Store(yBottom + x, PackBytes(lumaBottom));
    __m256i uWords, vWords;
    ChromaWords(means, &uWords, &vWords);
    if (Interleaved) {
      Store(u + x, Interleave(uWords, vWords));
    } else {
      // Per lane U then V of eight blocks: the quarters put as U0-7, U8-15, V0-7, V8-15.
      const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(uWords, vWords), _MM_SHUFFLE(3, 1, 2, 0));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(u + x / 2), _mm256_castsi256_si128(bytes));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(v + x / 2), _mm256_extracti128_si256(bytes, 1));
    }
  }
}

}  // namespace

namespace yuv_avx2 {

void I420Rows(const BYTE* top, const BYTE* bottom, BYTE* yTop, BYTE* yBottom, BYTE* u, BYTE* v, LONG pixels) noexcept {
  Rows420<false>(top, bottom, yTop, yBottom, u, v, pixels);
}

void Nv12Rows(const BYTE* top, const BYTE* bottom, BYTE* yTop, BYTE* yBottom, BYTE* u, BYTE* v, LONG pixels) noexcept {
  Rows420<true>(top, bottom, yTop, yBottom, u, v, pixels);
}

void Yuy2Row(const BYTE* row, BYTE* output, LONG pixels) noexcept {
  for (LONG x = 0; x < pixels; x += 32) {
    __m256i luma[4], means[4];
    for (int i = 0; i < 4; ++i) {
      const Group g = LoadGroup(row + 4 * (static_cast<ptrdiff_t>(x) + 8 * i));
      luma[i] = g.luma;
      means[i] = BlockMeans<1>(g.low, g.high);
    }
    const __m256i y = PackBytes(luma);
    __m256i uWords, vWords;
    ChromaWords(means, &uWords, &vWords);
    const __m256i chroma = Interleave(uWords, vWords);
    // Per lane: low gives pixels 0-7 and 16-23, high 8-15 and 24-31.
    const __m256i low = _mm256_unpacklo_epi8(y, chroma), high = _mm256_unpackhi_epi8(y, chroma);
    Store(output + 2 * x, _mm256_permute2x128_si256(low, high, 0x20));
    Store(output + 2 * x + 32, _mm256_permute2x128_si256(low, high, 0x31));
  }
}

}  // namespace yuv_avx2
