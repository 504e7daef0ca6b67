#include "camera/camera_source.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>

#include <new>
#include <string>
#include <vector>

#include "base/camera_link.h"
#include "base/com_ptr.h"
#include "base/frame_ring.h"
#include "base/section_lock.h"
#include "camera/camera_frames.h"
#include "camera/camera_preset.h"
#include "camera/mf_library.h"

namespace camera {

namespace {

constexpr LONGLONG kSecond = 10000000;  // in 100 ns units

struct TypeChoice {
  const GUID* subtype;
  CameraSubtype picture;
};
const TypeChoice kTypes[] = {{&MFVideoFormat_NV12, CameraSubtype::Nv12},
                             {&MFVideoFormat_YUY2, CameraSubtype::Yuy2},
                             {&MFVideoFormat_RGB32, CameraSubtype::Rgb32}};

HRESULT MakeType(const TypeChoice& choice, const CameraFormat& format, IMFMediaType** out) {
  ComPtr<IMFMediaType> type;
  HRESULT hr = Mf()->CreateMediaType(type.put());
  if (FAILED(hr)) return hr;
  const UINT32 bytes = static_cast<UINT32>(PictureBytes(choice.picture, format.width, format.height));
  const UINT32 stride = choice.picture == CameraSubtype::Nv12   ? format.width
                        : choice.picture == CameraSubtype::Yuy2 ? 4 * ((format.width + 1) / 2)
                                                                : 4 * format.width;  // top-down
  if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, *choice.subtype);
  if (SUCCEEDED(hr)) hr = type->SetUINT64(MF_MT_FRAME_SIZE, (UINT64{format.width} << 32) | format.height);
  if (SUCCEEDED(hr)) hr = type->SetUINT64(MF_MT_FRAME_RATE, (UINT64{format.rate} << 32) | 1);
  if (SUCCEEDED(hr)) hr = type->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, (UINT64{1} << 32) | 1);
  if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
  if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
  if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, TRUE);
  if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_SAMPLE_SIZE, bytes);
  if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_DEFAULT_STRIDE, stride);
  if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AVG_BITRATE, bytes * 8 * format.rate);
  if (FAILED(hr)) return hr;
  *out = type.detach();
  return S_OK;
}

// The picture a media type asks for; false for a type that is not one of ours.
bool PictureOf(IMFMediaType* type, CameraSubtype* picture, UINT32* width, UINT32* height) {
  GUID subtype = GUID_NULL;
  UINT64 size = 0;
  if (!type || FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) || FAILED(type->GetUINT64(MF_MT_FRAME_SIZE, &size)))
    return false;
  *width = static_cast<UINT32>(size >> 32);
  *height = static_cast<UINT32>(size);
  for (const TypeChoice& choice : kTypes) {
    if (IsEqualGUID(subtype, *choice.subtype)) {
      *picture = choice.picture;
      return *width > 0 && *height > 0;
    }
  }
  return false;
}

class CameraSource;

// An interface that derives from IMFMediaEventGenerator, its four methods forwarded to the
// event queue Queue gives (null once shut down: MF_E_SHUTDOWN).
template <typename Interface>
class EventsThroughQueue : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE GetEvent(DWORD flags, IMFMediaEvent** event) override {
    ComPtr<IMFMediaEventQueue> queue = Queue();
    return queue ? queue->GetEvent(flags, event) : MF_E_SHUTDOWN;
  }
  HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override {
    ComPtr<IMFMediaEventQueue> queue = Queue();
    return queue ? queue->BeginGetEvent(callback, state) : MF_E_SHUTDOWN;
  }
  HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override {
    ComPtr<IMFMediaEventQueue> queue = Queue();
    return queue ? queue->EndGetEvent(result, event) : MF_E_SHUTDOWN;
  }
  HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType type, REFGUID extended, HRESULT status,
                                       const PROPVARIANT* value) override {
    ComPtr<IMFMediaEventQueue> queue = Queue();
    return queue ? queue->QueueEventParamVar(type, extended, status, value) : MF_E_SHUTDOWN;
  }
 private:
  virtual ComPtr<IMFMediaEventQueue> Queue() = 0;
};

// The source's one video stream. Owned by its source, which detaches it when it goes; lock_
// guards every field (the source, holding its own lock, may take it: source lock first).
class CameraStream : public CUnknown, public EventsThroughQueue<IMFMediaStream2Declared> {
 public:
  CameraStream(CameraSource* source, const std::wstring& preset, const CameraFormat& format)
      : CUnknown(nullptr), source_(source), preset_(preset), format_(format) {}
  HRESULT Init();

  FORWARD_IUNKNOWN_TO_OUTER
  HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IMFMediaEventGenerator) || IsEqualIID(iid, IID_IMFMediaStream) ||
        IsEqualIID(iid, IID_CameraMediaStream2))
      return ExposeInterface(static_cast<IMFMediaStream2Declared*>(this), out);
    return CUnknown::InnerQueryInterface(iid, out);
  }

  HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource** source) override;
  HRESULT STDMETHODCALLTYPE GetStreamDescriptor(IMFStreamDescriptor** descriptor) override {
    if (!descriptor) return E_POINTER;
    *descriptor = nullptr;
    SectionLockHolder hold(&lock_);
    if (shutdown_) return MF_E_SHUTDOWN;
    *descriptor = ComPtr<IMFStreamDescriptor>(descriptor_).detach();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RequestSample(IUnknown* token) override;
  HRESULT STDMETHODCALLTYPE SetStreamState(MF_STREAM_STATE value) override {
    SectionLockHolder hold(&lock_);
    if (shutdown_) return MF_E_SHUTDOWN;
    if (value != MF_STREAM_STATE_STOPPED && value != MF_STREAM_STATE_PAUSED && value != MF_STREAM_STATE_RUNNING)
      return E_INVALIDARG;
    if (value == MF_STREAM_STATE_RUNNING && state_ != MF_STREAM_STATE_RUNNING) nextDue_ = 0;
    state_ = value;  // no event: the caller set it
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStreamState(MF_STREAM_STATE* value) override {
    if (!value) return E_POINTER;
    SectionLockHolder hold(&lock_);
    if (shutdown_) return MF_E_SHUTDOWN;
    *value = state_;
    return S_OK;
  }

  // For the source (with its lock held).
  HRESULT Start(const PROPVARIANT* position) {
    SectionLockHolder hold(&lock_);
    if (shutdown_) return MF_E_SHUTDOWN;
    state_ = MF_STREAM_STATE_RUNNING;
    active_ = true;
    nextDue_ = 0;
    if (allocator_) {
      ComPtr<IMFMediaType> type;
      ComPtr<IMFMediaTypeHandler> handler;
      if (SUCCEEDED(descriptor_->GetMediaTypeHandler(handler.put())) &&
          SUCCEEDED(handler->GetCurrentMediaType(type.put())))
        allocatorReady_ = SUCCEEDED(allocator_->InitializeSampleAllocator(10, type.get()));
    }
    return queue_->QueueEventParamVar(MEStreamStarted, GUID_NULL, S_OK, position);
  }
  HRESULT Stop(bool announce) {
    SectionLockHolder hold(&lock_);
    if (shutdown_) return MF_E_SHUTDOWN;
    state_ = MF_STREAM_STATE_STOPPED;
    active_ = false;
    return announce ? queue_->QueueEventParamVar(MEStreamStopped, GUID_NULL, S_OK, nullptr) : S_OK;
  }
  bool active() {
    SectionLockHolder hold(&lock_);
    return active_;
  }
  void Shutdown() {
    SectionLockHolder hold(&lock_);
    if (shutdown_) return;
    shutdown_ = true;
    if (queue_) queue_->Shutdown();
    if (allocator_) allocator_->UninitializeSampleAllocator();
    allocator_.reset();
    ring_.Close();
  }
  void Detach() {
    SectionLockHolder hold(&lock_);
    source_ = nullptr;
  }
  void SetAllocator(IMFVideoSampleAllocator* allocator) {
    SectionLockHolder hold(&lock_);
    allocator_ = ComPtr<IMFVideoSampleAllocator>(allocator);
    allocatorReady_ = false;
  }
  IMFAttributes* attributes() const noexcept { return attributes_.get(); }

 private:
  ComPtr<IMFMediaEventQueue> Queue() override {
    SectionLockHolder hold(&lock_);
    return shutdown_ ? ComPtr<IMFMediaEventQueue>() : queue_;
  }
  HRESULT NewSample(UINT32 bytes, IMFSample** sample);
  void Draw(CameraSubtype picture, UINT32 width, UINT32 height, BYTE* destination, LONGLONG now);

  SectionLock lock_;
  CameraSource* source_;  // not owned (the source owns this stream); null once the source is gone
  const std::wstring preset_;
  const CameraFormat format_;
  ComPtr<IMFMediaEventQueue> queue_;
  ComPtr<IMFAttributes> attributes_;
  ComPtr<IMFStreamDescriptor> descriptor_;
  ComPtr<IMFVideoSampleAllocator> allocator_;  // given by the pipeline, or none: samples of our own
  bool allocatorReady_ = false;
  MF_STREAM_STATE state_ = MF_STREAM_STATE_STOPPED;
  bool active_ = false;  // selected by the last Start
  bool shutdown_ = false;
  LONGLONG nextDue_ = 0;  // when the next sample is due (MFGetSystemTime's clock)
  FrameRing ring_;
  LONGLONG ringTried_ = 0;  // when opening the ring was last tried
  std::vector<BYTE> frame_;  // the newest frame read
  RingFrameInfo frameInfo_;
  LONGLONG frameArrived_ = 0;  // when it was read
};

// The media source. lock_ guards every field; the stream's lock is taken after it.
class CameraSource : public CUnknown,
                     public EventsThroughQueue<IMFMediaSourceEx>,
                     public IMFGetService,
                     public IKsControlDeclared,
                     public IMFSampleAllocatorControlDeclared {
 public:
  CameraSource() : CUnknown(nullptr) {}
  ~CameraSource() override {
    if (stream_) stream_->Detach();
  }
  HRESULT Init(IMFAttributes* activateStore);

  FORWARD_IUNKNOWN_TO_OUTER
  HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IMFMediaEventGenerator) || IsEqualIID(iid, IID_IMFMediaSource) ||
        IsEqualIID(iid, IID_IMFMediaSourceEx))
      return ExposeInterface(static_cast<IMFMediaSourceEx*>(this), out);
    if (IsEqualIID(iid, IID_IMFGetService)) return ExposeInterface(static_cast<IMFGetService*>(this), out);
    if (IsEqualIID(iid, IID_CameraKsControl)) return ExposeInterface(static_cast<IKsControlDeclared*>(this), out);
    if (IsEqualIID(iid, IID_CameraSampleAllocatorControl))
      return ExposeInterface(static_cast<IMFSampleAllocatorControlDeclared*>(this), out);
    return CUnknown::InnerQueryInterface(iid, out);
  }


  HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* characteristics) override {
    if (!characteristics) return E_POINTER;
    *characteristics = 0;
    SectionLockHolder hold(&lock_);
    if (shutdown_) return MF_E_SHUTDOWN;
    *characteristics = MFMEDIASOURCE_IS_LIVE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) override {
    if (!descriptor) return E_POINTER;
    *descriptor = nullptr;
    SectionLockHolder hold(&lock_);
    if (shutdown_) return MF_E_SHUTDOWN;
    return presentation_->Clone(descriptor);
  }
  HRESULT STDMETHODCALLTYPE Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                                  const PROPVARIANT* position) override;
  HRESULT STDMETHODCALLTYPE Stop() override {
    SectionLockHolder hold(&lock_);
    if (shutdown_) return MF_E_SHUTDOWN;
    HRESULT hr = stream_->Stop(stream_->active());
    if (FAILED(hr)) return hr;
    return queue_->QueueEventParamVar(MESourceStopped, GUID_NULL, S_OK, nullptr);
  }
  HRESULT STDMETHODCALLTYPE Pause() override {
    SectionLockHolder hold(&lock_);
    return shutdown_ ? MF_E_SHUTDOWN : MF_E_INVALID_STATE_TRANSITION;
  }
  HRESULT STDMETHODCALLTYPE Shutdown() override {
    SectionLockHolder hold(&lock_);
    if (shutdown_) return MF_E_SHUTDOWN;
    shutdown_ = true;
    if (stream_) stream_->Shutdown();
    if (queue_) queue_->Shutdown();
    presentation_.reset();
    return S_OK;
  }

  // IMFMediaSourceEx: the source's store is the live one, not a copy.
  HRESULT STDMETHODCALLTYPE GetSourceAttributes(IMFAttributes** attributes) override {
    if (!attributes) return E_POINTER;
    *attributes = nullptr;
    SectionLockHolder hold(&lock_);
    if (shutdown_) return MF_E_SHUTDOWN;
    *attributes = ComPtr<IMFAttributes>(attributes_).detach();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStreamAttributes(DWORD id, IMFAttributes** attributes) override {
    if (!attributes) return E_POINTER;
    *attributes = nullptr;
    SectionLockHolder hold(&lock_);
    if (shutdown_) return MF_E_SHUTDOWN;
    if (id != 0) return MF_E_INVALIDSTREAMNUMBER;
    *attributes = ComPtr<IMFAttributes>(stream_->attributes()).detach();
    return S_OK;
  }
  // Frames are drawn by the CPU into system memory: a Direct3D manager is not used.
  HRESULT STDMETHODCALLTYPE SetD3DManager(IUnknown*) override {
    SectionLockHolder hold(&lock_);
    return shutdown_ ? MF_E_SHUTDOWN : S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetService(REFGUID, REFIID, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return MF_E_UNSUPPORTED_SERVICE;
  }

  // No camera control is supported: every set is unknown, as a driver without a handler says.
  HRESULT STDMETHODCALLTYPE KsProperty(CameraKsIdentifier*, ULONG, void*, ULONG, ULONG* returned) override {
    if (returned) *returned = 0;
    return HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);
  }
  HRESULT STDMETHODCALLTYPE KsMethod(CameraKsIdentifier*, ULONG, void*, ULONG, ULONG* returned) override {
    if (returned) *returned = 0;
    return HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);
  }
  HRESULT STDMETHODCALLTYPE KsEvent(CameraKsIdentifier*, ULONG, void*, ULONG, ULONG* returned) override {
    if (returned) *returned = 0;
    return HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);
  }

  HRESULT STDMETHODCALLTYPE SetDefaultAllocator(DWORD streamId, IUnknown* allocator) override {
    SectionLockHolder hold(&lock_);
    if (shutdown_) return MF_E_SHUTDOWN;
    if (streamId != 0) return MF_E_INVALIDSTREAMNUMBER;
    ComPtr<IMFVideoSampleAllocator> video;
    if (allocator && FAILED(allocator->QueryInterface(IID_IMFVideoSampleAllocator, video.put_void()))) return E_NOINTERFACE;
    stream_->SetAllocator(video.get());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAllocatorUsage(DWORD streamId, DWORD* inputStreamId, CameraAllocatorUsage* usage) override {
    if (!inputStreamId || !usage) return E_POINTER;
    SectionLockHolder hold(&lock_);
    if (shutdown_) return MF_E_SHUTDOWN;
    if (streamId != 0) return MF_E_INVALIDSTREAMNUMBER;
    *inputStreamId = streamId;
    *usage = CameraUsesProvidedAllocator;
    return S_OK;
  }

 private:
  ComPtr<IMFMediaEventQueue> Queue() override {
    SectionLockHolder hold(&lock_);
    return shutdown_ ? ComPtr<IMFMediaEventQueue>() : queue_;
  }

  SectionLock lock_;
  ComPtr<IMFMediaEventQueue> queue_;
  ComPtr<IMFAttributes> attributes_;
  ComPtr<IMFPresentationDescriptor> presentation_;
  ComPtr<CameraStream> stream_;
  bool shutdown_ = false;
};

HRESULT CameraStream::Init() {
  const MfLibrary* mf = Mf();
  HRESULT hr = mf->CreateEventQueue(queue_.put());
  if (SUCCEEDED(hr)) hr = mf->CreateAttributes(attributes_.put(), 4);
  ComPtr<IMFMediaType> types[3];
  for (int i = 0; i < 3 && SUCCEEDED(hr); ++i) hr = MakeType(kTypes[i], format_, types[i].put());
  if (FAILED(hr)) return hr;
  IMFMediaType* list[3] = {types[0].get(), types[1].get(), types[2].get()};
  hr = mf->CreateStreamDescriptor(0, 3, list, descriptor_.put());
  ComPtr<IMFMediaTypeHandler> handler;
  if (SUCCEEDED(hr)) hr = descriptor_->GetMediaTypeHandler(handler.put());
  if (SUCCEEDED(hr)) hr = handler->SetCurrentMediaType(list[0]);
  // On the stream's store and on its descriptor: readers look in either.
  for (IMFAttributes* store : {attributes_.get(), static_cast<IMFAttributes*>(descriptor_.get())}) {
    if (SUCCEEDED(hr)) hr = store->SetGUID(CAMERA_DEVICESTREAM_STREAM_CATEGORY, CAMERA_PINNAME_VIDEO_CAPTURE);
    if (SUCCEEDED(hr)) hr = store->SetUINT32(CAMERA_DEVICESTREAM_STREAM_ID, 0);
    if (SUCCEEDED(hr)) hr = store->SetUINT32(CAMERA_DEVICESTREAM_FRAMESERVER_SHARED, 1);
    if (SUCCEEDED(hr)) hr = store->SetUINT32(CAMERA_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES, kFrameSourceTypesColor);
  }
  return hr;
}

HRESULT CameraStream::GetMediaSource(IMFMediaSource** source) {
  if (!source) return E_POINTER;
  *source = nullptr;
  SectionLockHolder hold(&lock_);
  if (shutdown_ || !source_) return MF_E_SHUTDOWN;
  *source = static_cast<IMFMediaSourceEx*>(source_);
  (*source)->AddRef();
  return S_OK;
}

HRESULT CameraStream::NewSample(UINT32 bytes, IMFSample** sample) {
  ComPtr<IMFSample> made;
  if (allocator_ && allocatorReady_ && SUCCEEDED(allocator_->AllocateSample(made.put()))) {
    ComPtr<IMFMediaBuffer> buffer;
    DWORD capacity = 0;
    if (SUCCEEDED(made->GetBufferByIndex(0, buffer.put())) && SUCCEEDED(buffer->GetMaxLength(&capacity)) &&
        capacity >= bytes) {
      *sample = made.detach();
      return S_OK;
    }
    made.reset();  // a sample of another type's size: one of our own instead
  }
  ComPtr<IMFMediaBuffer> buffer;
  HRESULT hr = Mf()->CreateSample(made.put());
  if (SUCCEEDED(hr)) hr = Mf()->CreateMemoryBuffer(bytes, buffer.put());
  if (SUCCEEDED(hr)) hr = made->AddBuffer(buffer.get());
  if (FAILED(hr)) return hr;
  *sample = made.detach();
  return S_OK;
}

void CameraStream::Draw(CameraSubtype picture, UINT32 width, UINT32 height, BYTE* destination, LONGLONG now) {
  if (!ring_.attached() && now - ringTried_ >= kSecond) {
    ringTried_ = now;
    if (FAILED(ring_.Open(camera_link::FrameSectionName(preset_))))
      ring_.Open(camera_link::FrameSectionName(preset_, camera_link::Namespace::Local));
    if (ring_.attached()) frame_.resize(ring_.frameCapacity());
  }
  if (ring_.attached()) {
    RingFrameInfo info;
    if (ring_.ReadNewest(frameInfo_.number, frame_.data(), frame_.size(), &info) == S_OK) {
      frameInfo_ = info;
      frameArrived_ = now;
    }
  }
  const RingFrameFormat& format = frameInfo_.format;
  if (frameInfo_.number && now - frameArrived_ < kNoFrameSeconds * kSecond && format.subtype == FrameRing::kNv12 &&
      format.stride >= format.width && size_t{format.stride} * format.height * 3 / 2 <= format.bytes + format.stride) {
    DrawNv12(frame_.data(), format.width, format.height, format.stride, picture, width, height, destination);
  } else {
    DrawNotCapturing(picture, width, height, destination);
  }
}

HRESULT CameraStream::RequestSample(IUnknown* token) {
  const MfLibrary* mf = Mf();
  SectionLockHolder hold(&lock_);
  if (shutdown_) return MF_E_SHUTDOWN;
  if (state_ != MF_STREAM_STATE_RUNNING) return MF_E_MEDIA_SOURCE_WRONGSTATE;
  // The current type, read anew for each request: a reader changes it without telling.
  ComPtr<IMFMediaTypeHandler> handler;
  ComPtr<IMFMediaType> type;
  CameraSubtype picture;
  UINT32 width = 0, height = 0;
  HRESULT hr = descriptor_->GetMediaTypeHandler(handler.put());
  if (SUCCEEDED(hr)) hr = handler->GetCurrentMediaType(type.put());
  if (SUCCEEDED(hr) && !PictureOf(type.get(), &picture, &width, &height)) hr = MF_E_INVALIDMEDIATYPE;
  if (FAILED(hr)) return hr;
  const LONGLONG duration = kSecond / format_.rate;

  // Paced at the rate: a request before the next frame is due waits for it, without the lock.
  LONGLONG now = mf->GetSystemTime();
  if (nextDue_ > now) {
    const DWORD wait = static_cast<DWORD>((nextDue_ - now) / 10000);
    lock_.Leave();
    ::Sleep(wait);
    lock_.Enter();
    if (shutdown_) return MF_E_SHUTDOWN;
    if (state_ != MF_STREAM_STATE_RUNNING) return MF_E_MEDIA_SOURCE_WRONGSTATE;
    now = mf->GetSystemTime();
  }
  nextDue_ = (nextDue_ && now - nextDue_ < duration) ? nextDue_ + duration : now + duration;

  const UINT32 bytes = static_cast<UINT32>(PictureBytes(picture, width, height));
  ComPtr<IMFSample> sample;
  hr = NewSample(bytes, sample.put());
  ComPtr<IMFMediaBuffer> buffer;
  if (SUCCEEDED(hr)) hr = sample->GetBufferByIndex(0, buffer.put());
  BYTE* data = nullptr;
  DWORD capacity = 0;
  if (SUCCEEDED(hr)) hr = buffer->Lock(&data, &capacity, nullptr);
  if (FAILED(hr)) return hr;
  if (capacity >= bytes) Draw(picture, width, height, data, now);
  buffer->Unlock();
  if (capacity < bytes) return MF_E_BUFFERTOOSMALL;
  hr = buffer->SetCurrentLength(bytes);
  if (SUCCEEDED(hr)) hr = sample->SetSampleTime(now);
  if (SUCCEEDED(hr)) hr = sample->SetSampleDuration(duration);
  if (SUCCEEDED(hr) && token) hr = sample->SetUnknown(MFSampleExtension_Token, token);
  if (SUCCEEDED(hr)) hr = queue_->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample.get());
  return hr;
}

HRESULT CameraSource::Init(IMFAttributes* activateStore) {
  const MfLibrary* mf = Mf();
  HRESULT hr = mf->CreateEventQueue(queue_.put());
  if (SUCCEEDED(hr)) hr = mf->CreateAttributes(attributes_.put(), 8);
  if (SUCCEEDED(hr) && activateStore) hr = activateStore->CopyAllItems(attributes_.get());
  if (FAILED(hr)) return hr;
  std::wstring preset = camera_link::kDefaultPreset;
  wchar_t name[80];
  UINT32 length = 0;
  if (SUCCEEDED(attributes_->GetString(camera_link::DORVANTEL_CAMERA_PRESET, name, 80, &length)) && length) preset = name;
  stream_ = ComPtr<CameraStream>(new (std::nothrow) CameraStream(this, preset, ReadCameraFormat(preset)));
  if (!stream_) return E_OUTOFMEMORY;
  hr = stream_->Init();
  IMFStreamDescriptor* streams[1] = {nullptr};
  ComPtr<IMFStreamDescriptor> descriptor;
  if (SUCCEEDED(hr)) hr = stream_->GetStreamDescriptor(descriptor.put());
  streams[0] = descriptor.get();
  if (SUCCEEDED(hr)) hr = mf->CreatePresentationDescriptor(1, streams, presentation_.put());
  if (SUCCEEDED(hr)) hr = presentation_->SelectStream(0);
  return hr;
}

HRESULT CameraSource::Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat, const PROPVARIANT* position) {
  if (!descriptor) return E_INVALIDARG;
  SectionLockHolder hold(&lock_);
  if (shutdown_) return MF_E_SHUTDOWN;
  if (timeFormat && !IsEqualGUID(*timeFormat, GUID_NULL)) return MF_E_UNSUPPORTED_TIME_FORMAT;
  DWORD count = 0;
  HRESULT hr = descriptor->GetStreamDescriptorCount(&count);
  if (FAILED(hr)) return hr;
  if (count != 1) return E_INVALIDARG;
  BOOL selected = FALSE;
  ComPtr<IMFStreamDescriptor> stream;
  hr = descriptor->GetStreamDescriptorByIndex(0, &selected, stream.put());
  if (FAILED(hr)) return hr;
  if (!selected) {
    hr = stream_->Stop(false);
    if (SUCCEEDED(hr)) hr = queue_->QueueEventParamVar(MESourceStarted, GUID_NULL, S_OK, position);
    return hr;
  }
  const bool wasActive = stream_->active();
  hr = queue_->QueueEventParamUnk(wasActive ? MEUpdatedStream : MENewStream, GUID_NULL, S_OK,
                                  static_cast<IMFMediaStream*>(static_cast<IMFMediaStream2Declared*>(stream_.get())));
  if (SUCCEEDED(hr)) hr = queue_->QueueEventParamVar(MESourceStarted, GUID_NULL, S_OK, position);
  if (SUCCEEDED(hr)) hr = stream_->Start(position);
  return hr;
}

// The IMFActivate the class factory hands out: an attribute store that the pipeline and the
// control code fill, and ActivateObject, which makes a source with a copy of the store.
class CameraActivate : public CUnknown, public IMFActivate {
 public:
  explicit CameraActivate(IUnknown* outer) : CUnknown(outer) {}
  HRESULT Init() { return Mf()->CreateAttributes(store_.put(), 4); }

  FORWARD_IUNKNOWN_TO_OUTER
  HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IMFActivate) || IsEqualIID(iid, IID_IMFAttributes))
      return ExposeInterface(static_cast<IMFActivate*>(this), out);
    return CUnknown::InnerQueryInterface(iid, out);
  }

  HRESULT STDMETHODCALLTYPE ActivateObject(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<CameraSource> source(new (std::nothrow) CameraSource());
    if (!source) return E_OUTOFMEMORY;
    HRESULT hr = source->Init(store_.get());
    if (FAILED(hr)) {
      source->Shutdown();
      return hr;
    }
    return source->QueryInterface(iid, out);
  }
  HRESULT STDMETHODCALLTYPE ShutdownObject() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DetachObject() override { return E_NOTIMPL; }

  // IMFAttributes: the store's own.
  HRESULT STDMETHODCALLTYPE GetItem(REFGUID k, PROPVARIANT* v) override { return store_->GetItem(k, v); }
  HRESULT STDMETHODCALLTYPE GetItemType(REFGUID k, MF_ATTRIBUTE_TYPE* t) override { return store_->GetItemType(k, t); }
  HRESULT STDMETHODCALLTYPE CompareItem(REFGUID k, REFPROPVARIANT v, BOOL* r) override { return store_->CompareItem(k, v, r); }
  HRESULT STDMETHODCALLTYPE Compare(IMFAttributes* a, MF_ATTRIBUTES_MATCH_TYPE m, BOOL* r) override {
    return store_->Compare(a, m, r);
  }
  HRESULT STDMETHODCALLTYPE GetUINT32(REFGUID k, UINT32* v) override { return store_->GetUINT32(k, v); }
  HRESULT STDMETHODCALLTYPE GetUINT64(REFGUID k, UINT64* v) override { return store_->GetUINT64(k, v); }
  HRESULT STDMETHODCALLTYPE GetDouble(REFGUID k, double* v) override { return store_->GetDouble(k, v); }
  HRESULT STDMETHODCALLTYPE GetGUID(REFGUID k, GUID* v) override { return store_->GetGUID(k, v); }
  HRESULT STDMETHODCALLTYPE GetStringLength(REFGUID k, UINT32* n) override { return store_->GetStringLength(k, n); }
  HRESULT STDMETHODCALLTYPE GetString(REFGUID k, LPWSTR v, UINT32 size, UINT32* n) override {
    return store_->GetString(k, v, size, n);
  }
  HRESULT STDMETHODCALLTYPE GetAllocatedString(REFGUID k, LPWSTR* v, UINT32* n) override {
    return store_->GetAllocatedString(k, v, n);
  }
  HRESULT STDMETHODCALLTYPE GetBlobSize(REFGUID k, UINT32* n) override { return store_->GetBlobSize(k, n); }
  HRESULT STDMETHODCALLTYPE GetBlob(REFGUID k, UINT8* b, UINT32 size, UINT32* n) override {
    return store_->GetBlob(k, b, size, n);
  }
  HRESULT STDMETHODCALLTYPE GetAllocatedBlob(REFGUID k, UINT8** b, UINT32* n) override {
    return store_->GetAllocatedBlob(k, b, n);
  }
  HRESULT STDMETHODCALLTYPE GetUnknown(REFGUID k, REFIID iid, LPVOID* v) override { return store_->GetUnknown(k, iid, v); }
  HRESULT STDMETHODCALLTYPE SetItem(REFGUID k, REFPROPVARIANT v) override { return store_->SetItem(k, v); }
  HRESULT STDMETHODCALLTYPE DeleteItem(REFGUID k) override { return store_->DeleteItem(k); }
  HRESULT STDMETHODCALLTYPE DeleteAllItems() override { return store_->DeleteAllItems(); }
  HRESULT STDMETHODCALLTYPE SetUINT32(REFGUID k, UINT32 v) override { return store_->SetUINT32(k, v); }
  HRESULT STDMETHODCALLTYPE SetUINT64(REFGUID k, UINT64 v) override { return store_->SetUINT64(k, v); }
  HRESULT STDMETHODCALLTYPE SetDouble(REFGUID k, double v) override { return store_->SetDouble(k, v); }
  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID k, REFGUID v) override { return store_->SetGUID(k, v); }
  HRESULT STDMETHODCALLTYPE SetString(REFGUID k, LPCWSTR v) override { return store_->SetString(k, v); }
  HRESULT STDMETHODCALLTYPE SetBlob(REFGUID k, const UINT8* b, UINT32 size) override { return store_->SetBlob(k, b, size); }
  HRESULT STDMETHODCALLTYPE SetUnknown(REFGUID k, IUnknown* v) override { return store_->SetUnknown(k, v); }
  HRESULT STDMETHODCALLTYPE LockStore() override { return store_->LockStore(); }
  HRESULT STDMETHODCALLTYPE UnlockStore() override { return store_->UnlockStore(); }
  HRESULT STDMETHODCALLTYPE GetCount(UINT32* n) override { return store_->GetCount(n); }
  HRESULT STDMETHODCALLTYPE GetItemByIndex(UINT32 i, GUID* k, PROPVARIANT* v) override {
    return store_->GetItemByIndex(i, k, v);
  }
  HRESULT STDMETHODCALLTYPE CopyAllItems(IMFAttributes* to) override { return store_->CopyAllItems(to); }

 private:
  ComPtr<IMFAttributes> store_;
};

}  // namespace

}  // namespace camera

CUnknown* CreateCameraActivate(IUnknown* outer, HRESULT* result) {
  if (!camera::Mf()) {
    *result = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);  // no Media Foundation here
    return nullptr;
  }
  auto* activate = new (std::nothrow) camera::CameraActivate(outer);
  if (!activate) {
    *result = E_OUTOFMEMORY;
    return nullptr;
  }
  *result = activate->Init();
  return activate;
}
