#include "bench/filter_graph.h"

#include <atomic>
#include <cstdint>
#include <string>

#include "bench/layouts.h"
#include "format/media_type.h"
#include "hostkit/pins.h"
#include "hostkit/source_settings.h"
#include "module/dorvantel.h"

namespace dorvantel {

namespace {

WORD ConnectedBitCount(IPin* pin) {
  MediaType type;
  if (FAILED(pin->ConnectionMediaType(&type))) return 0;
  if (!type.pbFormat || type.cbFormat < sizeof(VIDEOINFOHEADER)) return 0;
  return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader.biBitCount;
}

}  // namespace

// Counts the samples the grabber hands over and looks at nothing else.
class FilterGraphCase::Counter final : public ISampleGrabberCB {
 public:
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
    window.Count(sample);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG) override { return S_OK; }

  MeasuredWindow window;

 private:
  std::atomic<ULONG> references_{1};
};

FilterGraphCase::FilterGraphCase() { library_.Load(ProgramFolder() + DORVANTEL_DLL_NAME); }

FilterGraphCase::~FilterGraphCase() {
  graph_.Release();
  source_.reset();
  if (counter_) counter_->Release();
}

HRESULT FilterGraphCase::CreateSource() {
  if (!library_.loaded()) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  return library_.CreateFilter(&source_);
}

HRESULT WriteFilterOptions(IBaseFilter* filter, const FilterOptions& options) {
  const SourceSettings settings(filter);
  // Every case measures how fast frames can be made, so none is paced by the frame rate.
  HRESULT hr = settings.WriteBool(SourceProperty::FramePacing, false);
  if (SUCCEEDED(hr) && options.area != kAreaDisplay) hr = settings.WriteLong(SourceProperty::CaptureArea, options.area);
  if (SUCCEEDED(hr) && options.area == kAreaMonitor)
    hr = settings.WriteLong(SourceProperty::CaptureValue, options.monitor);
  if (FAILED(hr)) return hr;
  hr = settings.WriteBool(SourceProperty::IncludeCursor, options.cursor);
  if (FAILED(hr) || !options.output) return hr;
  const OutputDimensions dimensions{options.output->width, options.output->height};
  hr = settings.WritePointer(SourceProperty::OutputDimensions, &dimensions);
  if (FAILED(hr)) return hr;
  return settings.WriteLong(SourceProperty::InterpolationMode, options.interpolation);
}

HRESULT FilterGraphCase::Connect(int position, WORD bitCount) {
  TaskMediaType offered;
  HRESULT hr = PositionType(graph_.sourcePin(), position, &offered);
  if (FAILED(hr)) return hr;
  const AM_MEDIA_TYPE* type = offered.get();
  if (type->pbFormat && type->cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* format = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
    width_ = format->bmiHeader.biWidth;
    height_ = format->bmiHeader.biHeight;
  }
  // The grabber takes only this type, so that connecting its output does not make the graph
  // reconnect the source in another format.
  hr = graph_.grabber()->SetMediaType(offered.get());
  if (SUCCEEDED(hr)) hr = graph_.ConnectSource(type);
  if (FAILED(hr)) return hr;
  hr = graph_.ConnectRenderer(nullptr);
  if (FAILED(hr)) return hr;
  return ConnectedBitCount(graph_.sourcePin()) == bitCount ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT FilterGraphCase::Build(const FilterOptions& options, std::string* step) {
  *step = "library";
  HRESULT hr = CreateSource();
  if (FAILED(hr)) return hr;
  *step = "settings";
  hr = WriteFilterOptions(source_.get(), options);
  if (FAILED(hr)) return hr;

  *step = "graph";
  counter_ = new Counter();
  GrabberGraph::Step failed;
  hr = graph_.Create(source_.get(), counter_, &failed);
  if (FAILED(hr)) {
    *step = failed == GrabberGraph::Step::Graph ? "graph" : failed == GrabberGraph::Step::Add ? "add" : "peers";
    return hr;
  }
  hr = graph_.RemoveClock();
  if (FAILED(hr)) return hr;
  *step = "connect";
  return Connect(options.layout->position, options.layout->bitCount);
}

CaseResult FilterGraphCase::Measure(const std::string& name, const LoopTiming& timing, const ServerClock& server) {
  CaseResult result;
  result.name = name;
  result.width = width_;
  result.height = height_;
  // The graph answers S_FALSE while the live source's transition is pending.
  if (FAILED(graph_.control()->Run())) {
    result.note = "run-failed";
    return result;
  }
  ::Sleep(static_cast<DWORD>(timing.warmupSeconds * 1000));
  counter_->window.Arm(timing.seconds, &server);
  const DWORD timeoutMs = static_cast<DWORD>((timing.seconds + 30) * 1000);
  result.ok = counter_->window.Wait(timeoutMs, &result) && result.frames > 0;
  result.peakMegabytes = PeakMegabytes();
  graph_.control()->Stop();
  if (!result.ok) result.note = "no-frames";
  return result;
}

}  // namespace dorvantel
