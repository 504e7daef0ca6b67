#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "format/yuv_frames.h"
#include "tests/reliability/support/guarded_memory.h"

namespace {

constexpr YuvLayout kLayouts[] = {YuvLayout::I420, YuvLayout::Nv12, YuvLayout::Yuy2};

const char* Name(YuvLayout layout) {
  return layout == YuvLayout::I420 ? "I420" : layout == YuvLayout::Nv12 ? "NV12" : "YUY2";
}
const char* Name(YuvPath path) {
  return path == YuvPath::Reference ? "reference" : path == YuvPath::Sse2 ? "sse2" : "avx2";
}

// A top-down, packed picture of BGRX pixels.
struct Picture {
  LONG width = 0, height = 0;
  std::vector<BYTE> pixels;
  ptrdiff_t Stride() const { return 4 * static_cast<ptrdiff_t>(width); }
};

// colour(x, y) as 0xXXRRGGBB.
Picture Paint(LONG width, LONG height, const std::function<DWORD(LONG, LONG)>& colour) {
  Picture p{width, height, std::vector<BYTE>(static_cast<size_t>(width) * height * 4)};
  for (LONG y = 0; y < height; ++y) {
    for (LONG x = 0; x < width; ++x) {
      const DWORD value = colour(x, y);
      std::memcpy(&p.pixels[(static_cast<size_t>(y) * width + x) * 4], &value, 4);
    }
  }
  return p;
}

Picture Noise(LONG width, LONG height, unsigned seed) {
  std::mt19937 random(seed);
  return Paint(width, height, [&](LONG, LONG) { return static_cast<DWORD>(random()); });
}

DWORD Rgb(int r, int g, int b) { return 0xA5000000u | (r << 16) | (g << 8) | b; }  // a fourth byte to be ignored

std::vector<BYTE> Convert(YuvPath path, YuvLayout layout, const Picture& p) {
  std::vector<BYTE> frame(YuvImageSize(layout, p.width, p.height), 0xEE);
  EXPECT_TRUE(
      ConvertToYuvWith(path, layout, p.pixels.data(), p.Stride(), p.width, p.height, frame.data(), frame.size()));
  return frame;
}

// Where the byte at offset is, for failure messages: its plane's row and byte (I420's chroma
// rows count on from the U plane into the V plane).
std::string Where(YuvLayout layout, LONG width, LONG height, size_t offset) {
  const size_t w = width, half = (w + 1) / 2, luma = w * height;
  auto at = [](const char* plane, size_t offset, size_t rowBytes) {
    return std::string(plane) + " row " + std::to_string(offset / rowBytes) + " byte " +
           std::to_string(offset % rowBytes);
  };
  if (layout == YuvLayout::Yuy2) return at("YUY2", offset, 4 * half);
  if (offset < luma) return at("Y", offset, w);
  return at("chroma", offset - luma, layout == YuvLayout::Nv12 ? 2 * half : half);
}

::testing::AssertionResult SameFrame(YuvLayout layout, LONG width, LONG height, const BYTE* expected,
                                     const BYTE* actual) {
  const size_t size = YuvImageSize(layout, width, height);
  for (size_t i = 0; i < size; ++i) {
    if (expected[i] != actual[i]) {
      return ::testing::AssertionFailure()
             << Name(layout) << " " << width << "x" << height << ": " << Where(layout, width, height, i) << " is "
             << int{actual[i]} << ", the reference has " << int{expected[i]};
    }
  }
  return ::testing::AssertionSuccess();
}

// ---- The definition itself: known values, the range, the means and where each value goes.

TEST(YuvImageSize, IsTheSizeFfmpegReadsForEachLayout) {
  EXPECT_EQ(3110400u, YuvImageSize(YuvLayout::I420, 1920, 1080));
  EXPECT_EQ(3110400u, YuvImageSize(YuvLayout::Nv12, 1920, 1080));
  EXPECT_EQ(4147200u, YuvImageSize(YuvLayout::Yuy2, 1920, 1080));
  EXPECT_EQ(9u + 2 * 4, YuvImageSize(YuvLayout::I420, 3, 3));
  EXPECT_EQ(9u + 2 * 4, YuvImageSize(YuvLayout::Nv12, 3, 3));
  EXPECT_EQ(3u * 8, YuvImageSize(YuvLayout::Yuy2, 3, 3));
  EXPECT_EQ(3u, YuvImageSize(YuvLayout::I420, 1, 1));
  EXPECT_EQ(4u, YuvImageSize(YuvLayout::Yuy2, 1, 1));
  EXPECT_EQ(5u * 2 + 2 * 3, YuvImageSize(YuvLayout::Nv12, 5, 2));
}

TEST(YuvImageSize, IsZeroForEmptyAndTooLargeFrames) {
  for (YuvLayout layout : kLayouts) {
    EXPECT_EQ(0u, YuvImageSize(layout, 0, 10)) << Name(layout);
    EXPECT_EQ(0u, YuvImageSize(layout, 10, -1)) << Name(layout);
    EXPECT_EQ(0u, YuvImageSize(layout, 0x7FFFFFFF, 0x7FFFFFFF)) << Name(layout);
  }
  EXPECT_EQ(0u, YuvImageSize(YuvLayout::Yuy2, 65536, 32768));  // exactly 4 GiB
  EXPECT_EQ(4294836224u, YuvImageSize(YuvLayout::Yuy2, 65534, 32768));
}

// Hand-checked against the formulas; a 3 x 3 frame of one colour, so edge blocks count too.
TEST(YuvReference, GivesKnownValuesForPrimariesSecondariesAndGreys) {
  struct Known {
    DWORD colour;
    int y, u, v;
  };
  const Known known[] = {
      {Rgb(255, 255, 255), 235, 128, 128}, {Rgb(0, 0, 0), 16, 128, 128},        {Rgb(255, 0, 0), 82, 90, 240},
      {Rgb(0, 255, 0), 144, 54, 34},       {Rgb(0, 0, 255), 41, 240, 110},      {Rgb(0, 255, 255), 169, 166, 16},
      {Rgb(255, 0, 255), 107, 202, 222},   {Rgb(255, 255, 0), 210, 16, 146},    {Rgb(16, 16, 16), 30, 128, 128},
      {Rgb(128, 128, 128), 126, 128, 128}, {Rgb(235, 235, 235), 218, 128, 128},
  };
  for (const Known& k : known) {
    const Picture p = Paint(3, 3, [&](LONG, LONG) { return k.colour; });
    const std::vector<BYTE> i420 = Convert(YuvPath::Reference, YuvLayout::I420, p);
    const std::vector<BYTE> nv12 = Convert(YuvPath::Reference, YuvLayout::Nv12, p);
    const std::vector<BYTE> yuy2 = Convert(YuvPath::Reference, YuvLayout::Yuy2, p);
    std::vector<BYTE> planar(9, BYTE(k.y)), interleaved(9, BYTE(k.y)), packed;
    planar.insert(planar.end(), 4, BYTE(k.u));
    planar.insert(planar.end(), 4, BYTE(k.v));
    for (int i = 0; i < 4; ++i) interleaved.insert(interleaved.end(), {BYTE(k.u), BYTE(k.v)});
    for (int i = 0; i < 6; ++i) packed.insert(packed.end(), {BYTE(k.y), BYTE(k.u), BYTE(k.y), BYTE(k.v)});
    EXPECT_EQ(planar, i420) << std::hex << k.colour;
    EXPECT_EQ(interleaved, nv12) << std::hex << k.colour;
    EXPECT_EQ(packed, yuy2) << std::hex << k.colour;
  }
}

// The formulas are linear, so their extremes lie at the cube's corners: those reach exactly
// 16..235 and 16..240, and every colour of a coarse cube stays inside.
TEST(YuvReference, StaysInLimitedRangeWithoutClamping) {
  // Each colour in a horizontal pair of its own: a YUY2 pair holds its Y, U and V.
  const Picture cube = Paint(2 * 216, 1, [](LONG x, LONG) {
    const int i = x / 2;
    return Rgb(i / 36 * 51, i / 6 % 6 * 51, i % 6 * 51);
  });
  const std::vector<BYTE> frame = Convert(YuvPath::Reference, YuvLayout::Yuy2, cube);
  int lowest[3] = {255, 255, 255}, highest[3] = {0, 0, 0};
  for (size_t i = 0; i < frame.size(); ++i) {
    const int channel = i % 2 == 0 ? 0 : i % 4 == 1 ? 1 : 2;
    lowest[channel] = std::min<int>(lowest[channel], frame[i]);
    highest[channel] = std::max<int>(highest[channel], frame[i]);
  }
  EXPECT_EQ(16, lowest[0]);
  EXPECT_EQ(235, highest[0]);
  EXPECT_EQ(16, lowest[1]);
  EXPECT_EQ(240, highest[1]);
  EXPECT_EQ(16, lowest[2]);
  EXPECT_EQ(240, highest[2]);
}

// Red 1 and 2 alternate so that only a mean rounded as (sum + n/2) / n gives red 2, whose V is
// 129 (red 1's is 128), in blocks of 4 and of 2 pixels; the lone corner pixel keeps red 1.
TEST(YuvReference, RoundsTheMeanOfEachBlockOverThePixelsPresent) {
  const Picture p = Paint(3, 3, [](LONG x, LONG y) { return Rgb(x == 1 || (x == 2 && y == 1) ? 2 : 1, 0, 0); });
  const std::vector<BYTE> i420 = Convert(YuvPath::Reference, YuvLayout::I420, p);
  EXPECT_EQ((std::vector<BYTE>{129, 129, 129, 128}), std::vector<BYTE>(i420.begin() + 13, i420.end()));
  // YUY2: pairs of one row; the last pair of each row has one pixel, and repeats its Y.
  const std::vector<BYTE> yuy2 = Convert(YuvPath::Reference, YuvLayout::Yuy2, p);
  const int v[] = {129, 128, 129, 129, 129, 128};
  for (int pair = 0; pair < 6; ++pair) EXPECT_EQ(v[pair], yuy2[4 * pair + 3]) << "pair " << pair;
  for (int row = 0; row < 3; ++row) EXPECT_EQ(yuy2[8 * row + 4], yuy2[8 * row + 6]) << "row " << row;
}

// Four 2 x 2 blocks: white, red / green, blue.
TEST(YuvReference, PutsEachValueWhereTheLayoutHasIt) {
  const DWORD colours[] = {Rgb(255, 255, 255), Rgb(255, 0, 0), Rgb(0, 255, 0), Rgb(0, 0, 255)};
  const Picture p = Paint(4, 4, [&](LONG x, LONG y) { return colours[y / 2 * 2 + x / 2]; });
  const std::vector<BYTE> luma = {235, 235, 82, 82, 235, 235, 82, 82, 144, 144, 41, 41, 144, 144, 41, 41};
  std::vector<BYTE> i420 = luma, nv12 = luma;
  i420.insert(i420.end(), {128, 90, 54, 240, 128, 240, 34, 110});
  nv12.insert(nv12.end(), {128, 128, 90, 240, 54, 34, 240, 110});
  const std::vector<BYTE> yuy2 = {235, 128, 235, 128, 82, 90,  82, 240, 235, 128, 235, 128, 82, 90,  82, 240,
                                  144, 54,  144, 34,  41, 240, 41, 110, 144, 54,  144, 34,  41, 240, 41, 110};
  EXPECT_EQ(i420, Convert(YuvPath::Reference, YuvLayout::I420, p));
  EXPECT_EQ(nv12, Convert(YuvPath::Reference, YuvLayout::Nv12, p));
  EXPECT_EQ(yuy2, Convert(YuvPath::Reference, YuvLayout::Yuy2, p));
}

TEST(YuvFrames, RefusesBadArgumentsAndAShortDestinationWritingNothing) {
  const Picture p = Noise(17, 9, 3);
  for (YuvPath path : {YuvPath::Reference, YuvPath::Sse2, FastestYuvPath()}) {
    for (YuvLayout layout : kLayouts) {
      const size_t size = YuvImageSize(layout, 17, 9);
      std::vector<BYTE> frame(size, 0x5A);
      const std::vector<BYTE> untouched = frame;
      EXPECT_FALSE(ConvertToYuvWith(path, layout, p.pixels.data(), p.Stride(), 17, 9, frame.data(), size - 1));
      EXPECT_FALSE(ConvertToYuvWith(path, layout, p.pixels.data(), p.Stride(), 0, 9, frame.data(), size));
      EXPECT_FALSE(ConvertToYuvWith(path, layout, p.pixels.data(), p.Stride(), 17, -9, frame.data(), size));
      EXPECT_FALSE(ConvertToYuvWith(path, layout, nullptr, p.Stride(), 17, 9, frame.data(), size));
      EXPECT_FALSE(ConvertToYuvWith(path, layout, p.pixels.data(), p.Stride(), 17, 9, nullptr, size));
      EXPECT_EQ(untouched, frame) << Name(path) << " " << Name(layout);
    }
  }
}

TEST(YuvFrames, ConvertToYuvTakesTheFastestPath) {
  std::printf("[ note     ] ConvertToYuv takes the %s path here\n", Name(FastestYuvPath()));
  const Picture p = Noise(1283, 11, 8);
  for (YuvLayout layout : kLayouts) {
    std::vector<BYTE> frame(YuvImageSize(layout, p.width, p.height));
    ASSERT_TRUE(ConvertToYuv(layout, p.pixels.data(), p.Stride(), p.width, p.height, frame.data(), frame.size()));
    const std::vector<BYTE> expected = Convert(YuvPath::Reference, layout, p);
    EXPECT_TRUE(SameFrame(layout, p.width, p.height, expected.data(), frame.data()));
  }
}

// ---- Each fast path byte for byte against the reference.

class YuvFastPath : public ::testing::TestWithParam<YuvPath> {
 protected:
  void SetUp() override {
    if (GetParam() == YuvPath::Avx2 && FastestYuvPath() != YuvPath::Avx2) {
      std::printf("[ note     ] this processor (or system) has no AVX2: the AVX2 path is not tested\n");
      GTEST_SKIP();
    }
  }
  // Converts p stored at source (row 0 there, rows stride apart) into destination and compares
  // with the reference's frame of p.
  void ExpectReference(YuvLayout layout, const Picture& p, const BYTE* source, ptrdiff_t stride, BYTE* destination) {
    const std::vector<BYTE> expected = Convert(YuvPath::Reference, layout, p);
    ASSERT_TRUE(ConvertToYuvWith(GetParam(), layout, source, stride, p.width, p.height, destination, expected.size()));
    EXPECT_TRUE(SameFrame(layout, p.width, p.height, expected.data(), destination)) << "stride " << stride;
  }
};

// One pixel, one column, one row, odd sides, and widths on each side of the steps (16, 32 and
// their multiples), so that every mix of AVX2, SSE2 and plain pixels along a row is met.
const struct {
  LONG width, height;
} kSizes[] = {{1, 1},  {1, 7},  {9, 1},  {3, 3},  {17, 9}, {33, 7}, {15, 2}, {16, 2}, {17, 3}, {31, 4}, {32, 5},
              {33, 2}, {47, 3}, {48, 2}, {49, 3}, {63, 2}, {64, 3}, {65, 5}, {95, 3}, {96, 1}, {97, 4}, {1920, 6}};

TEST_P(YuvFastPath, MatchesTheReferenceOnNoiseOfEverySize) {
  for (const auto& size : kSizes) {
    const Picture p = Noise(size.width, size.height, size.width * 131 + size.height);
    for (YuvLayout layout : kLayouts) {
      std::vector<BYTE> frame(YuvImageSize(layout, p.width, p.height));
      ExpectReference(layout, p, p.pixels.data(), p.Stride(), frame.data());
    }
  }
}

TEST_P(YuvFastPath, MatchesTheReferenceOnRampsCubeAndSaturatedColours) {
  const DWORD saturated[] = {Rgb(255, 0, 0),   Rgb(0, 255, 0),     Rgb(0, 0, 255),     Rgb(0, 255, 255),
                             Rgb(255, 0, 255), Rgb(255, 255, 0),   Rgb(255, 255, 255), Rgb(0, 0, 0),
                             Rgb(16, 16, 16),  Rgb(128, 128, 128), Rgb(235, 235, 235)};
  const Picture pictures[] = {
      Paint(256, 3, [](LONG x, LONG) { return Rgb(x, 255 - x, x * 3 % 256); }),
      Paint(37, 256, [](LONG, LONG y) { return Rgb(255 - y, y * 7 % 256, y); }),
      Paint(216, 25,
            [](LONG x, LONG y) {
              const int i = (x + 7 * y) % 216;
              return Rgb(i / 36 * 51, i / 6 % 6 * 51, i % 6 * 51);
            }),
      // Stripes three pixels wide: blocks of two colours, and of one.
      Paint(99, 5, [&](LONG x, LONG y) { return saturated[(x / 3 + y) % 11]; }),
  };
  for (const Picture& p : pictures) {
    for (YuvLayout layout : kLayouts) {
      std::vector<BYTE> frame(YuvImageSize(layout, p.width, p.height));
      ExpectReference(layout, p, p.pixels.data(), p.Stride(), frame.data());
    }
  }
}

// Source and destination at odd addresses, rows further apart than their pixels.
TEST_P(YuvFastPath, TakesAnyAlignmentAndStride) {
  const Picture p = Noise(67, 5, 21);
  for (ptrdiff_t padding : {0, 3, 64}) {
    const ptrdiff_t stride = p.Stride() + padding;
    for (int offset = 1; offset <= 3; ++offset) {
      std::vector<BYTE> source(stride * p.height + offset);
      for (LONG y = 0; y < p.height; ++y)
        std::memcpy(&source[offset + y * stride], &p.pixels[y * p.Stride()], p.Stride());
      for (YuvLayout layout : kLayouts) {
        std::vector<BYTE> frame(YuvImageSize(layout, p.width, p.height) + offset);
        ExpectReference(layout, p, source.data() + offset, stride, frame.data() + offset);
      }
    }
  }
}

// The pixels end where an inaccessible page begins: reading past the picture (its first row is
// last in memory when bottom-up) or writing past the frame faults.
TEST_P(YuvFastPath, NeverReadsOrWritesPastThePictures) {
  for (const auto& size : kSizes) {
    const Picture p = Noise(size.width, size.height, 5);
    GuardedBlock topDown(p.pixels.size()), bottomUp(p.pixels.size());
    std::memcpy(topDown.data(), p.pixels.data(), p.pixels.size());
    for (LONG y = 0; y < p.height; ++y) {
      std::memcpy(bottomUp.end() - (y + 1) * p.Stride(), &p.pixels[y * p.Stride()], p.Stride());
    }
    for (YuvLayout layout : kLayouts) {
      const size_t bytes = YuvImageSize(layout, p.width, p.height);
      GuardedBlock frame(bytes + 1);
      ExpectReference(layout, p, topDown.data(), p.Stride(), frame.data() + 1);
      ExpectReference(layout, p, bottomUp.end() - p.Stride(), -p.Stride(), frame.data() + 1);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Yuv, YuvFastPath, ::testing::Values(YuvPath::Sse2, YuvPath::Avx2),
                         [](const ::testing::TestParamInfo<YuvPath>& info) { return std::string(Name(info.param)); });

// ---- How long a frame takes on each path: printed, never asserted.

TEST(YuvTiming, PrintsTheTimePerFrameOfEachPath) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  const struct { LONG width, height; } sizes[] = {{1280, 720}, {1920, 1080}, {3840, 2160}};
  std::printf("[ timing   ] ms per frame         I420     NV12     YUY2\n");
  for (const auto& size : sizes) {
    const Picture p = Noise(size.width, size.height, 1);
    for (YuvPath path : {YuvPath::Reference, YuvPath::Sse2, YuvPath::Avx2}) {
      if (path == YuvPath::Avx2 && FastestYuvPath() != YuvPath::Avx2) continue;
      std::printf("[ timing   ] %4ldx%-4ld %-9s", size.width, size.height, Name(path));
      for (YuvLayout layout : kLayouts) {
        std::vector<BYTE> frame(YuvImageSize(layout, p.width, p.height));
        auto convert = [&] {
          ConvertToYuvWith(path, layout, p.pixels.data(), p.Stride(), p.width, p.height, frame.data(), frame.size());
        };
        convert();  // pages touched once before timing
        LARGE_INTEGER start, now;
        ::QueryPerformanceCounter(&start);
        int frames = 0;
        do {
          convert();
          ++frames;
          ::QueryPerformanceCounter(&now);
        } while (frames < 3 || now.QuadPart - start.QuadPart < frequency.QuadPart / 5);
        std::printf(" %8.3f", 1000.0 * (now.QuadPart - start.QuadPart) / frequency.QuadPart / frames);
      }
      std::printf("\n");
    }
  }
}

}  // namespace
