#pragma once
// MediaType: the platform's AM_MEDIA_TYPE with an owner. A record owns its format block
// (COM task memory, never shared between two records) and one reference on its pUnk.
// cbFormat == 0 means there is no block and pbFormat is null.

#include <windows.h>
#include <dshow.h>

// Allocation of format blocks and returned records goes through here, so that tests can
// make it fail on demand. It is CoTaskMemAlloc in the product.
using TaskMemAllocFn = void* (*)(SIZE_T bytes);
extern TaskMemAllocFn TaskMemAlloc;

// Every byte zero, then bFixedSizeSamples = TRUE and lSampleSize = 1.
void InitMediaType(AM_MEDIA_TYPE* type) noexcept;
// Deep copy into destination, whose old contents are not released. On a failed block
// allocation the destination has no block and no pUnk, and E_OUTOFMEMORY is returned.
HRESULT DuplicateMediaType(AM_MEDIA_TYPE* destination, const AM_MEDIA_TYPE* source) noexcept;
// Frees the format block and releases pUnk.
void ReleaseMediaTypeFormat(AM_MEDIA_TYPE* type) noexcept;
// A deep copy that is task memory itself (TaskMemAlloc), for a caller who frees it with
// DestroyMediaType; null when memory runs out, and then nothing is held.
[[nodiscard]] AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& source) noexcept;
// For records that are task memory themselves; null does nothing.
void DestroyMediaType(AM_MEDIA_TYPE* type) noexcept;
// Releases record and deep-copies source into it; copying a record onto itself does nothing.
HRESULT AssignMediaType(AM_MEDIA_TYPE* record, const AM_MEDIA_TYPE* source) noexcept;
// Major, sub and format types and the format block; sizes, flags and pUnk are not compared.
bool MediaTypeEquals(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) noexcept;
// True when the major type or the format type is GUID_NULL.
bool IsIncomplete(const AM_MEDIA_TYPE& type) noexcept;
// GUID_NULL fields of the pattern match anything; a format type in the pattern also
// requires an identical format block.
bool MatchesPattern(const AM_MEDIA_TYPE& record, const AM_MEDIA_TYPE& pattern) noexcept;
// A block of exactly length bytes; the current one when it already has that length.
BYTE* ResizeFormat(AM_MEDIA_TYPE* type, ULONG length) noexcept;

// The subtype that a bitmap header (followed by its colour masks) describes.
GUID SubtypeFromHeader(const BITMAPINFOHEADER* header) noexcept;
// Bytes of an image with rows rounded up to whole 32-bit words.
DWORD ImageSize(const BITMAPINFOHEADER* header) noexcept;

class MediaType : public AM_MEDIA_TYPE {
 public:
  MediaType() noexcept { InitMediaType(this); }
  ~MediaType() { ReleaseMediaTypeFormat(this); }
  MediaType(const MediaType&) = delete;

  // Assignment that can fail: use Assign where the failure matters.
  MediaType& operator=(const AM_MEDIA_TYPE& source) noexcept {
    AssignMediaType(this, &source);
    return *this;
  }
  MediaType& operator=(const MediaType& source) noexcept { return *this = static_cast<const AM_MEDIA_TYPE&>(source); }
  HRESULT Assign(const AM_MEDIA_TYPE& source) noexcept { return AssignMediaType(this, &source); }

  bool Equals(const AM_MEDIA_TYPE& other) const noexcept { return MediaTypeEquals(*this, other); }
  bool Incomplete() const noexcept { return IsIncomplete(*this); }
  bool Matches(const AM_MEDIA_TYPE& pattern) const noexcept { return MatchesPattern(*this, pattern); }

  void StoreMajorType(const GUID& id) noexcept { majortype = id; }
  void StoreSubtype(const GUID& id) noexcept { subtype = id; }
  void StoreFormatType(const GUID& id) noexcept { formattype = id; }
  void StoreTemporalCompression(BOOL compressed) noexcept { bTemporalCompression = compressed; }
  // 0 marks variable-size samples and keeps lSampleSize; any other size fixes it.
  void StoreSampleSize(ULONG size) noexcept;
  BYTE* Resize(ULONG length) noexcept { return ResizeFormat(this, length); }
  // A record in task memory (TaskMemAlloc) that takes over this one's block and pUnk, for a
  // caller who frees it with the platform's rules; null when no record can be had, and then
  // this one keeps them.
  [[nodiscard]] AM_MEDIA_TYPE* Detach() noexcept;
};
