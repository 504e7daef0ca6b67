#include <gtest/gtest.h>

#include <dshow.h>

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "format/colour_cube.h"
#include "format/desktop_formats.h"
#include "module/dorvantel.h"
#include "tests/framework/peer_doubles.h"
#include "tests/support/live_objects.h"

namespace {

using DesktopFormatsTest = LiveObjectsTest;

// The platform's I420 subtype: its FOURCC in the base GUID.
const GUID kI420 = {MAKEFOURCC('I', '4', '2', '0'), 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

VIDEOINFO& Info(AM_MEDIA_TYPE& type) { return *reinterpret_cast<VIDEOINFO*>(type.pbFormat); }

bool AllZero(const void* p, size_t bytes) {
  const auto* b = static_cast<const BYTE*>(p);
  for (size_t i = 0; i < bytes; ++i) {
    if (b[i]) return false;
  }
  return true;
}

bool IsColourCube(const BYTE* colours) {
  RGBQUAD cube[256];
  WriteColourCube(cube);
  return std::memcmp(cube, colours, sizeof(cube)) == 0;
}

TEST_F(DesktopFormatsTest, OffersEveryTypeAtTheFrameSize) {
  struct Expected {
    const GUID* subtype;
    WORD bits;
    DWORD compression;
    DWORD masks[3];
    DWORD size;
  };
  const Expected expected[] = {
      {&MEDIASUBTYPE_RGB32, 32, BI_RGB, {0, 0, 0}, 8294400},
      {&MEDIASUBTYPE_RGB24, 24, BI_RGB, {0, 0, 0}, 6220800},
      {&MEDIASUBTYPE_RGB565, 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, 4147200},
      {&MEDIASUBTYPE_RGB555, 16, BI_BITFIELDS, {0x7C00, 0x03E0, 0x001F}, 4147200},
      {&MEDIASUBTYPE_RGB8, 8, BI_RGB, {0, 0, 0}, 2073600},
      {&MEDIASUBTYPE_RGB555, 16, BI_RGB, {0, 0, 0}, 4147200},
      {&kI420, 12, MAKEFOURCC('I', '4', '2', '0'), {0, 0, 0}, 3110400},
      {&MEDIASUBTYPE_NV12, 12, MAKEFOURCC('N', 'V', '1', '2'), {0, 0, 0}, 3110400},
      {&MEDIASUBTYPE_YUY2, 16, MAKEFOURCC('Y', 'U', 'Y', '2'), {0, 0, 0}, 4147200},
  };
  ASSERT_EQ(9, kDesktopFormatCount);
  ASSERT_EQ(5, kPinFormatCount);
  for (int position = 0; position < kDesktopFormatCount; ++position) {
    SCOPED_TRACE(position);
    const Expected& e = expected[position];
    MediaType type;
    ASSERT_EQ(S_OK, DesktopMediaTypeAt({1920, 1080}, position, &type));
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, type.majortype));
    EXPECT_TRUE(IsEqualGUID(*e.subtype, type.subtype));
    EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, type.formattype));
    EXPECT_TRUE(type.bFixedSizeSamples);
    EXPECT_FALSE(type.bTemporalCompression);
    EXPECT_EQ(e.size, type.lSampleSize);
    EXPECT_EQ(nullptr, type.pUnk);
    ASSERT_EQ(1128u, type.cbFormat);

    const VIDEOINFO& info = Info(type);
    EXPECT_TRUE(AllZero(&info.rcSource, sizeof(RECT)));
    EXPECT_TRUE(AllZero(&info.rcTarget, sizeof(RECT)));
    EXPECT_EQ(0u, info.dwBitRate);
    EXPECT_EQ(0u, info.dwBitErrorRate);
    EXPECT_EQ(0, info.AvgTimePerFrame);
    const BITMAPINFOHEADER& h = info.bmiHeader;
    EXPECT_EQ(40u, h.biSize);
    EXPECT_EQ(1920, h.biWidth);
    EXPECT_EQ(1080, h.biHeight);
    EXPECT_EQ(1, h.biPlanes);
    EXPECT_EQ(e.bits, h.biBitCount);
    EXPECT_EQ(e.compression, h.biCompression);
    EXPECT_EQ(e.size, h.biSizeImage);
    EXPECT_EQ(0, h.biXPelsPerMeter);
    EXPECT_EQ(0, h.biYPelsPerMeter);
    EXPECT_EQ(position == 4 ? 256u : 0u, h.biClrUsed);
    EXPECT_EQ(0u, h.biClrImportant);
    // The colour area: masks for the BI_BITFIELDS types, the colour cube for 8 bits.
    const BYTE* colours = type.pbFormat + sizeof(VIDEOINFOHEADER);
    if (e.bits == 8) {
      EXPECT_TRUE(IsColourCube(colours));
      continue;
    }
    EXPECT_EQ(0, std::memcmp(e.masks, colours, sizeof(e.masks)));
    EXPECT_TRUE(AllZero(colours + sizeof(e.masks), 1128 - sizeof(VIDEOINFOHEADER) - sizeof(e.masks)));
  }
}

// The 8-bit format's colour table lists the 3-3-2 colours, evenly spread, and a colour's index
// is the nearest of them on each channel: hosts that read the index as 3-3-2 and hosts that
// look it up see the same colour, within half a step.
TEST_F(DesktopFormatsTest, EightBitIndicesAreThreeThreeTwoAndTheirTableSaysSo) {
  const BYTE levels3[] = {0, 36, 73, 109, 146, 182, 219, 255}, levels2[] = {0, 85, 170, 255};
  RGBQUAD table[256];
  WriteColourCube(table);
  for (int i = 0; i < 256; ++i) {
    const RGBQUAD want = {levels2[i & 3], levels3[(i >> 2) & 7], levels3[i >> 5], 0};
    EXPECT_EQ(0, std::memcmp(&want, &table[i], sizeof(want))) << i;
    const BYTE v = static_cast<BYTE>(i);
    const RGBQUAD seen = table[ColourCubeIndex(v, static_cast<BYTE>(255 - i), v)];
    EXPECT_LE(std::abs(seen.rgbRed - i), 18) << i;
    EXPECT_LE(std::abs(seen.rgbGreen - (255 - i)), 18) << i;
    EXPECT_LE(std::abs(seen.rgbBlue - i), 43) << i;
  }
}

// 5-5-5 has two descriptions under the one name rgb555: the pin's own list has the masked one
// at position 3, the BI_RGB one (which the name chooses) comes after the five; the compression
// tells a host's type which it is. Every other name has one position; IYUV is I420's.
TEST_F(DesktopFormatsTest, FiveFiveFiveHasTwoDescriptionsUnderOneName) {
  EXPECT_EQ(kMaskedRgb555Position, DesktopFormatPosition(MEDIASUBTYPE_RGB555, BI_BITFIELDS));
  EXPECT_EQ(kPlainRgb555Position, DesktopFormatPosition(MEDIASUBTYPE_RGB555, BI_RGB));
  EXPECT_EQ(2, DesktopFormatPosition(MEDIASUBTYPE_RGB565, BI_RGB));
  EXPECT_EQ(kI420Position, DesktopFormatPosition(MEDIASUBTYPE_IYUV));
  EXPECT_EQ(kYuy2Position, DesktopFormatPosition(MEDIASUBTYPE_YUY2, BI_RGB));
  EXPECT_EQ(-1, DesktopFormatPosition(MEDIASUBTYPE_UYVY, BI_RGB));
  EXPECT_EQ(-1, OtherDescription(2));
  for (int position = 0; position < kDesktopFormatCount; ++position) {
    MediaType type;
    ASSERT_EQ(S_OK, DesktopMediaTypeAt({64, 48}, position, &type));
    EXPECT_EQ(position, DesktopFormatPosition(type.subtype, Info(type).bmiHeader.biCompression));
    const bool fiveFiveFive = position == kMaskedRgb555Position || position == kPlainRgb555Position;
    EXPECT_EQ(position == kMaskedRgb555Position ? kPlainRgb555Position
              : position == kPlainRgb555Position ? kMaskedRgb555Position
                                                 : -1,
              OtherDescription(position));
    EXPECT_STREQ(fiveFiveFive ? L"rgb555" : OutputFormatNames[position < kPlainRgb555Position ? position : position - 1],
                 DesktopFormatName(position));
  }
  for (int index = 0; index < static_cast<int>(std::size(OutputFormatNames)); ++index) {
    EXPECT_STREQ(OutputFormatNames[index], DesktopFormatName(NamedFormatPosition(index)));
  }
  EXPECT_EQ(kPlainRgb555Position, NamedFormatPosition(3)) << "rgb555 names the BI_RGB description";
  EXPECT_EQ(nullptr, DesktopFormatName(kDesktopFormatCount));
}

// The YUV layouts: sizes without row padding (odd sides round the chroma up), a positive height
// only, and a header that must describe the layout its subtype names.
TEST_F(DesktopFormatsTest, YuvTypesAreAcceptedOnlyAsTheirLayouts) {
  const struct {
    int position;
    FrameSize size;
    DWORD bytes;
  } sizes[] = {{kI420Position, {1366, 768}, 1366 * 768 + 2 * 683 * 384},
               {kI420Position, {321, 181}, 321 * 181 + 2 * 161 * 91},
               {kNv12Position, {321, 181}, 321 * 181 + 2 * 161 * 91},
               {kYuy2Position, {321, 181}, 4 * 161 * 181}};
  for (const auto& c : sizes) {
    SCOPED_TRACE(c.position);
    MediaType type;
    ASSERT_EQ(S_OK, DesktopMediaTypeAt(c.size, c.position, &type));
    EXPECT_EQ(c.bytes, Info(type).bmiHeader.biSizeImage);
    EXPECT_EQ(c.bytes, type.lSampleSize);
    EXPECT_EQ(S_OK, VerifyDesktopMediaType(c.size, &type));
    MediaType applied;
    ASSERT_EQ(S_OK, applied.Assign(type));
    EXPECT_EQ(S_OK, ApplyDesktopMediaType(&applied));

    MediaType topDown;
    ASSERT_EQ(S_OK, topDown.Assign(type));
    Info(topDown).bmiHeader.biHeight = -c.size.height;
    EXPECT_EQ(E_INVALIDARG, VerifyDesktopMediaType(c.size, &topDown));
    MediaType rgbHeader;  // the subtype of a YUV layout over an RGB header
    ASSERT_EQ(S_OK, rgbHeader.Assign(type));
    Info(rgbHeader).bmiHeader.biCompression = BI_RGB;
    EXPECT_EQ(E_INVALIDARG, VerifyDesktopMediaType(c.size, &rgbHeader));
    MediaType wrongBits;
    ASSERT_EQ(S_OK, wrongBits.Assign(type));
    Info(wrongBits).bmiHeader.biBitCount = 24;
    EXPECT_EQ(E_INVALIDARG, VerifyDesktopMediaType(c.size, &wrongBits));
    EXPECT_EQ(E_INVALIDARG, ApplyDesktopMediaType(&wrongBits)) << "a FOURCC the grabber does not write";
  }
  MediaType iyuv;
  ASSERT_EQ(S_OK, DesktopMediaTypeAt({64, 48}, kI420Position, &iyuv));
  iyuv.subtype = MEDIASUBTYPE_IYUV;
  Info(iyuv).bmiHeader.biCompression = MAKEFOURCC('I', 'Y', 'U', 'V');
  EXPECT_EQ(S_OK, VerifyDesktopMediaType({64, 48}, &iyuv));
  EXPECT_EQ(64u * 48 * 3 / 2, DesktopImageSize(Info(iyuv).bmiHeader));
}

TEST_F(DesktopFormatsTest, RowsRoundUpToWholeWords) {
  MediaType rgb24, rgb8;
  ASSERT_EQ(S_OK, DesktopMediaTypeAt({1366, 768}, 1, &rgb24));
  ASSERT_EQ(S_OK, DesktopMediaTypeAt({1366, 768}, 4, &rgb8));
  EXPECT_EQ(3148800u, Info(rgb24).bmiHeader.biSizeImage);  // rows of 4,100 bytes
  EXPECT_EQ(1050624u, Info(rgb8).bmiHeader.biSizeImage);   // rows of 1,368 bytes
  EXPECT_EQ(1050624u, rgb8.lSampleSize);
}

TEST_F(DesktopFormatsTest, PositionsOutsideTheListLeaveTheRecordAlone) {
  MediaType type;
  EXPECT_EQ(VFW_S_NO_MORE_ITEMS, DesktopMediaTypeAt(FrameSize{320, 240}, kDesktopFormatCount, &type));
  EXPECT_EQ(E_INVALIDARG, DesktopMediaTypeAt(FrameSize{320, 240}, -1, &type));
  EXPECT_EQ(E_POINTER, DesktopMediaTypeAt(FrameSize{320, 240}, 0, nullptr));
  EXPECT_EQ(0u, type.cbFormat);
  EXPECT_TRUE(IsEqualGUID(GUID_NULL, type.majortype));
  EXPECT_EQ(1u, type.lSampleSize);
}

TEST_F(DesktopFormatsTest, ZeroWidthGivesAVariableSizeTypeThatIsRefused) {
  MediaType type;
  ASSERT_EQ(S_OK, DesktopMediaTypeAt({0, 480}, 0, &type));
  EXPECT_EQ(0u, Info(type).bmiHeader.biSizeImage);
  EXPECT_FALSE(type.bFixedSizeSamples);
  EXPECT_EQ(1u, type.lSampleSize);
  EXPECT_EQ(E_INVALIDARG, VerifyDesktopMediaType({0, 480}, &type));
}

TEST_F(DesktopFormatsTest, AcceptsEveryOfferedFormatOnlyAtItsOwnSize) {
  for (int position = 0; position < kDesktopFormatCount; ++position) {
    MediaType type;
    ASSERT_EQ(S_OK, DesktopMediaTypeAt({640, 480}, position, &type));
    EXPECT_EQ(S_OK, VerifyDesktopMediaType({640, 480}, &type)) << position;
    // What was offered before the size changed is refused afterwards.
    EXPECT_EQ(E_INVALIDARG, VerifyDesktopMediaType({800, 600}, &type)) << position;
    EXPECT_EQ(E_INVALIDARG, VerifyDesktopMediaType({640, 481}, &type)) << position;
  }
}

TEST_F(DesktopFormatsTest, RefusesWhatIsNotUncompressedBottomUpRgbVideo) {
  const FrameSize size = {640, 480};
  auto refused = [&](auto change) {
    MediaType type;
    DesktopMediaTypeAt(size, 3, &type);
    change(type);
    return VerifyDesktopMediaType(size, &type);
  };
  EXPECT_EQ(E_POINTER, VerifyDesktopMediaType(size, nullptr));
  EXPECT_EQ(E_INVALIDARG, refused([](MediaType& t) { t.majortype = MEDIATYPE_Audio; }));
  EXPECT_EQ(E_INVALIDARG, refused([](MediaType& t) { t.bFixedSizeSamples = FALSE; }));
  EXPECT_EQ(E_INVALIDARG, refused([](MediaType& t) { t.subtype = MEDIASUBTYPE_ARGB32; }));
  EXPECT_EQ(E_INVALIDARG, refused([](MediaType& t) { t.subtype = MEDIASUBTYPE_RGB4; }));
  EXPECT_EQ(E_INVALIDARG, refused([](MediaType& t) { Info(t).bmiHeader.biHeight = -480; }));
  // The subtype does not have to agree with the header's depth.
  EXPECT_EQ(S_OK, refused([](MediaType& t) {
    t.subtype = MEDIASUBTYPE_RGB24;
    Info(t).bmiHeader.biBitCount = 32;
  }));
  // Nor are the format type, its length (when it holds a header) or the sample size looked at.
  EXPECT_EQ(S_OK, refused([](MediaType& t) {
    t.formattype = GUID_NULL;
    t.lSampleSize = 1;
    Info(t).bmiHeader.biSizeImage = 0;
  }));
}

TEST_F(DesktopFormatsTest, ChecksTheTypeBeforeItReadsTheFormatBlock) {
  // A block the checks must never read: a wrong major type, fixed size or subtype decides first.
  MediaType type;
  DesktopMediaTypeAt({640, 480}, 0, &type);
  BYTE* const block = type.pbFormat;
  const ULONG length = type.cbFormat;
  type.pbFormat = reinterpret_cast<BYTE*>(static_cast<UINT_PTR>(8));
  type.cbFormat = 1 << 20;
  type.subtype = MEDIASUBTYPE_UYVY;  // a format not offered
  EXPECT_EQ(E_INVALIDARG, VerifyDesktopMediaType({640, 480}, &type));
  type.subtype = MEDIASUBTYPE_RGB32;
  type.bFixedSizeSamples = FALSE;
  EXPECT_EQ(E_INVALIDARG, VerifyDesktopMediaType({640, 480}, &type));
  type.pbFormat = block;
  type.cbFormat = length;

  type.bFixedSizeSamples = TRUE;
  ReleaseMediaTypeFormat(&type);
  EXPECT_EQ(E_INVALIDARG, VerifyDesktopMediaType({640, 480}, &type));  // no block at all
}

TEST_F(DesktopFormatsTest, RefusesABlockTooShortForAVideoHeader) {
  MediaType type;
  DesktopMediaTypeAt({640, 480}, 0, &type);
  // A 40-byte block holding only the first part of a header: never read past its end.
  BYTE* shortBlock = type.Resize(40);
  ASSERT_NE(nullptr, shortBlock);
  std::memset(shortBlock, 0, 40);
  EXPECT_EQ(E_INVALIDARG, VerifyDesktopMediaType({0, 0}, &type));
}

TEST_F(DesktopFormatsTest, AppliedTypeMustHaveAUsableDepthAndColourArea) {
  MediaType type;
  EXPECT_EQ(E_UNEXPECTED, ApplyDesktopMediaType(&type));  // no block
  for (int position = 0; position < kDesktopFormatCount; ++position) {
    DesktopMediaTypeAt({640, 480}, position, &type);
    EXPECT_EQ(S_OK, ApplyDesktopMediaType(&type)) << position;
  }
  DesktopMediaTypeAt({640, 480}, 0, &type);
  Info(type).bmiHeader.biBitCount = 4;
  EXPECT_EQ(E_INVALIDARG, ApplyDesktopMediaType(&type));
  Info(type).bmiHeader.biBitCount = 15;
  EXPECT_EQ(E_INVALIDARG, ApplyDesktopMediaType(&type));

  // An 8-bit type agreed with another colour table (a peer's, or none) connects with the
  // colour cube, the colours its frames have.
  DesktopMediaTypeAt({640, 480}, 4, &type);
  std::memset(Info(type).bmiColors, 0, 256 * sizeof(RGBQUAD));
  Info(type).bmiHeader.biClrUsed = 0;
  EXPECT_EQ(S_OK, ApplyDesktopMediaType(&type));
  EXPECT_TRUE(IsColourCube(type.pbFormat + sizeof(VIDEOINFOHEADER)));
  EXPECT_EQ(256u, Info(type).bmiHeader.biClrUsed);

  // The grabber writes a palette after an 8-bit header and reads masks after a
  // BI_BITFIELDS one: a block without room for them is refused.
  type.Resize(sizeof(VIDEOINFOHEADER));
  std::memset(type.pbFormat, 0, sizeof(VIDEOINFOHEADER));
  Info(type).bmiHeader.biBitCount = 8;
  EXPECT_EQ(E_INVALIDARG, ApplyDesktopMediaType(&type));
  Info(type).bmiHeader.biBitCount = 16;
  Info(type).bmiHeader.biCompression = BI_BITFIELDS;
  EXPECT_EQ(E_INVALIDARG, ApplyDesktopMediaType(&type));
  Info(type).bmiHeader.biCompression = BI_RGB;
  EXPECT_EQ(S_OK, ApplyDesktopMediaType(&type));
  Info(type).bmiHeader.biBitCount = 24;
  EXPECT_EQ(S_OK, ApplyDesktopMediaType(&type));
}

// Two buffers: a filter downstream that copies each frame into a buffer of the same allocator
// (the Smart Tee of the capture graph builder) gets one while the pin holds the other.
TEST_F(DesktopFormatsTest, AsksForTwoBuffersOfOneFrame) {
  MediaType type;
  DesktopMediaTypeAt({1366, 768}, 1, &type);
  FakeAllocator allocator;
  ALLOCATOR_PROPERTIES request = {7, 5, 16, 32};
  EXPECT_EQ(S_OK, SizeDesktopBuffers(type, &allocator, &request));
  ASSERT_EQ(1u, allocator.requests.size());
  EXPECT_EQ(2, allocator.requests[0].cBuffers);
  EXPECT_EQ(3148800, allocator.requests[0].cbBuffer);
  EXPECT_EQ(16, allocator.requests[0].cbAlign);
  EXPECT_EQ(32, allocator.requests[0].cbPrefix);
  EXPECT_EQ(2, request.cBuffers);
  EXPECT_EQ(3148800, request.cbBuffer);

  // Three buffers of the full size are fine; one byte short is not.
  allocator.grantBuffers = 3;
  EXPECT_EQ(S_OK, SizeDesktopBuffers(type, &allocator, &request));
  allocator.grantBuffers = 0;
  allocator.shortBy = 1;
  EXPECT_EQ(E_FAIL, SizeDesktopBuffers(type, &allocator, &request));
  allocator.setPropertiesResult = VFW_E_BADALIGN;
  EXPECT_EQ(VFW_E_BADALIGN, SizeDesktopBuffers(type, &allocator, &request));
  EXPECT_EQ(E_POINTER, SizeDesktopBuffers(type, nullptr, &request));
  EXPECT_EQ(E_POINTER, SizeDesktopBuffers(type, &allocator, nullptr));
  EXPECT_EQ(1, allocator.count.refs);
}

TEST_F(DesktopFormatsTest, BufferHoldsAWholeImageWhateverBiSizeImageSays) {
  // A peer's type may carry biSizeImage 0 or too small; the grabber writes a whole image.
  MediaType type;
  DesktopMediaTypeAt({641, 480}, 1, &type);
  FakeAllocator allocator;
  for (DWORD claimed : {0u, 1000u}) {
    Info(type).bmiHeader.biSizeImage = claimed;
    ALLOCATOR_PROPERTIES request = {};
    EXPECT_EQ(S_OK, SizeDesktopBuffers(type, &allocator, &request));
    EXPECT_EQ(923520, request.cbBuffer);
  }
  // The grant is checked against the whole image.
  allocator.shortBy = 1;
  ALLOCATOR_PROPERTIES request = {};
  EXPECT_EQ(E_FAIL, SizeDesktopBuffers(type, &allocator, &request));
  // A larger biSizeImage is honoured.
  allocator.shortBy = 0;
  Info(type).bmiHeader.biSizeImage = 1000000;
  EXPECT_EQ(S_OK, SizeDesktopBuffers(type, &allocator, &request));
  EXPECT_EQ(1000000, request.cbBuffer);
}

}  // namespace
