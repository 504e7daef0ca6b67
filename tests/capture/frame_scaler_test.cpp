#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <random>
#include <vector>

#include "capture/frame_scaler.h"
#include "tests/reliability/support/guarded_memory.h"

namespace {

struct ScaleCase {
  FrameSize source;
  FrameSize output;
};

// Shrinking, growing, both at once, odd sizes (pixels past the last group of four), one-pixel
// pictures and extreme ratios.
const ScaleCase kCases[] = {
    {{160, 100}, {80, 50}},  {{97, 61}, {31, 17}},   {{96, 61}, {32, 61}},  {{97, 61}, {200, 150}},
    {{97, 61}, {40, 100}},   {{1, 1}, {1000, 3}},    {{3840, 4}, {7, 1}},   {{5, 3}, {1, 1}},
    {{3, 2160}, {5, 9}},     {{2, 1}, {3, 7}},       {{7, 7}, {7, 7}},      {{1, 9}, {1, 1}},
    {{6, 2}, {3, 1}},        {{2, 2}, {1, 1}},
};

// A picture of width x height 32-bit pixels, top-down and packed, of pseudo-random bytes.
std::vector<BYTE> Noise(FrameSize size, unsigned seed) {
  std::vector<BYTE> pixels(static_cast<size_t>(size.width) * size.height * 4);
  std::mt19937 random(seed);
  for (BYTE& b : pixels) b = static_cast<BYTE>(random());
  return pixels;
}

bool Scale(FrameScaler& scaler, ScaleCase c, const BYTE* source, BYTE* output) {
  if (!scaler.Prepare(c.source, c.output)) return false;
  scaler.Scale(source, c.source.width * 4, output, c.output.width * 4, 0, c.output.height);
  return true;
}

TEST(FrameScaler, AConstantPictureStaysExactlyConstant) {
  FrameScaler scaler;
  for (const ScaleCase& c : kCases) {
    std::vector<BYTE> source(static_cast<size_t>(c.source.width) * c.source.height * 4);
    for (size_t i = 0; i < source.size(); i += 4) std::memcpy(&source[i], "\x11\xC8\xFF\x33", 4);
    std::vector<BYTE> output(static_cast<size_t>(c.output.width) * c.output.height * 4, 0xA5);
    ASSERT_TRUE(Scale(scaler, c, source.data(), output.data()));
    size_t wrong = 0;
    for (size_t i = 0; i < output.size(); i += 4) wrong += std::memcmp(&output[i], "\x11\xC8\xFF\x00", 4) != 0;
    EXPECT_EQ(0u, wrong) << c.source.width << "x" << c.source.height << " -> " << c.output.width << "x"
                         << c.output.height;
  }
}

TEST(FrameScaler, TheSameSizeCopiesEveryColour) {
  FrameScaler scaler;
  const ScaleCase c = {{97, 61}, {97, 61}};
  const std::vector<BYTE> source = Noise(c.source, 7);
  std::vector<BYTE> output(source.size());
  ASSERT_TRUE(Scale(scaler, c, source.data(), output.data()));
  for (size_t i = 0; i < source.size(); ++i) {
    ASSERT_EQ(i % 4 == 3 ? 0 : source[i], output[i]) << "byte " << i;
  }
}

// Half of both sides: each pixel the mean of its 2 x 2 block, halves rounded up.
TEST(FrameScaler, HalfSizeIsTheRoundedMeanOfEachBlock) {
  FrameScaler scaler;
  const ScaleCase c = {{26, 10}, {13, 5}};
  const std::vector<BYTE> source = Noise(c.source, 5);
  std::vector<BYTE> output(13 * 5 * 4);
  ASSERT_TRUE(Scale(scaler, c, source.data(), output.data()));
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 13; ++x) {
      for (int channel = 0; channel < 4; ++channel) {
        auto at = [&](int sx, int sy) { return source[(sy * 26 + sx) * 4 + channel]; };
        const int sum = at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) + at(2 * x + 1, 2 * y + 1);
        ASSERT_EQ(channel == 3 ? 0 : (sum + 2) / 4, output[(y * 13 + x) * 4 + channel]) << x << "," << y;
      }
    }
  }
}

// Source and output end where an inaccessible page begins: reading one pixel past the source's
// last (bottom-up too: its first line last in memory) or writing past the output faults.
TEST(FrameScaler, NeverReadsOrWritesPastThePictures) {
  FrameScaler scaler;
  for (const ScaleCase& c : kCases) {
    const std::vector<BYTE> noise = Noise(c.source, 11);
    GuardedBlock source(noise.size());
    std::memcpy(source.data(), noise.data(), noise.size());
    const ptrdiff_t sourceStride = c.source.width * 4;
    const ptrdiff_t outputStride = c.output.width * 4;
    GuardedBlock output(static_cast<size_t>(outputStride) * c.output.height);
    ASSERT_TRUE(scaler.Prepare(c.source, c.output));
    scaler.Scale(source.data(), sourceStride, output.data(), outputStride, 0, c.output.height);
    const std::vector<BYTE> topDown(output.data(), output.end());
    // The same picture stored bottom-up, written bottom-up.
    for (LONG y = 0; y < c.source.height; ++y) {
      std::memcpy(source.data() + (c.source.height - 1 - y) * sourceStride, noise.data() + y * sourceStride, sourceStride);
    }
    scaler.Scale(source.end() - sourceStride, -sourceStride, output.end() - outputStride, -outputStride, 0, c.output.height);
    for (LONG y = 0; y < c.output.height; ++y) {
      ASSERT_EQ(0, std::memcmp(topDown.data() + y * outputStride, output.end() - (y + 1) * outputStride, outputStride))
          << c.source.width << "x" << c.source.height << " -> " << c.output.width << "x" << c.output.height;
    }
  }
}

TEST(FrameScaler, EmptySizesAreRefused) {
  FrameScaler scaler;
  EXPECT_FALSE(scaler.Prepare(FrameSize{0, 10}, FrameSize{10, 10}));
  EXPECT_FALSE(scaler.Prepare(FrameSize{10, 10}, FrameSize{10, -1}));
  EXPECT_TRUE(scaler.Prepare(FrameSize{10, 10}, FrameSize{5, 5}));
}

}  // namespace
