#include "capture/desktop_source.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <optional>

#include "format/desktop_formats.h"

REFERENCE_TIME TickTime() noexcept { return static_cast<REFERENCE_TIME>(::GetTickCount64()) * 10000; }

// ---- pin

CPushPinDesktop::CPushPinDesktop(MostDerived key, HRESULT* result, CPushSourceDesktop* filter) noexcept
    : CSourceStream(key, result, filter, L"Out"), wake_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  // Without its wake event a paused worker would never learn that the filter runs.
  if (!wake_ && result && SUCCEEDED(*result)) *result = E_OUTOFMEMORY;
}

CPushPinDesktop::~CPushPinDesktop() = default;

HRESULT STDMETHODCALLTYPE CPushPinDesktop::InnerQueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IKsPropertySet)) return ExposeInterface(static_cast<IKsPropertySet*>(this), out);
  if (IsEqualIID(iid, IID_IAMStreamConfig)) return ExposeInterface(static_cast<IAMStreamConfig*>(this), out);
  return CSourceStream::InnerQueryInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE CPushPinDesktop::Set(REFGUID, DWORD, void*, DWORD, void*, DWORD) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CPushPinDesktop::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataSize,
                                               DWORD* returned) {
  if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (!data || !returned) return E_POINTER;
  *returned = sizeof(GUID);
  if (dataSize < sizeof(GUID)) return E_UNEXPECTED;
  *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinDesktop::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (!support) return E_POINTER;
  *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

StreamCapsSizes CPushPinDesktop::CapsSizes() noexcept {
  SectionLockHolder hold(&capture_.CaptureLock());
  const CaptureSettings& settings = capture_.Settings();
  return StreamCapsSizes{settings.FrameSize(), FrameSize{settings.CaptureRect.width, settings.CaptureRect.height}};
}

HRESULT STDMETHODCALLTYPE CPushPinDesktop::SetFormat(AM_MEDIA_TYPE* type) {
  SectionLockHolder holder(Lock());
  RequestedFormat requested{-1, FrameSize{0, 0}, CaptureSettings{}.FrameInterval};
  if (type) {
    const HRESULT hr = ReadRequestedFormat(*type, &requested);
    if (FAILED(hr)) return hr;
  }
  if (IsConnected()) {
    SectionLockHolder format(&formatLock_);
    const MediaType& connection = ConnectionType();
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(connection.pbFormat);
    const bool same = type && info && connection.cbFormat >= sizeof(VIDEOINFOHEADER) &&
                      IsEqualGUID(connection.subtype, DesktopFormatSubtype(requested.position)) &&
                      info->bmiHeader.biWidth == requested.size.width &&
                      info->bmiHeader.biHeight == requested.size.height;
    if (!same) return VFW_E_ALREADY_CONNECTED;
  }
  {
    SectionLockHolder hold(&capture_.CaptureLock());
    CaptureSettings& settings = capture_.Settings();
    const CaptureSettings::Rect& captured = settings.CaptureRect;
    // The captured area's own size is no scaling, also when the area changes later.
    if (!type || (requested.size.width == captured.width && requested.size.height == captured.height)) {
      settings.OutputSize.reset();
    } else {
      settings.OutputSize = requested.size;
    }
    if (requested.interval != 0) settings.FrameInterval = requested.interval;
    settings.OutputFormat = requested.position;
  }
  ++mediaTypeVersion_;
  WakeWorker(false);  // a waiting worker takes a new rate from the next slot on
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinDesktop::GetFormat(AM_MEDIA_TYPE** type) {
  if (!type) return E_POINTER;
  *type = nullptr;
  SectionLockHolder holder(Lock());
  MediaType current;
  HRESULT hr;
  if (IsConnected()) {
    SectionLockHolder format(&formatLock_);
    hr = current.Assign(ConnectionType());
  } else {
    hr = MediaTypeAt(0, &current);
  }
  if (hr != S_OK) return FAILED(hr) ? hr : E_UNEXPECTED;
  *type = current.Detach();
  return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CPushPinDesktop::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  if (!IsConnected()) {
    capture_.FindTitledWindow(true);
    capture_.TakeLayout();
  }
  *count = StreamCapsCount(CapsSizes());
  *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinDesktop::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
  if (!type) return E_POINTER;
  *type = nullptr;
  if (!caps) return E_POINTER;
  REFERENCE_TIME interval;
  {
    SectionLockHolder hold(&capture_.CaptureLock());
    interval = capture_.Settings().FrameInterval;
  }
  MediaType entry;
  VIDEO_STREAM_CONFIG_CAPS entryCaps;
  const HRESULT hr = StreamCapsAt(CapsSizes(), interval, index, &entry, &entryCaps);
  if (hr != S_OK) return hr;
  *type = entry.Detach();
  if (!*type) return E_OUTOFMEMORY;
  std::memcpy(caps, &entryCaps, sizeof(entryCaps));
  return S_OK;
}

HRESULT CPushPinDesktop::FillSample(IMediaSample* sample) {
  FILTER_STATE state = State_Stopped;
  static_cast<IBaseFilter*>(Filter())->GetState(0, &state);

  // One frame is produced while paused in the pin's whole life: the worker's first, made at
  // once. After it, a paused filter delivers nothing: the sample goes back unfilled and the
  // worker looks for commands. The worker starts before the filter leaves Stopped for
  // Paused, so Stopped counts as paused here: it is either that step or a stop under way.
  // A filter run straight from Stopped may already run at that first look, which ends the
  // waiting all the same: a frame made at a later pause would be stamped before that pause
  // is counted.
  const bool notRunning = state != State_Running;
  const bool firstFrame = awaitingPausedFrame_.exchange(false);
  if (!firstFrame && notRunning) {
    // Nothing until the filter runs or a command comes; the first running frame is due at once.
    schedule_.Restart();
    WaitRequestOr(wake_.get(), INFINITE);
    return S_SAMPLE_NOT_FILLED;
  }
  if (!sample) return E_POINTER;
  if (!notRunning) {
    const HRESULT due = AwaitFrameSlot();
    if (due != S_OK) return due;
  }

  SectionLockHolder holder(&capture_.CaptureLock());
  // The connection cannot change while the worker streams, and the worker is the only
  // writer of its block then, so the worker reads it unlocked.
  MediaType& connection = ConnectionType();
  if (!connection.pbFormat || connection.cbFormat < sizeof(VIDEOINFOHEADER)) return E_UNEXPECTED;
  const auto* format = reinterpret_cast<const VIDEOINFOHEADER*>(connection.pbFormat);
  BYTE* buffer = nullptr;
  sample->GetPointer(&buffer);
  const LONG bufferSize = sample->GetSize();
  if (!buffer || bufferSize < 0 || static_cast<DWORD>(bufferSize) < DesktopImageSize(format->bmiHeader)) {
    return VFW_E_BUFFER_OVERFLOW;
  }

  // The grab writes the header and colours it converted with into a copy; the connection's
  // block takes them under the format lock, and only when they differ.
  BYTE* const connectionInfo = connection.pbFormat + offsetof(VIDEOINFOHEADER, bmiHeader);
  const size_t infoBytes =
      std::min<size_t>(connection.cbFormat - offsetof(VIDEOINFOHEADER, bmiHeader), sizeof(grabInfo_));
  std::memcpy(grabInfo_, connectionInfo, infoBytes);
  // A sample of the pin's own allocator is a DIB section: the grab copies into it directly.
  HBITMAP section = nullptr;
  if (ownAllocator_ && SampleAllocator() == static_cast<IMemAllocator*>(ownAllocator_.get())) {
    section = ownAllocator_->SectionOf(sample);
  }
  const REFERENCE_TIME t0 = TickTime();
  const HRESULT grabbed = capture_.Grab(buffer, static_cast<size_t>(bufferSize),
                                        reinterpret_cast<BITMAPINFO*>(grabInfo_), infoBytes, section);
  const REFERENCE_TIME t1 = TickTime();
  // No frame of a window that was closed: the stream ends (EC_ERRORABORT with this result).
  if (FAILED(grabbed)) return grabbed;
  // Nothing was drawn: the buffer holds an older frame, which is not sent as a new one.
  if (grabbed != S_OK) return S_SAMPLE_NOT_FILLED;
  if (std::memcmp(grabInfo_, connectionInfo, infoBytes) != 0) {
    SectionLockHolder written(&formatLock_);
    std::memcpy(connectionInfo, grabInfo_, infoBytes);
  }

  REFERENCE_TIME end = 0;
  REFERENCE_TIME start = StampStart(t0, t1, &end);
  ++frameCount_;
  const REFERENCE_TIME paused = pausedTotal_.load();
  start -= paused;
  end -= paused;
  sample->SetTime(&start, &end);
  sample->SetSyncPoint(TRUE);
  frameStamped_.store(true);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinDesktop::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  SectionLockHolder holder(Lock());
  SectionLockHolder format(&formatLock_);
  return CSourceStream::ConnectionMediaType(type);
}

HRESULT CPushPinDesktop::OnWorkerStop() {
  capture_.ReleaseSurfaces();
  timerResolution_.End();
  return CSourceStream::OnWorkerStop();
}

HRESULT CPushPinDesktop::AwaitFrameSlot() {
  constexpr REFERENCE_TIME kUnitsPerMs = 10000;
  for (;;) {
    REFERENCE_TIME interval;
    {
      SectionLockHolder holder(&capture_.CaptureLock());
      if (!capture_.Settings().FramePacing) return S_OK;
      interval = capture_.Settings().FrameInterval;
    }
    timerResolution_.Begin();
    if (restartSchedule_.exchange(false)) schedule_.Restart();
    const REFERENCE_TIME now = PreciseTime();
    const REFERENCE_TIME wait = schedule_.Wait(now, interval);
    if (wait <= 0) {
      schedule_.Take(now, interval);
      return S_OK;
    }
    // Rounded up, so the wait ends at the slot or after it, never before.
    const DWORD waitMs = static_cast<DWORD>((wait + kUnitsPerMs - 1) / kUnitsPerMs);
    if (WaitRequestOr(wake_.get(), waitMs) != Wake::Timeout) return S_SAMPLE_NOT_FILLED;
  }
}

REFERENCE_TIME CPushPinDesktop::StampStart(REFERENCE_TIME t0, REFERENCE_TIME t1, REFERENCE_TIME* end) noexcept {
  const CaptureSettings& settings = capture_.Settings();
  switch (settings.FrameRateMode) {
    case kRateByFrameCount: {
      const REFERENCE_TIME start = frameCount_ * settings.FrameInterval;
      *end = start + settings.FrameInterval;
      return start;
    }
    case kRateByGrabLength: {
      // Frames follow each other without gaps, each lasting twice its own grab.
      const REFERENCE_TIME start = stampClock_;
      *end = stampClock_ + 2 * (t1 - t0);
      stampClock_ = *end;
      return start;
    }
    case kRateByGrabTimes:
      stampClock_ = t1;
      *end = t1;
      return t0;
    default:
      *end = t1;
      return t0;
  }
}

HRESULT CPushPinDesktop::VerifyMediaType(const AM_MEDIA_TYPE* type) {
  SectionLockHolder holder(Lock());
  const HRESULT hr = VerifyDesktopMediaType(capture_.FrameSize(), type);
  if (FAILED(hr)) return hr;
  int chosen;
  {
    SectionLockHolder hold(&capture_.CaptureLock());
    chosen = capture_.Settings().OutputFormat;
  }
  // Either description of a chosen 5-5-5 is its format; IYUV is I420.
  if (chosen >= 0) {
    const auto* video = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
    const int proposed = DesktopFormatPosition(type->subtype, video->bmiHeader.biCompression);
    if (proposed != chosen && proposed != OtherDescription(chosen)) return E_INVALIDARG;
  }
  return hr;
}

HRESULT CPushPinDesktop::ApplyMediaType(const AM_MEDIA_TYPE* type) {
  SectionLockHolder holder(Lock());
  const HRESULT hr = CSourceStream::ApplyMediaType(type);
  if (FAILED(hr)) return hr;
  return ApplyDesktopMediaType(&ConnectionType());
}

HRESULT CPushPinDesktop::MediaTypeAt(int position, MediaType* type) {
  if (!type) return E_POINTER;
  // A titled window opened since the settings were made gives its size to the types offered.
  // So does a monitor's rectangle in the layout as it is now.
  if (position == 0 && !IsConnected()) {
    capture_.FindTitledWindow(true);
    capture_.TakeLayout();
  }
  SectionLockHolder holder(Lock());
  REFERENCE_TIME interval;
  FrameSize size;
  int chosen;
  {
    SectionLockHolder hold(&capture_.CaptureLock());
    interval = capture_.Settings().FrameInterval;
    size = capture_.Settings().FrameSize();
    chosen = capture_.Settings().OutputFormat;
  }
  // Once a format is chosen it is the only one offered: in the chosen description, and a
  // 5-5-5 then in its other one too (the name rgb555 chooses BI_RGB, and its BI_BITFIELDS
  // description stays offered to the hosts of presets that took it).
  if (chosen >= 0) {
    if (position > 1 || (position == 1 && OtherDescription(chosen) < 0)) return VFW_S_NO_MORE_ITEMS;
    if (position >= 0) position = position == 0 ? chosen : OtherDescription(chosen);
  } else if (position >= kPinFormatCount) {
    return VFW_S_NO_MORE_ITEMS;  // the pin's own list; the others are offered through IAMStreamConfig
  }
  const HRESULT hr = DesktopMediaTypeAt(size, position, type);
  if (hr != S_OK) return hr;
  // Hosts take the stream's rate from the connected type.
  reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame = interval > 0 ? interval : 0;
  return S_OK;
}

void CPushPinDesktop::TakeLayout() noexcept {
  std::optional<FrameSize> connected;
  SectionLockHolder holder(Lock());
  if (IsConnected()) {
    SectionLockHolder format(&formatLock_);
    const MediaType& connection = ConnectionType();
    if (connection.pbFormat && connection.cbFormat >= sizeof(VIDEOINFOHEADER)) {
      const BITMAPINFOHEADER& header = reinterpret_cast<const VIDEOINFOHEADER*>(connection.pbFormat)->bmiHeader;
      connected = FrameSize{header.biWidth, header.biHeight < 0 ? -header.biHeight : header.biHeight};
    }
  }
  capture_.TakeLayout(connected);
}

HRESULT CPushPinDesktop::SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  if (!allocator || !request) return E_POINTER;
  SectionLockHolder holder(Lock());
  return SizeDesktopBuffers(ConnectionType(), allocator, request);
}

HRESULT CPushPinDesktop::CreateOwnAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  *allocator = nullptr;
  SectionLockHolder holder(Lock());
  const MediaType& connection = ConnectionType();
  const BITMAPINFO* layout = nullptr;
  size_t layoutBytes = 0;
  if (connection.pbFormat && connection.cbFormat > offsetof(VIDEOINFOHEADER, bmiHeader)) {
    layout = reinterpret_cast<const BITMAPINFO*>(connection.pbFormat + offsetof(VIDEOINFOHEADER, bmiHeader));
    layoutBytes = connection.cbFormat - offsetof(VIDEOINFOHEADER, bmiHeader);
  }
  ownAllocator_.reset();
  SectionAllocator* made = nullptr;
  const HRESULT hr = SectionAllocator::Create(layout, layoutBytes, &made);
  if (FAILED(hr)) return hr;
  ownAllocator_.attach(made);
  *allocator = made;
  made->AddRef();
  return S_OK;
}

HRESULT CPushPinDesktop::ReleasePeer() {
  const HRESULT hr = CSourceStream::ReleasePeer();
  if (SUCCEEDED(hr)) ownAllocator_.reset();
  return hr;
}

HRESULT STDMETHODCALLTYPE CPushPinDesktop::Notify(IBaseFilter*, Quality) { return E_FAIL; }

void CPushPinDesktop::PauseRequested(REFERENCE_TIME now) noexcept {
  // A pause before the first frame is not counted: the stamps start from that frame. Once
  // a frame exists every pause counts, also when that frame was made while running (a
  // graph that runs straight from Stopped), before any frame was made while paused.
  if (frameStamped_.load()) pauseStart_.store(now);
}

void CPushPinDesktop::RunRequested(REFERENCE_TIME now) noexcept {
  const int64_t pausedAt = pauseStart_.exchange(0);
  if (pausedAt != 0) pausedTotal_.fetch_add(now - pausedAt);
}

// ---- filter

CPushSourceDesktop::CPushSourceDesktop(IUnknown* outer, HRESULT* result) noexcept
    : CSource(outer, CLSID_DesktopSource) {
  HRESULT pinResult = S_OK;
  pin_ = new (std::nothrow) StreamingPin<CPushPinDesktop>(&pinResult, this);
  if (!result) return;
  // A pin that could not be made whole (no place in the pin array, no worker channel) is
  // reported, so that the factory discards the filter instead of handing out a broken one.
  if (!pin_) {
    *result = E_OUTOFMEMORY;
  } else {
    *result = FAILED(pinResult) ? pinResult : S_OK;
  }
}

CPushSourceDesktop::~CPushSourceDesktop() {
  // A host may release a running filter without stopping it: the pin ends its worker as it
  // goes, flushing the peer in case a delivery waits there (StreamingPin).
  delete pin_;
}

HRESULT STDMETHODCALLTYPE CPushSourceDesktop::InnerQueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IPropertyBag)) return ExposeInterface(static_cast<IPropertyBag*>(this), out);
  if (IsEqualIID(iid, IID_IPersistPropertyBag) || IsEqualIID(iid, IID_IPersist)) {
    return ExposeInterface(static_cast<IPersistPropertyBag*>(this), out);
  }
  if (IsEqualIID(iid, IID_IAMFilterMiscFlags)) return ExposeInterface(static_cast<IAMFilterMiscFlags*>(this), out);
  if (IsEqualIID(iid, IID_ISpecifyPropertyPages)) {
    return ExposeInterface(static_cast<ISpecifyPropertyPages*>(this), out);
  }
  return CSource::InnerQueryInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE CPushSourceDesktop::Pause() {
  // Streaming starts: a window named by its title is looked up now, so that one opened after
  // the settings were made is found; without it there is nothing to capture.
  if (pin_ && State() == State_Stopped) {
    const HRESULT found = pin_->Capture().FindTitledWindow(!pin_->IsConnected());
    if (FAILED(found)) return found;
    pin_->TakeLayout();
  }
  if (pin_) pin_->PauseRequested(TickTime());
  const HRESULT hr = CSource::Pause();
  if (pin_) pin_->WakeWorker(true);
  return hr;
}

HRESULT STDMETHODCALLTYPE CPushSourceDesktop::Run(REFERENCE_TIME start) {
  if (pin_) pin_->RunRequested(TickTime());
  const HRESULT hr = CSource::Run(start);
  if (pin_) pin_->WakeWorker(false);
  return hr;
}

HRESULT STDMETHODCALLTYPE CPushSourceDesktop::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = State();
  return *state == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

HRESULT STDMETHODCALLTYPE CPushSourceDesktop::Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) {
  if (!pin_) return E_UNEXPECTED;
  return propertyBag_.Read(pin_->Capture(), name, value, errorLog);
}

HRESULT STDMETHODCALLTYPE CPushSourceDesktop::Write(LPCOLESTR name, VARIANT* value) {
  if (!pin_) return E_UNEXPECTED;
  const HRESULT hr = propertyBag_.Write(pin_->Capture(), name, value);
  // A worker waiting for its next frame takes a new rate or pacing from the next slot on.
  if (hr == S_OK) pin_->SettingsWritten(CapturePropertyBag::ChangesFormats(name));
  return hr;
}

HRESULT STDMETHODCALLTYPE CPushSourceDesktop::GetClassID(CLSID* classId) {
  if (!classId) return E_POINTER;
  *classId = CLSID_DesktopSource;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushSourceDesktop::InitNew() {
  if (!pin_) return E_UNEXPECTED;
  propertyBag_.Reset(pin_->Capture());
  pin_->SettingsWritten(true);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushSourceDesktop::Load(IPropertyBag* bag, IErrorLog* errorLog) {
  if (!pin_) return E_UNEXPECTED;
  const HRESULT hr = propertyBag_.Load(pin_->Capture(), bag, errorLog);
  pin_->SettingsWritten(true);
  return hr;
}

HRESULT STDMETHODCALLTYPE CPushSourceDesktop::Save(IPropertyBag* bag, BOOL, BOOL) {
  if (!pin_) return E_UNEXPECTED;
  return propertyBag_.Save(pin_->Capture(), bag);
}

ULONG STDMETHODCALLTYPE CPushSourceDesktop::GetMiscFlags() { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

HRESULT STDMETHODCALLTYPE CPushSourceDesktop::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = static_cast<GUID*>(::CoTaskMemAlloc(sizeof(GUID)));
  if (!pages->pElems) return E_OUTOFMEMORY;
  pages->pElems[0] = CLSID_DesktopSourcePage;
  pages->cElems = 1;
  return S_OK;
}

CUnknown* CreateDesktopSource(IUnknown* outer, HRESULT* result) {
  auto* filter = new (std::nothrow) CPushSourceDesktop(outer, result);
  if (!filter) {
    if (result) *result = E_OUTOFMEMORY;
    return nullptr;
  }
  return filter;
}
