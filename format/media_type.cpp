#include "format/media_type.h"

#include <dshow.h>

#include <cstring>

static void* PlatformTaskMemAlloc(SIZE_T bytes) { return ::CoTaskMemAlloc(bytes); }
TaskMemAllocFn TaskMemAlloc = PlatformTaskMemAlloc;

void InitMediaType(AM_MEDIA_TYPE* type) noexcept {
  std::memset(type, 0, sizeof(*type));
  type->bFixedSizeSamples = TRUE;
  type->lSampleSize = 1;
}

HRESULT DuplicateMediaType(AM_MEDIA_TYPE* destination, const AM_MEDIA_TYPE* source) noexcept {
  *destination = *source;
  if (source->cbFormat != 0) {
    destination->pbFormat = static_cast<BYTE*>(TaskMemAlloc(source->cbFormat));
    if (!destination->pbFormat) {
      // The destination must not keep the source's pUnk without a reference of its own.
      destination->cbFormat = 0;
      destination->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(destination->pbFormat, source->pbFormat, source->cbFormat);
  }
  if (destination->pUnk) destination->pUnk->AddRef();
  return S_OK;
}

void ReleaseMediaTypeFormat(AM_MEDIA_TYPE* type) noexcept {
  if (type->cbFormat != 0) {
    ::CoTaskMemFree(type->pbFormat);
    type->cbFormat = 0;
    type->pbFormat = nullptr;
  }
  if (type->pUnk) {
    type->pUnk->Release();
    type->pUnk = nullptr;
  }
}

void DestroyMediaType(AM_MEDIA_TYPE* type) noexcept {
  if (!type) return;
  ReleaseMediaTypeFormat(type);
  ::CoTaskMemFree(type);
}

AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& source) noexcept {
  auto* record = static_cast<AM_MEDIA_TYPE*>(TaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!record) return nullptr;
  if (FAILED(DuplicateMediaType(record, &source))) {
    ::CoTaskMemFree(record);
    return nullptr;
  }
  return record;
}

HRESULT AssignMediaType(AM_MEDIA_TYPE* record, const AM_MEDIA_TYPE* source) noexcept {
  if (record == source) return S_OK;
  ReleaseMediaTypeFormat(record);
  return DuplicateMediaType(record, source);
}

bool MediaTypeEquals(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) noexcept {
  if (!IsEqualGUID(a.majortype, b.majortype) || !IsEqualGUID(a.subtype, b.subtype) ||
      !IsEqualGUID(a.formattype, b.formattype)) {
    return false;
  }
  if (a.cbFormat != b.cbFormat) return false;
  if (a.cbFormat == 0) return true;
  return a.pbFormat && b.pbFormat && std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

bool IsIncomplete(const AM_MEDIA_TYPE& type) noexcept {
  return IsEqualGUID(type.majortype, GUID_NULL) || IsEqualGUID(type.formattype, GUID_NULL);
}

bool MatchesPattern(const AM_MEDIA_TYPE& record, const AM_MEDIA_TYPE& pattern) noexcept {
  if (!IsEqualGUID(pattern.majortype, GUID_NULL) && !IsEqualGUID(record.majortype, pattern.majortype)) {
    return false;
  }
  if (!IsEqualGUID(pattern.subtype, GUID_NULL) && !IsEqualGUID(record.subtype, pattern.subtype)) {
    return false;
  }
  if (IsEqualGUID(pattern.formattype, GUID_NULL)) return true;
  if (!IsEqualGUID(record.formattype, pattern.formattype)) return false;
  if (record.cbFormat != pattern.cbFormat) return false;
  if (record.cbFormat == 0) return true;
  return record.pbFormat && pattern.pbFormat &&
         std::memcmp(record.pbFormat, pattern.pbFormat, record.cbFormat) == 0;
}

BYTE* ResizeFormat(AM_MEDIA_TYPE* type, ULONG length) noexcept {
  if (length == type->cbFormat) return type->pbFormat;
  BYTE* block = static_cast<BYTE*>(TaskMemAlloc(length));
  if (!block) {
    // A smaller block than the one held still fits in the old one.
    return length <= type->cbFormat ? type->pbFormat : nullptr;
  }
  if (type->cbFormat != 0) ::CoTaskMemFree(type->pbFormat);
  type->pbFormat = block;
  type->cbFormat = length;
  return block;
}

void MediaType::StoreSampleSize(ULONG size) noexcept {
  if (size == 0) {
    bFixedSizeSamples = FALSE;
    return;
  }
  bFixedSizeSamples = TRUE;
  lSampleSize = size;
}

GUID SubtypeFromHeader(const BITMAPINFOHEADER* header) noexcept {
  const DWORD compression = header->biCompression;
  if (compression != BI_RGB && compression != BI_BITFIELDS) {
    // A FOURCC code: the subtype that begins with it.
    GUID fourcc = {compression, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    return fourcc;
  }
  switch (header->biBitCount) {
    case 1: return MEDIASUBTYPE_RGB1;
    case 4: return MEDIASUBTYPE_RGB4;
    case 8: return MEDIASUBTYPE_RGB8;
    case 24: return MEDIASUBTYPE_RGB24;
    case 32: return MEDIASUBTYPE_RGB32;
    case 16: {
      if (compression == BI_RGB) return MEDIASUBTYPE_RGB555;
      const DWORD* masks = reinterpret_cast<const DWORD*>(reinterpret_cast<const BYTE*>(header) + sizeof(BITMAPINFOHEADER));
      if (masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F) return MEDIASUBTYPE_RGB555;
      if (masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F) return MEDIASUBTYPE_RGB565;
      return GUID_NULL;
    }
    default: return GUID_NULL;
  }
}

DWORD ImageSize(const BITMAPINFOHEADER* header) noexcept {
  const DWORD bits = static_cast<DWORD>(header->biWidth) * header->biBitCount;
  const DWORD row = ((bits + 31) / 32) * 4;
  const LONG h = header->biHeight;
  const DWORD height = h < 0 ? 0u - static_cast<DWORD>(h) : static_cast<DWORD>(h);
  return row * height;
}

AM_MEDIA_TYPE* MediaType::Detach() noexcept {
  auto* record = static_cast<AM_MEDIA_TYPE*>(TaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!record) return nullptr;
  *record = *this;
  cbFormat = 0;
  pbFormat = nullptr;
  pUnk = nullptr;
  return record;
}
