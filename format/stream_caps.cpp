#include "format/stream_caps.h"

#include <algorithm>
#include <cstring>

#include "format/desktop_formats.h"

namespace {

// Common sizes offered as entries of their own when the captured area is larger.
constexpr FrameSize kCommonSizes[] = {{1920, 1080}, {1280, 720}, {640, 480}, {320, 240}};
// The formats offered at the common sizes: RGB32 and RGB24, the two every host takes.
constexpr int kCommonSizeFormats = 2;
// The format (its position) of each ranged entry: RGB32 (hosts that tie on equal sizes take
// the first), RGB24, then 5-5-5 described with BI_RGB before its BI_BITFIELDS description and
// before 5-6-5, then RGB8, then the YUV formats. Hosts that name every 16-bit type 5-5-5 and
// read one with BI_BITFIELDS as 5-6-5 (ffmpeg) take the first 16-bit entry.
constexpr int kRangedFormats[kDesktopFormatCount] = {
    0, 1, kPlainRgb555Position, kMaskedRgb555Position, 2, 4, kI420Position, kNv12Position, kYuy2Position};

bool Smaller(FrameSize size, FrameSize than) noexcept { return size.width < than.width && size.height < than.height; }

int CommonSizesBelow(FrameSize input) noexcept {
  int count = 0;
  for (const FrameSize& size : kCommonSizes) count += Smaller(size, input) ? 1 : 0;
  return count;
}

// The common size that entry n (counted after the ranged entries) stands for.
FrameSize CommonSize(FrameSize input, int n) noexcept {
  for (const FrameSize& size : kCommonSizes) {
    if (!Smaller(size, input)) continue;
    if (n-- == 0) return size;
  }
  return input;
}

LONG BitsPerSecond(FrameSize size, WORD bitCount, REFERENCE_TIME interval) noexcept {
  const double bits = static_cast<double>(size.width) * size.height * bitCount * (10000000.0 / interval);
  return bits >= static_cast<double>(MAXLONG) ? MAXLONG : static_cast<LONG>(bits);
}

bool SideInRange(LONGLONG side) noexcept { return side >= kMinOutputSide && side <= kMaxOutputSide; }

}  // namespace

int StreamCapsCount(const StreamCapsSizes& sizes) noexcept {
  return kDesktopFormatCount + kCommonSizeFormats * CommonSizesBelow(sizes.input);
}

HRESULT StreamCapsAt(const StreamCapsSizes& sizes, REFERENCE_TIME interval, int index, MediaType* type,
                     VIDEO_STREAM_CONFIG_CAPS* caps) noexcept {
  if (!type || !caps) return E_POINTER;
  if (index < 0) return E_INVALIDARG;
  if (index >= StreamCapsCount(sizes)) return S_FALSE;

  const bool ranged = index < kDesktopFormatCount;
  const int position = ranged ? kRangedFormats[index] : (index - kDesktopFormatCount) % kCommonSizeFormats;
  const FrameSize size = ranged ? sizes.output : CommonSize(sizes.input, (index - kDesktopFormatCount) / kCommonSizeFormats);
  const HRESULT hr = DesktopMediaTypeAt(size, position, type);
  if (hr != S_OK) return FAILED(hr) ? hr : E_UNEXPECTED;
  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
  info->AvgTimePerFrame = std::clamp(interval, kMinFrameInterval, kMaxFrameInterval);

  std::memset(caps, 0, sizeof(*caps));
  caps->guid = FORMAT_VideoInfo;
  caps->VideoStandard = 0;
  caps->InputSize = SIZE{sizes.input.width, sizes.input.height};
  caps->MinCroppingSize = caps->InputSize;
  caps->MaxCroppingSize = caps->InputSize;
  caps->CropGranularityX = 1;
  caps->CropGranularityY = 1;
  caps->CropAlignX = 1;
  caps->CropAlignY = 1;
  // A ranged entry takes any size in between; a common-size entry stands for its one size.
  const FrameSize least = ranged ? FrameSize{kMinOutputSide, kMinOutputSide} : size;
  const FrameSize most = ranged ? FrameSize{kMaxOutputSide, kMaxOutputSide} : size;
  caps->MinOutputSize = SIZE{least.width, least.height};
  caps->MaxOutputSize = SIZE{most.width, most.height};
  caps->OutputGranularityX = ranged ? 1 : 0;
  caps->OutputGranularityY = ranged ? 1 : 0;
  // The scaler interpolates both ways.
  caps->StretchTapsX = 2;
  caps->StretchTapsY = 2;
  caps->ShrinkTapsX = 2;
  caps->ShrinkTapsY = 2;
  caps->MinFrameInterval = kMinFrameInterval;
  caps->MaxFrameInterval = kMaxFrameInterval;
  const WORD bitCount = DesktopFormatBitCount(position);
  caps->MinBitsPerSecond = BitsPerSecond(least, bitCount, kMaxFrameInterval);
  caps->MaxBitsPerSecond = BitsPerSecond(most, bitCount, kMinFrameInterval);
  return S_OK;
}

HRESULT ReadRequestedFormat(const AM_MEDIA_TYPE& type, RequestedFormat* requested) noexcept {
  if (!requested) return E_POINTER;
  if (!IsEqualGUID(type.majortype, MEDIATYPE_Video)) return VFW_E_INVALIDMEDIATYPE;
  if (!IsEqualGUID(type.formattype, FORMAT_VideoInfo)) return VFW_E_INVALIDMEDIATYPE;
  if (!type.pbFormat || type.cbFormat < sizeof(VIDEOINFOHEADER)) return VFW_E_INVALIDMEDIATYPE;
  VIDEOINFOHEADER info;
  std::memcpy(&info, type.pbFormat, sizeof(info));
  // The subtype says what the host wants, whatever bit count and compression it left in the
  // header (hosts edit a type of another format); the filter's types carry the right ones.
  const int position = DesktopFormatPosition(type.subtype, info.bmiHeader.biCompression);
  if (position < 0) return VFW_E_INVALIDMEDIATYPE;
  // Rows run bottom-up only, as in every offered type (YUV: a positive height).
  if (!SideInRange(info.bmiHeader.biWidth) || !SideInRange(info.bmiHeader.biHeight)) return VFW_E_INVALIDMEDIATYPE;
  const REFERENCE_TIME interval = info.AvgTimePerFrame;
  if (interval != 0 && (interval < kMinFrameInterval || interval > kMaxFrameInterval)) return VFW_E_INVALIDMEDIATYPE;
  *requested = RequestedFormat{position, FrameSize{info.bmiHeader.biWidth, info.bmiHeader.biHeight}, interval};
  return S_OK;
}
