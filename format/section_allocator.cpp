#include "format/section_allocator.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

#include "format/media_type.h"

namespace {

// The mapping's views start on this boundary, so no buffer can be aligned on a larger one.
constexpr LONG kLargestAlignment = 64 * 1024;

// A view of a file mapping; UnmapViewOfFile releases it.
struct MappedViewTraits {
  using Type = BYTE*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type view) noexcept { ::UnmapViewOfFile(view); }
};
using MappedView = UniqueResource<MappedViewTraits>;

}  // namespace

// One buffer: its mapping, the view the sample's pointer lies in, and the DIB section over the
// same memory (null where the layout or the offset allows none). Released in reverse order.
struct SectionAllocator::Buffer {
  UniqueHandle mapping;
  MappedView view;
  BitmapHandle section;  // never left selected into a device context
  BYTE* data = nullptr;  // view + the prefix's room
};

// A media sample over one buffer. Its reference count is 0 while it is free; the allocator
// hands it out with 1 and takes it back when the count falls to 0 again. Its fields belong to
// the holder of the sample.
class SectionAllocator::Sample final : public IMediaSample {
 public:
  Sample(SectionAllocator* owner, Buffer buffer, LONG size) noexcept
      : owner_(owner), buffer_(std::move(buffer)), size_(size) {}
  ~Sample() { ClearMediaType(); }

  HBITMAP section() const noexcept { return buffer_.section.get(); }
  LONG references() const noexcept { return refs_.load(); }

  // A free sample made ready to hand out: no times, no flags, no type, all of it data.
  void HandOut() noexcept {
    refs_.store(1);
    hasStart_ = hasEnd_ = hasMediaTime_ = false;
    syncPoint_ = preroll_ = discontinuity_ = false;
    actualLength_ = size_;
    ClearMediaType();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMediaSample)) {
      *out = static_cast<IMediaSample*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG now = --refs_;
    if (now != 0) return static_cast<ULONG>(now > 0 ? now : 0);
    // The sample may be freed by its return; the owner's reference goes last.
    SectionAllocator* owner = owner_;
    owner->Returned(this);
    owner->Release();
    return 0;
  }

  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override {
    if (!buffer) return E_POINTER;
    *buffer = buffer_.data;
    return S_OK;
  }
  long STDMETHODCALLTYPE GetSize() override { return size_; }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
    if (!start || !end) return E_POINTER;
    if (!hasStart_) return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = start_;
    if (!hasEnd_) {
      *end = start_ + 1;
      return VFW_S_NO_STOP_TIME;
    }
    *end = end_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
    hasStart_ = start != nullptr;
    hasEnd_ = start && end;
    if (start) start_ = *start;
    if (hasEnd_) end_ = *end;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return syncPoint_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL value) override {
    syncPoint_ = value != FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return preroll_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL value) override {
    preroll_ = value != FALSE;
    return S_OK;
  }
  long STDMETHODCALLTYPE GetActualDataLength() override { return actualLength_; }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(long length) override {
    if (length < 0 || length > size_) return VFW_E_BUFFER_OVERFLOW;
    actualLength_ = length;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** type) override {
    if (!type) return E_POINTER;
    *type = nullptr;
    if (!mediaType_) return S_FALSE;
    *type = CreateMediaTypeCopy(*mediaType_);
    return *type ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* type) override {
    ClearMediaType();
    if (!type) return S_OK;
    mediaType_ = CreateMediaTypeCopy(*type);
    return mediaType_ ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return discontinuity_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL value) override {
    discontinuity_ = value != FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* start, LONGLONG* end) override {
    if (!start || !end) return E_POINTER;
    if (!hasMediaTime_) return VFW_E_MEDIA_TIME_NOT_SET;
    *start = mediaStart_;
    *end = mediaEnd_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* start, LONGLONG* end) override {
    hasMediaTime_ = start && end;
    if (hasMediaTime_) {
      mediaStart_ = *start;
      mediaEnd_ = *end;
    }
    return S_OK;
  }

 private:
  void ClearMediaType() noexcept {
    if (mediaType_) DestroyMediaType(mediaType_);
    mediaType_ = nullptr;
  }

  SectionAllocator* const owner_;
  Buffer buffer_;
  const LONG size_;
  std::atomic<LONG> refs_{0};
  bool hasStart_ = false, hasEnd_ = false, hasMediaTime_ = false;
  bool syncPoint_ = false, preroll_ = false, discontinuity_ = false;
  REFERENCE_TIME start_ = 0, end_ = 0;
  LONGLONG mediaStart_ = 0, mediaEnd_ = 0;
  LONG actualLength_ = 0;
  AM_MEDIA_TYPE* mediaType_ = nullptr;  // task memory, owned
};

SectionAllocator::SectionAllocator() noexcept
    : CUnknown(nullptr), available_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

SectionAllocator::~SectionAllocator() {
  // The last reference is gone, so every sample has come back.
  FreeBuffers();
}

HRESULT SectionAllocator::Create(const BITMAPINFO* layout, size_t layoutBytes, SectionAllocator** allocator) noexcept {
  if (!allocator) return E_POINTER;
  *allocator = nullptr;
  auto* made = new (std::nothrow) SectionAllocator();
  if (!made) return E_OUTOFMEMORY;
  if (!made->available_) {
    delete made;
    return E_OUTOFMEMORY;
  }
  // Only a plain header describes a section here; any other layout gives buffers without one.
  if (layout && layoutBytes >= sizeof(BITMAPINFOHEADER) && layout->bmiHeader.biSize == sizeof(BITMAPINFOHEADER)) {
    std::memcpy(made->layout_, layout, std::min(layoutBytes, sizeof(made->layout_)));
    made->hasLayout_ = true;
  }
  made->AddRef();
  *allocator = made;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SectionAllocator::InnerQueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IMemAllocator)) return ExposeInterface(static_cast<IMemAllocator*>(this), out);
  return CUnknown::InnerQueryInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE SectionAllocator::SetProperties(ALLOCATOR_PROPERTIES* request,
                                                          ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  SectionLockHolder hold(&lock_);
  if (committed_) return VFW_E_ALREADY_COMMITTED;
  if (free_.size() != samples_.size()) return VFW_E_BUFFERS_OUTSTANDING;
  const LONG align = request->cbAlign;
  if (align <= 0 || (align & (align - 1)) != 0 || align > kLargestAlignment) return VFW_E_BADALIGN;
  if (request->cbBuffer < 0 || request->cbPrefix < 0) return E_INVALIDARG;
  FreeBuffers();
  properties_.cBuffers = std::max(request->cBuffers, 1L);
  properties_.cbBuffer = request->cbBuffer;
  properties_.cbAlign = align;
  properties_.cbPrefix = request->cbPrefix;
  *actual = properties_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SectionAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties) {
  if (!properties) return E_POINTER;
  SectionLockHolder hold(&lock_);
  *properties = properties_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SectionAllocator::Commit() {
  SectionLockHolder hold(&lock_);
  if (committed_) return S_OK;
  if (properties_.cbBuffer <= 0) return VFW_E_SIZENOTSET;
  // After a decommit that still waits for samples, the buffers it kept serve again.
  if (samples_.empty() && !MakeBuffers()) return E_OUTOFMEMORY;
  committed_ = true;
  if (!free_.empty()) ::SetEvent(available_.get());
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SectionAllocator::Decommit() {
  SectionLockHolder hold(&lock_);
  committed_ = false;
  if (free_.size() == samples_.size()) FreeBuffers();
  // A thread waiting for a sample learns of it.
  ::SetEvent(available_.get());
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SectionAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*,
                                                      DWORD flags) {
  if (!sample) return E_POINTER;
  *sample = nullptr;
  for (;;) {
    {
      SectionLockHolder hold(&lock_);
      if (!committed_) return VFW_E_NOT_COMMITTED;
      if (!free_.empty()) {
        Sample* taken = free_.back();
        free_.pop_back();
        if (free_.empty()) ::ResetEvent(available_.get());
        taken->HandOut();
        AddRef();  // the sample's, until it comes back
        *sample = taken;
        return S_OK;
      }
      if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
      ::ResetEvent(available_.get());
    }
    ::WaitForSingleObject(available_.get(), INFINITE);
  }
}

HRESULT STDMETHODCALLTYPE SectionAllocator::ReleaseBuffer(IMediaSample* sample) {
  // Samples come back by their last Release; nobody else hands one back.
  if (!sample) return E_POINTER;
  return E_INVALIDARG;
}

HBITMAP SectionAllocator::SectionOf(IMediaSample* sample) noexcept {
  SectionLockHolder hold(&lock_);
  for (const std::unique_ptr<Sample>& own : samples_) {
    if (static_cast<IMediaSample*>(own.get()) == sample) return own->section();
  }
  return nullptr;
}

bool SectionAllocator::MakeBuffers() noexcept {
  const LONG align = properties_.cbAlign;
  // The prefix lies before the buffer, which starts on the alignment.
  const uint64_t offset = (static_cast<uint64_t>(properties_.cbPrefix) + align - 1) / align * align;
  const uint64_t bytes = offset + static_cast<uint64_t>(properties_.cbBuffer);
  const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(layout_);
  // GDI draws into RGB layouts only; a YUV sample is plain memory that the grab converts into.
  const bool rgb = hasLayout_ && (header->biCompression == BI_RGB || header->biCompression == BI_BITFIELDS);
  const bool sectionFits = rgb && offset % sizeof(DWORD) == 0 && offset <= MAXDWORD && ImageSize(header) != 0 &&
                           ImageSize(header) <= static_cast<DWORD>(properties_.cbBuffer);
  try {
    samples_.reserve(static_cast<size_t>(properties_.cBuffers));
    free_.reserve(static_cast<size_t>(properties_.cBuffers));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (LONG i = 0; i < properties_.cBuffers; ++i) {
    Buffer buffer;
    buffer.mapping.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                              static_cast<DWORD>(bytes >> 32), static_cast<DWORD>(bytes), nullptr));
    if (buffer.mapping) {
      buffer.view.reset(static_cast<BYTE*>(::MapViewOfFile(buffer.mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0)));
    }
    if (!buffer.view) {
      FreeBuffers();
      return false;
    }
    buffer.data = buffer.view.get() + offset;
    if (sectionFits) {
      void* bits = nullptr;
      buffer.section.reset(::CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(layout_), DIB_RGB_COLORS,
                                              &bits, buffer.mapping.get(), static_cast<DWORD>(offset)));
    }
    auto* sample = new (std::nothrow) Sample(this, std::move(buffer), properties_.cbBuffer);
    if (!sample) {
      FreeBuffers();
      return false;
    }
    samples_.emplace_back(sample);
    free_.push_back(sample);
  }
  return true;
}

void SectionAllocator::FreeBuffers() noexcept {
  free_.clear();
  samples_.clear();
}

void SectionAllocator::Returned(Sample* sample) noexcept {
  SectionLockHolder hold(&lock_);
  free_.push_back(sample);
  if (!committed_ && free_.size() == samples_.size()) {
    FreeBuffers();
  }
  ::SetEvent(available_.get());
}
