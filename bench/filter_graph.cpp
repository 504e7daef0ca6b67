#include "bench/filter_graph.h"

#include <atomic>
#include <cstdint>
#include <string>

// Published with the platform's GUID library but declared by no header.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

namespace {

const CLSID kDesktopSource = {0x924bcd16, 0x2927, 0x4d6b, {0xa3, 0x85, 0x47, 0x6a, 0x9c, 0x4d, 0x41, 0xb7}};

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return folder;
}

HRESULT FindPin(IBaseFilter* filter, PIN_DIRECTION wanted, ComPtr<IPin>* found) {
  ComPtr<IEnumPins> pins;
  HRESULT hr = filter->EnumPins(pins.put());
  if (FAILED(hr)) return hr;
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.put(), nullptr) == S_OK) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) {
      *found = pin;
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

WORD ConnectedBitCount(IPin* pin) {
  AM_MEDIA_TYPE type = {};
  if (FAILED(pin->ConnectionMediaType(&type))) return 0;
  WORD bitCount = 0;
  if (type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    bitCount = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader.biBitCount;
  }
  if (type.pbFormat) ::CoTaskMemFree(type.pbFormat);
  if (type.pUnk) type.pUnk->Release();
  return bitCount;
}

HRESULT WriteProperty(IBaseFilter* source, const wchar_t* name, VARIANT value) {
  ComPtr<IPropertyBag> bag;
  HRESULT hr = ComPtr<IBaseFilter>(source).query(&bag);
  if (FAILED(hr)) return hr;
  return bag->Write(name, &value);
}

}  // namespace

// Counts the samples the grabber hands over and looks at nothing else. Once armed, it opens
// the measured window at the next sample and closes it at the first sample after the window's
// length, taking both snapshots on the streaming thread, so the window holds whole frames and
// the waiting thread need not poll.
class FilterGraphCase::Counter final : public ISampleGrabberCB {
 public:
  Counter() : done_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISampleGrabberCB)) {
      *out = static_cast<ISampleGrabberCB*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG now = --references_;
    if (now == 0) delete this;
    return now;
  }
  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
    const uint64_t frame = ++frames_;
    switch (state_.load()) {
      case kArmed:
        window_.begin = TakeSnapshot(*server_);
        firstFrame_ = frame;
        state_ = kOpen;
        break;
      case kOpen:
        if (WallSeconds() - window_.begin.wallSeconds < seconds_) break;
        window_.end = TakeSnapshot(*server_);
        window_.frames = frame - firstFrame_;
        window_.meanByte = MeanByte(sample);
        state_ = kClosed;
        ::SetEvent(done_.get());
        break;
      default:
        break;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG) override { return S_OK; }

  void Arm(double seconds, const ServerClock* server) {
    seconds_ = seconds;
    server_ = server;
    state_ = kArmed;
  }
  // The closed window's frames and snapshots; false when it did not close in time.
  bool Wait(DWORD timeoutMs, CaseResult* result) {
    if (::WaitForSingleObject(done_.get(), timeoutMs) != WAIT_OBJECT_0) return false;
    result->frames = window_.frames;
    result->begin = window_.begin;
    result->end = window_.end;
    result->meanByte = window_.meanByte;
    return true;
  }

 private:
  enum State { kIdle, kArmed, kOpen, kClosed };
  struct Window {
    Snapshot begin, end;
    uint64_t frames = 0;
    double meanByte = -1;
  };

  static double MeanByte(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data))) return -1;
    return SampledMean(data, static_cast<size_t>(sample->GetSize()));
  }

  std::atomic<ULONG> references_{1};
  std::atomic<uint64_t> frames_{0};
  std::atomic<int> state_{kIdle};
  double seconds_ = 0;
  const ServerClock* server_ = nullptr;
  uint64_t firstFrame_ = 0;
  Window window_;  // written by the streaming thread until it signals done_
  EventHandle done_;
};

FilterGraphCase::FilterGraphCase() : library_(::LoadLibraryW((ProgramFolder() + DORVANTEL_DLL_NAME).c_str())) {}

FilterGraphCase::~FilterGraphCase() {
  if (control_) control_->Stop();
  if (grabber_) grabber_->SetCallback(nullptr, 0);
  if (graph_) {
    if (source_) graph_->RemoveFilter(source_.get());
    if (grabberFilter_) graph_->RemoveFilter(grabberFilter_.get());
    if (renderer_) graph_->RemoveFilter(renderer_.get());
  }
  control_.reset();
  graph_.reset();
  source_.reset();
  grabber_.reset();
  grabberFilter_.reset();
  renderer_.reset();
  if (counter_) counter_->Release();
}

HRESULT FilterGraphCase::CreateSource() {
  if (!library_) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto getClassObject =
      reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(::GetProcAddress(library_.get(), "DllGetClassObject")));
  if (!getClassObject) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  ComPtr<IClassFactory> factory;
  HRESULT hr = getClassObject(kDesktopSource, IID_IClassFactory, factory.put_void());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, IID_IBaseFilter, source_.put_void());
}

HRESULT FilterGraphCase::WriteSettings(const FilterOptions& options) {
  VARIANT value;
  ::VariantInit(&value);
  value.vt = VT_BOOL;
  // Every case measures how fast frames can be made, so none is paced by the frame rate.
  value.boolVal = VARIANT_FALSE;
  HRESULT hr = WriteProperty(source_.get(), L"FramePacing", value);
  if (FAILED(hr)) return hr;
  value.boolVal = options.cursor ? VARIANT_TRUE : VARIANT_FALSE;
  hr = WriteProperty(source_.get(), L"IncludeCursor", value);
  if (FAILED(hr) || !options.output) return hr;
  LONG dimensions[2] = {options.output->width, options.output->height};
  value.vt = VT_BYREF;
  value.byref = dimensions;
  hr = WriteProperty(source_.get(), L"OutputDimensions", value);
  if (FAILED(hr)) return hr;
  value.vt = VT_I4;
  value.lVal = options.interpolation;
  return WriteProperty(source_.get(), L"InterpolationMode", value);
}

HRESULT FilterGraphCase::Connect(int position, WORD bitCount) {
  ComPtr<IPin> sourceOut, grabberIn, grabberOut, rendererIn;
  HRESULT hr = FindPin(source_.get(), PINDIR_OUTPUT, &sourceOut);
  if (SUCCEEDED(hr)) hr = FindPin(grabberFilter_.get(), PINDIR_INPUT, &grabberIn);
  if (SUCCEEDED(hr)) hr = FindPin(grabberFilter_.get(), PINDIR_OUTPUT, &grabberOut);
  if (SUCCEEDED(hr)) hr = FindPin(renderer_.get(), PINDIR_INPUT, &rendererIn);
  if (FAILED(hr)) return hr;

  ComPtr<IEnumMediaTypes> types;
  hr = sourceOut->EnumMediaTypes(types.put());
  if (FAILED(hr)) return hr;
  if (position > 0 && types->Skip(position) != S_OK) return VFW_E_NO_ACCEPTABLE_TYPES;
  AM_MEDIA_TYPE* type = nullptr;
  if (types->Next(1, &type, nullptr) != S_OK || !type) return VFW_E_NO_ACCEPTABLE_TYPES;
  if (type->pbFormat && type->cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* format = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
    width_ = format->bmiHeader.biWidth;
    height_ = format->bmiHeader.biHeight;
  }
  // The grabber takes only this type, so that connecting its output does not make the graph
  // reconnect the source in another format.
  hr = grabber_->SetMediaType(type);
  if (SUCCEEDED(hr)) hr = graph_->ConnectDirect(sourceOut.get(), grabberIn.get(), type);
  if (type->pbFormat) ::CoTaskMemFree(type->pbFormat);
  if (type->pUnk) type->pUnk->Release();
  ::CoTaskMemFree(type);
  if (FAILED(hr)) return hr;
  hr = graph_->ConnectDirect(grabberOut.get(), rendererIn.get(), nullptr);
  if (FAILED(hr)) return hr;
  return ConnectedBitCount(sourceOut.get()) == bitCount ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT FilterGraphCase::Build(const FilterOptions& options, std::string* step) {
  *step = "library";
  HRESULT hr = CreateSource();
  if (FAILED(hr)) return hr;
  *step = "settings";
  hr = WriteSettings(options);
  if (FAILED(hr)) return hr;

  *step = "graph";
  hr = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.put_void());
  if (FAILED(hr)) return hr;
  hr = graph_.query(&control_);
  if (FAILED(hr)) return hr;
  ComPtr<IMediaFilter> graphFilter;
  hr = graph_.query(&graphFilter);
  if (FAILED(hr)) return hr;
  hr = graphFilter->SetSyncSource(nullptr);
  if (FAILED(hr)) return hr;

  *step = "peers";
  hr = ::CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          grabberFilter_.put_void());
  if (FAILED(hr)) return hr;
  hr = grabberFilter_.query(&grabber_);
  if (FAILED(hr)) return hr;
  hr = ::CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, renderer_.put_void());
  if (FAILED(hr)) return hr;
  counter_ = new Counter();
  grabber_->SetBufferSamples(FALSE);
  grabber_->SetOneShot(FALSE);
  grabber_->SetCallback(counter_, 0);

  *step = "add";
  if (FAILED(hr = graph_->AddFilter(source_.get(), L"Dorvantel"))) return hr;
  if (FAILED(hr = graph_->AddFilter(grabberFilter_.get(), L"Grabber"))) return hr;
  if (FAILED(hr = graph_->AddFilter(renderer_.get(), L"Renderer"))) return hr;
  *step = "connect";
  return Connect(options.layout->position, options.layout->bitCount);
}

CaseResult FilterGraphCase::Measure(const std::string& name, const LoopTiming& timing, const ServerClock& server) {
  CaseResult result;
  result.name = name;
  result.width = width_;
  result.height = height_;
  // The graph answers S_FALSE while the live source's transition is pending.
  if (FAILED(control_->Run())) {
    result.note = "run-failed";
    return result;
  }
  ::Sleep(static_cast<DWORD>(timing.warmupSeconds * 1000));
  counter_->Arm(timing.seconds, &server);
  const DWORD timeoutMs = static_cast<DWORD>((timing.seconds + 30) * 1000);
  result.ok = counter_->Wait(timeoutMs, &result) && result.frames > 0;
  result.peakMegabytes = PeakMegabytes();
  control_->Stop();
  if (!result.ok) result.note = "no-frames";
  return result;
}
