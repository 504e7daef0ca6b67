#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

#include "hostkit/frame_format.h"

using namespace dorvantel;

namespace {

// A VIDEOINFO block as the desktop source offers it.
std::vector<BYTE> VideoInfo(int width, int height, WORD bits, DWORD compression, DWORD greenMask) {
  std::vector<BYTE> block(sizeof(VIDEOINFO), 0);
  auto* info = reinterpret_cast<VIDEOINFO*>(block.data());
  info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info->bmiHeader.biWidth = width;
  info->bmiHeader.biHeight = height;
  info->bmiHeader.biPlanes = 1;
  info->bmiHeader.biBitCount = bits;
  info->bmiHeader.biCompression = compression;
  info->dwBitMasks[1] = greenMask;
  return block;
}

AM_MEDIA_TYPE TypeOf(std::vector<BYTE>& block) {
  AM_MEDIA_TYPE type{};
  type.majortype = MEDIATYPE_Video;
  type.formattype = FORMAT_VideoInfo;
  type.cbFormat = static_cast<ULONG>(block.size());
  type.pbFormat = block.data();
  return type;
}

TEST(FrameFormat, RowsAreRoundedUpToFourBytes) {
  FrameFormat f = MakeFrameFormat(PixelFormat::Rgb24, 1366, 768);
  EXPECT_EQ(4100u, f.stride);
  EXPECT_EQ(3148800u, f.imageSize);
  EXPECT_EQ(4098u, f.PackedRowBytes());
  EXPECT_EQ(1368u, MakeFrameFormat(PixelFormat::Rgb8, 1366, 768).stride);
  EXPECT_EQ(8294400u, MakeFrameFormat(PixelFormat::Rgb32, 1920, 1080).imageSize);
}

TEST(FrameFormat, TheMasksTellTheTwoSixteenBitFormatsApart) {
  std::vector<BYTE> block565 = VideoInfo(64, 48, 16, BI_BITFIELDS, 0x07E0);
  std::vector<BYTE> block555 = VideoInfo(64, 48, 16, BI_BITFIELDS, 0x03E0);
  // The source's 5-5-5 without masks: BI_RGB, whatever the block holds after the header.
  std::vector<BYTE> plain555 = VideoInfo(64, 48, 16, BI_RGB, 0x07E0);
  FrameFormat f;
  ASSERT_EQ(S_OK, FrameFormatFromMediaType(TypeOf(block565), &f));
  EXPECT_EQ(PixelFormat::Rgb565, f.pixels);
  EXPECT_EQ(128u, f.stride);
  for (std::vector<BYTE>* block : {&block555, &plain555}) {
    ASSERT_EQ(S_OK, FrameFormatFromMediaType(TypeOf(*block), &f));
    EXPECT_EQ(PixelFormat::Rgb555, f.pixels);
    DWORD masks[3];
    f.BitMasks(masks);
    EXPECT_EQ(0x7C00u, masks[0]);
  }
}

// The 8-bit format's colours come with its type: the recorder writes and expands them.
TEST(FrameFormat, EightBitFramesTakeTheColourTableOfTheirType) {
  std::vector<BYTE> block = VideoInfo(64, 48, 8, BI_RGB, 0);
  reinterpret_cast<VIDEOINFO*>(block.data())->bmiColors[200] = RGBQUAD{1, 2, 3, 0};
  FrameFormat f;
  ASSERT_EQ(S_OK, FrameFormatFromMediaType(TypeOf(block), &f));
  ASSERT_EQ(256u, f.palette.size());
  EXPECT_EQ(3, f.palette[200].rgbRed);
  AM_MEDIA_TYPE short_block = TypeOf(block);  // no room for the table: none (writers refuse that)
  short_block.cbFormat = sizeof(VIDEOINFOHEADER) + 255 * sizeof(RGBQUAD);
  ASSERT_EQ(S_OK, FrameFormatFromMediaType(short_block, &f));
  EXPECT_TRUE(f.palette.empty());
}

TEST(FrameFormat, OnlyBottomUpRgbVideoIsTaken) {
  std::vector<BYTE> topDown = VideoInfo(64, -48, 32, BI_RGB, 0);
  std::vector<BYTE> fourBits = VideoInfo(64, 48, 4, BI_RGB, 0);
  std::vector<BYTE> good = VideoInfo(64, 48, 32, BI_RGB, 0);
  FrameFormat f;
  EXPECT_EQ(E_INVALIDARG, FrameFormatFromMediaType(TypeOf(topDown), &f));
  EXPECT_EQ(E_INVALIDARG, FrameFormatFromMediaType(TypeOf(fourBits), &f));
  AM_MEDIA_TYPE audio = TypeOf(good);
  audio.majortype = MEDIATYPE_Audio;
  EXPECT_EQ(E_INVALIDARG, FrameFormatFromMediaType(audio, &f));
  AM_MEDIA_TYPE shortBlock = TypeOf(good);
  shortBlock.cbFormat = sizeof(VIDEOINFOHEADER) - 1;
  EXPECT_EQ(E_INVALIDARG, FrameFormatFromMediaType(shortBlock, &f));
  EXPECT_EQ(S_OK, FrameFormatFromMediaType(TypeOf(good), &f));
}

TEST(FrameFormat, NamesFindTheirFormats) {
  ASSERT_NE(nullptr, FindPixelFormat(L"RGB555"));
  EXPECT_EQ(PixelFormat::Rgb555, FindPixelFormat(L"RGB555")->format);
  EXPECT_EQ(nullptr, FindPixelFormat(L"rgb16"));
  EXPECT_EQ(8u, PixelFormats().size());
  ASSERT_NE(nullptr, FindPixelFormat(L"I420"));
  EXPECT_EQ(PixelFormat::I420, FindPixelFormat(L"I420")->format);
}

// The YUV layouts have no row padding; odd sides round the chroma up (ffmpeg's reading of raw
// yuv420p, nv12 and yuyv422 at alignment 1).
TEST(FrameFormat, YuvFramesHoldTheirPlanesWithoutPadding) {
  EXPECT_EQ(345600u, YuvFrameBytes(PixelFormat::I420, 640, 360));
  EXPECT_EQ(345600u, YuvFrameBytes(PixelFormat::Nv12, 640, 360));
  EXPECT_EQ(460800u, YuvFrameBytes(PixelFormat::Yuy2, 640, 360));
  // 321x181: Y 321 x 181, chroma 161 x 91 (twice); YUY2 rows of 161 groups.
  EXPECT_EQ(58101u + 2 * 14651u, YuvFrameBytes(PixelFormat::I420, 321, 181));
  EXPECT_EQ(58101u + 2 * 14651u, YuvFrameBytes(PixelFormat::Nv12, 321, 181));
  EXPECT_EQ(644u * 181u, YuvFrameBytes(PixelFormat::Yuy2, 321, 181));
  EXPECT_EQ(3u, YuvFrameBytes(PixelFormat::I420, 1, 1));
  EXPECT_EQ(4u, YuvFrameBytes(PixelFormat::Yuy2, 1, 1));
  EXPECT_EQ(0u, YuvFrameBytes(PixelFormat::Rgb32, 640, 360));
  const FrameFormat f = MakeFrameFormat(PixelFormat::Yuy2, 321, 181);
  EXPECT_EQ(644u, f.stride);
  EXPECT_EQ(YuvFrameBytes(PixelFormat::Yuy2, 321, 181), f.imageSize);
  EXPECT_TRUE(f.yuv());
  EXPECT_FALSE(MakeFrameFormat(PixelFormat::Rgb24, 3, 3).yuv());
}

TEST(FrameFormat, YuvTypesAreKnownByTheirFourCC) {
  const struct {
    const char* code;
    WORD bits;
    PixelFormat pixels;
  } cases[] = {{"I420", 12, PixelFormat::I420},
               {"IYUV", 12, PixelFormat::I420},
               {"NV12", 12, PixelFormat::Nv12},
               {"YUY2", 16, PixelFormat::Yuy2}};
  for (const auto& c : cases) {
    const DWORD code = static_cast<DWORD>(c.code[0]) | c.code[1] << 8 | c.code[2] << 16 | c.code[3] << 24;
    std::vector<BYTE> block = VideoInfo(321, 181, c.bits, code, 0);
    FrameFormat f;
    ASSERT_EQ(S_OK, FrameFormatFromMediaType(TypeOf(block), &f)) << c.code;
    EXPECT_EQ(c.pixels, f.pixels) << c.code;
    EXPECT_EQ(YuvFrameBytes(c.pixels, 321, 181), f.imageSize) << c.code;
    if (c.code != std::string("IYUV")) {
      EXPECT_EQ(code, YuvFourCC(c.pixels)) << "the header carries it";
    }
    std::vector<BYTE> wrongBits = VideoInfo(321, 181, 24, code, 0);
    EXPECT_EQ(E_INVALIDARG, FrameFormatFromMediaType(TypeOf(wrongBits), &f)) << c.code;
    std::vector<BYTE> negative = VideoInfo(321, -181, c.bits, code, 0);
    EXPECT_EQ(E_INVALIDARG, FrameFormatFromMediaType(TypeOf(negative), &f)) << c.code;
  }
  std::vector<BYTE> yv12 = VideoInfo(64, 48, 12, 0x32315659, 0);
  FrameFormat f;
  EXPECT_EQ(E_INVALIDARG, FrameFormatFromMediaType(TypeOf(yv12), &f)) << "a layout the source does not make";
  EXPECT_EQ(0u, YuvFourCC(PixelFormat::Rgb24));
}

}  // namespace
