#include "format/desktop_formats.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "format/colour_cube.h"
#include "module/dorvantel.h"

namespace {

struct DesktopFormat {
  WORD bitCount;
  DWORD compression;
  DWORD masks[3];
  DWORD colorsUsed;
};

// In position order: what each offered type puts in its header and colour area. The 8-bit
// type's colour area is the colour cube.
constexpr DesktopFormat kFormats[kDesktopFormatCount] = {
    {32, BI_RGB, {0, 0, 0}, 0},
    {24, BI_RGB, {0, 0, 0}, 0},
    {16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, 0},
    {16, BI_RGB, {0, 0, 0}, 0},
    {8, BI_RGB, {0, 0, 0}, 256},
    {16, BI_BITFIELDS, {0x7C00, 0x03E0, 0x001F}, 0},
};

// In position order, the subtype each offered type has.
const GUID* const kSubtypes[kDesktopFormatCount] = {&MEDIASUBTYPE_RGB32,  &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB565,
                                                    &MEDIASUBTYPE_RGB555, &MEDIASUBTYPE_RGB8,  &MEDIASUBTYPE_RGB555};

// The plain description of 5-5-5, which OutputFormatNames names.
constexpr int kPlainRgb555Position = 3;
static_assert(std::size(OutputFormatNames) == kMaskedRgb555Position, "a name for each position but the masked 5-5-5");

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

}  // namespace

int DesktopFormatPosition(const GUID& subtype) {
  for (int position = 0; position < kDesktopFormatCount; ++position) {
    if (IsEqualGUID(subtype, *kSubtypes[position])) return position;
  }
  return -1;
}

int DesktopFormatPosition(const GUID& subtype, DWORD compression) {
  const int position = DesktopFormatPosition(subtype);
  return position == kPlainRgb555Position && compression == BI_BITFIELDS ? kMaskedRgb555Position : position;
}

WORD DesktopFormatBitCount(int position) { return ValidPosition(position) ? kFormats[position].bitCount : 0; }

const GUID& DesktopFormatSubtype(int position) { return ValidPosition(position) ? *kSubtypes[position] : GUID_NULL; }

int OtherDescription(int position) {
  if (position == kPlainRgb555Position) return kMaskedRgb555Position;
  if (position == kMaskedRgb555Position) return kPlainRgb555Position;
  return -1;
}

const wchar_t* DesktopFormatName(int position) {
  if (!ValidPosition(position)) return nullptr;
  return OutputFormatNames[position == kMaskedRgb555Position ? kPlainRgb555Position : position];
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
  header.biSizeImage = ImageSize(&header);

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
  if (DesktopFormatPosition(type->subtype) < 0) return E_INVALIDARG;
  if (!type->pbFormat) return E_INVALIDARG;
  const VIDEOINFOHEADER* video = VideoHeader(*type);
  if (!video) return E_INVALIDARG;
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
  const DWORD frameBytes = std::max(video->bmiHeader.biSizeImage, ImageSize(&video->bmiHeader));
  if (frameBytes > static_cast<DWORD>(MAXLONG)) return E_INVALIDARG;
  request->cBuffers = 2;
  request->cbBuffer = static_cast<LONG>(frameBytes);
  ALLOCATOR_PROPERTIES actual = {};
  const HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  if (actual.cbBuffer < request->cbBuffer) return E_FAIL;
  return S_OK;
}
