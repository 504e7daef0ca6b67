#include "format/desktop_formats.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "format/colour_cube.h"
#include "format/yuv_frames.h"
#include "module/dorvantel.h"

namespace {

constexpr DWORD FourCc(char a, char b, char c, char d) {
  return static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) |
         (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24);
}
constexpr DWORD kI420 = FourCc('I', '4', '2', '0');
constexpr DWORD kIyuv = FourCc('I', 'Y', 'U', 'V');
constexpr DWORD kNv12 = FourCc('N', 'V', '1', '2');
constexpr DWORD kYuy2 = FourCc('Y', 'U', 'Y', '2');

// The subtype of a FOURCC: its code in the first field of the platform's base GUID.
constexpr GUID FourCcSubtype(DWORD code) {
  return GUID{code, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr GUID kI420Subtype = FourCcSubtype(kI420);
constexpr GUID kIyuvSubtype = FourCcSubtype(kIyuv);
constexpr GUID kNv12Subtype = FourCcSubtype(kNv12);
constexpr GUID kYuy2Subtype = FourCcSubtype(kYuy2);

struct DesktopFormat {
  WORD bitCount;
  DWORD compression;
  DWORD masks[3];
  DWORD colorsUsed;
};

// In position order: what each type puts in its header and colour area. The 8-bit type's
// colour area is the colour cube.
constexpr DesktopFormat kFormats[kDesktopFormatCount] = {
    {32, BI_RGB, {0, 0, 0}, 0},
    {24, BI_RGB, {0, 0, 0}, 0},
    {16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, 0},
    {16, BI_BITFIELDS, {0x7C00, 0x03E0, 0x001F}, 0},
    {8, BI_RGB, {0, 0, 0}, 256},
    {16, BI_RGB, {0, 0, 0}, 0},
    {12, kI420, {0, 0, 0}, 0},
    {12, kNv12, {0, 0, 0}, 0},
    {16, kYuy2, {0, 0, 0}, 0},
};

// In position order, the subtype each type has.
const GUID* const kSubtypes[kDesktopFormatCount] = {
    &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB565, &MEDIASUBTYPE_RGB555, &MEDIASUBTYPE_RGB8,
    &MEDIASUBTYPE_RGB555, &kI420Subtype, &kNv12Subtype, &kYuy2Subtype};

// The position of each of OutputFormatNames' formats: rgb555 names the plain description.
constexpr int kNamedPositions[] = {0, 1, 2, kPlainRgb555Position, 4, kI420Position, kNv12Position, kYuy2Position};
static_assert(std::size(OutputFormatNames) == std::size(kNamedPositions), "a position for each name");

bool ValidPosition(int position) { return position >= 0 && position < kDesktopFormatCount; }

const VIDEOINFOHEADER* VideoHeader(const AM_MEDIA_TYPE& type) {
  if (!type.pbFormat || type.cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
}

// Bytes the colour area after the header takes when the frame grabber converts into this
// format: the three masks of BI_BITFIELDS, or the full palette of an 8-bit image.
ULONG ColourAreaSize(const BITMAPINFOHEADER& header) {
  if (header.biBitCount <= 8) return 256 * sizeof(RGBQUAD);
  if (header.biCompression == BI_BITFIELDS) return 3 * sizeof(DWORD);
  return 0;
}

// The position of the YUV format whose layout a header describes (I420 for IYUV too), or -1.
int YuvHeaderPosition(const BITMAPINFOHEADER& header) {
  const DWORD code = header.biCompression == kIyuv ? kI420 : header.biCompression;
  for (int position = kI420Position; position <= kYuy2Position; ++position) {
    if (kFormats[position].compression == code && kFormats[position].bitCount == header.biBitCount) return position;
  }
  return -1;
}

}  // namespace

int DesktopFormatPosition(const GUID& subtype) {
  if (IsEqualGUID(subtype, kIyuvSubtype)) return kI420Position;
  for (int position = 0; position < kDesktopFormatCount; ++position) {
    if (IsEqualGUID(subtype, *kSubtypes[position])) return position;
  }
  return -1;
}

int DesktopFormatPosition(const GUID& subtype, DWORD compression) {
  const int position = DesktopFormatPosition(subtype);
  if (position == kMaskedRgb555Position && compression != BI_BITFIELDS) return kPlainRgb555Position;
  return position;
}

WORD DesktopFormatBitCount(int position) { return ValidPosition(position) ? kFormats[position].bitCount : 0; }

const GUID& DesktopFormatSubtype(int position) { return ValidPosition(position) ? *kSubtypes[position] : GUID_NULL; }

bool IsYuvPosition(int position) { return position >= kI420Position && position <= kYuy2Position; }

int OtherDescription(int position) {
  if (position == kPlainRgb555Position) return kMaskedRgb555Position;
  if (position == kMaskedRgb555Position) return kPlainRgb555Position;
  return -1;
}

const wchar_t* DesktopFormatName(int position) {
  if (!ValidPosition(position)) return nullptr;
  if (position == kMaskedRgb555Position) position = kPlainRgb555Position;
  for (size_t i = 0; i < std::size(kNamedPositions); ++i) {
    if (kNamedPositions[i] == position) return OutputFormatNames[i];
  }
  return nullptr;
}

int NamedFormatPosition(int index) {
  return index >= 0 && index < static_cast<int>(std::size(kNamedPositions)) ? kNamedPositions[index] : -1;
}

DWORD DesktopImageSize(const BITMAPINFOHEADER& header) {
  switch (YuvHeaderPosition(header)) {
    case kI420Position: return static_cast<DWORD>(YuvImageSize(YuvLayout::I420, header.biWidth, header.biHeight));
    case kNv12Position: return static_cast<DWORD>(YuvImageSize(YuvLayout::Nv12, header.biWidth, header.biHeight));
    case kYuy2Position: return static_cast<DWORD>(YuvImageSize(YuvLayout::Yuy2, header.biWidth, header.biHeight));
    default: return ImageSize(&header);
  }
}

bool DescribesYuv(const BITMAPINFOHEADER& header, YuvLayout* layout) {
  switch (YuvHeaderPosition(header)) {
    case kI420Position: *layout = YuvLayout::I420; return true;
    case kNv12Position: *layout = YuvLayout::Nv12; return true;
    case kYuy2Position: *layout = YuvLayout::Yuy2; return true;
    default: return false;
  }
}

HRESULT DesktopMediaTypeAt(FrameSize size, int position, MediaType* type) {
  if (!type) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  if (position >= kDesktopFormatCount) return VFW_S_NO_MORE_ITEMS;
  BYTE* block = type->Resize(sizeof(VIDEOINFO));
  if (!block) return E_OUTOFMEMORY;
  std::memset(block, 0, sizeof(VIDEOINFO));

  const DesktopFormat& format = kFormats[position];
  auto* info = reinterpret_cast<VIDEOINFO*>(block);
  BITMAPINFOHEADER& header = info->bmiHeader;
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = size.width;
  header.biHeight = size.height;
  header.biPlanes = 1;
  header.biBitCount = format.bitCount;
  header.biCompression = format.compression;
  header.biClrUsed = format.colorsUsed;
  header.biClrImportant = 0;
  if (format.compression == BI_BITFIELDS) std::memcpy(info->dwBitMasks, format.masks, sizeof(format.masks));
  if (format.bitCount == 8) WriteColourCube(info->bmiColors);
  header.biSizeImage = DesktopImageSize(header);

  type->StoreMajorType(MEDIATYPE_Video);
  type->StoreFormatType(FORMAT_VideoInfo);
  type->StoreTemporalCompression(FALSE);
  type->StoreSubtype(SubtypeFromHeader(&header));
  type->StoreSampleSize(header.biSizeImage);
  return S_OK;
}

HRESULT VerifyDesktopMediaType(FrameSize size, const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  if (!IsEqualGUID(type->majortype, MEDIATYPE_Video)) return E_INVALIDARG;
  if (!type->bFixedSizeSamples) return E_INVALIDARG;
  const int position = DesktopFormatPosition(type->subtype);
  if (position < 0) return E_INVALIDARG;
  if (!type->pbFormat) return E_INVALIDARG;
  const VIDEOINFOHEADER* video = VideoHeader(*type);
  if (!video) return E_INVALIDARG;
  // A YUV subtype names a layout its header must describe: its rows are not GDI's.
  if (IsYuvPosition(position) && YuvHeaderPosition(video->bmiHeader) != position) return E_INVALIDARG;
  const LONGLONG height = video->bmiHeader.biHeight;
  if (video->bmiHeader.biWidth != size.width) return E_INVALIDARG;
  if ((height < 0 ? -height : height) != size.height) return E_INVALIDARG;
  if (height < 0) return E_INVALIDARG;
  return S_OK;
}

HRESULT ApplyDesktopMediaType(AM_MEDIA_TYPE* connection) {
  if (!connection->pbFormat) return E_UNEXPECTED;
  const VIDEOINFOHEADER* video = VideoHeader(*connection);
  if (!video) return E_INVALIDARG;
  const BITMAPINFOHEADER& header = video->bmiHeader;
  if (YuvHeaderPosition(header) >= 0) return header.biHeight > 0 ? S_OK : E_INVALIDARG;
  // Any other FOURCC is a layout the grabber does not write.
  if (header.biCompression != BI_RGB && header.biCompression != BI_BITFIELDS) return E_INVALIDARG;
  switch (header.biBitCount) {
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      return E_INVALIDARG;
  }
  // The grabber converts with this header and writes the colour area after it.
  if (connection->cbFormat < sizeof(VIDEOINFOHEADER) + ColourAreaSize(header)) return E_INVALIDARG;
  if (header.biBitCount == 8) {
    auto* info = reinterpret_cast<VIDEOINFO*>(connection->pbFormat);
    info->bmiHeader.biClrUsed = 256;
    WriteColourCube(info->bmiColors);
  }
  return S_OK;
}

HRESULT SizeDesktopBuffers(const AM_MEDIA_TYPE& connection, IMemAllocator* allocator,
                           ALLOCATOR_PROPERTIES* request) {
  if (!allocator || !request) return E_POINTER;
  const VIDEOINFOHEADER* video = VideoHeader(connection);
  if (!video) return E_UNEXPECTED;
  // biSizeImage of a proposed type may be 0 or too small: a buffer holds a whole image.
  const DWORD frameBytes = std::max(video->bmiHeader.biSizeImage, DesktopImageSize(video->bmiHeader));
  if (frameBytes > static_cast<DWORD>(MAXLONG)) return E_INVALIDARG;
  request->cBuffers = 2;
  request->cbBuffer = static_cast<LONG>(frameBytes);
  ALLOCATOR_PROPERTIES actual = {};
  const HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  if (actual.cbBuffer < request->cbBuffer) return E_FAIL;
  return S_OK;
}
