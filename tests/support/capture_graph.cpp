#include "tests/support/capture_graph.h"

#include <cstring>
#include <utility>

const CLSID kSampleGrabberClsid = {0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
const CLSID kNullRendererClsid = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

void FreeMediaTypeContents(AM_MEDIA_TYPE& type) {
  if (type.cbFormat) CoTaskMemFree(type.pbFormat);
  type.cbFormat = 0;
  type.pbFormat = nullptr;
  if (type.pUnk) type.pUnk->Release();
  type.pUnk = nullptr;
}

// Records each sample the grabber hands over; a COM object of the test's own making.
class CaptureGraph::Callback final : public ISampleGrabberCB {
 public:
  virtual ~Callback() = default;
  explicit Callback(CaptureGraph* owner) : owner_(owner) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISampleGrabberCB)) {
      *out = static_cast<ISampleGrabberCB*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG now = InterlockedDecrement(&refs_);
    if (now == 0) delete this;
    return now;
  }
  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
    DeliveredFrame frame;
    frame.arrival = GetTickCount64();
    frame.hasTime = sample->GetTime(&frame.start, &frame.end) == S_OK;
    frame.syncPoint = sample->IsSyncPoint() == S_OK;
    if (owner_->keepPixels_) {
      BYTE* data = nullptr;
      if (SUCCEEDED(sample->GetPointer(&data)) && data) {
        const LONG length = sample->GetSize();
        frame.pixels.assign(data, data + length);
      }
    }
    SectionLockHolder holder(&owner_->framesLock_);
    owner_->frames_.push_back(std::move(frame));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG) override { return S_OK; }

 private:
  CaptureGraph* owner_;
  volatile LONG refs_ = 1;
};

CaptureGraph::CaptureGraph(const LoadedLibrary& library) {
  library.CreateFilter(&source_);
  Build();
}

CaptureGraph::CaptureGraph(ComPtr<IBaseFilter> source) : source_(std::move(source)) { Build(); }

void CaptureGraph::Build() {
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.put_void());
  if (!graph_) return;
  graph_.query(&control_);
  // No clock: frames flow as fast as the source makes them.
  ComPtr<IMediaFilter> graphFilter;
  if (SUCCEEDED(graph_.query(&graphFilter))) graphFilter->SetSyncSource(nullptr);

  if (source_) {
    graph_->AddFilter(source_.get(), L"Dorvantel");
    source_->FindPin(L"1", sourcePin_.put());
  }
  CoCreateInstance(kSampleGrabberClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, grabberFilter_.put_void());
  if (grabberFilter_) {
    graph_->AddFilter(grabberFilter_.get(), L"Grabber");
    grabberFilter_.query(&grabber_);
  }
  CoCreateInstance(kNullRendererClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, renderer_.put_void());
  if (renderer_) graph_->AddFilter(renderer_.get(), L"Renderer");
  if (grabber_) {
    callback_ = new Callback(this);
    grabber_->SetBufferSamples(FALSE);
    grabber_->SetOneShot(FALSE);
    grabber_->SetCallback(callback_, 0);
  }
}

CaptureGraph::~CaptureGraph() {
  if (control_) control_->Stop();
  if (grabber_) grabber_->SetCallback(nullptr, 0);
  if (graph_) {
    if (source_) graph_->RemoveFilter(source_.get());
    if (grabberFilter_) graph_->RemoveFilter(grabberFilter_.get());
    if (renderer_) graph_->RemoveFilter(renderer_.get());
  }
  if (callback_) callback_->Release();
}

static HRESULT WriteVariant(IBaseFilter* source, const wchar_t* name, VARIANT* value) {
  if (!source) return E_POINTER;
  ComPtr<IPropertyBag> bag;
  ComPtr<IBaseFilter>(source).query(&bag);
  if (!bag) return E_NOINTERFACE;
  return bag->Write(name, value);
}

HRESULT CaptureGraph::WriteLong(const wchar_t* name, LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return WriteVariant(source_.get(), name, &v);
}

HRESULT CaptureGraph::WriteBool(const wchar_t* name, bool value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return WriteVariant(source_.get(), name, &v);
}

HRESULT CaptureGraph::WritePointer(const wchar_t* name, void* value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF;
  v.byref = value;
  return WriteVariant(source_.get(), name, &v);
}

HRESULT CaptureGraph::Connect(int formatPosition) {
  if (!sourcePin_ || !grabberFilter_ || !renderer_) return E_UNEXPECTED;
  ComPtr<IPin> grabberIn, grabberOut, rendererIn;
  ComPtr<IEnumPins> pins;
  grabberFilter_->EnumPins(pins.put());
  IPin* pin = nullptr;
  while (pins && pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION direction;
    pin->QueryDirection(&direction);
    if (direction == PINDIR_INPUT) grabberIn.attach(pin); else grabberOut.attach(pin);
  }
  renderer_->EnumPins(pins.put());
  if (pins && pins->Next(1, &pin, nullptr) == S_OK) rendererIn.attach(pin);
  if (!grabberIn || !grabberOut || !rendererIn) return E_UNEXPECTED;

  if (formatPosition < 0) {
    const HRESULT hr = graph_->ConnectDirect(sourcePin_.get(), grabberIn.get(), nullptr);
    if (FAILED(hr)) return hr;
    return graph_->ConnectDirect(grabberOut.get(), rendererIn.get(), nullptr);
  }
  ComPtr<IEnumMediaTypes> types;
  HRESULT hr = sourcePin_->EnumMediaTypes(types.put());
  if (FAILED(hr)) return hr;
  AM_MEDIA_TYPE* type = nullptr;
  if (formatPosition > 0) types->Skip(formatPosition);
  if (types->Next(1, &type, nullptr) != S_OK || !type) return E_FAIL;
  hr = graph_->ConnectDirect(sourcePin_.get(), grabberIn.get(), type);
  // The grabber's output takes the same type: left to itself it would propose the source's
  // first format and reconnect its input to it.
  if (SUCCEEDED(hr)) hr = graph_->ConnectDirect(grabberOut.get(), rendererIn.get(), type);
  FreeMediaTypeContents(*type);
  CoTaskMemFree(type);
  return hr;
}

HRESULT CaptureGraph::UseGraphClock() {
  ComPtr<IMediaFilter> graphFilter;
  HRESULT hr = graph_.query(&graphFilter);
  if (FAILED(hr)) return hr;
  ComPtr<IReferenceClock> clock;
  hr = CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock, clock.put_void());
  if (FAILED(hr)) return hr;
  return graphFilter->SetSyncSource(clock.get());
}

HRESULT CaptureGraph::Run() { return control_ ? control_->Run() : E_UNEXPECTED; }
HRESULT CaptureGraph::Pause() { return control_ ? control_->Pause() : E_UNEXPECTED; }
HRESULT CaptureGraph::Stop() { return control_ ? control_->Stop() : E_UNEXPECTED; }

bool CaptureGraph::WaitForFrames(size_t count, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (FrameCount() < count) {
    if (GetTickCount64() > deadline) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(5);
  }
  return true;
}

std::vector<DeliveredFrame> CaptureGraph::Frames() {
  SectionLockHolder holder(&framesLock_);
  return frames_;
}

size_t CaptureGraph::FrameCount() {
  SectionLockHolder holder(&framesLock_);
  return frames_.size();
}

void CaptureGraph::ClearFrames() {
  SectionLockHolder holder(&framesLock_);
  frames_.clear();
}

AM_MEDIA_TYPE CaptureGraph::ConnectedType() {
  AM_MEDIA_TYPE type{};
  if (sourcePin_) sourcePin_->ConnectionMediaType(&type);
  return type;
}

void CaptureGraph::ReadEvents() {
  ComPtr<IMediaEvent> media;
  if (!graph_ || FAILED(graph_->QueryInterface(IID_IMediaEvent, media.put_void()))) return;
  long code;
  LONG_PTR p1, p2;
  while (media->GetEvent(&code, &p1, &p2, 0) == S_OK) {
    events_.emplace_back(code, p1);
    media->FreeEventParams(code, p1, p2);
  }
}

std::vector<std::pair<long, LONG_PTR>> CaptureGraph::Events() {
  ReadEvents();
  return std::exchange(events_, {});
}

bool CaptureGraph::WaitForEvent(long code, LONG_PTR* param1, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    ReadEvents();
    for (const auto& event : events_) {
      if (event.first != code) continue;
      if (param1) *param1 = event.second;
      return true;
    }
    if (GetTickCount64() > deadline) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(5);
  }
}
