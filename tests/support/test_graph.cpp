#include "tests/support/test_graph.h"

#include <cstring>
#include <utility>

#include "hostkit/pins.h"
#include "hostkit/source_settings.h"

using namespace dorvantel;

// Records each sample the grabber hands over; a COM object of the test's own making.
class TestGraph::Callback final : public ISampleGrabberCB {
 public:
  virtual ~Callback() = default;
  explicit Callback(TestGraph* owner) : owner_(owner) {}
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
  TestGraph* owner_;
  volatile LONG refs_ = 1;
};

TestGraph::TestGraph(const LoadedLibrary& library) {
  ComPtr<IBaseFilter> source;
  library.CreateFilter(&source);
  Build(source.get());
}

TestGraph::TestGraph(ComPtr<IBaseFilter> source) { Build(source.get()); }

void TestGraph::Build(IBaseFilter* source) {
  callback_ = new Callback(this);
  graph_.Create(source, callback_);
  // No clock: frames flow as fast as the source makes them.
  if (graph_.graph()) graph_.RemoveClock();
}

TestGraph::~TestGraph() {
  graph_.Release();
  callback_->Release();
}

HRESULT TestGraph::WriteLong(const wchar_t* name, LONG value) { return SourceSettings(source()).WriteLong(name, value); }

HRESULT TestGraph::WriteBool(const wchar_t* name, bool value) { return SourceSettings(source()).WriteBool(name, value); }

HRESULT TestGraph::WritePointer(const wchar_t* name, const void* value) {
  return SourceSettings(source()).WritePointer(name, value);
}

HRESULT TestGraph::Connect(int formatPosition) {
  if (!sourcePin() || !grabber() || !renderer()) return E_UNEXPECTED;
  if (formatPosition < 0) {
    const HRESULT hr = graph_.ConnectSource(nullptr);
    if (FAILED(hr)) return hr;
    return graph_.ConnectRenderer(nullptr);
  }
  TaskMediaType type;
  HRESULT hr = OfferedType(sourcePin(), formatPosition, &type);
  if (FAILED(hr)) return hr;
  hr = graph_.ConnectSource(type.get());
  // The grabber's output takes the same type: left to itself it would propose the source's
  // first format and reconnect its input to it.
  if (SUCCEEDED(hr)) hr = graph_.ConnectRenderer(type.get());
  return hr;
}

HRESULT TestGraph::UseGraphClock() {
  ComPtr<IMediaFilter> graphFilter;
  HRESULT hr = graph() ? graph()->QueryInterface(IID_IMediaFilter, graphFilter.put_void()) : E_UNEXPECTED;
  if (FAILED(hr)) return hr;
  ComPtr<IReferenceClock> clock;
  hr = CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock, clock.put_void());
  if (FAILED(hr)) return hr;
  return graphFilter->SetSyncSource(clock.get());
}

HRESULT TestGraph::Run() { return control() ? control()->Run() : E_UNEXPECTED; }
HRESULT TestGraph::Pause() { return control() ? control()->Pause() : E_UNEXPECTED; }
HRESULT TestGraph::Stop() { return control() ? control()->Stop() : E_UNEXPECTED; }

bool TestGraph::WaitForFrames(size_t count, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (FrameCount() < count) {
    if (GetTickCount64() > deadline) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(5);
  }
  return true;
}

std::vector<DeliveredFrame> TestGraph::Frames() {
  SectionLockHolder holder(&framesLock_);
  return frames_;
}

size_t TestGraph::FrameCount() {
  SectionLockHolder holder(&framesLock_);
  return frames_.size();
}

void TestGraph::ClearFrames() {
  SectionLockHolder holder(&framesLock_);
  frames_.clear();
}

AM_MEDIA_TYPE TestGraph::ConnectedType() {
  AM_MEDIA_TYPE type{};
  if (sourcePin()) sourcePin()->ConnectionMediaType(&type);
  return type;
}

void TestGraph::ReadEvents() {
  IMediaEvent* media = graph_.events();
  if (!media) return;
  long code;
  LONG_PTR p1, p2;
  while (media->GetEvent(&code, &p1, &p2, 0) == S_OK) {
    events_.emplace_back(code, p1);
    media->FreeEventParams(code, p1, p2);
  }
}

std::vector<std::pair<long, LONG_PTR>> TestGraph::Events() {
  ReadEvents();
  return std::exchange(events_, {});
}

bool TestGraph::WaitForEvent(long code, LONG_PTR* param1, DWORD timeoutMs) {
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
