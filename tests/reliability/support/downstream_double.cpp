#include "tests/reliability/support/downstream_double.h"

#include <strsafe.h>

#include <algorithm>
#include <cstring>

namespace {

// Bound of a Receive that blocks until its pin is stopped.
constexpr DWORD kBlockBoundMs = 20000;

template <typename Interface, typename Object>
HRESULT Expose(Object* object, Interface* view, void** out) {
  *out = view;
  object->AddRef();
  return S_OK;
}

// A copy in task memory, as a receiver of IEnumMediaTypes::Next frees it. The block is
// copied when there is one to copy; other shapes (a length without a block, a block pointer
// with length 0) are handed out as they are.
AM_MEDIA_TYPE* CopyForCaller(const AM_MEDIA_TYPE& type) {
  auto* copy = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!copy) return nullptr;
  *copy = type;
  if (type.cbFormat != 0 && type.pbFormat) {
    copy->pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(type.cbFormat));
    if (!copy->pbFormat) {
      ::CoTaskMemFree(copy);
      return nullptr;
    }
    std::memcpy(copy->pbFormat, type.pbFormat, type.cbFormat);
  }
  if (copy->pUnk) copy->pUnk->AddRef();
  return copy;
}

// Hands out copies of a list of media types that the test keeps alive. Frees itself.
class TypeEnumerator : public IEnumMediaTypes {
 public:
  explicit TypeEnumerator(std::vector<const AM_MEDIA_TYPE*> types, size_t position = 0)
      : types_(std::move(types)), position_(position) {}
  virtual ~TypeEnumerator() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumMediaTypes)) {
      return Expose(this, static_cast<IEnumMediaTypes*>(this), out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long now = --refs_;
    if (now == 0) delete this;
    return static_cast<ULONG>(now);
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    if (!types) return E_POINTER;
    ULONG done = 0;
    while (done < count && position_ < types_.size()) types[done++] = CopyForCaller(*types_[position_++]);
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    position_ = std::min<size_t>(types_.size(), position_ + count);
    return position_ < types_.size() ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** clone) override {
    if (!clone) return E_POINTER;
    *clone = new TypeEnumerator(types_, position_);
    return S_OK;
  }

 private:
  std::atomic<long> refs_{1};
  std::vector<const AM_MEDIA_TYPE*> types_;
  size_t position_;
};

}  // namespace

// ---- FaultyAllocator

FaultyAllocator::FaultyAllocator() {
  ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator, inner_.put_void());
}

HRESULT STDMETHODCALLTYPE FaultyAllocator::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMemAllocator)) {
    return Expose(this, static_cast<IMemAllocator*>(this), out);
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE FaultyAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  ALLOCATOR_PROPERTIES asked = *request;
  asked.cbBuffer -= shrinkBy_;
  const HRESULT hr = inner_->SetProperties(&asked, actual);
  // A lying allocator reports what was asked for.
  if (SUCCEEDED(hr) && shrinkBy_ != 0) actual->cbBuffer = request->cbBuffer;
  return hr;
}

HRESULT STDMETHODCALLTYPE FaultyAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties) {
  return inner_->GetProperties(properties);
}

HRESULT STDMETHODCALLTYPE FaultyAllocator::Commit() { return inner_->Commit(); }

HRESULT STDMETHODCALLTYPE FaultyAllocator::Decommit() { return inner_->Decommit(); }

HRESULT STDMETHODCALLTYPE FaultyAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME* start,
                                                     REFERENCE_TIME* stop, DWORD flags) {
  ++getBufferCalls_;
  if (failuresLeft_ > 0) {
    --failuresLeft_;
    ++failedGetBuffers_;
    if (sample) *sample = nullptr;
    return VFW_E_TIMEOUT;
  }
  ++waiting_;
  const HRESULT hr = inner_->GetBuffer(sample, start, stop, flags);
  --waiting_;
  if (FAILED(hr) || !sample || !*sample) return hr;
  BYTE* buffer = nullptr;
  if (SUCCEEDED((*sample)->GetPointer(&buffer)) && buffer) {
    std::memset(buffer, kPoisonByte, static_cast<size_t>((*sample)->GetSize()));
  }
  (*sample)->SetTime(nullptr, nullptr);
  (*sample)->SetSyncPoint(FALSE);
  return hr;
}

HRESULT STDMETHODCALLTYPE FaultyAllocator::ReleaseBuffer(IMediaSample* sample) { return inner_->ReleaseBuffer(sample); }

// ---- DownstreamPin

DownstreamPin::DownstreamPin() : released_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

DownstreamPin::~DownstreamPin() { ReleaseHeldSamples(); }

HRESULT STDMETHODCALLTYPE DownstreamPin::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) return Expose(this, static_cast<IPin*>(this), out);
  if (IsEqualIID(iid, IID_IMemInputPin)) return Expose(this, static_cast<IMemInputPin*>(this), out);
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE DownstreamPin::Connect(IPin*, const AM_MEDIA_TYPE*) { return E_UNEXPECTED; }

HRESULT STDMETHODCALLTYPE DownstreamPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return E_POINTER;
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (!IsEqualGUID(acceptMajor_, GUID_NULL) && !IsEqualGUID(type->majortype, acceptMajor_)) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  if (!IsEqualGUID(acceptSubtype_, GUID_NULL)) {
    const auto* video = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
    if (!IsEqualGUID(type->subtype, acceptSubtype_) || !IsEqualGUID(type->formattype, FORMAT_VideoInfo) || !video ||
        type->cbFormat < sizeof(VIDEOINFOHEADER) || video->bmiHeader.biWidth == 0 || video->bmiHeader.biHeight == 0) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
  }
  connectedSubtype_ = type->subtype;
  connected_ = true;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DownstreamPin::Disconnect() {
  notified_.reset();
  return connected_.exchange(false) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE DownstreamPin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = nullptr;
  return VFW_E_NOT_CONNECTED;
}

HRESULT STDMETHODCALLTYPE DownstreamPin::ConnectionMediaType(AM_MEDIA_TYPE*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE DownstreamPin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = nullptr;
  info->dir = PINDIR_INPUT;
  ::StringCchCopyW(info->achName, MAX_PIN_NAME, L"In");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DownstreamPin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = PINDIR_INPUT;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DownstreamPin::QueryId(LPWSTR*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE DownstreamPin::QueryAccept(const AM_MEDIA_TYPE*) { return queryAccept_; }

HRESULT STDMETHODCALLTYPE DownstreamPin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  *types = nullptr;
  if (offered_.empty()) return E_NOTIMPL;
  *types = new TypeEnumerator(offered_);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DownstreamPin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE DownstreamPin::EndOfStream() {
  ++endOfStreams_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DownstreamPin::BeginFlush() {
  ++flushes_;
  flushing_ = true;
  ::SetEvent(released_.get());
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DownstreamPin::EndFlush() {
  flushing_ = false;
  if (!stopped_) ::ResetEvent(released_.get());
  return S_OK;
}
HRESULT STDMETHODCALLTYPE DownstreamPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

HRESULT STDMETHODCALLTYPE DownstreamPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  *allocator = nullptr;
  if (noAllocator_) return VFW_E_NO_ALLOCATOR;
  *allocator = &allocator_;
  allocator_.AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DownstreamPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
  if (!allocator) return E_POINTER;
  notified_ = ComPtr<IMemAllocator>(allocator);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DownstreamPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE DownstreamPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  ++insideReceive_;
  ReceivedSample seen;
  seen.stamped = sample->GetTime(&seen.start, &seen.end) == S_OK;
  seen.syncPoint = sample->IsSyncPoint() == S_OK;
  seen.size = sample->GetSize();
  BYTE* buffer = nullptr;
  if (SUCCEEDED(sample->GetPointer(&buffer)) && buffer) {
    const size_t words = static_cast<size_t>(seen.size) / 4;
    DWORD poison;
    std::memset(&poison, kPoisonByte, sizeof(poison));
    for (size_t i = 0; i < words; ++i) {
      DWORD word;
      std::memcpy(&word, buffer + i * 4, sizeof(word));
      if (word == poison) ++seen.poisonedWords;
    }
  }

  HRESULT answer = S_OK;
  if (stopped_) {
    answer = VFW_E_WRONG_STATE;
  } else if (flushing_) {
    answer = S_FALSE;
  } else {
    const long accepted = receivedCount_;
    const long limit = refuseAfter_;
    if (limit >= 0 && accepted >= limit) {
      answer = refusal_;
      ++refusedCount_;
    }
  }
  if (answer == S_OK) {
    ComPtr<IMediaSample> letGo;
    {
      SectionLockHolder hold(&lock_);
      received_.push_back(seen);
      if (holdSamples_) held_.emplace_back(sample);
      if (holdLimit_ != 0 && held_.size() > holdLimit_) {
        letGo = std::move(held_.front());
        held_.pop_front();
      }
    }
    letGo.reset();
    ++receivedCount_;
    if (blockInReceive_ && ::WaitForSingleObject(released_.get(), kBlockBoundMs) != WAIT_OBJECT_0) {
      blockExpired_ = true;
    }
  }
  --insideReceive_;
  return answer;
}

HRESULT STDMETHODCALLTYPE DownstreamPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
  if (!samples || !processed) return E_POINTER;
  *processed = 0;
  for (long i = 0; i < count; ++i) {
    const HRESULT hr = Receive(samples[i]);
    if (hr != S_OK) return hr;
    ++*processed;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DownstreamPin::ReceiveCanBlock() { return S_OK; }

void DownstreamPin::Stop() {
  stopped_ = true;
  ::SetEvent(released_.get());
}

void DownstreamPin::Start() {
  ::ResetEvent(released_.get());
  stopped_ = false;
}

void DownstreamPin::ReleaseHeldSamples() {
  std::deque<ComPtr<IMediaSample>> held;
  {
    SectionLockHolder hold(&lock_);
    held.swap(held_);
  }
}

bool DownstreamPin::ReleaseOldestHeldSample() {
  ComPtr<IMediaSample> oldest;
  {
    SectionLockHolder hold(&lock_);
    if (held_.empty()) return false;
    oldest = std::move(held_.front());
    held_.pop_front();
  }
  return true;
}

size_t DownstreamPin::heldCount() {
  SectionLockHolder hold(&lock_);
  return held_.size();
}

std::vector<ReceivedSample> DownstreamPin::Received() {
  SectionLockHolder hold(&lock_);
  return received_;
}

// ---- EventSinkGraph

HRESULT STDMETHODCALLTYPE EventSinkGraph::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IFilterGraph)) {
    return Expose(this, static_cast<IFilterGraph*>(this), out);
  }
  if (IsEqualIID(iid, IID_IMediaEventSink)) return Expose(this, static_cast<IMediaEventSink*>(this), out);
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE EventSinkGraph::Notify(long code, LONG_PTR param1, LONG_PTR) {
  const bool goneBefore = gone_;
  ++insideNotify_;
  if (const LONGLONG microseconds = notifyMicroseconds_) {
    LARGE_INTEGER frequency, start, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    do {
      ::QueryPerformanceCounter(&now);
    } while ((now.QuadPart - start.QuadPart) * 1000000 < microseconds * frequency.QuadPart);
  }
  {
    SectionLockHolder hold(&lock_);
    events_.emplace_back(code, param1);
  }
  if (goneBefore || gone_) ++lateNotifies_;
  --insideNotify_;
  return S_OK;
}

std::vector<std::pair<long, LONG_PTR>> EventSinkGraph::Events() {
  SectionLockHolder hold(&lock_);
  return events_;
}
