#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "recorder/raw_writer.h"

using namespace dorvantel;

namespace {

TEST(RawFrameWriter, RowsComeOutTopDownWithoutPadding) {
  // 3 pixels of 24 bits: 9 bytes a row, stored in 12.
  const FrameFormat format = MakeFrameFormat(PixelFormat::Rgb24, 3, 2);
  ASSERT_EQ(12u, format.stride);
  std::vector<BYTE> frame(format.imageSize, 0xEE);
  for (int i = 0; i < 9; ++i) {
    frame[i] = static_cast<BYTE>(i);             // bottom row
    frame[12 + i] = static_cast<BYTE>(100 + i);  // top row
  }
  RawFrameWriter writer;
  HANDLE readEnd, writeEnd;
  ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 1 << 16));
  ASSERT_EQ(S_OK, writer.Open(writeEnd, format, 30));
  ASSERT_EQ(S_OK, writer.WriteFrame(frame.data()));
  ::CloseHandle(writeEnd);

  std::string received(256, '\0');
  DWORD read = 0;
  ::ReadFile(readEnd, &received[0], static_cast<DWORD>(received.size()), &read, nullptr);
  ::CloseHandle(readEnd);
  received.resize(read);
  const std::string header = "DORVANTEL-RAW width=3 height=2 pix_fmt=bgr24 rate=30 frame_bytes=18\n";
  ASSERT_EQ(header.size() + 18, received.size());
  EXPECT_EQ(header, received.substr(0, header.size()));
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(100 + i, static_cast<BYTE>(received[header.size() + i]));
    EXPECT_EQ(i, static_cast<BYTE>(received[header.size() + 9 + i]));
  }
}

TEST(RawFrameWriter, EightBitFramesAreExpandedThroughThePalette) {
  FrameFormat format = MakeFrameFormat(PixelFormat::Rgb8, 2, 1);
  format.palette.assign(256, RGBQUAD{});
  format.palette[5] = RGBQUAD{10, 20, 30, 0};
  format.palette[6] = RGBQUAD{40, 50, 60, 0};
  RawFrameWriter writer;
  HANDLE readEnd, writeEnd;
  ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 1 << 16));
  ASSERT_EQ(S_OK, writer.Open(writeEnd, format, 10));
  EXPECT_STREQ("bgr24", writer.pixelFormat());
  EXPECT_EQ(6u, writer.frameBytes());
  const BYTE frame[4] = {5, 6, 0, 0};
  std::vector<BYTE> out(6);
  writer.Convert(frame, out.data());
  EXPECT_EQ((std::vector<BYTE>{10, 20, 30, 40, 50, 60}), out);
  ::CloseHandle(readEnd);
  // The reader went away: the next frame reports it.
  EXPECT_TRUE(FAILED(writer.WriteFrame(frame)));
  ::CloseHandle(writeEnd);
}

TEST(RawFrameWriter, PixelFormatsUseTheEncodersNames) {
  const struct {
    PixelFormat pixels;
    const char* name;
    DWORD bytes;  // of a 10 x 2 frame
  } cases[] = {{PixelFormat::Rgb32, "bgr0", 80},
               {PixelFormat::Rgb24, "bgr24", 60},
               {PixelFormat::Rgb565, "rgb565le", 40},
               {PixelFormat::Rgb555, "rgb555le", 40},
               {PixelFormat::I420, "yuv420p", 30},
               {PixelFormat::Nv12, "nv12", 30},
               {PixelFormat::Yuy2, "yuyv422", 40}};
  for (const auto& c : cases) {
    RawFrameWriter writer;
    HANDLE readEnd, writeEnd;
    ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 1 << 16));
    ASSERT_EQ(S_OK, writer.Open(writeEnd, MakeFrameFormat(c.pixels, 10, 2), 10));
    EXPECT_STREQ(c.name, writer.pixelFormat());
    EXPECT_EQ(c.bytes, writer.frameBytes());
    ::CloseHandle(readEnd);
    ::CloseHandle(writeEnd);
  }
}

// YUV frames are top-down and packed already: they go out byte for byte, an odd size too.
TEST(RawFrameWriter, YuvFramesGoOutAsTheyCome) {
  const FrameFormat format = MakeFrameFormat(PixelFormat::I420, 3, 3);
  ASSERT_EQ(9u + 2 * 4u, format.imageSize);
  std::vector<BYTE> frame(format.imageSize);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<BYTE>(i + 1);
  RawFrameWriter writer;
  HANDLE readEnd, writeEnd;
  ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 1 << 16));
  ASSERT_EQ(S_OK, writer.Open(writeEnd, format, 25));
  ASSERT_EQ(S_OK, writer.WriteFrame(frame.data()));
  ::CloseHandle(writeEnd);
  std::string received(256, '\0');
  DWORD read = 0;
  ::ReadFile(readEnd, &received[0], static_cast<DWORD>(received.size()), &read, nullptr);
  ::CloseHandle(readEnd);
  received.resize(read);
  const std::string header = "DORVANTEL-RAW width=3 height=3 pix_fmt=yuv420p rate=25 frame_bytes=17\n";
  ASSERT_EQ(header.size() + 17, received.size());
  EXPECT_EQ(header, received.substr(0, header.size()));
  EXPECT_EQ(std::string(frame.begin(), frame.end()), received.substr(header.size()));
}

}  // namespace
