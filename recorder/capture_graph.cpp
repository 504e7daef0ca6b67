#include "recorder/capture_graph.h"

#include "recorder/resources.h"

// Published with the platform's GUID library but declared by no header.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

namespace {

HRESULT FindPin(IBaseFilter* filter, PIN_DIRECTION direction, ComPtr<IPin>* found) {
  ComPtr<IEnumPins> pins;
  HRESULT hr = filter->EnumPins(pins.put());
  if (FAILED(hr)) return hr;
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.put(), nullptr) == S_OK) {
    PIN_DIRECTION pin_direction;
    if (SUCCEEDED(pin->QueryDirection(&pin_direction)) && pin_direction == direction) {
      *found = pin;
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

// The media type that the source's pin offers at a position (the format's index).
HRESULT OfferedType(IPin* pin, size_t position, AM_MEDIA_TYPE** type) {
  ComPtr<IEnumMediaTypes> types;
  HRESULT hr = pin->EnumMediaTypes(types.put());
  if (FAILED(hr)) return hr;
  if (position > 0) {
    hr = types->Skip(static_cast<ULONG>(position));
    if (hr != S_OK) return VFW_E_NO_ACCEPTABLE_TYPES;
  }
  hr = types->Next(1, type, nullptr);
  return hr == S_OK ? S_OK : VFW_E_NO_ACCEPTABLE_TYPES;
}

void DeleteOfferedType(AM_MEDIA_TYPE* type) {
  if (!type) return;
  if (type->pbFormat) ::CoTaskMemFree(type->pbFormat);
  if (type->pUnk) type->pUnk->Release();
  ::CoTaskMemFree(type);
}

HRESULT Fail(std::wstring* error, const std::wstring& what, HRESULT hr) {
  *error = what + L": " + ResultText(hr);
  return hr;
}

}  // namespace

HRESULT CaptureGraph::Build(IBaseFilter* source, std::optional<PixelFormat> pixels, bool paced_by_clock,
                            ISampleGrabberCB* callback, std::wstring* error) {
  HRESULT hr = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGraphBuilder, graph_.put_void());
  if (FAILED(hr)) return Fail(error, L"cannot create a filter graph", hr);
  ComPtr<IBaseFilter> grabber_filter, renderer;
  hr = ::CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          grabber_filter.put_void());
  if (SUCCEEDED(hr)) hr = grabber_filter.query(&grabber_);
  if (FAILED(hr)) return Fail(error, L"cannot create the Sample Grabber", hr);
  hr = ::CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          renderer.put_void());
  if (FAILED(hr)) return Fail(error, L"cannot create the Null Renderer", hr);

  hr = graph_->AddFilter(source, L"Dorvantel");
  if (SUCCEEDED(hr)) hr = graph_->AddFilter(grabber_filter.get(), L"Sample Grabber");
  if (SUCCEEDED(hr)) hr = graph_->AddFilter(renderer.get(), L"Null Renderer");
  if (FAILED(hr)) return Fail(error, L"cannot add the filters to the graph", hr);

  ComPtr<IPin> source_out, grabber_in, grabber_out, renderer_in;
  hr = source->FindPin(L"1", source_out.put());
  if (FAILED(hr)) return Fail(error, L"the capture source has no output pin", hr);
  // The format's own position, or the first the source offers.
  AM_MEDIA_TYPE* offered = nullptr;
  hr = OfferedType(source_out.get(), pixels ? static_cast<size_t>(*pixels) : 0, &offered);
  if (FAILED(hr)) {
    return Fail(error, pixels ? std::wstring(L"the capture source does not offer ") + DescribePixelFormat(*pixels).name
                              : std::wstring(L"the capture source offers no format"), hr);
  }

  AM_MEDIA_TYPE wanted{};
  wanted.majortype = MEDIATYPE_Video;
  wanted.formattype = FORMAT_VideoInfo;
  wanted.subtype = offered->subtype;
  hr = grabber_->SetMediaType(&wanted);
  if (SUCCEEDED(hr)) hr = grabber_->SetBufferSamples(FALSE);
  if (SUCCEEDED(hr)) hr = grabber_->SetOneShot(FALSE);
  if (SUCCEEDED(hr)) hr = grabber_->SetCallback(callback, 0);
  if (FAILED(hr)) {
    DeleteOfferedType(offered);
    return Fail(error, L"cannot set up the Sample Grabber", hr);
  }
  if (FAILED(FindPin(grabber_filter.get(), PINDIR_INPUT, &grabber_in)) ||
      FAILED(FindPin(grabber_filter.get(), PINDIR_OUTPUT, &grabber_out)) ||
      FAILED(FindPin(renderer.get(), PINDIR_INPUT, &renderer_in))) {
    DeleteOfferedType(offered);
    return Fail(error, L"the Sample Grabber or Null Renderer has no pins", E_UNEXPECTED);
  }

  hr = graph_->ConnectDirect(source_out.get(), grabber_in.get(), offered);
  DeleteOfferedType(offered);
  if (FAILED(hr)) {
    return Fail(error, pixels ? std::wstring(L"cannot connect the capture source in ") + DescribePixelFormat(*pixels).name
                              : std::wstring(L"cannot connect the capture source in the format it offers"), hr);
  }
  hr = graph_->ConnectDirect(grabber_out.get(), renderer_in.get(), nullptr);
  if (FAILED(hr)) return Fail(error, L"cannot connect the Null Renderer", hr);

  if (!paced_by_clock) {
    ComPtr<IMediaFilter> timing;
    hr = graph_.query(&timing);
    if (SUCCEEDED(hr)) hr = timing->SetSyncSource(nullptr);
    if (FAILED(hr)) return Fail(error, L"cannot take the clock out of the graph", hr);
  }
  hr = graph_.query(&control_);
  if (SUCCEEDED(hr)) hr = graph_->QueryInterface(IID_IMediaEvent, events_.put_void());
  if (FAILED(hr)) return Fail(error, L"the filter graph has no media control", hr);
  return S_OK;
}

HRESULT CaptureGraph::ConnectedFormat(FrameFormat* format) {
  ConnectedMediaType type;
  HRESULT hr = grabber_->GetConnectedMediaType(type.get());
  if (FAILED(hr)) return hr;
  return FrameFormatFromMediaType(*type.get(), format);
}

HRESULT CaptureGraph::Run() {
  HRESULT hr = control_->Run();
  if (hr != S_FALSE) return hr;
  // Still on its way: a filter that cannot start says so through the graph's state.
  OAFilterState state;
  hr = control_->GetState(kStartMs, &state);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CaptureGraph::Stop() { return control_ ? control_->Stop() : S_OK; }

HRESULT CaptureGraph::CheckEvents() {
  HRESULT result = S_OK;
  long code;
  LONG_PTR first, second;
  while (events_->GetEvent(&code, &first, &second, 0) == S_OK) {
    if (code == EC_ERRORABORT || code == EC_ERRORABORTEX) {
      result = static_cast<HRESULT>(first);
      if (SUCCEEDED(result)) result = E_FAIL;
    } else if (code == EC_COMPLETE && result == S_OK) {
      result = S_FALSE;
    }
    events_->FreeEventParams(code, first, second);
  }
  return result;
}

void CaptureGraph::Release() {
  if (grabber_) grabber_->SetCallback(nullptr, 0);
  events_.reset();
  control_.reset();
  grabber_.reset();
  if (graph_) {
    // Removing the filters breaks the references between them and the graph.
    ComPtr<IEnumFilters> filters;
    if (SUCCEEDED(graph_->EnumFilters(filters.put()))) {
      ComPtr<IBaseFilter> filter;
      while (filters->Next(1, filter.put(), nullptr) == S_OK) {
        graph_->RemoveFilter(filter.get());
        filters->Reset();
      }
    }
  }
  graph_.reset();
}
